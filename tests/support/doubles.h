// Stand-ins for the desktop where no real one can run in a test: a shell that
// records what it was asked to do, and prompts that answer from a script.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/prompts.h"
#include "platform/shell.h"

namespace qorvel::test {

// A failure inside a handler or worker fails the test that caused it.
inline void fail_test(const std::string& what) {
    ADD_FAILURE() << "the program reported: " << what;
}

class ShellRecorder : public Shell {
  public:
    struct Action {
        std::string kind;  // open_url, open_file, show, clipboard, shortcut, shut_down
        std::string a, b;
    };
    void open_url(const std::string& address) override { add({"open_url", address, {}}); }
    void open_file(const std::string& path) override { add({"open_file", path, {}}); }
    void show_in_file_manager(const std::string& path) override { add({"show", path, {}}); }
    void set_clipboard_text(const std::string& text) override { add({"clipboard", text, {}}); }
    bool create_shortcut(const std::string& path, const std::string& target) override {
        add({"shortcut", path, target});
        Shell* writer = nullptr;
        {
            std::lock_guard g(mutex_);
            writer = shortcut_writer_;
        }
        return writer ? writer->create_shortcut(path, target) : true;
    }
    // Shortcuts are written by this shell as well (the real one), not only recorded.
    void write_shortcuts_with(Shell* writer) {
        std::lock_guard g(mutex_);
        shortcut_writer_ = writer;
    }
    void shut_down() override { add({"shut_down", {}, {}}); }

    std::vector<Action> actions() const {
        std::lock_guard g(mutex_);
        return actions_;
    }

  private:
    void add(Action a) {
        std::lock_guard g(mutex_);
        actions_.push_back(std::move(a));
    }
    mutable std::mutex mutex_;
    std::vector<Action> actions_;
    Shell* shortcut_writer_ = nullptr;
};

class PromptScript : public Prompts {
  public:
    // Answers given in order; when the script runs out, OK boxes get 0 and questions No.
    void answer(int reply) {
        std::lock_guard g(mutex_);
        replies_.push_back(reply);
    }
    void folder(std::string path) {
        std::lock_guard g(mutex_);
        folders_.push_back(std::move(path));
    }
    int message_box(const std::string& text, MessageButtons buttons) override {
        std::lock_guard g(mutex_);
        shown_.push_back(text);
        if (buttons == MessageButtons::ok) return kAnswerOk;
        if (replies_.empty()) return kAnswerNo;
        int r = replies_.front();
        replies_.pop_front();
        return r;
    }
    std::string choose_folder(const std::string&) override {
        std::lock_guard g(mutex_);
        if (folders_.empty()) return {};
        std::string f = folders_.front();
        folders_.pop_front();
        return f;
    }
    std::vector<std::string> choose_files(const std::string&, const std::string&,
                                          const std::string&) override {
        std::lock_guard g(mutex_);
        return files_;
    }
    void files(std::vector<std::string> f) {
        std::lock_guard g(mutex_);
        files_ = std::move(f);
    }
    std::vector<std::string> shown() const {
        std::lock_guard g(mutex_);
        return shown_;
    }

  private:
    mutable std::mutex mutex_;
    std::deque<int> replies_;
    std::deque<std::string> folders_;
    std::vector<std::string> files_;
    std::vector<std::string> shown_;
};

}  // namespace qorvel::test
