// The web view control: the browser runs in a child process of ours
// (qorvel-web-view) whose window sits inside the control, so the engine and
// its helper processes go when the window goes.
#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

class QLabel;

namespace qorvel::ui::qt {

class WebViewProcess;

// qorvel-web-view as QORVEL_WEB_VIEW names it, next to the program, where it
// is installed relative to the program, then where the build put it; empty
// when there is none.
QString web_view_program();

class WebViewHostWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QUrl url READ url WRITE set_url)
  public:
    // An empty program shows the notice at once.
    WebViewHostWidget(const QString& program, QWidget* parent);
    ~WebViewHostWidget() override;

    QUrl url() const { return url_; }
    void set_url(const QUrl& url);
    // The running child's PID, 0 when there is none.
    qint64 child_pid() const;
    bool showing_notice() const { return notice_ != nullptr; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void embed(unsigned long long id);
    void show_child();
    void show_notice();

    QPointer<WebViewProcess> process_;
    QLabel* notice_ = nullptr;
    QUrl url_;
    bool embedded_ = false;
    bool child_shown_ = false;
};

// The control's widget: a WebViewHostWidget, or its notice when the program is missing.
QWidget* create_web_view(QWidget* parent);

}  // namespace qorvel::ui::qt
