// What a person meets in the login road's windows on the real toolkit:
// Enter in a one-line box, the terms opening at their top, message-box
// buttons in Chinese, and no browser processes until a web view exists.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "net/charset.h"
#include "qt_main.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/translations.h"
#include "ui/qt/window_view.h"
#include "ui/windows/catalogue.h"

namespace qorvel::ui::qt {
namespace {

using test::spin_until;

// Processes this process has started (WebEngine's helpers among them).
int child_processes() {
    int count = 0;
    for (const QString& task :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f("/proc/self/task/" + task + "/children");
        if (!f.open(QIODevice::ReadOnly)) continue;
        count += QString::fromLatin1(f.readAll()).split(' ', Qt::SkipEmptyParts).size();
    }
    return count;
}

class LoginWindowsQt : public ::testing::Test {
  protected:
    QtBackend backend;
    QtPrompts prompts;
    Program program{backend, prompts};

    void TearDown() override {
        program.shutdown();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    template <class T>
    T* find(Window& w, const char* name) {
        return backend.view(w)->findChild<T*>(QString::fromUtf8(name));
    }
    bool shown(Window& w) {
        return spin_until([&] { return backend.view(w) && backend.view(w)->isVisible(); });
    }
};

TEST_F(LoginWindowsQt, EnterInTheLoginPasswordBoxRaisesItsEventOnly) {
    auto login = windows::build_login_window();
    int enter_in_password = 0, enter_in_account = 0;
    login->on("编辑框2", Event::enter_pressed, [&](EventArgs&) { ++enter_in_password; });
    login->on("编辑框1", Event::enter_pressed, [&](EventArgs&) { ++enter_in_account; });
    program.open(login, false);
    ASSERT_TRUE(shown(*login));
    QTest::keyClick(find<QLineEdit>(*login, "编辑框2"), Qt::Key_Return);
    QTest::keyClick(find<QLineEdit>(*login, "编辑框2"), Qt::Key_Enter);  // the keypad's
    ASSERT_TRUE(spin_until([&] { return enter_in_password == 2; }));
    QTest::keyClicks(find<QLineEdit>(*login, "编辑框1"), "demo");
    QTest::keyClick(find<QLineEdit>(*login, "编辑框1"), Qt::Key_Return);
    ASSERT_TRUE(spin_until([&] { return enter_in_account == 1; }));
    EXPECT_EQ(enter_in_password, 2);
}

TEST_F(LoginWindowsQt, TermsOpenAtTheirTopWhileAGrowingLogShowsItsEnd) {
    auto terms = windows::build_terms_window();
    program.open(terms, false);
    ASSERT_TRUE(shown(*terms));
    auto* text = find<QPlainTextEdit>(*terms, "编辑框1");
    ASSERT_TRUE(spin_until([&] { return text->verticalScrollBar()->maximum() > 0; }));
    QApplication::processEvents();
    EXPECT_EQ(text->verticalScrollBar()->value(), 0);

    auto log = std::make_shared<Window>("log", "log", 300, 200);
    log->add("日志编辑框", Kind::edit, {0, 0, 300, 100}).set_multiline().set_vertical_scroll();
    program.open(log, false);
    ASSERT_TRUE(shown(*log));
    auto* box = find<QPlainTextEdit>(*log, "日志编辑框");
    for (int i = 0; i < 40; ++i)
        (*log)["日志编辑框"].append_text("line " + std::to_string(i) + "\r\n");
    ASSERT_TRUE(spin_until([&] {
        return box->verticalScrollBar()->maximum() > 0 &&
               box->verticalScrollBar()->value() == box->verticalScrollBar()->maximum();
    }));
}

TEST_F(LoginWindowsQt, MessageBoxButtonsReadChinese) {
    ASSERT_TRUE(install_qt_translations(*qApp));
    QStringList seen;
    auto read_and_answer = [&seen](QMessageBox::StandardButton answer) {
        QTimer::singleShot(50, [&seen, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            for (QAbstractButton* b : box->buttons()) seen << b->text();
            box->button(answer)->click();
        });
    };
    read_and_answer(QMessageBox::Ok);
    EXPECT_EQ(program.message_box(utf8_to_gbk("帐号注册成功！"), MessageButtons::ok), kAnswerOk);
    ASSERT_EQ(seen, QStringList{QString::fromUtf8("确定")});
    seen.clear();
    read_and_answer(QMessageBox::No);
    EXPECT_EQ(program.message_box(utf8_to_gbk("是否最小化到托盘图标？"), MessageButtons::yes_no),
              kAnswerNo);
    ASSERT_EQ(seen.size(), 2);
    // Qt's catalogue keeps the keyboard mnemonic: "是(&Y)", shown as "是(Y)".
    seen.sort();
    EXPECT_TRUE(seen.filter(QRegularExpression("^是")).size() == 1) << seen.join('|').toStdString();
    EXPECT_TRUE(seen.filter(QRegularExpression("^否")).size() == 1) << seen.join('|').toStdString();
}

TEST_F(LoginWindowsQt, BrowserProcessesStartWithTheWebLoginWindowOnly) {
    auto login = windows::build_login_window();
    auto terms = windows::build_terms_window();
    program.open(login, false);
    program.open(terms, false);
    ASSERT_TRUE(shown(*login));
    ASSERT_TRUE(shown(*terms));
    QApplication::processEvents();
    EXPECT_EQ(child_processes(), 0);

    auto web = windows::build_web_login_window("127.0.0.1:9");
    (*web)["时钟1"].set_interval(0);
    (*web)["超文本浏览框1"].set_url("about:blank");
    program.open(web, false);
    ASSERT_TRUE(shown(*web));
    EXPECT_TRUE(spin_until([] { return child_processes() > 0; }, 20000));
}

}  // namespace
}  // namespace qorvel::ui::qt
