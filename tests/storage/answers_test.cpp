// The parsers on real and hostile answers, and the control names the
// browser uses against the windows the catalogue builds.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "net/charset.h"
#include "net/text.h"
#include "storage/answers.h"
#include "storage/names.h"
#include "ui/windows/catalogue.h"

namespace qorvel::storage {
namespace {

const std::string kFolderPattern = ".*?<br />";
const std::string kEntryPattern =
    "<div style=\"display:none;\">pid：.*?<文件名：.*?<大小：.*?<日期：.*?<下载量：.*?< </div><br "
    "/>";

std::string entry_pattern() {
    return utf8_to_gbk(kEntryPattern);
}

std::string folder_line(const std::string& name, const std::string& id) {
    return "wenjianjL" + name + GBK("目录pid:") + id + "<br />";
}

std::string file_entry(const std::string& id, const std::string& name,
                       const std::string& size = "1KB") {
    return "<div style=\"display:none;\">" + GBK("pid：") + id + "<" + GBK("文件名：") + name +
           "<" + GBK("大小：") + size + "<" + GBK("日期：") + "2024-01-02 03:04:05<" +
           GBK("下载量：") + "7< </div><br />\r\n";
}

TEST(FolderAnswer, EntriesInOrderWithHostileNamesAndIds) {
    std::string answer = folder_line(GBK("文档"), "12") + folder_line(GBK("文档"), "13") +
                         folder_line(GBK("我的目录备份"), "14") + folder_line("a<b", "x9") +
                         folder_line("neg", "-3");
    auto e = parse_folder_answer(answer, kFolderPattern);
    ASSERT_EQ(e.size(), 5u);
    // Two of the same name are both kept, in answer order.
    EXPECT_EQ(e[0].name, GBK("文档"));
    EXPECT_EQ(e[0].id, 12);
    EXPECT_EQ(e[1].id, 13);
    // A name holding "目录" is cut there; "<" stays (the entry ends at "<br />").
    EXPECT_EQ(e[2].name, GBK("我的"));
    EXPECT_EQ(e[2].id, 14);
    EXPECT_EQ(e[3].name, "a<b");
    EXPECT_EQ(e[3].id, 0);  // not a number
    EXPECT_EQ(e[4].id, -3);
}

TEST(FolderAnswer, MissingMarkersAndEmptyAnswers) {
    EXPECT_TRUE(parse_folder_answer("", kFolderPattern).empty());
    EXPECT_TRUE(parse_folder_answer("no entries at all", kFolderPattern).empty());
    // A line without the markers still makes an entry, by the cut rule.
    auto e = parse_folder_answer("garbage<br />", kFolderPattern);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].id, 0);
    // A pattern that does not compile finds nothing instead of throwing.
    EXPECT_TRUE(parse_folder_answer(folder_line("a", "1"), "(unclosed").empty());
}

TEST(FilePage, RowsPagesAndCutFields) {
    std::string answer =
        file_entry("5", GBK("报告.doc"), "150KB") + file_entry("abc", "x<y.txt") + GBK("总共有3页");
    FilePage p = parse_file_page(answer, entry_pattern());
    EXPECT_EQ(p.pages, 3);
    ASSERT_EQ(p.rows.size(), 2u);
    EXPECT_EQ(p.rows[0].id, 5);
    EXPECT_EQ(p.rows[0].name, GBK("报告.doc"));
    EXPECT_EQ(p.rows[0].size, "150KB");
    EXPECT_EQ(p.rows[0].date, "2024-01-02 03:04:05");
    EXPECT_EQ(p.rows[0].downloads, "7");
    // An id that is not a number is 0; a name with "<" is cut there.
    EXPECT_EQ(p.rows[1].id, 0);
    EXPECT_EQ(p.rows[1].name, "x");
}

