// The countdown before the shut-down after a run, on the headless clock.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "e2e/road.h"
#include "roads/transfer/shut_down.h"

namespace qorvel {
namespace {

using namespace std::chrono_literals;

class ShutDownCountdown : public ::testing::Test {
  protected:
    void SetUp() override {
        program_.create(main_);
        backend_.pump_all();
    }
    void TearDown() override { program_.shutdown(); }

    int shutdowns() const {
        int n = 0;
        for (const auto& a : shell_.actions()) n += a.kind == "shut_down";
        return n;
    }
    std::shared_ptr<ui::Window> countdown() const {
        auto w = program_.find(windows::kShutDownWindow);
        return w && w->alive() ? w : nullptr;
    }
    void run_for(std::chrono::milliseconds t) {
        backend_.advance(t);
        backend_.pump_all();
    }

    test::TempDir home_{"qorvel-shut-down"};
    ui::HeadlessBackend backend_{test::fail_test};
    ui::ScriptedPrompts prompts_;
    ui::Program program_{backend_, prompts_};
    test::ShellRecorder shell_;
    Client client_{program_, shell_, ServiceHosts{}, ClientFolders{home_.path(), home_.path()}};
    std::shared_ptr<ui::Window> main_ = windows::build_main_window("127.0.0.1:1");
};

TEST_F(ShutDownCountdown, RunningOutShutsDownExactlyOnce) {
    (*main_)["选择框3"].set_checked(true);
    // Both queues ending together open one countdown.
    shut_down_after_run(client_, *main_, "选择框3");
    shut_down_after_run(client_, *main_, "选择框3");
    backend_.pump_all();
    auto w = countdown();
    ASSERT_TRUE(w);
    EXPECT_EQ((*w)["标签1"].caption(), GBK("将在 15 秒后关闭计算机"));
    EXPECT_EQ((*w)["按钮1"].caption(), GBK("取消"));
    run_for(14s);
    EXPECT_EQ((*w)["标签1"].caption(), GBK("将在 1 秒后关闭计算机"));
    EXPECT_EQ(shutdowns(), 0);
    run_for(1s);
    EXPECT_EQ(shutdowns(), 1);
    EXPECT_FALSE(countdown());
    EXPECT_TRUE((*main_)["选择框3"].checked()) << "the option the user chose stays";
    run_for(60s);
    EXPECT_EQ(shutdowns(), 1);
    int windows = 0;
    for (const auto& id : backend_.realized()) windows += id == windows::kShutDownWindow;
    EXPECT_EQ(windows, 0);
}

TEST_F(ShutDownCountdown, CancelOrClosingUnticksTheOptionAndNothingShutsDown) {
    (*main_)["选择框3"].set_checked(true);
    (*main_)["选择框2"].set_checked(true);
    shut_down_after_run(client_, *main_, "选择框3");
    backend_.pump_all();
    run_for(5s);
    auto w = countdown();
    ASSERT_TRUE(w);
    program_.raise(*w, "按钮1", ui::Event::clicked);
    backend_.pump_all();
    EXPECT_FALSE(countdown());
    EXPECT_FALSE((*main_)["选择框3"].checked());
    EXPECT_TRUE((*main_)["选择框2"].checked()) << "only the option of the run that ended";
    run_for(30s);
    EXPECT_EQ(shutdowns(), 0);

    // The upload side, closed by the title bar in its last second.
    shut_down_after_run(client_, *main_, "选择框2");
    backend_.pump_all();
    run_for(14s);
    w = countdown();
    ASSERT_TRUE(w);
    EXPECT_TRUE(program_.request_close(*w));
    backend_.pump_all();
    EXPECT_FALSE((*main_)["选择框2"].checked());
    run_for(30s);
    EXPECT_EQ(shutdowns(), 0);
}

}  // namespace
}  // namespace qorvel
