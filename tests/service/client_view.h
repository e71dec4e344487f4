// The service's answers read the way the client reads them: the same
// requests, markers and lazy patterns.
#pragma once

#include <string>
#include <vector>

#include "support/service_instance.h"

namespace qorvel::test {

struct Login {
    std::string pid;  // login_pid
    std::string key;  // account_key
    std::vector<std::string> fields;
    bool ok() const { return !key.empty(); }
};

struct FolderRow {
    std::string name;  // GBK
    int id = 0;
};

struct FileRow {
    int id = 0;
    std::string name, size, date, downloads;  // GBK
};

struct FilePage {
    int pages = 0;
    std::vector<FileRow> rows;
};

class ClientView {
  public:
    explicit ClientView(const ServiceInstance& service) : s_(service) {}

    // name and password as typed (GBK); the name goes out in UTF-8.
    Login login(const std::string& name_gbk, const std::string& password_gbk) const;
    std::string raw_login(const std::string& name_gbk, const std::string& password_gbk) const;
    std::string post(const std::string& path_and_query, const std::string& body) const;
    std::string get(const std::string& path_and_query) const;

    std::vector<FolderRow> folders(const Login& login, int folder) const;
    FilePage files(const Login& login, int folder, int page, bool whole = false) const;
    std::string session_check(const std::string& key) const;  // text_between result
    bool is_vip(const Login& login) const;
    std::string access_password(const Login& login) const;
    std::string storage_link(int file_id, const std::string& access_password) const;
    // The registration answer's id, or -1 without the marker.
    static int registered_id(const std::string& answer);

  private:
    const ServiceInstance& s_;
};

}  // namespace qorvel::test
