// The command-line client's pure decisions: what it reads from the command
// line, how a remote path resolves, what it prints, how the session file and
// an interrupted download's note are kept.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/arguments.h"
#include "cli/local_rules.h"
#include "cli/output.h"
#include "cli/remote_path.h"
#include "cli/session_file.h"
#include "net/charset.h"
#include "support/process.h"

using namespace qorvel;
using namespace qorvel::cli;
namespace fs = std::filesystem;

namespace {

Parsed parse(std::vector<std::string> a) {
    return parse_arguments(a);
}

}  // namespace

TEST(CliArguments, CommandsOperandsAndOptions) {
    auto p = parse(
        {"--json", "get", "/a/b", "id:7", "-o", "out", "-c", "4", "--on-exists", "overwrite"});
    ASSERT_TRUE(p.invocation) << p.error;
    EXPECT_TRUE(p.invocation->json);
    EXPECT_EQ(p.invocation->command, "get");
    EXPECT_EQ(p.invocation->operands, (std::vector<std::string>{"/a/b", "id:7"}));
    EXPECT_EQ(p.invocation->out_dir, "out");
    EXPECT_EQ(p.invocation->connections, 4);
    EXPECT_EQ(p.invocation->on_exists, OnExists::overwrite);

    // "--" lets a name that starts with a dash through; --json may come after the command.
    p = parse({"rm", "-y", "--json", "--", "-odd"});
    ASSERT_TRUE(p.invocation);
    EXPECT_TRUE(p.invocation->yes);
    EXPECT_TRUE(p.invocation->json);
    EXPECT_EQ(p.invocation->operands, (std::vector<std::string>{"-odd"}));

    p = parse({"ls", "--page", "3"});
    ASSERT_TRUE(p.invocation);
    EXPECT_EQ(p.invocation->page, 3);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"ls", "--help"}).help);
    EXPECT_TRUE(parse({"--version"}).version);
}

TEST(CliArguments, MistakesAreUsageErrors) {
    // No password on the command line: there is no option for one.
    for (const auto& bad :
         std::vector<std::vector<std::string>>{{},
                                               {"fly"},
                                               {"login"},
                                               {"login", "a", "b"},
                                               {"login", "a", "--password", "x"},
                                               {"ls", "--page", "0"},
                                               {"ls", "--page", "x"},
                                               {"ls", "--page", "2", "--all"},
                                               {"get", "a", "-c", "0"},
                                               {"get", "a", "-c", "17"},
                                               {"get", "a", "--on-exists", "merge"},
                                               {"get", "a", "-o"},
                                               {"mv", "only"},
                                               {"rename", "a"},
                                               {"rm"},
                                               {"put", "f", "--direct"},
                                               {"mkdir", ""}}) {
        Parsed p = parse(bad);
        EXPECT_FALSE(p.invocation) << (bad.empty() ? "" : bad[0]);
        EXPECT_FALSE(p.error.empty());
    }
    EXPECT_NE(usage_text().find("4 service unreachable"), std::string::npos);
}

TEST(CliRemotePath, PartsIdsAndTheRoot) {
    auto p = parse_remote_path("/默认文件夹/照片//./2023年旅行/../北京/");
    ASSERT_TRUE(p);
    ASSERT_EQ(p->parts.size(), 2u);
    EXPECT_EQ(p->parts[0].name, utf8_to_gbk("照片"));
    EXPECT_EQ(p->parts[1].name, utf8_to_gbk("北京"));
    EXPECT_TRUE(parse_remote_path("/")->parts.empty());
    EXPECT_TRUE(parse_remote_path("默认文件夹")->parts.empty());
    EXPECT_TRUE(parse_remote_path("../..")->parts.empty());
    p = parse_remote_path("a/id:42");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->parts[1].id, 42);
    EXPECT_FALSE(id_of("id:"));
    EXPECT_FALSE(id_of("id:4x"));
    EXPECT_FALSE(id_of("id:-4"));
    EXPECT_FALSE(id_of("id:+4"));
    EXPECT_FALSE(id_of("id:1234567890123456789"));
    EXPECT_FALSE(parse_remote_path("a\nb"));
    EXPECT_FALSE(parse_remote_path("a/\xff\xfe"));
}

