// The real desktop behind Shell on Linux: xdg-open, the file manager over
// D-Bus, freedesktop link files. The clipboard belongs to the window toolkit,
// which hands its setter in.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/shell.h"

namespace qorvel {

class DesktopShell : public Shell {
  public:
    using ClipboardSetter = std::function<void(const std::string& utf8)>;
    explicit DesktopShell(ClipboardSetter clipboard = {});

    void open_url(const std::string& address) override;
    void open_file(const std::string& path) override;
    void show_in_file_manager(const std::string& path) override;
    void set_clipboard_text(const std::string& text) override;
    bool create_shortcut(const std::string& path, const std::string& target) override;
    // Runs only when QORVEL_ALLOW_SHUTDOWN=1 and not under CI.
    void shut_down() override;

    void set_clipboard_setter(ClipboardSetter clipboard) { clipboard_ = std::move(clipboard); }

  private:
    ClipboardSetter clipboard_;
};

// Starts a program detached from ours (no wait, no shell). False when it
// could not be started.
bool spawn_detached(const std::vector<std::string>& argv);

// Whether the real power-off may run in this environment.
bool shutdown_allowed();

}  // namespace qorvel
