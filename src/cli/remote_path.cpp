#include "cli/remote_path.h"

#include <charconv>

#include "cli/messages.h"
#include "net/charset.h"

namespace qorvel::cli {

std::optional<long long> id_of(const std::string& part) {
    if (part.size() < 4 || part.size() > 21 || part.compare(0, 3, "id:") != 0) return std::nullopt;
    long long v = 0;
    const char* begin = part.data() + 3;
    const char* end = part.data() + part.size();
    auto [at, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || at != end || v < 0) return std::nullopt;
    for (const char* c = begin; c < end; ++c)
        if (*c < '0' || *c > '9') return std::nullopt;
    return v;
}

std::optional<RemotePath> parse_remote_path(const std::string& utf8) {
    for (unsigned char c : utf8)
        if (c < 0x20 || c == 0x7f) return std::nullopt;
    RemotePath out;
    out.text = utf8;
    std::size_t pos = 0;
    bool first = true;
    while (pos <= utf8.size()) {
        std::size_t slash = utf8.find('/', pos);
        std::string piece =
            utf8.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        pos = slash == std::string::npos ? utf8.size() + 1 : slash + 1;
        if (piece.empty() || piece == ".") continue;
        if (piece == "..") {
            if (!out.parts.empty()) out.parts.pop_back();
            first = false;
            continue;
        }
        if (first && out.parts.empty() && piece == text::kRoot) {
            first = false;
            continue;
        }
        first = false;
        PathPart part;
        part.id = id_of(piece);
        if (!part.id) {
            part.name = utf8_to_gbk(piece);
            // Invalid UTF-8 converts to nothing; a character GBK lacks to "?",
            // which names no entry the service could hold.
            if (part.name.empty()) return std::nullopt;
        }
        out.parts.push_back(std::move(part));
    }
    return out;
}

std::optional<std::string> file_page_name(const std::string& page) {
    const std::string open = "<h3>", close = "</h3>";
    std::size_t at = page.find(open);
    if (at == std::string::npos) return std::nullopt;
    at += open.size();
    std::size_t end = page.find(close, at);
    if (end == std::string::npos || end == at || end - at > 1024) return std::nullopt;
    std::string name = page.substr(at, end - at);
    for (unsigned char ch : name)
        if (ch < 0x20 || ch == 0x7f || ch == '<' || ch == '/') return std::nullopt;
    return name;
}

std::string ambiguity_message(const std::string& shown, const std::vector<Entry>& matches) {
    std::string m = utf8_to_gbk(shown) + GBK(" 有多个同名项，请改用 id：");
    for (const auto& e : matches)
        m += " id:" + std::to_string(e.id) + (e.is_folder() ? GBK("（文件夹）") : GBK("（文件）"));
    return m;
}

namespace {

Resolved failed(Exit e, std::string message) {
    Resolved r;
    r.outcome = Outcome::fail(e, std::move(message));
    return r;
}

bool matches(const PathPart& part, const Entry& e) {
    return part.id ? e.id == *part.id : e.name == part.name;
}

}  // namespace

Resolved resolve(const RemotePath& path, const Lister& list) {
    Resolved here;
    here.entry.kind = Entry::Kind::folder;
    here.entry.id = 0;
    here.entry.name = GBK("默认文件夹");
    here.shown = "/";
    std::string shown;
    for (std::size_t i = 0; i < path.parts.size(); ++i) {
        const PathPart& part = path.parts[i];
        shown += "/" + (part.id ? "id:" + std::to_string(*part.id) : gbk_to_utf8(part.name));
        if (!here.entry.is_folder())
            return failed(Exit::item_failed, GBK("路径经过一个文件：") + utf8_to_gbk(shown));
        Listing l = list(here.entry.id);
        if (!l.outcome.ok()) return failed(l.outcome.exit, l.outcome.message);
        std::vector<Entry> found;
        for (const auto& e : l.entries)
            if (matches(part, e)) found.push_back(e);
        // An id picks one entry of a kind; a folder and a file sharing it stay ambiguous.
        if (found.empty())
            return failed(Exit::item_failed, GBK("路径不存在：") + utf8_to_gbk(shown));
        if (found.size() > 1) return failed(Exit::item_failed, ambiguity_message(shown, found));
        here.parent_id = here.entry.id;
        here.entry = found.front();
    }
    here.shown = shown.empty() ? "/" : shown;
    return here;
}

Resolved resolve_bare_id(long long id, bool folder_known, bool file_known,
                         const std::string& shown) {
    if (folder_known && file_known) {
        Entry a, b;
        a.id = b.id = id;
        a.kind = Entry::Kind::folder;
        b.kind = Entry::Kind::file;
        return failed(Exit::item_failed, ambiguity_message(shown, {a, b}) +
                                             GBK("；请写出所在文件夹，如 /文件夹/id:") +
                                             std::to_string(id));
    }
    if (!folder_known && !file_known)
        return failed(Exit::item_failed, GBK("路径不存在：") + utf8_to_gbk(shown));
    Resolved r;
    r.entry.id = id;
    r.entry.kind = folder_known ? Entry::Kind::folder : Entry::Kind::file;
    r.shown = shown;
    return r;
}

}  // namespace qorvel::cli
