// The shut-down after a run: a countdown the user can cancel comes first.
#pragma once

#include <string>

#include "roads/client.h"

namespace qorvel {

inline constexpr int kShutDownSeconds = 15;

// "将在 N 秒后关闭计算机" (GBK).
std::string shut_down_caption(int seconds);

// A run ended with its shut-down option ticked (option: the check box of the
// main window). Opens the countdown window (any thread); 取消 or closing it
// unticks the option and nothing happens, reaching 0 shuts down once. While
// one countdown is open another run's end opens no second one.
void shut_down_after_run(Client& c, ui::Window& main, const std::string& option);

}  // namespace qorvel
