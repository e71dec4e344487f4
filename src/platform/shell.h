// Actions handed to the desktop. The real program implements them for real;
// tests record them. All texts are GBK (paths as GB18030 texts).
#pragma once

#include <string>

namespace qorvel {

class Shell {
  public:
    virtual ~Shell() = default;
    // The "open" action: an address goes to the default web browser.
    virtual void open_url(const std::string& address) = 0;
    // Opens a local file or folder with its default program.
    virtual void open_file(const std::string& path) = 0;
    // Shows the file selected in the file manager.
    virtual void show_in_file_manager(const std::string& path) = 0;
    virtual void set_clipboard_text(const std::string& text) = 0;
    // Creates a new shortcut file at path that opens target; false when any
    // entry (a link too) is already there or the file cannot be written.
    virtual bool create_shortcut(const std::string& path, const std::string& target) = 0;
    // Powers the machine off (forced). Guarded in the real implementation.
    virtual void shut_down() = 0;
};

// Hands an address to the shell's "open" action; no result is used.
inline void open_in_browser(Shell& shell, const std::string& address) {
    shell.open_url(address);
}

}  // namespace qorvel