TEST(CliRemotePath, ResolutionRefusesUnknownThroughFileAndRepeatedNames) {
    // Root: folder "docs" (1), two folders "twin" (2, 3), file "a.txt" (10);
    // docs holds file "x" (11) and folder "y" (4).
    auto folder = [](long long id, const char* name) {
        Entry e;
        e.id = id;
        e.name = utf8_to_gbk(name);
        return e;
    };
    auto file = [](long long id, const char* name) {
        Entry e;
        e.kind = Entry::Kind::file;
        e.id = id;
        e.name = utf8_to_gbk(name);
        return e;
    };
    int lists = 0;
    Lister lister = [&](long long id) {
        ++lists;
        Listing l;
        if (id == 0)
            l.entries = {folder(1, "docs"), folder(2, "twin"), folder(3, "twin"),
                         file(10, "a.txt")};
        if (id == 1) l.entries = {file(11, "x"), folder(4, "y")};
        if (id == 9) l.outcome = Outcome::fail(Exit::unreachable, "down");
        return l;
    };
    auto ok = resolve(*parse_remote_path("/docs/y"), lister);
    ASSERT_TRUE(ok.outcome.ok());
    EXPECT_EQ(ok.entry.id, 4);
    EXPECT_EQ(ok.parent_id, 1);
    EXPECT_TRUE(ok.entry.is_folder());
    EXPECT_EQ(ok.shown, "/docs/y");

    auto root = resolve(*parse_remote_path("/"), lister);
    EXPECT_TRUE(root.outcome.ok());
    EXPECT_EQ(root.entry.id, 0);

    auto unknown = resolve(*parse_remote_path("/docs/none"), lister);
    EXPECT_EQ(unknown.outcome.exit, Exit::item_failed);
    EXPECT_NE(gbk_to_utf8(unknown.outcome.message).find("/docs/none"), std::string::npos);

    lists = 0;
    auto through = resolve(*parse_remote_path("/a.txt/deeper/still"), lister);
    EXPECT_EQ(through.outcome.exit, Exit::item_failed);
    EXPECT_NE(gbk_to_utf8(through.outcome.message).find("文件"), std::string::npos);
    EXPECT_EQ(lists, 1);  // nothing is listed below a file

    auto twin = resolve(*parse_remote_path("/twin"), lister);
    EXPECT_EQ(twin.outcome.exit, Exit::item_failed);
    std::string m = gbk_to_utf8(twin.outcome.message);
    EXPECT_NE(m.find("id:2"), std::string::npos);
    EXPECT_NE(m.find("id:3"), std::string::npos);
    auto picked = resolve(*parse_remote_path("/id:3"), lister);
    ASSERT_TRUE(picked.outcome.ok());
    EXPECT_EQ(picked.entry.id, 3);

    Lister broken = [&](long long) {
        Listing l;
        l.outcome = Outcome::fail(Exit::unreachable, "down");
        return l;
    };
    EXPECT_EQ(resolve(*parse_remote_path("/docs"), broken).outcome.exit, Exit::unreachable);

    EXPECT_EQ(file_page_name("<html><h3>" + utf8_to_gbk("照片.jpg") + "</h3>"),
              utf8_to_gbk("照片.jpg"));
    EXPECT_FALSE(file_page_name("<h3></h3>"));
    EXPECT_FALSE(file_page_name("<h3>a/b</h3>"));
    EXPECT_FALSE(file_page_name("<h3>a\nb</h3>"));
    EXPECT_FALSE(file_page_name("<h3>unclosed"));
    EXPECT_FALSE(file_page_name("<h3>" + std::string(2000, 'a') + "</h3>"));

    EXPECT_EQ(resolve_bare_id(5, true, false, "id:5").entry.kind, Entry::Kind::folder);
    EXPECT_EQ(resolve_bare_id(5, false, true, "id:5").entry.kind, Entry::Kind::file);
    EXPECT_EQ(resolve_bare_id(5, true, true, "id:5").outcome.exit, Exit::item_failed);
    EXPECT_EQ(resolve_bare_id(5, false, false, "id:5").outcome.exit, Exit::item_failed);
}

