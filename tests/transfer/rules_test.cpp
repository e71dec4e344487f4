#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>

#include "net/charset.h"
#include "support/process.h"
#include "transfer/digest.h"
#include "transfer/download_rules.h"
#include "transfer/engine/local_file.h"
#include "transfer/progress_rules.h"
#include "transfer/upload_rules.h"

namespace qorvel::transfer {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string md5sum_of(const fs::path& p) {
    std::string cmd = "md5sum '" + p.string() + "'";
    FILE* f = ::popen(cmd.c_str(), "r");
    char buf[64] = {};
    size_t n = f ? std::fread(buf, 1, 32, f) : 0;
    if (f) ::pclose(f);
    return std::string(buf, n);
}

TEST(FileDigest, MatchesMd5sumAcrossPieceBoundariesAndRefusesWhatCannotBeRead) {
    test::TempDir dir("qorvel-digest");
    write(dir.path() / "empty", "");
    EXPECT_EQ(file_md5_hex(dir.path() / "empty"), "d41d8cd98f00b204e9800998ecf8427e");
    write(dir.path() / "abc", "abc");
    EXPECT_EQ(file_md5_hex(dir.path() / "abc"), "900150983cd24fb0d6963f7d28e17f72");

    // Three pieces and a bit, with content that differs in every piece.
    std::string big((3 << 20) + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    write(dir.path() / "big", big);
    auto digest = file_md5_hex(dir.path() / "big");
    ASSERT_TRUE(digest);
    EXPECT_EQ(*digest, md5sum_of(dir.path() / "big"));

    EXPECT_FALSE(file_md5_hex(dir.path() / "missing"));
    EXPECT_FALSE(file_md5_hex(dir.path())) << "a folder is not a file of zero bytes";
}

// A FIFO would hold a reader until some writer came; a link could name any file.
TEST(FileDigest, AFifoIsRefusedAtOnceAndALinkIsNotFollowed) {
    test::TempDir dir("qorvel-digest");
    fs::path fifo = dir.path() / "swapped";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto digest = std::async(std::launch::async, [&] { return file_md5_hex(fifo); });
    if (digest.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        ADD_FAILURE() << "the digest waits on a FIFO";
        // A writer that comes and goes lets the reader see the end.
        int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0) ::close(w);
    }
    EXPECT_FALSE(digest.get());

    write(dir.path() / "secret", "abc");
    fs::create_symlink(dir.path() / "secret", dir.path() / "notes.txt");
    EXPECT_FALSE(file_md5_hex(dir.path() / "notes.txt"));
}

TEST(UploadAdding, SizeLimitNameRuleAndWhatTheFileSystemSays) {
    test::TempDir dir("qorvel-adding");
    const std::string base = dir.path().string() + "/";
    // Sparse files: the limit is read from the size, not from the blocks.
    fs::path at_limit = dir.path() / "at_limit.bin", below = dir.path() / "below.bin";
    write(at_limit, "");
    write(below, "");
    fs::resize_file(at_limit, kUploadLimitBytes);
    fs::resize_file(below, kUploadLimitBytes - 1);
    EXPECT_EQ(file_size_of(at_limit.string()), kUploadLimitBytes);
    EXPECT_EQ(decide_dropped(at_limit.string(), PathKind::file, kUploadLimitBytes),
              DropAction::too_large);
    EXPECT_EQ(decide_dropped(below.string(), PathKind::file, kUploadLimitBytes - 1),
              DropAction::add_file);

    // The name rule: the text after the first dot of the name, exactly.
    EXPECT_FALSE(upload_extension_allowed(base + "index.php"));
    EXPECT_FALSE(upload_extension_allowed(base + "page.asp"));
    EXPECT_FALSE(upload_extension_allowed(base + "trailing."));
    EXPECT_TRUE(upload_extension_allowed(base + "report.final.php"));
    EXPECT_TRUE(upload_extension_allowed(base + "INDEX.PHP"));
    EXPECT_TRUE(upload_extension_allowed(base + "README"));
    EXPECT_TRUE(upload_extension_allowed("/srv/site.php/notes.txt"))
        << "a folder's dot is not the name's";

    // A folder with a dot in its name is a folder; a file without a dot is a file.
    fs::create_directories(dir.path() / "photos.2024" / "inner");
    write(dir.path() / "photos.2024" / "b.jpg", "b");
    write(dir.path() / "photos.2024" / "a.jpg", "a");
    write(dir.path() / "Makefile", "all:");
    EXPECT_EQ(path_kind(base + "photos.2024"), PathKind::folder);
    EXPECT_EQ(path_kind(base + "Makefile"), PathKind::file);
    EXPECT_EQ(path_kind(base + "gone"), PathKind::missing);
    EXPECT_EQ(decide_dropped(base + "Makefile", PathKind::file, 4), DropAction::add_file);
    EXPECT_EQ(decide_dropped(base + "photos.2024", PathKind::folder, -1), DropAction::add_folder);
    EXPECT_EQ(decide_dropped(base + "gone", PathKind::missing, -1), DropAction::skip);
    EXPECT_EQ(decide_dropped(base + "index.php", PathKind::file, 5), DropAction::name_refused);
    EXPECT_EQ(files_of_folder(base + "photos.2024").paths,
              (std::vector<std::string>{base + "photos.2024/a.jpg", base + "photos.2024/b.jpg"}))
        << "files only, no sub-folders";
}

TEST(UploadAdding, FolderLinksAreCountedNotTakenAndAPickedLinkResolvesToItsFile) {
    test::TempDir dir("qorvel-adding");
    fs::create_directories(dir.path() / "drop" / "sub");
    write(dir.path() / "id_rsa", "secret");
    write(dir.path() / "drop" / "plain.txt", "plain");
    fs::create_symlink(dir.path() / "id_rsa", dir.path() / "drop" / "notes.txt");
    fs::create_symlink(dir.path() / "drop" / "sub", dir.path() / "drop" / "more");
    fs::create_symlink(dir.path() / "nowhere", dir.path() / "drop" / "dangling");
    const std::string drop = (dir.path() / "drop").string();
    auto found = files_of_folder(drop);
    EXPECT_EQ(found.paths, (std::vector<std::string>{drop + "/plain.txt"}));
    EXPECT_EQ(found.links_skipped, 3);

    EXPECT_EQ(real_path_of(drop + "/notes.txt"), fs::canonical(dir.path() / "id_rsa").string());
    EXPECT_EQ(real_path_of(drop + "/dangling"), "");

    // The stamp is read from the file itself: never through a link, never a FIFO.
    auto stamp = regular_file_stamp(drop + "/plain.txt");
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->size, 5);
    EXPECT_FALSE(regular_file_stamp(drop + "/notes.txt"));
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(regular_file_stamp((dir.path() / "fifo").string())) << "returned at once";
    // A rewrite of the same size still changes the stamp.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (drop + "/plain.txt").c_str(), times, 0), 0);
    auto touched = regular_file_stamp(drop + "/plain.txt");
    ASSERT_TRUE(touched);
    EXPECT_EQ(touched->modified_ns, 1000000000005LL);
    EXPECT_NE(*touched, *stamp);
}

