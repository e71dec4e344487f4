#include "transfer/upload_rules.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "transfer/engine/local_file.h"
#include "transfer/engine/messages.h"

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

std::string real_path_of(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(
        ::realpath(text_to_path(path).c_str(), nullptr), &std::free);
    return real ? path_to_text(std::filesystem::path(real.get())) : std::string();
}

std::optional<std::string> upload_refusal(const engine::Outcome& outcome, bool file_unchanged) {
    using engine::Outcome;
    if (outcome.result != Outcome::Result::success)
        return outcome.message.empty() ? GBK("上传失败！") : GBK("上传失败：") + outcome.message;
    if (!file_unchanged) return GBK("上传失败：") + engine::msg::file_changed();
    if (outcome.upload != Outcome::Upload::verified &&
        outcome.upload != Outcome::Upload::server_has_no_hash)
        return GBK("上传失败：") + engine::msg::content_unchecked();
    return std::nullopt;
}

std::optional<FileStamp> regular_file_stamp(const std::string& path) {
    int fd = engine::open_regular_file(text_to_path(path));
    if (fd < 0) return std::nullopt;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!ok) return std::nullopt;
    FileStamp s;
    s.size = static_cast<std::int64_t>(st.st_size);
    s.modified_ns =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

DropAction decide_dropped(const std::string& path, PathKind kind, std::int64_t bytes) {
    switch (kind) {
    case PathKind::folder: return DropAction::add_folder;
    case PathKind::file:
        if (!under_upload_limit(bytes)) return DropAction::too_large;
        if (!upload_extension_allowed(path)) return DropAction::name_refused;
        return DropAction::add_file;
    case PathKind::missing: break;
    }
    return DropAction::skip;
}

FolderFiles files_of_folder(const std::string& folder) {
    FolderFiles found;
    std::error_code ec;
    std::filesystem::directory_iterator it(text_to_path(folder), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code kind_ec;
        if (it->is_symlink(kind_ec)) {
            ++found.links_skipped;
        } else if (!kind_ec && it->is_regular_file(kind_ec)) {
            found.paths.push_back(path_to_text(it->path().filename()));
        }
    }
    std::sort(found.paths.begin(), found.paths.end());
    std::string base = folder;
    if (base.empty() || base.back() != '/') base += '/';
    for (auto& n : found.paths) n = base + n;
    return found;
}

std::string adding_summary(const AddingReport& report) {
    std::vector<std::string> parts;
    if (!report.too_large.empty())
        parts.push_back(GBK("有") + std::to_string(report.too_large.size()) +
                        GBK("个文件超过1024M，未添加"));
    if (!report.name_refused.empty())
        parts.push_back(GBK("有") + std::to_string(report.name_refused.size()) +
                        GBK("个文件的类型不允许上传，未添加"));
    if (report.links_skipped > 0)
        parts.push_back(GBK("已跳过 ") + std::to_string(report.links_skipped) + GBK(" 个符号链接"));
    std::string text;
    for (const auto& p : parts) text += (text.empty() ? "" : GBK("，")) + p;
    return text;
}

std::vector<std::string> adding_log_lines(const AddingReport& report) {
    std::vector<std::string> lines;
    for (const auto& p : report.too_large) lines.push_back(GBK("文件超过1024M，未添加：") + p);
    for (const auto& p : report.name_refused)
        lines.push_back(GBK("文件类型不允许上传，未添加：") + p);
    if (report.links_skipped > 0)
        lines.push_back(GBK("已跳过 ") + std::to_string(report.links_skipped) + GBK(" 个符号链接"));
    return lines;
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

}  // namespace qorvel::transfer
