// The account and storage commands, and the program around them.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include <termios.h>
#include <unistd.h>

#include "api/transfer_wire.h"
#include "cli/context.h"
#include "cli/messages.h"
#include "cli/output.h"
#include "net/charset.h"
#include "net/web.h"
#include "platform/service_hosts.h"
#include "qorvel_version.h"

namespace qorvel::cli {

namespace {

std::string u(const std::string& gbk) {
    return gbk_to_utf8(gbk);
}

Outcome refusal(Context& c, const std::string& gbk) {
    return c.refusal(gbk);
}

std::string kind_word(const Entry& e) {
    return e.is_folder() ? "folder" : "file";
}

}  // namespace

Entry file_entry(const storage::FileRow& row) {
    Entry e;
    e.kind = Entry::Kind::file;
    e.id = row.id;
    e.name = row.name;
    e.size = row.size;
    e.date = row.date;
    e.downloads = row.downloads;
    return e;
}

Outcome fail(Context& c, Exit e, const std::string& gbk) {
    c.err(gbk);
    return Outcome::fail(e, gbk);
}

void Context::out(const std::string& utf8_line) const {
    // A result line never lands behind a progress line on the same terminal.
    if (progress_shown) progress("");
    std::fwrite(utf8_line.data(), 1, utf8_line.size(), stdout);
    std::fputc('\n', stdout);
}

void Context::err(const std::string& gbk) const {
    if (progress_shown) progress("");
    std::string line = "qorvel-cli: " + printable(u(gbk)) + "\n";
    std::fflush(stdout);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void Context::progress(const std::string& utf8) const {
    if (!stderr_tty) return;
    std::string line = "\r\033[K" + utf8;
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    progress_shown = !utf8.empty();
}

Outcome Context::use_saved_session() {
    SessionLoad l = load_session(session_dir);
    if (l.state == SessionRead::unsafe) {
        err(GBK("登录信息文件不安全，已拒绝读取：") + utf8_to_gbk(l.why));
        return Outcome::fail(Exit::refused, {});
    }
    if (l.state == SessionRead::missing) {
        err(GBK(text::kNotLoggedIn));
        return Outcome::fail(Exit::refused, {});
    }
    saved = l.session;
    Session s;
    s.account_key = saved.account_key;
    s.login_pid = saved.login_pid;
    s.account_name = saved.account;
    api.set_session(s);
    api.set_vip(saved.member);
    return Outcome::success();
}

Outcome Context::refusal(const std::string& gbk) {
    // Every change of an ended session is refused, whatever it asked.
    auto taken = api.session_taken_over();
    if (taken.ok() && *taken) return fail(*this, Exit::refused, GBK(text::kSessionEnded));
    return fail(*this, Exit::refused, gbk);
}

Outcome Context::failure(const api::Error& e) {
    switch (e.kind) {
    case api::ErrorKind::refused: {
        // A refusal of an ended session is no verdict on the request.
        auto taken = api.session_taken_over();
        if (taken.ok() && *taken) return fail(*this, Exit::refused, GBK(text::kSessionEnded));
        return fail(*this, Exit::refused, e.message.empty() ? GBK("服务器拒绝了操作") : e.message);
    }
    case api::ErrorKind::unreachable:
        return fail(*this, Exit::unreachable,
                    e.message.empty() ? GBK(text::kUnreachable) : e.message);
    case api::ErrorKind::not_understood:
        return fail(*this, Exit::unreachable, GBK(text::kNotUnderstood));
    }
    return fail(*this, Exit::unreachable, GBK(text::kUnreachable));
}

std::vector<Entry> Context::files_of(long long folder_id, Outcome& outcome) {
    std::vector<Entry> files;
    auto first = api.page(folder_id, 0);
    if (!first.ok()) {
        outcome = Outcome::fail(
            first.kind() == api::ErrorKind::refused ? Exit::refused : Exit::unreachable,
            first.error().message);
        return files;
    }
    int pages = std::min(first->pages, storage::kMaxPages);
    auto take = [&](const storage::FilePage& p) {
        for (const auto& r : p.rows) files.push_back(file_entry(r));
    };
    take(*first);
    for (int p = 1; p < pages; ++p) {
        auto next = api.page(folder_id, p);
        if (!next.ok()) {
            outcome = Outcome::fail(Exit::unreachable, next.error().message);
            return {};
        }
        take(*next);
    }
    return files;
}

Listing Context::list(long long folder_id) {
    Listing l;
    auto folders = api.folders_of(folder_id);
    if (!folders.ok()) {
        l.outcome = failure(folders.error());
        return l;
    }
    for (const auto& f : *folders) {
        Entry e;
        e.kind = Entry::Kind::folder;
        e.id = f.id;
        e.name = f.name;
        l.entries.push_back(std::move(e));
    }
    Outcome o;
    auto files = files_of(folder_id, o);
    if (!o.ok()) {
        const std::string& fallback =
            o.exit == Exit::refused ? GBK("服务器拒绝了操作") : GBK(text::kUnreachable);
        l.outcome = fail(*this, o.exit, o.message.empty() ? fallback : o.message);
        return l;
    }
    l.entries.insert(l.entries.end(), files.begin(), files.end());
    return l;
}

Resolved Context::resolve_path(const std::string& typed) {
    auto path = parse_remote_path(typed);
    if (!path) {
        Resolved r;
        r.outcome = fail(*this, Exit::item_failed, GBK("路径不存在：") + utf8_to_gbk(typed));
        return r;
    }
    Resolved r;
    if (path->parts.size() == 1 && path->parts[0].id && typed.find('/') == std::string::npos) {
        long long id = *path->parts[0].id;
        // Ours when its list exists (a folder of another account has no pages for us).
        auto page = api.page(id, 0);
        if (!page.ok() && page.kind() != api::ErrorKind::refused) {
            r.outcome = failure(page.error());
            return r;
        }
        bool folder = id == 0 || (page.ok() && page->pages > 0);
        auto link = api.storage_link(std::to_string(id));
        if (!link.ok() && link.kind() == api::ErrorKind::unreachable) {
            r.outcome = failure(link.error());
            return r;
        }
        r = resolve_bare_id(id, folder, link.ok(), typed);
        if (r.outcome.ok() && id == 0) r.entry.name = GBK(text::kRoot);
        if (r.outcome.ok() && !r.entry.is_folder()) {
            // The file's own page names it (a download wants its name).
            WebReply reply = web_get_reply(api.hosts().web_url(
                transfer::storage_link_path(std::to_string(id), api.access_password())));
            r.entry.name = file_page_name(reply.body).value_or("");
        }
        if (!r.outcome.ok()) err(r.outcome.message);
        return r;
    }
    std::map<long long, Listing> seen;
    r = resolve(*path, [&](long long id) {
        auto at = seen.find(id);
        if (at != seen.end()) return at->second;
        Listing l = list(id);
        seen[id] = l;
        return l;
    });
    // List failures said their message already.
    if (!r.outcome.ok() && r.outcome.exit == Exit::item_failed) err(r.outcome.message);
    return r;
}

// --- account ---

namespace {

// One line of the terminal with echo off.
bool read_secret(std::string& out) {
    termios old{};
    bool tty = ::tcgetattr(STDIN_FILENO, &old) == 0;
    if (tty) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    char buf[1024];
    bool got = std::fgets(buf, sizeof buf, stdin) != nullptr;
    if (tty) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
        std::fputc('\n', stderr);
    }
    if (!got) return false;
    out = buf;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return true;
}

}  // namespace

Outcome run_login(Context& c) {
    std::string account = utf8_to_gbk(c.inv.operands[0]);
    if (account.empty()) return fail(c, Exit::usage, GBK("帐号无效"));
    std::string password;
    if (c.inv.password_stdin) {
        if (!read_secret(password)) return fail(c, Exit::usage, GBK(text::kNoPassword));
    } else {
        if (!c.stdin_tty) return fail(c, Exit::usage, GBK(text::kNoTerminal));
        std::string prompt = u(GBK(text::kPasswordPrompt));
        std::fwrite(prompt.data(), 1, prompt.size(), stderr);
        std::fflush(stderr);
        if (!read_secret(password)) return fail(c, Exit::usage, GBK(text::kNoPassword));
    }
    std::string gbk_password = utf8_to_gbk(password);
    if (gbk_password.empty() && !password.empty())
        return fail(c, Exit::usage, GBK(text::kNoPassword));
    auto session = c.api.login(account, gbk_password);
    if (!session.ok()) {
        if (session.kind() == api::ErrorKind::refused)
            return fail(c, Exit::refused, GBK(text::kLoginRefused));
        return c.failure(session.error());
    }
    auto member = c.api.membership();
    SavedSession s;
    s.account = account;
    s.account_key = session->account_key;
    s.login_pid = session->login_pid;
    s.member = member.ok() ? *member : session->membership_flag == "1";
    std::string why = save_session(c.session_dir, s);
    if (!why.empty())
        return fail(c, Exit::item_failed, GBK(text::kSessionUnwritable) + utf8_to_gbk(why));
    if (c.inv.json)
        c.out(json_object(
            {{"account", json_string(u(account))}, {"member", s.member ? "true" : "false"}}));
    else
        c.out(u(GBK(text::kLoggedIn)) + printable(u(account)));
    return Outcome::success();
}

Outcome run_logout(Context& c) {
    if (!forget_session(c.session_dir)) return fail(c, Exit::item_failed, GBK("无法删除登录信息"));
    if (!c.inv.json) c.out(u(GBK(text::kLoggedOut)));
    return Outcome::success();
}

Outcome run_whoami(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    auto taken = c.api.session_taken_over();
    if (!taken.ok()) return c.failure(taken.error());
    if (*taken) return fail(c, Exit::refused, GBK(text::kSessionEnded));
    auto member = c.api.membership();
    if (!member.ok()) return c.failure(member.error());
    if (*member != c.saved.member) {
        c.saved.member = *member;
        save_session(c.session_dir, c.saved);
    }
    if (c.inv.json) {
        c.out(json_object({{"account", json_string(u(c.saved.account))},
                           {"id", json_string(c.saved.login_pid)},
                           {"member", *member ? "true" : "false"}}));
    } else {
        c.out(printable(u(c.saved.account)) + "  " +
              u(*member ? GBK(text::kMember) : GBK(text::kNotMember)));
    }
    return Outcome::success();
}

// --- reading ---

namespace {

void print_entries(Context& c, const std::vector<Entry>& entries) {
    if (c.inv.json) {
        for (const auto& e : entries) {
            std::vector<std::pair<std::string, std::string>> f = {
                {"type", json_string(kind_word(e))},
                {"id", std::to_string(e.id)},
                {"name", json_string(u(e.name))}};
            if (!e.is_folder()) {
                f.push_back({"size", json_string(u(e.size))});
                f.push_back({"date", json_string(u(e.date))});
                f.push_back({"downloads", json_string(u(e.downloads))});
            }
            c.out(json_object(f));
        }
        return;
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto& e : entries)
        rows.push_back({e.is_folder() ? u(GBK("目录")) : u(GBK("文件")),
                        "id:" + std::to_string(e.id), u(e.name) + (e.is_folder() ? "/" : ""),
                        u(e.size), u(e.date)});
    std::string t =
        table({u(GBK("类型")), "id", u(GBK("名称")), u(GBK("大小")), u(GBK("日期"))}, rows);
    std::fwrite(t.data(), 1, t.size(), stdout);
}

}  // namespace

Outcome run_ls(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    Resolved r = c.resolve_path(c.inv.operands.empty() ? "/" : c.inv.operands[0]);
    if (!r.outcome.ok()) return r.outcome;
    if (!r.entry.is_folder()) {
        print_entries(c, {r.entry});
        return Outcome::success();
    }
    std::vector<Entry> entries;
    auto folders = c.api.folders_of(r.entry.id);
    if (!folders.ok()) return c.failure(folders.error());
    int page_index = c.inv.all ? 0 : c.inv.page - 1;
    if (page_index == 0) {
        for (const auto& f : *folders) {
            Entry e;
            e.id = f.id;
            e.name = f.name;
            entries.push_back(std::move(e));
        }
    }
    int pages = 0;
    if (c.inv.all) {
        Outcome o;
        auto files = c.files_of(r.entry.id, o);
        if (!o.ok())
            return fail(c, o.exit, o.message.empty() ? GBK(text::kUnreachable) : o.message);
        entries.insert(entries.end(), files.begin(), files.end());
    } else {
        auto page = c.api.page(r.entry.id, page_index);
        if (!page.ok()) return c.failure(page.error());
        pages = page->pages;
        if (page_index >= std::max(pages, 1))
            return fail(
                c, Exit::item_failed,
                GBK(text::kNoPage) + std::to_string(c.inv.page) + " / " + std::to_string(pages));
        for (const auto& row : page->rows) entries.push_back(file_entry(row));
    }
    print_entries(c, entries);
    if (!c.inv.all && pages > 1) {
        if (c.inv.json)
            c.out(json_object({{"type", json_string("pages")},
                               {"page", std::to_string(c.inv.page)},
                               {"pages", std::to_string(pages)}}));
        else
            c.out(u(GBK("第 ")) + std::to_string(c.inv.page) + u(GBK(" 页，共 ")) +
                  std::to_string(pages) + u(GBK(" 页（--page N 或 --all）")));
    }
    return Outcome::success();
}

Outcome run_tree(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    Resolved r = c.resolve_path(c.inv.operands.empty() ? "/" : c.inv.operands[0]);
    if (!r.outcome.ok()) return r.outcome;
    if (!r.entry.is_folder())
        return fail(c, Exit::item_failed, GBK(text::kNotFolder) + utf8_to_gbk(r.shown));
    std::set<long long> visited;
    std::string root_path = r.shown == "/" ? "" : r.shown;
    if (!c.inv.json) c.out(printable(r.shown == "/" ? "/" : r.shown + "/"));
    // Depth first, bounded in depth and in folders; a folder met twice is not entered again.
    std::function<Outcome(long long, const std::string&, int)> walk =
        [&](long long id, const std::string& path, int depth) -> Outcome {
        if (depth > kMaxDepth || visited.size() >= kMaxFolders || !visited.insert(id).second)
            return Outcome::success();
        auto folders = c.api.folders_of(id);
        if (!folders.ok()) return c.failure(folders.error());
        for (const auto& f : *folders) {
            std::string name = u(f.name);
            std::string full = path + "/" + name;
            if (c.inv.json)
                c.out(json_object({{"type", json_string("folder")},
                                   {"id", std::to_string(f.id)},
                                   {"path", json_string(full)},
                                   {"depth", std::to_string(depth)}}));
            else
                c.out(std::string(static_cast<std::size_t>(depth) * 2 + 2, ' ') + printable(name) +
                      "/  id:" + std::to_string(f.id));
            if (auto o = walk(f.id, full, depth + 1); !o.ok()) return o;
        }
        return Outcome::success();
    };
    return walk(r.entry.id, root_path, 0);
}

// --- changes ---

namespace {

// A new name as the service gets it (GBK); no "/" and no control byte.
std::optional<std::string> new_name(const std::string& utf8) {
    if (utf8.empty() || utf8.find('/') != std::string::npos || utf8 == "." || utf8 == "..")
        return std::nullopt;
    for (unsigned char ch : utf8)
        if (ch < 0x20 || ch == 0x7f) return std::nullopt;
    std::string gbk = utf8_to_gbk(utf8);
    if (gbk.empty() || gbk_to_utf8(gbk) != utf8) return std::nullopt;
    return gbk;
}

// The folder part and the last name of a typed path.
std::pair<std::string, std::string> split_last(const std::string& typed) {
    std::string t = typed;
    while (t.size() > 1 && t.back() == '/') t.pop_back();
    auto slash = t.rfind('/');
    if (slash == std::string::npos) return {"/", t};
    return {slash == 0 ? "/" : t.substr(0, slash), t.substr(slash + 1)};
}

}  // namespace

Outcome run_mkdir(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    auto [parent_text, leaf] = split_last(c.inv.operands[0]);
    auto name = new_name(leaf);
    if (!name || id_of(leaf))
        return fail(c, Exit::item_failed, GBK(text::kBadName) + utf8_to_gbk(leaf));
    Resolved parent = c.resolve_path(parent_text);
    if (!parent.outcome.ok()) return parent.outcome;
    if (!parent.entry.is_folder())
        return fail(c, Exit::item_failed, GBK(text::kThroughFile) + utf8_to_gbk(parent.shown));
    Listing l = c.list(parent.entry.id);
    if (!l.outcome.ok()) return l.outcome;
    for (const auto& e : l.entries)
        if (e.name == *name)
            return fail(c, Exit::item_failed, GBK("已存在：") + utf8_to_gbk(c.inv.operands[0]));
    auto made = c.api.create_folder(parent.entry.id, *name);
    if (!made.ok()) {
        if (made.kind() == api::ErrorKind::refused)
            return refusal(c, GBK(text::kNameRefused) + utf8_to_gbk(leaf));
        return c.failure(made.error());
    }
    if (c.inv.json)
        c.out(json_object({{"created", json_string(c.inv.operands[0])}}));
    else
        c.out(u(GBK(text::kCreated)) + printable(c.inv.operands[0]));
    return Outcome::success();
}

Outcome run_mv(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    Resolved dest = c.resolve_path(c.inv.operands.back());
    if (!dest.outcome.ok()) return dest.outcome;
    if (!dest.entry.is_folder())
        return fail(c, Exit::item_failed, GBK(text::kNotFolder) + utf8_to_gbk(dest.shown));
    // Every source is checked before anything moves.
    std::vector<long long> ids;
    for (std::size_t i = 0; i + 1 < c.inv.operands.size(); ++i) {
        Resolved r = c.resolve_path(c.inv.operands[i]);
        if (!r.outcome.ok()) return r.outcome;
        if (r.entry.is_folder())
            return fail(c, Exit::item_failed, GBK(text::kFolderMove) + utf8_to_gbk(r.shown));
        ids.push_back(r.entry.id);
    }
    auto moved = c.api.move_files(ids, dest.entry.id);
    if (!moved.ok()) return c.failure(moved.error());
    // The service's answer says nothing: the destination's list does.
    Outcome listed;
    auto there = c.files_of(dest.entry.id, listed);
    if (!listed.ok()) return fail(c, listed.exit, GBK(text::kUnreachable));
    std::set<long long> arrived;
    for (const auto& e : there) arrived.insert(e.id);
    for (long long id : ids)
        if (!arrived.count(id))
            return refusal(c, GBK("服务器拒绝了操作：") + utf8_to_gbk(c.inv.operands[0]));
    for (std::size_t i = 0; i + 1 < c.inv.operands.size(); ++i) {
        if (c.inv.json)
            c.out(json_object(
                {{"moved", json_string(c.inv.operands[i])}, {"to", json_string(dest.shown)}}));
        else
            c.out(u(GBK(text::kMoved)) + printable(c.inv.operands[i]) + " -> " +
                  printable(dest.shown));
    }
    return Outcome::success();
}

Outcome run_rename(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    auto name = new_name(c.inv.operands[1]);
    if (!name || id_of(c.inv.operands[1]))
        return fail(c, Exit::item_failed, GBK(text::kBadName) + utf8_to_gbk(c.inv.operands[1]));
    Resolved r = c.resolve_path(c.inv.operands[0]);
    if (!r.outcome.ok()) return r.outcome;
    if (r.entry.is_folder() && r.entry.id == 0)
        return fail(c, Exit::item_failed, GBK(text::kRootProtected));
    auto done = r.entry.is_folder() ? c.api.rename_folder(r.entry.id, *name)
                                    : c.api.rename_file(r.entry.id, *name);
    if (!done.ok()) {
        if (done.kind() == api::ErrorKind::refused)
            return refusal(c, GBK(text::kNameRefused) + utf8_to_gbk(c.inv.operands[1]));
        return c.failure(done.error());
    }
    if (c.inv.json)
        c.out(json_object({{"renamed", json_string(c.inv.operands[0])},
                           {"name", json_string(c.inv.operands[1])}}));
    else
        c.out(u(GBK(text::kRenamed)) + printable(c.inv.operands[0]) + " -> " +
              printable(c.inv.operands[1]));
    return Outcome::success();
}

Outcome run_rm(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    if (!c.inv.yes && !c.stdin_tty) return fail(c, Exit::usage, GBK(text::kNeedYes));
    std::vector<Resolved> items;
    for (const auto& typed : c.inv.operands) {
        Resolved r = c.resolve_path(typed);
        if (!r.outcome.ok()) return r.outcome;
        if (r.entry.is_folder() && r.entry.id == 0)
            return fail(c, Exit::item_failed, GBK(text::kRootProtected));
        items.push_back(r);
    }
    if (!c.inv.yes) {
        std::string ask;
        for (const auto& r : items)
            ask += "  " + printable(r.shown) + (r.entry.is_folder() ? "/" : "") + "\n";
        ask += u(GBK(text::kAskDelete));
        std::fwrite(ask.data(), 1, ask.size(), stderr);
        std::fflush(stderr);
        char buf[64] = {};
        std::string answer = std::fgets(buf, sizeof buf, stdin) ? buf : "";
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        if (answer != "y" && answer != "Y" && answer != "yes" && answer != u(GBK("是"))) {
            c.err(GBK(text::kNothingDeleted));
            return Outcome::fail(Exit::item_failed, {});
        }
    }
    Outcome result;
    // Files of one folder go in one request, which the service does all or nothing.
    std::map<long long, std::vector<long long>> files_by_parent;
    for (const auto& r : items)
        if (!r.entry.is_folder()) files_by_parent[r.parent_id].push_back(r.entry.id);
    std::set<long long> still_there;
    for (const auto& [parent, ids] : files_by_parent) {
        auto done = c.api.delete_files(ids, parent < 0 ? 0 : parent);
        if (!done.ok()) return c.failure(done.error());
        // The service's answer says nothing: a file whose page is still
        // there was not deleted (one of another account, say).
        for (long long id : ids) {
            auto link = c.api.storage_link(std::to_string(id));
            if (link.ok())
                still_there.insert(id);
            else if (link.kind() == api::ErrorKind::unreachable)
                return c.failure(link.error());
        }
    }
    for (const auto& r : items) {
        if (!r.entry.is_folder() && still_there.count(r.entry.id)) {
            Outcome o = refusal(c, GBK("服务器拒绝了操作：") + utf8_to_gbk(r.shown));
            result.exit = graver(result.exit, o.exit);
            continue;
        }
        if (r.entry.is_folder()) {
            auto done = c.api.delete_folder(r.entry.id);
            if (!done.ok()) {
                Outcome o = done.kind() == api::ErrorKind::refused
                                ? refusal(c, GBK(text::kHasSubfolders) + utf8_to_gbk(r.shown))
                                : c.failure(done.error());
                result.exit = graver(result.exit, o.exit);
                if (o.exit == Exit::unreachable) return o;
                continue;
            }
        }
        if (c.inv.json)
            c.out(json_object(
                {{"deleted", json_string(r.shown)}, {"type", json_string(kind_word(r.entry))}}));
        else
            c.out(u(GBK(text::kDeleted)) + printable(r.shown));
    }
    return result;
}

Outcome run_link(Context& c) {
    if (auto o = c.use_saved_session(); !o.ok()) return o;
    Resolved r = c.resolve_path(c.inv.operands[0]);
    if (!r.outcome.ok()) return r.outcome;
    std::string address;
    if (c.inv.direct) {
        if (r.entry.is_folder()) return fail(c, Exit::item_failed, GBK(text::kDirectNeedsFile));
        auto pw = c.api.access_password_from_settings();
        if (!pw.ok()) return c.failure(pw.error());
        address = c.api.direct_address(std::to_string(r.entry.id));
    } else {
        address = r.entry.is_folder() ? c.api.folder_address(r.entry.id)
                                      : c.api.share_address(r.entry.id);
    }
    if (c.inv.json)
        c.out(json_object({{"path", json_string(r.shown)}, {"address", json_string(address)}}));
    else
        c.out(printable(address));
    return Outcome::success();
}

// --- the program ---

int run(const std::vector<std::string>& all_args) {
    // Host options stand before the command: after it, "--direct" is link's.
    std::vector<std::string> before, after;
    std::size_t i = 0;
    for (; i < all_args.size() && !all_args[i].empty() && all_args[i][0] == '-'; ++i) {
        before.push_back(all_args[i]);
        const std::string& a = all_args[i];
        bool host_option = a == "--web" || a == "--direct" || a == "--files2" || a == "--files3" ||
                           a == "--ftp-host";
        if (host_option && i + 1 < all_args.size()) before.push_back(all_args[++i]);
    }
    after.assign(all_args.begin() + static_cast<std::ptrdiff_t>(i), all_args.end());
    std::vector<std::string> errors, rest;
    ServiceHosts hosts = configured_hosts(before, errors, &rest);
    rest.insert(rest.end(), after.begin(), after.end());
    Parsed p = parse_arguments(rest);
    if (p.help) {
        std::string t = usage_text();
        std::fwrite(t.data(), 1, t.size(), stdout);
        return 0;
    }
    if (p.version) {
        std::puts("qorvel-cli " QORVEL_VERSION);
        return 0;
    }
    if (!p.invocation) {
        std::fprintf(stderr, "qorvel-cli: %s\n%s", p.error.c_str(), usage_text().c_str());
        return static_cast<int>(Exit::usage);
    }
    for (const auto& e : errors) std::fprintf(stderr, "qorvel-cli: %s\n", e.c_str());
    if (!errors.empty()) return static_cast<int>(Exit::usage);

    Context c(*p.invocation, hosts);
    c.session_dir = session_folder();
    c.stdin_tty = ::isatty(STDIN_FILENO) == 1;
    c.stderr_tty = ::isatty(STDERR_FILENO) == 1;
    const std::string& cmd = c.inv.command;
    Outcome o;
    if (cmd == "login")
        o = run_login(c);
    else if (cmd == "logout")
        o = run_logout(c);
    else if (cmd == "whoami")
        o = run_whoami(c);
    else if (cmd == "ls")
        o = run_ls(c);
    else if (cmd == "tree")
        o = run_tree(c);
    else if (cmd == "mkdir")
        o = run_mkdir(c);
    else if (cmd == "mv")
        o = run_mv(c);
    else if (cmd == "rename")
        o = run_rename(c);
    else if (cmd == "rm")
        o = run_rm(c);
    else if (cmd == "link")
        o = run_link(c);
    else if (cmd == "get")
        o = run_get(c);
    else if (cmd == "put")
        o = run_put(c);
    std::fflush(stdout);
    return static_cast<int>(o.exit);
}

}  // namespace qorvel::cli
