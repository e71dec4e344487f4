#include "cli/local_rules.h"

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

#include "net/charset.h"
#include "transfer/upload_rules.h"

namespace qorvel::cli {

namespace fs = std::filesystem;

Placing decide_placing(const std::string& entry_type, OnExists policy) {
    if (entry_type.empty()) return Placing::fresh;
    switch (policy) {
    case OnExists::skip: return Placing::skip;
    case OnExists::rename: return Placing::numbered;
    case OnExists::overwrite:
        // Replacing a link replaces the link itself (a rename), never its target.
        return entry_type == "file" || entry_type == "link" ? Placing::replace : Placing::refuse;
    }
    return Placing::refuse;
}

std::string resume_note_path(const std::string& final_path) {
    return final_path + ".qorvel-resume";
}

std::string resume_note_text(const ResumeNote& note) {
    return "QORVELCLI1\n" + note.partial + "\n" + note.record;
}

std::optional<ResumeNote> parse_resume_note(const std::string& text) {
    const std::string magic = "QORVELCLI1\n";
    if (text.compare(0, magic.size(), magic) != 0) return std::nullopt;
    std::size_t nl = text.find('\n', magic.size());
    if (nl == std::string::npos) return std::nullopt;
    ResumeNote n;
    n.partial = text.substr(magic.size(), nl - magic.size());
    n.record = text.substr(nl + 1);
    if (n.partial.empty()) return std::nullopt;
    return n;
}

bool partial_belongs(const std::string& final_path, const std::string& partial) {
    auto folder_of = [](const std::string& p) {
        auto slash = p.rfind('/');
        return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
    };
    const std::string suffix = ".part";
    std::string name = partial.substr(folder_of(partial).size());
    return folder_of(partial) == folder_of(final_path) && name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           name.find('/') == std::string::npos && name != ".." && name != ".";
}

namespace {

constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxFiles = 1000000;

void add_file(UploadPlan& plan, const fs::path& p, const std::vector<std::string>& folders) {
    std::string text = path_to_text(p);
    auto stamp = transfer::regular_file_stamp(text);
    if (!stamp) {
        plan.refused.push_back({text, GBK("文件无法读取")});
        return;
    }
    if (!transfer::under_upload_limit(stamp->size)) {
        plan.refused.push_back({text, GBK("文件不能达到 1024MB")});
        return;
    }
    if (!transfer::upload_extension_allowed(text)) {
        plan.refused.push_back({text, GBK("服务器不接受这种文件名")});
        return;
    }
    plan.files.push_back({text, folders, stamp->size});
}

void add_folder(UploadPlan& plan, const fs::path& dir, std::vector<std::string> folders,
                int depth) {
    std::string name = path_to_text(dir.filename());
    folders.push_back(name);
    plan.folders.push_back(folders);
    if (depth > kMaxDepth) {
        plan.refused.push_back({path_to_text(dir), GBK("文件夹层次太深")});
        return;
    }
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    if (ec) {
        plan.refused.push_back({path_to_text(dir), GBK("文件夹无法读取")});
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& e : entries) {
        if (plan.files.size() >= kMaxFiles) return;
        struct stat st {};
        if (::lstat(e.c_str(), &st) != 0) {
            plan.refused.push_back({path_to_text(e), GBK("文件无法读取")});
        } else if (S_ISLNK(st.st_mode)) {
            // A link inside a folder could carry any file of the user's out.
            plan.links_skipped.push_back(path_to_text(e));
        } else if (S_ISDIR(st.st_mode)) {
            add_folder(plan, e, folders, depth + 1);
        } else {
            add_file(plan, e, folders);
        }
    }
}

}  // namespace

UploadPlan plan_upload(const std::vector<std::string>& operands_utf8) {
    UploadPlan plan;
    for (const auto& typed : operands_utf8) {
        fs::path p = fs::path(typed).lexically_normal();
        if (p.has_filename() == false && p.has_parent_path()) p = p.parent_path();
        struct stat st {};
        // An operand named on its own is the user's choice: a link to a file goes as that file.
        if (::stat(p.c_str(), &st) != 0) {
            plan.refused.push_back({path_to_text(p), GBK("文件无法读取")});
        } else if (S_ISDIR(st.st_mode)) {
            fs::path dir = p;
            if (!dir.has_filename() || dir.filename() == "." || dir.filename() == "..")
                dir = fs::absolute(dir).lexically_normal();
            if (dir.filename().empty()) dir = dir.parent_path();
            add_folder(plan, dir, {}, 0);
        } else {
            std::error_code ec;
            fs::path real = fs::canonical(p, ec);
            add_file(plan, ec ? p : real, {});
        }
    }
    return plan;
}

}  // namespace qorvel::cli