TEST(UploadAdding, WhatWasLeftOutIsSaid) {
    EXPECT_EQ(adding_summary({}), "");
    EXPECT_TRUE(adding_log_lines({}).empty());
    AddingReport r;
    r.links_skipped = 2;
    EXPECT_EQ(adding_summary(r), GBK("已跳过 2 个符号链接"));
    r.too_large = {"/u/big.iso"};
    r.name_refused = {"/u/a.php", "/u/b.asp"};
    EXPECT_EQ(adding_summary(r), GBK("有1个文件超过1024M，未添加，有2个文件的类型不允许上传，"
                                     "未添加，已跳过 2 个符号链接"));
    EXPECT_EQ(adding_log_lines(r),
              (std::vector<std::string>{GBK("文件超过1024M，未添加：") + "/u/big.iso",
                                        GBK("文件类型不允许上传，未添加：") + "/u/a.php",
                                        GBK("文件类型不允许上传，未添加：") + "/u/b.asp",
                                        GBK("已跳过 2 个符号链接")}));

    EXPECT_EQ(upload_size_text(1048576), "1M");
    EXPECT_EQ(upload_size_text(1572864), "1.5M");
    EXPECT_EQ(completed_size_text(1536), "1.5KB");
}

TEST(UploadEnd, OnlyASuccessOfTheUnchangedFileWithItsContentVerifiedOrNoHashMayBeRegistered) {
    using engine::Outcome;
    auto outcome = [](Outcome::Result r, Outcome::Upload u, const std::string& why = {}) {
        Outcome o;
        o.result = r;
        o.upload = u;
        o.message = why;
        return o;
    };
    const auto ok = Outcome::Result::success;
    EXPECT_EQ(upload_refusal(outcome(ok, Outcome::Upload::verified), true), std::nullopt);
    EXPECT_EQ(upload_refusal(outcome(ok, Outcome::Upload::server_has_no_hash), true), std::nullopt);
    // A success the server could not check is no finished upload.
    EXPECT_EQ(upload_refusal(outcome(ok, Outcome::Upload::none), true),
              GBK("上传失败：服务器未能核对收到的内容"));
    // The file changed since it began, whatever the server said.
    EXPECT_EQ(upload_refusal(outcome(ok, Outcome::Upload::verified), false),
              GBK("上传失败：文件在上传中被改动"));
    // An engine failure stands first, with its reason when it gave one.
    for (auto r : {Outcome::Result::failed, Outcome::Result::stopped, Outcome::Result::none}) {
        EXPECT_EQ(upload_refusal(outcome(r, Outcome::Upload::verified, GBK("上传出现异常")), true),
                  GBK("上传失败：上传出现异常"));
        EXPECT_EQ(upload_refusal(outcome(r, Outcome::Upload::verified), false), GBK("上传失败！"));
    }
}

