// Questions to the user: message boxes and file and folder choosers. The real
// program answers them with dialogs; tests script the answers.
#pragma once

#include <string>
#include <vector>

namespace qorvel {

enum class MessageButtons { ok, yes_no };

// Results of a message box, as the operations compare them.
constexpr int kAnswerOk = 0;
constexpr int kAnswerYes = 5;
constexpr int kAnswerNo = 6;

class Prompts {
  public:
    virtual ~Prompts() = default;
    // Caption "信息：", modal to the whole program. text is GBK.
    virtual int message_box(const std::string& text, MessageButtons buttons) = 0;
    // A folder path as GBK text (empty when cancelled).
    virtual std::string choose_folder(const std::string& title) = 0;
    // Several files (GBK paths); empty when cancelled. Opens in initial_folder when given.
    virtual std::vector<std::string> choose_files(const std::string& title,
                                                  const std::string& filter,
                                                  const std::string& initial_folder) = 0;
};

}  // namespace qorvel
