#include "ui/qt/web_view_process.h"

#include <QCoreApplication>
#include <QTimer>

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

namespace qorvel::ui::qt {

WebViewProcess::WebViewProcess(QObject* parent) : QObject(parent) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Set in the forked child before exec: the child cannot outlive the
    // program even for the moment before it sets this itself.
    pid_t program = ::getpid();
    process_.setChildProcessModifier([program] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != program) ::_exit(1);
    });
    connect(&process_, &QProcess::readyReadStandardOutput, this, &WebViewProcess::read_reports);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) ended();
    });
    connect(&process_, &QProcess::finished, this, [this] { ended(); });
}

WebViewProcess::~WebViewProcess() {
    // QProcess kills and reaps a child still running.
    process_.disconnect(this);
}

void WebViewProcess::start(const QString& program, const std::vector<WebCookie>& cookies) {
    process_.start(program, {});
    // Written now, taken by the child once it reads stdin (QProcess buffers until started).
    for (const WebCookie& c : cookies) send(web_view_cookie_line(c));
}

void WebViewProcess::load(const std::string& url) {
    send(web_view_url_line(url));
}

void WebViewProcess::show() {
    send("show");
}

void WebViewProcess::send(const std::string& line) {
    if (closing_ || line.size() > kMaxWebViewLine) return;
    std::string bytes = line + '\n';
    process_.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void WebViewProcess::read_reports() {
    char buffer[4096];
    for (;;) {
        qint64 n = process_.read(buffer, sizeof buffer);
        if (n <= 0) break;
        for (const std::string& line : reader_.feed({buffer, static_cast<size_t>(n)})) {
            if (closing_) continue;
            WebViewLine l = read_web_view_line(line);
            if (l.kind == WebViewLine::Kind::window && !window_seen_) {
                window_seen_ = true;
                if (on_window) on_window(l.window);
            } else if (l.kind == WebViewLine::Kind::cookie && cookies_taken_ < kMaxCookies) {
                ++cookies_taken_;
                if (on_cookie) on_cookie(l.cookie);
            }
        }
    }
}

void WebViewProcess::ended() {
    if (closing_) {
        deleteLater();
        return;
    }
    if (on_failed) on_failed();
}

void WebViewProcess::close() {
    if (closing_) return;
    closing_ = true;
    on_window = nullptr;
    on_cookie = nullptr;
    on_failed = nullptr;
    if (!running()) {
        deleteLater();
        return;
    }
    process_.closeWriteChannel();
    QTimer::singleShot(kCloseGraceMs, Qt::PreciseTimer, this, [this] {
        if (!running()) return;
        qWarning("qorvel: the browser did not end with its window; killed");
        process_.kill();
    });
}

}  // namespace qorvel::ui::qt
