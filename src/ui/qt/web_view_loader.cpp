#include "ui/qt/web_view_loader.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLibrary>
#include <QStringList>

#include "ui/qt/web_view_module.h"

namespace qorvel::ui::qt {

namespace {

CreateWebView loaded = nullptr;

CreateWebView load_module() {
    static bool tried = false;
    if (tried) return loaded;
    tried = true;
    QStringList candidates;
    if (!qEnvironmentVariableIsEmpty("QORVEL_WEB_VIEW_MODULE"))
        candidates << qEnvironmentVariable("QORVEL_WEB_VIEW_MODULE");
    candidates << QCoreApplication::applicationDirPath() + "/libqorvel_web_view.so";
#ifdef QORVEL_WEB_VIEW_MODULE_RELATIVE
    candidates << QCoreApplication::applicationDirPath() + "/" QORVEL_WEB_VIEW_MODULE_RELATIVE;
#endif
#ifdef QORVEL_WEB_VIEW_MODULE_PATH
    candidates << QStringLiteral(QORVEL_WEB_VIEW_MODULE_PATH);
#endif
    for (const QString& path : candidates) {
        QLibrary library(path);
        if (!library.load()) continue;
        loaded = reinterpret_cast<CreateWebView>(library.resolve(kCreateWebViewSymbol));
        if (loaded) return loaded;
    }
    qWarning("qorvel: the browser module was not found (%s)", qPrintable(candidates.join(", ")));
    return nullptr;
}

std::vector<WebCookie> session_cookies() {
    return WebSession::process().cookies();
}

void keep_cookie(const WebCookie& cookie) {
    WebSession::process().set_cookie(cookie);
}

}  // namespace

QWidget* create_web_view(QWidget* parent) {
    static const WebViewHost host{session_cookies, keep_cookie};
    if (CreateWebView create = load_module()) return create(parent, &host);
    auto* notice = new QLabel(QStringLiteral("网页登录组件未安装。"), parent);
    notice->setAlignment(Qt::AlignCenter);
    return notice;
}

bool web_view_module_loaded() {
    return loaded != nullptr;
}

}  // namespace qorvel::ui::qt