TEST(FilePage, FieldsAreReadInOrderAndNeverOverlap) {
    // A name that holds the next field's marker keeps it, and the size is the real one.
    FilePage p = parse_file_page(file_entry("9", GBK("报告大小：2.txt"), "3KB"), entry_pattern());
    ASSERT_EQ(p.rows.size(), 1u);
    EXPECT_EQ(p.rows[0].name, GBK("报告大小：2.txt"));
    EXPECT_EQ(p.rows[0].size, "3KB");
    // An entry without a marker (a looser pattern let it through) has that field
    // empty, never a piece of the markup in front of it.
    std::string bare =
        "<div style=\"display:none;\">" + GBK("pid：") + "4<" + GBK("大小：") + "2KB< </div><br />";
    p = parse_file_page(bare, ".*?</div><br />");
    ASSERT_EQ(p.rows.size(), 1u);
    EXPECT_EQ(p.rows[0].id, 4);
    EXPECT_EQ(p.rows[0].name, "");
    EXPECT_EQ(p.rows[0].size, "2KB");
    EXPECT_EQ(p.rows[0].date, "");
}

TEST(FilePage, PageCountsThatAreMissingNegativeOrHuge) {
    EXPECT_EQ(parse_page_count(""), 0);
    EXPECT_EQ(parse_page_count(GBK("共12页")), 0);  // no "总共有"
    EXPECT_EQ(parse_page_count(GBK("总共有页")), 0);
    EXPECT_EQ(parse_page_count(GBK("总共有-4页")), 0);
    EXPECT_EQ(parse_page_count(GBK("总共有99999999999页")), kMaxPages);
    EXPECT_EQ(parse_page_count(GBK("总共有2页")), 2);
}

TEST(FilePage, TwoMegabyteAnswersStayCheapAndKeepTheirEntries) {
    // Entry starts that never end: a lazy pattern would rescan megabytes from each.
    std::string opener =
        "<div style=\"display:none;\">" + GBK("pid：") + "1<" + GBK("文件名：") + "a<";
    std::string answer;
    while (answer.size() < 2 * 1024 * 1024) answer += opener;
    answer += file_entry("42", "last.bin") + GBK("总共有1页");
    FilePage p = parse_file_page(answer, entry_pattern());
    // The unfinished starts and the real entry read as one entry, as the lazy
    // pattern reads them: it ends with the real entry's fields.
    ASSERT_EQ(p.rows.size(), 1u);
    EXPECT_EQ(p.rows[0].date, "2024-01-02 03:04:05");
    EXPECT_EQ(p.rows[0].downloads, "7");
    // 2 MB of folder lines and of noise.
    std::string many;
    for (int i = 0; many.size() < 2 * 1024 * 1024; ++i) many += folder_line("f", std::to_string(i));
    EXPECT_GT(parse_folder_answer(many, kFolderPattern).size(), 50000u);
    std::string noise(2 * 1024 * 1024, '<');
    EXPECT_TRUE(parse_file_page(noise, entry_pattern()).rows.empty());
}

bool same_rows(const FilePage& a, const FilePage& b) {
    if (a.pages != b.pages || a.rows.size() != b.rows.size()) return false;
    for (size_t i = 0; i < a.rows.size(); ++i) {
        const FileRow &x = a.rows[i], &y = b.rows[i];
        if (x.id != y.id || x.name != y.name || x.size != y.size || x.date != y.date ||
            x.downloads != y.downloads)
            return false;
    }
    return true;
}

// A page of real entries, entries cut anywhere, bare markers, GBK names with
// "<" and markers in them, half characters, zero bytes and runs long enough
// to pass the longest piece a match may span.
std::string random_page(std::mt19937& rng) {
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    const std::string names[] = {
        GBK("报告.doc"),        "x<y.txt", GBK("报告大小：2.txt"), std::string("\xb1"),
        std::string("a\0b", 3), "\xd5<",   GBK("下载量：") + "9"};
    const std::string pieces[] = {"<div style=\"display:none;\">" + GBK("pid："),
                                  "<" + GBK("文件名："),
                                  "<" + GBK("大小："),
                                  "<" + GBK("日期："),
                                  "<" + GBK("下载量："),
                                  "< </div><br />",
                                  "<br />",
                                  "\r\n",
                                  "<",
                                  GBK("总共有") + "3" + GBK("页")};
    std::string page;
    size_t parts = 1 + pick(40);
    for (size_t i = 0; i < parts; ++i) {
        switch (pick(6)) {
        case 0:
        case 1:
            page += file_entry(std::to_string(static_cast<int>(pick(2000)) - 100),
                               names[pick(std::size(names))]);
            break;
        case 2: {
            std::string e = file_entry("7", names[pick(std::size(names))]);
            page += e.substr(0, pick(e.size()));
            break;
        }
        case 3: page += pieces[pick(std::size(pieces))]; break;
        case 4:
            for (size_t n = pick(8); n > 0; --n) page += static_cast<char>(rng());
            break;
        default:
            if (pick(10) == 0) page += std::string(kMaxEntryBytes - 20 + pick(40), 'z');
            break;
        }
    }
    return page;
}

