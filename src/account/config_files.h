// The two profile files in the user's documents folder: the skin choice and
// the remembered login.
#pragma once

#include <filesystem>
#include <string>

namespace qorvel {

class ConfigFiles {
  public:
    explicit ConfigFiles(std::filesystem::path documents) : documents_(std::move(documents)) {}

    std::filesystem::path skin_file() const;   // "配置.ini"
    std::filesystem::path login_file() const;  // "配置2.iniat"

    // 0-based index of the skin box: the stored 1-based number minus 1 ("1" when missing).
    int skin_index() const;

    // The stored "account切割password" text (empty when none).
    std::string remembered_login() const;
    // Stores account and password; the file is readable by its owner only.
    bool remember_login(const std::string& account, const std::string& password) const;
    // Deletes the whole file.
    bool forget_login() const;

  private:
    std::filesystem::path documents_;
};

}  // namespace qorvel