TEST(UploadNaming, RemoteNameAddressAndRegistrationAnswers) {
    EXPECT_EQ(remote_name_for("/home/u/a b.txt"), "a b.txt.qrvllswj");
    EXPECT_EQ(ftp_upload_url("127.0.0.9", remote_name_for("/x/r.zip")),
              "ftp://127.0.0.9:1678/r.zip.qrvllswj");
    EXPECT_EQ(folder_part_of("/home/u/a.txt"), "/home/u/");
    EXPECT_EQ(file_name_of("plain"), "plain");

    auto ok = parse_registration("INSERT INTO `wenjian` (`id`) VALUES xxxx42x", 200);
    EXPECT_TRUE(ok.created);
    EXPECT_EQ(ok.new_id, 42);
    EXPECT_FALSE(parse_registration("2", 200).created);
    EXPECT_FALSE(parse_registration("insert into `wenjian` xxxx5x", 200).created)
        << "case-sensitive";
    auto no_id = parse_registration("INSERT INTO `wenjian` done", 200);
    EXPECT_TRUE(no_id.created);
    EXPECT_EQ(no_id.new_id, 0);
    // An error page or no whole answer says nothing, whatever it echoes.
    for (int status : {0, 201, 302, 404, 500})
        EXPECT_FALSE(parse_registration("INSERT INTO `wenjian` xxxx7x", status).created) << status;

    EXPECT_EQ(answer_status("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n"), 200);
    EXPECT_EQ(answer_status("HTTP/1.0 500\r\n\r\n"), 500);
    EXPECT_EQ(answer_status("HTTP/1.1 2000 OK\r\n"), 0);
    EXPECT_EQ(answer_status("HTTP/1.1 20"), 0);
    EXPECT_EQ(answer_status("Xyz 200 OK\r\n"), 0);
    EXPECT_EQ(answer_status(""), 0);

    // A name with the form's delimiters stays one field.
    EXPECT_EQ(registration_body("R&D=1.txt"), "wjdl=R%26D%3D1.txt");
    EXPECT_EQ(instant_upload_path("k1", 3, "d41d8cd98f00b204e9800998ecf8427e"),
              "/jsmc.php?bsm=k1&mlid=3&md5=d41d8cd98f00b204e9800998ecf8427e");
}

TEST(DownloadDecisions, LinkMarkersHostsAndProgress) {
    EXPECT_EQ(storage_link("<span>bsmzdydab12cd</span>"), "ab12cd");
    EXPECT_FALSE(storage_link("<h3>x</h3>")) << "no marker: no address made up";
    EXPECT_FALSE(storage_link("bsmzdydab12")) << "no end marker";
    EXPECT_FALSE(storage_link("bsmzdyd<"));
    ServiceHosts h;
    h.files2 = "127.0.0.1:2";
    h.files3 = "127.0.0.1:3";
    EXPECT_EQ(download_url(h, true, "L"), "http://127.0.0.1:3/up/L");
    EXPECT_EQ(download_url(h, false, "L"), "http://127.0.0.1:2/up/L");
    EXPECT_EQ(storage_link_path("12", "0"), "/ym.php?pid=12&srmm=0");

    EXPECT_EQ(progress_text(50, 200), "25%");
    EXPECT_EQ(progress_text(10, 0), "0%") << "size not known yet";
    EXPECT_EQ(progress_text(10, -1), "0%");
    EXPECT_EQ(progress_text(300, 200), "100%");
    EXPECT_EQ(speed_text(2047), "1KB");
    EXPECT_EQ(folder_text("/home/u//dl"), "/home/u/dl/");
    EXPECT_EQ(folder_text("/"), "/");
    EXPECT_EQ(folder_text(""), "");
}

