#include "roads/transfer/shut_down.h"

#include <memory>

#include "net/charset.h"
#include "ui/windows/catalogue.h"

namespace qorvel {

namespace {

struct Countdown {
    int left = kShutDownSeconds;
    bool over = false;  // shut down or cancelled: nothing more happens
};

void open_countdown(Client& c, const std::shared_ptr<ui::Window>& main, const std::string& option) {
    ui::Program& program = c.program();
    if (program.find(windows::kShutDownWindow)) return;
    auto w = windows::build_shut_down_window();
    auto state = std::make_shared<Countdown>();
    (*w)["标签1"].set_caption(shut_down_caption(state->left));
    w->on("时钟1", ui::Event::tick, [&c, state](ui::EventArgs& a) {
        if (state->over) return;
        ui::Window& self = *a.window;
        if (--state->left > 0) {
            self["标签1"].set_caption(shut_down_caption(state->left));
            return;
        }
        state->over = true;
        self["时钟1"].set_interval(0);
        c.shell().shut_down();
        c.program().close(self);
    });
    w->on("按钮1", ui::Event::clicked, [&c](ui::EventArgs& a) { c.program().close(*a.window); });
    // Closed before 0, by 取消, Escape or the title bar: the option is given up.
    std::weak_ptr<ui::Window> weak_main = main;
    w->on_window(ui::Event::destroyed, [state, weak_main, option](ui::EventArgs&) {
        if (state->over) return;
        state->over = true;
        if (auto m = weak_main.lock(); m && m->has(option)) (*m)[option].set_checked(false);
    });
    program.open(w, false);
}

}  // namespace

std::string shut_down_caption(int seconds) {
    return GBK("将在 ") + std::to_string(seconds) + GBK(" 秒后关闭计算机");
}

void shut_down_after_run(Client& c, ui::Window& main, const std::string& option) {
    std::shared_ptr<ui::Window> keep = c.program().find(main.id());
    if (!keep) return;
    c.program().post([&c, keep, option] { open_countdown(c, keep, option); });
}

}  // namespace qorvel
