#include "ui/qt/web_view_loader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QShowEvent>
#include <QStringList>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/qt/web_view_process.h"

namespace qorvel::ui::qt {

QString web_view_program() {
    QStringList candidates;
    if (!qEnvironmentVariableIsEmpty("QORVEL_WEB_VIEW"))
        candidates << qEnvironmentVariable("QORVEL_WEB_VIEW");
    candidates << QCoreApplication::applicationDirPath() + "/qorvel-web-view";
#ifdef QORVEL_WEB_VIEW_RELATIVE
    candidates << QCoreApplication::applicationDirPath() + "/" QORVEL_WEB_VIEW_RELATIVE;
#endif
#ifdef QORVEL_WEB_VIEW_PATH
    candidates << QStringLiteral(QORVEL_WEB_VIEW_PATH);
#endif
    for (const QString& path : candidates) {
        QFileInfo f(path);
        if (f.isFile() && f.isExecutable()) return f.absoluteFilePath();
    }
    qWarning("qorvel: the browser program was not found (%s)", qPrintable(candidates.join(", ")));
    return {};
}

WebViewHostWidget::WebViewHostWidget(const QString& program, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (program.isEmpty()) {
        show_notice();
        return;
    }
    process_ = new WebViewProcess(this);
    process_->on_window = [this](std::uint64_t id) { embed(id); };
    process_->on_cookie = [](const WebCookie& c) { WebSession::process().set_cookie(c); };
    process_->on_failed = [this] { show_notice(); };
    process_->start(program, WebSession::process().cookies());
}

WebViewHostWidget::~WebViewHostWidget() {
    if (!process_) return;
    // It outlives us until the child is gone; the application reaps it at the latest.
    process_->setParent(QCoreApplication::instance());
    process_->close();
}

void WebViewHostWidget::set_url(const QUrl& url) {
    url_ = url;
    if (process_ && url.isValid()) process_->load(url.toString(QUrl::FullyEncoded).toStdString());
}

qint64 WebViewHostWidget::child_pid() const {
    return process_ && process_->running() ? process_->pid() : 0;
}

void WebViewHostWidget::embed(unsigned long long id) {
    // Never one of our own windows, whatever the child says.
    for (QWindow* w : QGuiApplication::allWindows())
        if (w->handle() && w->winId() == id) return;
    QWindow* window = QWindow::fromWinId(static_cast<WId>(id));
    if (!window) return;  // a platform without foreign windows (offscreen)
    QWidget* container = QWidget::createWindowContainer(window, this);
    container->setFocusPolicy(Qt::StrongFocus);
    layout()->addWidget(container);
    embedded_ = true;
    if (isVisible()) show_child();
}

void WebViewHostWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (embedded_) show_child();
}

void WebViewHostWidget::show_child() {
    if (child_shown_ || !process_) return;
    // Showing the container puts the child's window inside ours now; only
    // then may the child map it, or it would flash up on the desktop.
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) w->show();
    child_shown_ = true;
    process_->show();
}

void WebViewHostWidget::show_notice() {
    if (notice_) return;
    if (process_) {
        process_->close();
        process_ = nullptr;
    }
    // Whatever the child left inside us goes with it.
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) w->deleteLater();
    notice_ = new QLabel(QStringLiteral("网页登录组件未安装。"), this);
    notice_->setAlignment(Qt::AlignCenter);
    layout()->addWidget(notice_);
}

QWidget* create_web_view(QWidget* parent) {
    return new WebViewHostWidget(web_view_program(), parent);
}

}  // namespace qorvel::ui::qt