// The scan the window's patterns get reads every page as the regex does.
TEST(FilePage, ScanAndRegexReadGeneratedPagesAlike) {
    const std::string patterns[] = {entry_pattern(), kFolderPattern, ".*?</div><br />",
                                    "<" + GBK("大小：") + ".*?.*?<br />"};
    std::mt19937 rng(20240102);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int pages = 0;
    for (; pages < 4000 && std::chrono::steady_clock::now() < deadline; ++pages) {
        std::string page = random_page(rng);
        ASSERT_TRUE(same_rows(parse_file_page(page, entry_pattern()),
                              parse_file_page_by_regex(page, entry_pattern())))
            << "page " << pages;
        for (const std::string& p : patterns)
            ASSERT_EQ(find_matches(page, p), find_matches_by_regex(page, p)) << "page " << pages;
    }
    EXPECT_GT(pages, 500);
}

// The cases the regex reads in its own way, read the same by the scan.
TEST(FilePage, ScanKeepsTheRegexReadingOfOddPages) {
    std::string opener =
        "<div style=\"display:none;\">" + GBK("pid：") + "1<" + GBK("文件名：") + "a<";
    std::string merged;
    while (merged.size() < 2 * 1024 * 1024) merged += opener;
    merged += file_entry("42", "last.bin");
    const std::string odd[] = {
        "",
        std::string(5, '\0') + file_entry("1", "z"),
        // Unfinished starts read as one entry with the next real one.
        opener + opener + file_entry("3", "b"),
        merged,
        // Half a character in front of a marker and in a name.
        "\xb1" + file_entry("2", "\xb1<"),
        // Markers out of order: no entry, but the next one is whole.
        "<div style=\"display:none;\">" + GBK("pid：") + "1<" + GBK("大小：") + "1<" +
            GBK("文件名：") + "a< </div><br />" + file_entry("8", "c"),
        // The tail alone and the tail in a name.
        "< </div><br />" + file_entry("4", "< </div><br />"),
    };
    for (const std::string& page : odd) {
        EXPECT_TRUE(same_rows(parse_file_page(page, entry_pattern()),
                              parse_file_page_by_regex(page, entry_pattern())))
            << page.size();
    }
    // Patterns that are not plain texts joined by ".*?" still go to the regex.
    EXPECT_EQ(find_matches("ab1<br />", "b\\d.*?<br />"), std::vector<std::string>{"b1<br />"});
    EXPECT_EQ(find_matches("ab<br />", "(a|b).*?<br />"), std::vector<std::string>{"ab<br />"});
    EXPECT_TRUE(find_matches("ab<br />", "(.*?<br />").empty());
    // A zero byte ends the tail the answer is cut at, so such a pattern is the regex's too.
    const std::string zero("a.*?b\0", 6);
    EXPECT_EQ(find_matches("xab\0ab", zero), find_matches_by_regex("xab\0ab", zero));
    const std::string inner("a\0b.*?c", 7), answer("xa\0bzc a\0bc", 12);
    EXPECT_EQ(find_matches(answer, inner), find_matches_by_regex(answer, inner));
    EXPECT_EQ(find_matches(answer, inner).size(), 2u);
}

TEST(Answers, SuccessTestsPasswordAndIds) {
    EXPECT_TRUE(contains_one("ok 1"));
    EXPECT_FALSE(contains_one("2"));
    EXPECT_FALSE(contains_one(""));
    // "1\r\n" is one byte once the line breaks go: a failure.
    EXPECT_FALSE(create_folder_accepted("1\r\n"));
    EXPECT_TRUE(create_folder_accepted("ok 12"));
    EXPECT_FALSE(create_folder_accepted(""));
    EXPECT_EQ(
        read_access_password(GBK("<input id=\"fwmm\" value=\"8888\" />"), "id=\"fwmm\" value=\""),
        "8888");
    EXPECT_EQ(read_access_password("<p>expired</p>", "id=\"fwmm\" value=\""), "");
    EXPECT_EQ(selected_ids_text({12, 34, 56}), "12,34,56,");
    EXPECT_EQ(selected_ids_text({}), "");
}

