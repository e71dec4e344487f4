// The storage browser's readers of what the service sends: the folder answer,
// a page of files with its page count, the settings page's access password
// and the change answers, with the patterns the main window holds.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "net/charset.h"
#include "storage/answers.h"

using namespace qorvel;
using namespace qorvel::storage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    static const std::string folder_pattern = ".*?<br />";
    static const std::string entry_pattern = utf8_to_gbk(
        "<div style=\"display:none;\">pid：.*?<文件名：.*?<大小：.*?<日期：.*?<下载量：.*?< "
        "</div><br />");
    static const std::string marker = "id=\"fwmm\" value=\"";
    std::string answer(reinterpret_cast<const char*>(bytes), size);

    for (const FolderEntry& e : parse_folder_answer(answer, folder_pattern))
        FUZZ_CHECK(e.name.size() <= answer.size());
    FilePage page = parse_file_page(answer, entry_pattern);
    // The scan the window's patterns get reads as the regex does.
    FilePage by_regex = parse_file_page_by_regex(answer, entry_pattern);
    FUZZ_CHECK(page.pages == by_regex.pages && page.rows.size() == by_regex.rows.size());
    for (size_t i = 0; i < page.rows.size(); ++i) {
        const FileRow &a = page.rows[i], &b = by_regex.rows[i];
        FUZZ_CHECK(a.id == b.id && a.name == b.name && a.size == b.size && a.date == b.date &&
                   a.downloads == b.downloads);
    }
    FUZZ_CHECK(find_matches(answer, folder_pattern) ==
               find_matches_by_regex(answer, folder_pattern));
    FUZZ_CHECK(page.pages >= 0 && page.pages <= kMaxPages);
    size_t cells = 0;
    for (const FileRow& r : page.rows)
        cells += r.name.size() + r.size.size() + r.date.size() + r.downloads.size();
    FUZZ_CHECK(cells <= answer.size());
    int count = parse_page_count(answer);
    FUZZ_CHECK(count >= 0 && count <= kMaxPages);
    FUZZ_CHECK(read_access_password(answer, marker).size() <= answer.size());
    (void)contains_one(answer);
    (void)create_folder_accepted(answer);
    // The folder pattern as an arbitrary pattern: a broken one finds nothing.
    std::string pattern = answer.substr(0, 64);
    std::vector<std::string> matches = find_matches(answer, pattern);
    for (const std::string& m : matches) FUZZ_CHECK(m.size() <= kMaxEntryBytes);
    FUZZ_CHECK(matches == find_matches_by_regex(answer, pattern));
    return 0;
}
