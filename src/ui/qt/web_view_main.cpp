// qorvel-web-view: the web-login window's browser, in a process of its own so
// that the engine, its GL context and its helper processes go when the window
// goes (a loaded engine cannot be unloaded). It reads cookies, the page and
// "show" on stdin, reports its window and every cookie it receives on stdout
// (web_view_protocol.h), and exits when stdin closes or its parent dies.
#include <QApplication>
#include <QDateTime>
#include <QNetworkCookie>
#include <QResizeEvent>
#include <QSocketNotifier>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWindow>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "ui/qt/web_view_protocol.h"

namespace {

using qorvel::WebCookie;
using namespace qorvel::ui::qt;

int report_fd = -1;

// One write per line: the program reads whole lines only.
void report(std::string line) {
    line += '\n';
    if (line.size() > kMaxWebViewLine + 1) return;
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(report_fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ::_exit(0);  // the program is gone
        p += n;
        left -= static_cast<size_t>(n);
    }
}

WebCookie to_cookie(const QNetworkCookie& cookie) {
    WebCookie c;
    c.domain = cookie.domain().toStdString();
    // A host-only cookie comes without a leading dot; the request side needs a domain.
    c.include_subdomains = !c.domain.empty() && c.domain.front() == '.';
    if (c.include_subdomains) c.domain.erase(0, 1);
    c.path = cookie.path().isEmpty() ? "/" : cookie.path().toStdString();
    c.name = cookie.name().toStdString();
    c.value = cookie.value().toStdString();
    c.secure = cookie.isSecure();
    c.expires = cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
    return c;
}

void put_cookie(QWebEngineCookieStore* store, const WebCookie& c) {
    QNetworkCookie cookie(QByteArray::fromStdString(c.name), QByteArray::fromStdString(c.value));
    cookie.setDomain(QString::fromStdString((c.include_subdomains ? "." : "") + c.domain));
    cookie.setPath(QString::fromStdString(c.path));
    cookie.setSecure(c.secure);
    if (c.expires > 0) cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(c.expires));
    store->setCookie(cookie, QUrl(QString::fromStdString("http://" + c.domain + "/")));
}

// The window the program embeds; the view follows its size.
class Frame : public QWindow {
  public:
    QWidget* view = nullptr;

  protected:
    void resizeEvent(QResizeEvent* event) override {
        if (view) view->setGeometry(0, 0, event->size().width(), event->size().height());
    }
};

// Puts a recreated native window of the view back into the frame.
class Reparent : public QObject {
  public:
    explicit Reparent(QWindow* frame) : frame_(frame) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WinIdChange)
            if (auto* w = qobject_cast<QWidget*>(watched))
                if (w->windowHandle() && w->windowHandle()->parent() != frame_)
                    w->windowHandle()->setParent(frame_);
        return false;
    }

  private:
    QWindow* frame_;
};

}  // namespace

int main(int argc, char** argv) {
    // Our stdin may stay open in another process the program started; the
    // program's death ends us all the same.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::signal(SIGPIPE, SIG_IGN);
    // Our lines get a descriptor of their own; the engine's helpers inherit 0
    // and 1 and sometimes print, which must not mix into the protocol.
    report_fd = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    int command_fd = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    if (report_fd < 0 || command_fd < 0) return 1;
    ::dup2(2, 1);
    int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) ::dup2(null, 0);

    // Widgets draw through GL from the start, so the view's native window is
    // not recreated (and so taken out of the frame) when the engine's first
    // GL child arrives.
    qputenv("QT_WIDGETS_RHI", "1");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    // The program gets a plain window of ours that lives as long as we do,
    // with the view inside: the view may still recreate its own.
    Frame frame;
    frame.resize(536, 432);
    frame.create();
    QWebEngineView view;
    frame.view = &view;
    Reparent keep_in_frame(&frame);
    view.installEventFilter(&keep_in_frame);
    view.winId();
    view.windowHandle()->setParent(&frame);
    view.setGeometry(0, 0, frame.width(), frame.height());
    QWebEngineCookieStore* store = QWebEngineProfile::defaultProfile()->cookieStore();
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, [](const QNetworkCookie& cookie) {
        WebCookie c = to_cookie(cookie);
        if (!c.domain.empty()) report(web_view_cookie_line(c));
    });

    WebViewLineReader reader;
    QSocketNotifier commands(command_fd, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        ssize_t n = ::read(command_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) return;
        if (n <= 0) {
            // The window closed: the program closed our stdin. Nothing of the
            // browser is kept (the profile is off the record), and its own
            // shutdown can wait on the window that is already gone: leave now,
            // the helpers end when their pipes to us close.
            ::_exit(0);
        }
        for (const std::string& line : reader.feed({buffer, static_cast<size_t>(n)})) {
            WebViewLine l = read_web_view_line(line);
            switch (l.kind) {
            case WebViewLine::Kind::cookie: put_cookie(store, l.cookie); break;
            case WebViewLine::Kind::url: view.setUrl(QUrl(QString::fromStdString(l.url))); break;
            case WebViewLine::Kind::show:
                view.show();
                frame.show();
                break;
            default: break;
            }
        }
    });
    report(web_view_window_line(frame.winId()));
    return app.exec();
}
