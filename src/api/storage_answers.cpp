#include "api/storage_answers.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <cstring>

#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"

namespace qorvel::storage {

namespace {

// The run of plain characters a pattern ends with ("<br />" for ".*?<br />").
std::string literal_tail(const std::string& pattern) {
    size_t i = pattern.size();
    while (i > 0 && !std::strchr(".*?+()[]{}|\\^$", pattern[i - 1])) --i;
    return pattern.substr(i);
}

std::string id_text(long long id) {
    return std::to_string(id);
}

// The text after `marker` up to the next "<", looked for from `from` (1-based)
// on, which then moves past it: fields are read in order, so a name holding
// "大小：" cannot lend its tail to the size, and a missing marker gives an
// empty field rather than a piece of the markup.
std::string next_field(std::string_view entry, std::string_view marker, int& from) {
    int p = text_find(entry, marker, from);
    if (p == -1) return {};
    int s = p + static_cast<int>(marker.size());
    int e = text_find(entry, "<", s);
    from = e == -1 ? s : e;
    return e == -1 ? std::string() : text_middle(entry, s, e - s);
}

// The plain texts of a pattern made only of them joined by ".*?" (the
// window's own patterns), or nothing for any other pattern.
std::vector<std::string_view> lazy_literals(const std::string& pattern) {
    std::vector<std::string_view> out;
    std::string_view rest(pattern);
    for (;;) {
        size_t gap = rest.find(".*?");
        std::string_view part = rest.substr(0, gap);
        if (part.find_first_of(".*?+()[]{}|\\^$#") != std::string_view::npos) return {};
        out.push_back(part);
        if (gap == std::string_view::npos) break;
        rest.remove_prefix(gap + 3);
    }
    if (out.size() < 2 || out.back().empty()) return {};
    return out;
}

// The compiled pattern, kept while the same one is asked for again.
const boost::regex* compiled(const std::string& pattern) {
    thread_local std::string last;
    thread_local boost::regex re;
    thread_local bool ok = false;
    if (pattern != last || re.empty()) {
        last = pattern;
        try {
            re.assign(pattern);
            ok = true;
        } catch (const std::exception&) {
            ok = false;
        }
    }
    return ok ? &re : nullptr;
}

// Every match, as pieces of text. Each piece cut at the pattern's tail holds
// that tail only at its end, so a match there ends there and starts at the
// first place the pattern fits. For plain texts joined by ".*?" that place is
// the first one the first text is found at, if from there each next text is
// found after the last one, before the tail: a later start finds each no
// earlier. The scan gives what the regex gives without its backtracking,
// which was most of a page's reading.
std::vector<std::string_view> match_spans(std::string_view text, const std::string& pattern,
                                          bool scan) {
    std::vector<std::string_view> out;
    const boost::regex* re = nullptr;
    const std::string tail = literal_tail(pattern);
    std::vector<std::string_view> literals;
    if (scan) literals = lazy_literals(pattern);
    // A zero byte ends the tail (strchr finds it in the special characters).
    if (literals.empty() || literals.back() != tail) {
        literals.clear();
        re = compiled(pattern);
        if (!re) return out;
    }
    auto search = [&](const char* begin, const char* end) {
        try {
            for (boost::cregex_iterator it(begin, end, *re), last; it != last; ++it)
                out.emplace_back((*it)[0].first, static_cast<size_t>((*it)[0].length()));
        } catch (const std::exception&) {
            // Too complex to settle: this piece holds no entry.
        }
    };
    auto fit = [&](std::string_view piece) {
        std::string_view body = piece.substr(0, piece.size() - literals.back().size());
        size_t first = body.find(literals.front());
        if (first == std::string_view::npos) return;
        size_t at = first + literals.front().size();
        for (size_t i = 1; i + 1 < literals.size(); ++i) {
            size_t hit = body.find(literals[i], at);
            if (hit == std::string_view::npos) return;
            at = hit + literals[i].size();
        }
        out.push_back(piece.substr(first));
    };
    const char* data = text.data();
    if (tail.empty()) {
        search(data, data + text.size());
        return out;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t hit = text.find(tail, start);
        if (hit == std::string_view::npos) break;
        size_t end = hit + tail.size();
        size_t from = end - start > kMaxEntryBytes ? end - kMaxEntryBytes : start;
        if (re)
            search(data + from, data + end);
        else
            fit(text.substr(from, end - from));
        start = end;
    }
    return out;
}

std::vector<std::string> to_strings(const std::vector<std::string_view>& spans) {
    return {spans.begin(), spans.end()};
}

FilePage read_file_page(std::string_view text, const std::string& entry_pattern, bool scan) {
    FilePage page;
    page.pages = parse_page_count(text);
    for (std::string_view m : match_spans(text, entry_pattern, scan)) {
        FileRow r;
        int at = 1;
        r.id = text_to_int(next_field(m, GBK(">pid："), at));
        r.name = next_field(m, GBK("文件名："), at);
        r.size = next_field(m, GBK("大小："), at);
        r.date = next_field(m, GBK("日期："), at);
        r.downloads = next_field(m, GBK("下载量："), at);
        page.rows.push_back(std::move(r));
    }
    return page;
}

}  // namespace

std::vector<std::string> find_matches(std::string_view text, const std::string& pattern) {
    return to_strings(match_spans(text, pattern, true));
}

std::vector<std::string> find_matches_by_regex(std::string_view text, const std::string& pattern) {
    return to_strings(match_spans(text, pattern, false));
}

std::vector<FolderEntry> parse_folder_answer(std::string_view text, const std::string& pattern) {
    std::vector<FolderEntry> out;
    for (const std::string& m : find_matches(text, pattern)) {
        FolderEntry e;
        e.name = text_between(m, "wenjianjL", GBK("目录"));
        e.id = text_to_int(text_between(m, GBK("目录pid:"), "<br />"));
        out.push_back(std::move(e));
    }
    return out;
}

int parse_page_count(std::string_view text) {
    if (text_find(text, GBK("总共有")) == -1) return 0;
    int pages = text_to_int(text_between(text, GBK("总共有"), GBK("页")));
    return std::clamp(pages, 0, kMaxPages);
}

FilePage parse_file_page(std::string_view text, const std::string& entry_pattern) {
    return read_file_page(text, entry_pattern, true);
}

FilePage parse_file_page_by_regex(std::string_view text, const std::string& entry_pattern) {
    return read_file_page(text, entry_pattern, false);
}

std::string read_access_password(std::string_view settings_page, std::string_view marker) {
    if (marker.empty() || text_find(settings_page, marker) == -1) return {};
    return text_between(settings_page, marker, "\"");
}

bool contains_one(std::string_view answer) {
    return answer.find('1') != std::string_view::npos;
}

bool create_folder_accepted(std::string_view answer) {
    return text_replace_all(answer, "\r\n", "").size() > 2;
}

std::string selected_ids_text(const std::vector<long long>& ids) {
    std::string out;
    for (long long id : ids) out += id_text(id) + ",";
    return out;
}

std::string folder_request_url(const ServiceHosts& h, const std::string& login_pid,
                               long long folder_id, const std::string& access_password) {
    Form q;
    q.add("pid", login_pid).add("ml", folder_id).add("yms", "0").add("khdzs", "1");
    q.add("fwmm", access_password);
    return h.web_url(with_query("/mljg/mljg.php", q));
}

std::string list_address(const ServiceHosts& h, const std::string& login_pid, long long folder_id) {
    return h.web_url(with_query("/wdwj.php", Form().add("pid", login_pid).add("ml", folder_id)));
}

std::string page_address(const ServiceHosts& h, const std::string& login_pid, long long folder_id,
                         const std::string& page) {
    Form q;
    q.add("pid", login_pid).add("ml", folder_id).add("yms", page);
    return h.web_url(with_query("/wdwj.php", q));
}

std::string file_list_request(const ServiceHosts& h, const std::string& address,
                              bool whole_folder) {
    std::string out =
        text_replace_all(address, h.web_url("/wdwj.php?pid="), h.web_url("/mljg/wjdq.php?pid="));
    if (whole_folder) out += "&dqlx=1";
    return out;
}

std::string settings_url(const ServiceHosts& h, const std::string& account_key) {
    return h.web_url(with_query("/get/sz.php", Form().add("pid", account_key)));
}

std::string file_page_url(const ServiceHosts& h, long long file_id) {
    return h.web_url("/ym.php?pid=" + id_text(file_id));
}

std::string file_page_url(const ServiceHosts& h, const std::string& file_id) {
    return h.web_url(with_query("/ym.php", Form().add("pid", file_id)));
}

std::string folder_page_url(const ServiceHosts& h, const std::string& login_pid,
                            long long folder_id) {
    return h.web_url(with_query("/wdwj.php", Form().add("pid", login_pid).add("ml", folder_id)));
}

std::string direct_url(const ServiceHosts& h, const std::string& file_id,
                       const std::string& access_password) {
    return h.direct_url(
        with_query("/yunxz1.php", Form().add("pid", file_id).add("szmm", access_password)));
}

FormRequest delete_folder_request(const ServiceHosts& h, long long folder_id,
                                  const std::string& account_key) {
    Form q;
    q.add("pid", folder_id).add("zh", account_key);
    return {h.web_url(with_query("/post/scml.php", q)), Form().add("vipjhm", folder_id).str()};
}

FormRequest create_folder_request(const ServiceHosts& h, const std::string& account_key,
                                  const std::string& name, long long parent_id) {
    Form b;
    b.add("fwmm", gbk_to_utf8(name)).add("ejml", parent_id);
    return {h.web_url(with_query("/post/cjml.php", Form().add("zh", account_key))), b.str()};
}

FormRequest rename_folder_request(const ServiceHosts& h, long long folder_id,
                                  const std::string& account_key, const std::string& name) {
    Form q;
    q.add("mlid", folder_id).add("pid", account_key);
    return {h.web_url(with_query("/post/sz5pc.php", q)), Form().add("btn2", name).str()};
}

FormRequest create_link_request(const ServiceHosts& h, const std::string& folder_text,
                                const std::string& account_key, const std::string& name,
                                const std::string& link) {
    Form q;
    q.add("mlpid", folder_text).add("zh", account_key);
    Form b;
    b.add("wjm", name).add("wldz", link);
    return {h.web_url(with_query("/post/cjwjpc.php", q)), b.str()};
}

FormRequest rename_file_request(const ServiceHosts& h, long long file_id,
                                const std::string& account_key, const std::string& name) {
    Form q;
    q.add("mlid", file_id).add("pid", account_key);
    return {h.web_url(with_query("/post/sz6pc.php", q)), Form().add("btn2", name).str()};
}

std::string delete_files_url(const ServiceHosts& h, const std::string& ids, long long folder_id,
                             const std::string& account_key) {
    Form q;
    q.add("pid", ids).add("ml", folder_id).add("zh", account_key);
    return h.web_url(with_query("/get/plzc.php", q));
}

std::string move_files_url(const ServiceHosts& h, const std::string& ids, long long target_id,
                           const std::string& account_key) {
    Form q;
    q.add("pid", ids).add("ml", target_id).add("zh", account_key);
    return h.web_url(with_query("/get/ydxz.php", q));
}

}  // namespace qorvel::storage