TEST(TransferPace, ScaledSpeedsAndTimeLeft) {
    EXPECT_EQ(speed_per_second_text(0), "0B/s");
    EXPECT_EQ(speed_per_second_text(-5), "0B/s");
    EXPECT_EQ(speed_per_second_text(512), "512B/s");
    EXPECT_EQ(speed_per_second_text(1024), "1.0KB/s");
    EXPECT_EQ(speed_per_second_text(12.5 * 1024), "12.5KB/s");
    EXPECT_EQ(speed_per_second_text(226.4 * 1024), "226KB/s") << "no decimal from 100 up";
    EXPECT_EQ(speed_per_second_text(1023.99 * 1024), "1.0MB/s") << "never 1024KB/s";
    EXPECT_EQ(speed_per_second_text(1.5 * 1048576), "1.5MB/s");
    EXPECT_EQ(speed_per_second_text(2.0 * 1073741824), "2.0GB/s");
    EXPECT_EQ(speed_per_second_text(5000.0 * 1073741824), "5000GB/s");

    EXPECT_EQ(time_left_text(100, 0), GBK("剩余时间未知"));
    EXPECT_EQ(time_left_text(-1, 1000), GBK("剩余时间未知")) << "size unknown";
    EXPECT_EQ(time_left_text(0, 1000), GBK("剩余 0秒"));
    EXPECT_EQ(time_left_text(4500, 1000), GBK("剩余 5秒")) << "a started second counts";
    EXPECT_EQ(time_left_text(65 * 1000, 1000), GBK("剩余 1分05秒"));
    EXPECT_EQ(time_left_text(std::int64_t{7380} * 1000, 1000), GBK("剩余 2小时3分"));
    EXPECT_EQ(time_left_text(std::int64_t{1} << 60, 1), GBK("剩余时间未知"));
    EXPECT_EQ(pace_text(65 * 1024, 1024), GBK("速度 1.0KB/s，剩余 1分05秒"));
}

TEST(TransferPace, SpeedIsSmoothedOverTheLastTicksAndRestartsPerTransfer) {
    using Clock = SpeedAverage::Clock;
    const Clock::time_point t0{};
    SpeedAverage avg;
    EXPECT_EQ(avg.per_second(), 0);
    avg.add(0, 1000, t0 + std::chrono::hours(1));
    EXPECT_DOUBLE_EQ(avg.per_second(), 1000) << "the first tick counts as a second, id 0 too";
    avg.add(1, 1000, t0);
    EXPECT_DOUBLE_EQ(avg.per_second(), 1000);
    avg.add(1, 3000, t0 + std::chrono::seconds(1));
    EXPECT_DOUBLE_EQ(avg.per_second(), 2000) << "one slow and one fast second even out";
    avg.add(1, 500, t0 + std::chrono::milliseconds(1001));
    EXPECT_DOUBLE_EQ(avg.per_second(), 2250) << "a tick right after another adds to it";
    for (int i = 2; i < 8; ++i) avg.add(1, 8000, t0 + std::chrono::seconds(i));
    EXPECT_DOUBLE_EQ(avg.per_second(), 8000) << "only the last ticks count";
    avg.add(2, 100, t0 + std::chrono::seconds(9));
    EXPECT_DOUBLE_EQ(avg.per_second(), 100) << "another transfer starts afresh";
}

TEST(FileErrors, EachErrnoSaysWhyInTheUsersWords) {
    EXPECT_EQ(engine::local_file_reason(EACCES), GBK("权限不够"));
    EXPECT_EQ(engine::local_file_reason(EPERM), GBK("权限不够"));
    EXPECT_EQ(engine::local_file_reason(ENOSPC), GBK("磁盘空间不足"));
    EXPECT_EQ(engine::local_file_reason(EDQUOT), GBK("磁盘空间不足"));
    EXPECT_EQ(engine::local_file_reason(ENOENT), GBK("文件夹不存在"));
    EXPECT_EQ(engine::local_file_reason(ENOTDIR), GBK("文件夹不存在"));
    EXPECT_EQ(engine::local_file_reason(ENAMETOOLONG), GBK("文件名过长"));
    EXPECT_EQ(engine::local_file_reason(EROFS), GBK("只读文件系统"));
    EXPECT_EQ(engine::local_file_reason(EIO), std::string(std::strerror(EIO)));
}

