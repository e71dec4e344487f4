// The program's side of the browser child (qorvel-web-view): starts it, hands
// it the cookie store and the page, reads what it reports, and ends it.
// Needs no display, so the offscreen tests drive it as the window does.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/web.h"
#include "ui/qt/web_view_protocol.h"

namespace qorvel::ui::qt {

class WebViewProcess : public QObject {
    Q_OBJECT
  public:
    // A child that keeps running this long after close() is killed.
    static constexpr int kCloseGraceMs = 2000;
    // Cookies taken from one child at most; the rest is ignored.
    static constexpr int kMaxCookies = 1000;

    explicit WebViewProcess(QObject* parent = nullptr);
    ~WebViewProcess() override;

    std::function<void(std::uint64_t)> on_window;     // the child's window, once
    std::function<void(const WebCookie&)> on_cookie;  // every cookie its store received
    std::function<void()> on_failed;                  // did not start, or ended on its own

    // Starts the program (never through a shell) and sends it the cookies.
    void start(const QString& program, const std::vector<WebCookie>& cookies);
    void load(const std::string& url);
    // The child shows its window once it sits inside ours.
    void show();
    // Closes the child's stdin, which ends it; killed by PID when still there
    // after kCloseGraceMs, reaped, and this object deletes itself. No callback
    // runs after this.
    void close();

    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() != QProcess::NotRunning; }

  private:
    void send(const std::string& line);
    void read_reports();
    void ended();

    QProcess process_;
    WebViewLineReader reader_;
    bool closing_ = false;
    bool window_seen_ = false;
    int cookies_taken_ = 0;
};

}  // namespace qorvel::ui::qt
