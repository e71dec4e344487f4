#include "transfer/upload_rules.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"

namespace qorvel::transfer {

bool under_upload_limit(std::int64_t bytes) {
    return bytes < kUploadLimitBytes;
}

bool upload_extension_allowed(const std::string& path) {
    std::string name = file_name_of(path);
    auto dot = name.find('.');
    if (dot == std::string::npos) return true;
    std::string ext = name.substr(dot + 1);
    return !(ext.empty() || ext == "php" || ext == "asp");
}

PathKind path_kind(const std::string& path) {
    struct stat st {};
    if (::stat(text_to_path(path).c_str(), &st) != 0) return PathKind::missing;
    if (S_ISDIR(st.st_mode)) return PathKind::folder;
    if (S_ISREG(st.st_mode)) return PathKind::file;
    return PathKind::missing;  // devices, pipes and sockets are not uploads
}

std::int64_t file_size_of(const std::string& path) {
    struct stat st {};
    if (::stat(text_to_path(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

DropAction decide_dropped(const std::string& path, PathKind kind, std::int64_t bytes) {
    switch (kind) {
    case PathKind::folder: return DropAction::add_folder;
    case PathKind::file:
        return under_upload_limit(bytes) && upload_extension_allowed(path) ? DropAction::add_file
                                                                           : DropAction::skip;
    case PathKind::missing: break;
    }
    return DropAction::skip;
}

std::vector<std::string> files_of_folder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(text_to_path(folder), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code kind_ec;
        if (it->is_regular_file(kind_ec)) names.push_back(path_to_text(it->path().filename()));
    }
    std::sort(names.begin(), names.end());
    std::string base = folder;
    if (base.empty() || base.back() != '/') base += '/';
    for (auto& n : names) n = base + n;
    return names;
}

std::string file_name_of(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folder_part_of(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string upload_size_text(std::int64_t bytes) {
    return number_to_text(static_cast<double>(bytes) / 1048576.0) + "M";
}

std::string completed_size_text(std::int64_t bytes) {
    return number_to_text(static_cast<double>(bytes) / 1024.0) + "KB";
}

std::string remote_name_for(const std::string& path) {
    return file_name_of(path) + ".qrvllswj";
}

std::string ftp_upload_url(const std::string& ftp_host, const std::string& remote_name) {
    return "ftp://" + ftp_host + ":1678/" + remote_name;
}

Registration parse_registration(const std::string& answer) {
    Registration r;
    r.created = answer.find("INSERT INTO `wenjian`") != std::string::npos;
    if (r.created) r.new_id = text_to_int(text_between(answer, "xxxx", "x"));
    return r;
}

std::string instant_upload_path(const std::string& account_key, long long folder_id,
                                const std::string& md5_hex) {
    return with_query("/jsmc.php",
                      Form().add("bsm", account_key).add("mlid", folder_id).add("md5", md5_hex));
}

std::string register_upload_path(const std::string& account_key, long long folder_id) {
    return with_query("/tjwj.php", Form().add("bsm", account_key).add("mlid", folder_id));
}

std::string registration_body(const std::string& file_name) {
    return Form().add("wjdl", file_name).str();
}

}  // namespace qorvel::transfer