// Every control name the browser uses exists, with the kind it expects, in
// the windows the program builds.
TEST(ControlNames, ExistInTheBuiltWindows) {
    using ui::Kind;
    auto main = windows::build_main_window("127.0.0.1:1");
    const std::pair<const char*, Kind> main_controls[] = {
        {names::kTabs, Kind::tab},
        {names::kTree, Kind::tree},
        {names::kFileList, Kind::list_view},
        {names::kPageCombo, Kind::combo},
        {names::kStatus, Kind::label},
        {names::kPageFileCount, Kind::label},
        {names::kUploadTarget, Kind::label},
        {names::kUploadHere, Kind::button},
        {names::kSetUploadCheck, Kind::check},
        {names::kListAddress, Kind::edit},
        {names::kFolderPattern, Kind::edit},
        {names::kEntryPattern, Kind::edit},
        {names::kPasswordMarker, Kind::edit},
        {names::kActivityLog, Kind::edit},
        {names::kStampLog, Kind::edit},
        {names::kNameList, Kind::list_box},
        {names::kWorkList, Kind::list_box},
        {names::kUploadedList, Kind::list_view},
        {names::kFinishedList, Kind::list_view},
    };
    for (const auto& [name, kind] : main_controls) {
        ASSERT_TRUE(main->has(name)) << name;
        EXPECT_EQ((*main)[name].kind(), kind) << name;
    }
    for (const char* menu :
         {names::kFileMenu, names::kTreeMenu, names::kUploadedMenu, names::kFinishedMenu})
        EXPECT_NE(main->menu(menu), nullptr) << menu;
    // The patterns the parsers are tested with are the ones the window holds.
    EXPECT_EQ((*main)[names::kFolderPattern].text(), kFolderPattern);
    EXPECT_EQ((*main)[names::kEntryPattern].text(), entry_pattern());

    const std::tuple<const char*, const char*, Kind> small[] = {
        {windows::kCreateFolderWindow, names::kParentEdit, Kind::edit},
        {windows::kCreateFolderWindow, names::kNewFolderEdit, Kind::edit},
        {windows::kCreateFolderWindow, names::kAction, Kind::button},
        {windows::kFolderNewNameWindow, names::kNameEdit, Kind::edit},
        {windows::kFolderNewNameWindow, names::kAction, Kind::button},
        {windows::kCreateLinkFileWindow, names::kNameEdit, Kind::edit},
        {windows::kCreateLinkFileWindow, names::kLinkEdit, Kind::edit},
        {windows::kCreateLinkFileWindow, names::kAction, Kind::button},
        {windows::kRenameFileWindow, names::kNameEdit, Kind::edit},
        {windows::kRenameFileWindow, names::kAction, Kind::button},
        {windows::kFileOperationWindow, names::kTargetCombo, Kind::combo},
        {windows::kFileOperationWindow, names::kAction, Kind::button},
        {windows::kFileOperationWindow, names::kDeleteButton, Kind::button},
    };
    for (const auto& [id, name, kind] : small) {
        auto w = windows::build_window(id, "127.0.0.1:1");
        ASSERT_TRUE(w) << id;
        ASSERT_TRUE(w->has(name)) << id << " " << name;
        EXPECT_EQ((*w)[name].kind(), kind) << id << " " << name;
    }
}

// The upload button sits beside the tree, never over its rows.
TEST(ControlNames, TheTreeIsNotCovered) {
    auto main = windows::build_main_window("127.0.0.1:1");
    ui::Rect tree = (*main)[names::kTree].rect();
    for (ui::Control* c : main->controls()) {
        if (c->name() == names::kTree || c->parent() != (*main)[names::kTree].parent() ||
            c->page() != 1 || !c->visible())
            continue;
        ui::Rect r = c->rect();
        bool overlap = r.x < tree.x + tree.w && tree.x < r.x + r.w && r.y < tree.y + tree.h &&
                       tree.y < r.y + r.h;
        EXPECT_FALSE(overlap) << c->name();
    }
}

}  // namespace
}  // namespace qorvel::storage