TEST(DownloadDecisions, OnlyWebAndFtpAddressesBecomeLinkFiles) {
    for (const char* ok : {"http://www.example.com/qorvel/demo.zip", "HTTPS://x",
                           "Ftp://u:p@h:21/f", "http://[::1]:8080/a b", "http://h?q"})
        EXPECT_TRUE(link_file_address(ok)) << ok;
    // What the service hands out is read up to "<", line breaks included.
    auto hostile =
        storage_link("bsmzdydhttp://x/doc\n[Desktop Entry]\nType=Application\nExec=sh -c 'id'\n<");
    ASSERT_TRUE(hostile);
    EXPECT_FALSE(link_file_address(*hostile));
    for (const char* bad : {"http://x/a\rb", "http://x/\t", "http://x/\x7f", "file:///etc/passwd",
                            "javascript:alert(1)", "sh -c id", "ftps://h/", "http:/x", "http://",
                            "http:///path", "http://u@/p", "http://:80/", "http://[]/",
                            "http://[::1", "xhttp://h/", "/usr/bin/x", ""})
        EXPECT_FALSE(link_file_address(bad)) << bad;
    EXPECT_FALSE(link_file_address(std::string("http://h/\0x", 10)));
}

TEST(DownloadDecisions, ServiceNamesStayInsideTheFolder) {
    EXPECT_EQ(safe_local_name("../../.bashrc"), ".._.._.bashrc");
    EXPECT_EQ(safe_local_name("/etc/passwd"), "_etc_passwd");
    EXPECT_EQ(safe_local_name("a\nb"), "a_b");
    EXPECT_FALSE(safe_local_name(""));
    EXPECT_FALSE(safe_local_name("."));
    EXPECT_FALSE(safe_local_name(".."));
    // Two-byte characters keep their bytes, backslash trail bytes included.
    std::string gbk = GBK("表格.xls");  // 表 is 0xB1 0xED, 格 ends in 0xF1
    EXPECT_EQ(safe_local_name(gbk), gbk);
    std::string with_5c = std::string("\x81\x5c", 2) + "x";
    EXPECT_EQ(safe_local_name(with_5c), with_5c);
}

// The hidden name of a replacement fits in a file name on disk, cut at whole
// characters; a name taken after the plan is planned again by the row's rule.
TEST(DownloadDecisions, HiddenNamesFitAndTakenNamesArePlannedAgain) {
    EXPECT_EQ(replacement_name("a.txt", 7), ".qorvel-7-a.txt");
    std::string chinese;
    for (int i = 0; i < 100; ++i) chinese += utf8_to_gbk("中");  // 300 bytes on disk
    std::string hidden = replacement_name(chinese, 123);
    std::string on_disk = text_to_path(hidden).native();
    EXPECT_LE(on_disk.size(), 255u);
    EXPECT_GT(on_disk.size(), 250u);
    EXPECT_EQ(gbk_to_utf8(hidden).substr(0, 12), ".qorvel-123-");
    EXPECT_EQ(hidden.size() % 2, 12 % 2) << "no half character";

    std::set<std::string> taken{"/d/a.txt", "/d/.qorvel-9-b.txt"};
    auto exists = [&](const std::string& p) { return taken.count(p) > 0; };
    auto random = [] { return 12345; };
    EXPECT_EQ(retarget("/d/", "a.txt", 1, 9, exists, random), "/d/12345a.txt");
    EXPECT_EQ(retarget("/d/", "a.txt", 0, 9, exists, random), "/d/.qorvel-9-a.txt");
    EXPECT_EQ(retarget("/d/", "b.txt", 0, 9, exists, random), std::nullopt);
    EXPECT_EQ(retarget(
                  "/d/", "a.txt", 1, 9, [](const std::string&) { return true; }, random),
              std::nullopt);
}

TEST(DownloadDecisions, SameNamePolicies) {
    std::set<std::string> taken{"/d/a.txt", "/d/10000a.txt"};
    auto exists = [&](const std::string& p) { return taken.count(p) > 0; };
    int next = 10000;
    auto random = [&] { return next++; };

    auto fresh = plan_target("/d/", "b.txt", 0, exists, random);
    EXPECT_EQ(fresh.final_path, "/d/b.txt");
    EXPECT_EQ(fresh.replaces, "");

    auto overwrite = plan_target("/d/", "a.txt", 0, exists, random);
    EXPECT_EQ(overwrite.final_path, "/d/a.txt");
    EXPECT_EQ(overwrite.replaces, "/d/a.txt") << "replaced after the new file is complete";

    auto renamed = plan_target("/d/", "a.txt", 1, exists, random);
    EXPECT_EQ(renamed.final_path, "/d/10001a.txt") << "a taken number is skipped";
    EXPECT_EQ(renamed.replaces, "");

    auto all_taken = plan_target(
        "/d/", "a.txt", 1, [](const std::string&) { return true; }, random);
    EXPECT_FALSE(all_taken.ok);
}

}  // namespace
}  // namespace qorvel::transfer