TEST(CliOutput, JsonTablesAndProgress) {
    EXPECT_EQ(json_string("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
    EXPECT_EQ(json_string("照片"), "\"照片\"");
    EXPECT_EQ(json_string("x\xff"), "\"x\\ufffd\"");
    EXPECT_EQ(json_string("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");  // a surrogate
    EXPECT_EQ(json_object({{"id", "7"}, {"name", json_string("a")}}), "{\"id\":7,\"name\":\"a\"}");
    EXPECT_EQ(display_width("照片ab"), 6u);
    EXPECT_EQ(printable("a\rb\x1b[2Jc"), "a?b?[2Jc");
    std::string t = table({"名称", "id"}, {{"照片", "1"}, {"abcdef", "22"}});
    EXPECT_EQ(t, "名称    id\n照片    1\nabcdef  22\n");
    std::string line = progress_line("f.bin", 50, 200, 1024 * 1024);
    EXPECT_NE(line.find("25%"), std::string::npos);
    EXPECT_NE(line.find("1.0MB/s"), std::string::npos);
    EXPECT_NE(line.find("剩余"), std::string::npos);
}

TEST(CliSessionFile, PrivateFileInPrivateFolderAndNoLinks) {
    test::TempDir home("qorvel-cli-session");
    fs::path folder = home.path() / "config" / "qorvel";
    SavedSession s{utf8_to_gbk("张三"), "KEY123", "42", true};
    ASSERT_EQ(save_session(folder, s), "");
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((folder / kSessionFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto l = load_session(folder);
    ASSERT_EQ(l.state, SessionRead::found);
    EXPECT_EQ(l.session.account, s.account);
    EXPECT_EQ(l.session.account_key, "KEY123");
    EXPECT_TRUE(l.session.member);

    // A value that would add a line is never written.
    SavedSession bad = s;
    bad.account_key = "K\nmember=1";
    EXPECT_NE(save_session(folder, bad), "");

    // Readable by others: refused, not read.
    ::chmod((folder / kSessionFileName).c_str(), 0644);
    EXPECT_EQ(load_session(folder).state, SessionRead::unsafe);
    ASSERT_TRUE(forget_session(folder));
    EXPECT_EQ(load_session(folder).state, SessionRead::missing);

    // A link planted at the file's place is neither read nor written through.
    fs::path elsewhere = home.path() / "elsewhere";
    test::write_file(elsewhere, "key=EVIL\npid=1\n");
    ::chmod(elsewhere.c_str(), 0600);
    fs::create_symlink(elsewhere, folder / kSessionFileName);
    EXPECT_EQ(load_session(folder).state, SessionRead::unsafe);
    ASSERT_EQ(save_session(folder, s), "");
    EXPECT_EQ(test::read_file(elsewhere), "key=EVIL\npid=1\n");
    EXPECT_FALSE(fs::is_symlink(folder / kSessionFileName));

    // A folder that is a link is refused too.
    fs::path real = home.path() / "real";
    fs::create_directories(real);
    fs::path linked = home.path() / "linked";
    fs::create_symlink(real, linked);
    EXPECT_NE(save_session(linked, s), "");
    EXPECT_FALSE(fs::exists(real / kSessionFileName));

    // A folder of ours that others may read is made private.
    fs::path open = home.path() / "open";
    fs::create_directories(open);
    ::chmod(open.c_str(), 0755);
    ASSERT_EQ(save_session(open, s), "");
    ::stat(open.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    EXPECT_FALSE(parse_session_text("account=a\n"));
    EXPECT_FALSE(parse_session_text("key=\npid=1\n"));
}

TEST(CliLocalRules, PlacingAndResumeNotes) {
    EXPECT_EQ(decide_placing("", OnExists::skip), Placing::fresh);
    EXPECT_EQ(decide_placing("file", OnExists::skip), Placing::skip);
    EXPECT_EQ(decide_placing("file", OnExists::rename), Placing::numbered);
    EXPECT_EQ(decide_placing("file", OnExists::overwrite), Placing::replace);
    EXPECT_EQ(decide_placing("link", OnExists::overwrite), Placing::replace);
    EXPECT_EQ(decide_placing("other", OnExists::overwrite), Placing::refuse);

    ResumeNote n{"/d/a.bin.part", "QRVLRESUME1\nrest\n"};
    auto back = parse_resume_note(resume_note_text(n));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->partial, n.partial);
    EXPECT_EQ(back->record, n.record);
    EXPECT_FALSE(parse_resume_note("garbage"));
    EXPECT_EQ(resume_note_path("/d/a.bin"), "/d/a.bin.qorvel-resume");

    // Only a partial file beside the final one is trusted.
    EXPECT_TRUE(partial_belongs("/d/a.bin", "/d/a.bin.part"));
    EXPECT_TRUE(partial_belongs("/d/a.bin", "/d/a.bin.1.part"));
    EXPECT_FALSE(partial_belongs("/d/a.bin", "/home/u/.bashrc"));
    EXPECT_FALSE(partial_belongs("/d/a.bin", "/e/a.bin.part"));
    EXPECT_FALSE(partial_belongs("/d/a.bin", "/d/sub/a.bin.part"));
    EXPECT_FALSE(partial_belongs("/d/a.bin", "/d/.part"));
}

TEST(CliLocalRules, UploadPlanKeepsStructureAndRefusesWhatCannotGo) {
    test::TempDir dir("qorvel-cli-plan");
    fs::path top = dir.path() / "相册";
    fs::create_directories(top / "sub" / "deeper");
    test::write_file(top / "a.txt", "a");
    test::write_file(top / "sub" / "b.txt", "bb");
    test::write_file(top / "sub" / "deeper" / "c.txt", "ccc");
    fs::create_symlink("/etc/passwd", top / "notes.txt");
    auto plan = plan_upload({top.string()});
    EXPECT_TRUE(plan.refused.empty());
    ASSERT_EQ(plan.files.size(), 3u);
    EXPECT_EQ(plan.files[0].folders, (std::vector<std::string>{utf8_to_gbk("相册")}));
    EXPECT_EQ(plan.files[2].folders,
              (std::vector<std::string>{utf8_to_gbk("相册"), "sub", "deeper"}));
    EXPECT_EQ(plan.files[2].size, 3);
    ASSERT_EQ(plan.folders.size(), 3u);
    EXPECT_EQ(plan.folders[0].size(), 1u);  // parents first
    ASSERT_EQ(plan.links_skipped.size(), 1u);

    // A trailing slash names the same folder.
    EXPECT_EQ(plan_upload({top.string() + "/"}).files.size(), 3u);

    auto bad = plan_upload({(dir.path() / "missing").string(), (top / "a.txt").string()});
    ASSERT_EQ(bad.refused.size(), 1u);
    EXPECT_EQ(bad.files.size(), 1u);
    EXPECT_TRUE(bad.files[0].folders.empty());

    test::write_file(dir.path() / "page.php", "x");
    EXPECT_EQ(plan_upload({(dir.path() / "page.php").string()}).refused.size(), 1u);
    if (::geteuid() != 0) {
        test::write_file(dir.path() / "secret", "x");
        ::chmod((dir.path() / "secret").c_str(), 0);
        EXPECT_EQ(plan_upload({(dir.path() / "secret").string()}).refused.size(), 1u);
    }
}
