// Stored content against hostile clients: colliding MD5s, deleted content,
// old ids, names behind the access password and the FTP quota per address;
// and a data folder of the older layout opened by this store.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "client_view.h"
#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"
#include "raw_peer.h"
#include "store.h"

namespace qorvel::test {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<ServiceInstance> started(std::vector<std::string> args = {}) {
    ServiceInstanceOptions o;
    o.extra_args = std::move(args);
    auto s = std::make_unique<ServiceInstance>(o);
    EXPECT_TRUE(s->start()) << read_file(s->log_file());
    return s;
}

std::string bytes_of_hex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// The published colliding pair of Wang et al. (2004): two 128-byte blocks.
const std::string kCollisionA = bytes_of_hex(
    "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f8955ad340609f4b30283e488832571"
    "415a085125e8f7cdc99fd91dbdf280373c5bd8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306"
    "d248cda0e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70");
const std::string kCollisionB = bytes_of_hex(
    "d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f8955ad340609f4b30283e4888325f1"
    "415a085125e8f7cdc99fd91dbd7280373c5bd8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306"
    "d248cda0e99f33420f577ee8ce54b67080280d1ec69821bcb6a8839396f965ab6ff72a70");

// An FTP upload and its registration, both from `source`; the new id or -1.
int upload_from(const ServiceInstance& s, const std::string& source, const Login& who,
                const std::string& name, const std::string& bytes, int folder = 0) {
    FtpControl ftp(s.host(), s.ftp_port(), source);
    if (ftp.upload(name + ".qrvllswj", bytes).substr(0, 3) != "226") return -1;
    return ClientView::registered_id(body_of(
        http_from(source, s.host(), s.web_port(), "POST",
                  "/tjwj.php?bsm=" + who.key + "&mlid=" + std::to_string(folder), "wjdl=" + name)));
}

int claim(const ClientView& view, const Login& who, const std::string& md5) {
    return ClientView::registered_id(
        view.post("/jsmc.php?bsm=" + who.key + "&mlid=0&md5=" + md5, "wjdl=claimed.bin"));
}

TEST(HostileContent, AnMd5CollisionNeverReplacesAnotherUploadersBytes) {
    ASSERT_EQ(kCollisionA.size(), 128u);
    ASSERT_NE(kCollisionA, kCollisionB);
    ASSERT_EQ(service::md5_hex(kCollisionA), service::md5_hex(kCollisionB));
    ASSERT_EQ(service::md5_hex(kCollisionA), "79054025255fb1a26e4bc422aef54eb4");
    auto s = started();
    ClientView view(*s);
    Login guest = view.login("guest", "guest123");
    Login demo = view.login("demo", "demo123");
    ASSERT_TRUE(guest.ok() && demo.ok());

    // The earlier uploader's block is stored first; the later one keeps its own.
    int first = upload_from(*s, "127.0.0.81", guest, "first.bin", kCollisionA);
    int second = upload_from(*s, "127.0.0.82", demo, "second.bin", kCollisionB);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    EXPECT_EQ(web_get(s->files3() + "/up/" + view.storage_link(second, "8888")), kCollisionB);
    EXPECT_EQ(web_get(s->files3() + "/up/" + view.storage_link(first, "0")), kCollisionA);
    // The same bytes again are stored once and still served.
    int again = upload_from(*s, "127.0.0.82", demo, "again.bin", kCollisionB);
    ASSERT_GT(again, 0);
    EXPECT_EQ(web_get(s->files3() + "/up/" + view.storage_link(again, "8888")), kCollisionB);
    // The digest cannot tell which of the two is meant: no claim by it.
    EXPECT_EQ(claim(view, demo, service::md5_hex(kCollisionA)), -1);
}

TEST(HostileContent, DeletedContentIsNeitherClaimedNorKept) {
    auto s = started();
    ClientView view(*s);
    Login demo = view.login("demo", "demo123");
    Login guest = view.login("guest", "guest123");
    ASSERT_TRUE(demo.ok() && guest.ok());
    const std::string secret = "demo's private notes, once uploaded";
    const std::string md5 = service::md5_hex(secret);
    int id = upload_from(*s, "127.0.0.83", demo, "notes.txt", secret);
    ASSERT_GT(id, 0);
    fs::path blob = s->data_dir() / "data" / "blobs" / md5.substr(0, 2) / md5;
    EXPECT_TRUE(fs::exists(blob));
    // A second file of the same content keeps it while it exists.
    int copy = claim(view, demo, md5);
    ASSERT_GT(copy, 0);
    EXPECT_EQ(view.get("/get/plzc.php?zh=" + demo.key + "&pid=" + std::to_string(id) + ","), "1");
    EXPECT_EQ(web_get(s->files3() + "/up/" + view.storage_link(copy, "8888")), secret);
    EXPECT_EQ(view.get("/get/plzc.php?zh=" + demo.key + "&pid=" + std::to_string(copy) + ","), "1");
    // Once no file refers to it, nobody can claim it by its digest, and it is gone.
    EXPECT_EQ(claim(view, guest, md5), -1);
    EXPECT_FALSE(fs::exists(blob));

    // The same when its folder is deleted.
    std::string made =
        view.post("/post/cjml.php?zh=" + demo.key, Form().add("fwmm", "temp").add("ejml", 0).str());
    int folder = std::atoi(made.substr(3).c_str());
    ASSERT_GT(folder, 0) << made;
    const std::string other = "another private file";
    ASSERT_GT(upload_from(*s, "127.0.0.83", demo, "other.txt", other, folder), 0);
    EXPECT_EQ(view.post("/post/scml.php?pid=" + std::to_string(folder) + "&zh=" + demo.key,
                        "vipjhm=" + std::to_string(folder)),
              "1");
    EXPECT_EQ(claim(view, guest, service::md5_hex(other)), -1);
}

TEST(HostileContent, IdsOfDeletedFilesAndFoldersAreNotGivenAgain) {
    auto s = started();
    ClientView view(*s);
    Login demo = view.login("demo", "demo123");
    ASSERT_TRUE(demo.ok());
    auto newest_file = [&] {
        view.post("/post/cjwjpc.php?mlpid=0&zh=" + demo.key,
                  "wjm=link.txt&wldz=http://example.org/a.txt");
        return view.files(demo, 0, 0).rows.at(0).id;
    };
    int file = newest_file();
    EXPECT_EQ(view.get("/get/plzc.php?zh=" + demo.key + "&pid=" + std::to_string(file) + ","), "1");
    EXPECT_GT(newest_file(), file);
    auto new_folder = [&] {
        std::string made = view.post("/post/cjml.php?zh=" + demo.key,
                                     Form().add("fwmm", "temp").add("ejml", 0).str());
        return std::atoi(made.substr(3).c_str());
    };
    int folder = new_folder();
    ASSERT_GT(folder, 0);
    EXPECT_EQ(view.post("/post/scml.php?pid=" + std::to_string(folder) + "&zh=" + demo.key,
                        "vipjhm=" + std::to_string(folder)),
              "1");
    // Also after a restart.
    ASSERT_TRUE(s->restart()) << read_file(s->log_file());
    EXPECT_GT(new_folder(), folder);
}

TEST(HostileListing, NothingOfAProtectedAccountShowsBeforeItsPassword) {
    auto s = started();
    ClientView view(*s);
    Login demo = view.login("demo", "demo123");  // from 127.0.0.1
    ASSERT_TRUE(demo.ok());
    auto from = [&](const std::string& target) {
        return body_of(http_from("127.0.0.91", s->host(), s->web_port(), "GET", target));
    };
    const std::string pid = "?pid=" + demo.pid;
    for (const char* given : {"", "&fwmm=", "&fwmm=0", "&fwmm=1234"}) {
        EXPECT_EQ(text_find(from("/mljg/mljg.php" + pid + "&ml=0&yms=0&khdzs=1" + given),
                            GBK("我的文档")),
                  -1)
            << given;
        std::string list = from("/mljg/wjdq.php" + pid + "&ml=0" + given);
        EXPECT_EQ(text_find(list, GBK("文件名：")), -1) << given;
        EXPECT_EQ(text_find(list, GBK("大文件.bin")), -1) << given;
    }
    std::string page = from("/wdwj.php" + pid + "&srmm=1234");
    EXPECT_EQ(text_find(page, GBK("我的文档")), -1);
    EXPECT_EQ(text_find(page, GBK("大文件.bin")), -1);
    EXPECT_EQ(text_find(page, "demo"), -1);
    int big = -1;
    for (const auto& r : view.files(demo, 0, 0, true).rows)
        if (r.name == GBK("大文件.bin")) big = r.id;
    ASSERT_GT(big, 0);
    EXPECT_EQ(
        text_find(from("/ym.php?pid=" + std::to_string(big) + "&srmm=1234"), GBK("大文件.bin")),
        -1);

    // The password opens them all; the owner's own session needs none.
    EXPECT_NE(
        text_find(from("/mljg/mljg.php" + pid + "&ml=0&yms=0&khdzs=1&fwmm=8888"), GBK("我的文档")),
        -1);
    EXPECT_NE(text_find(from("/mljg/wjdq.php" + pid + "&ml=0&fwmm=8888"), GBK("大文件.bin")), -1);
    page = from("/wdwj.php" + pid + "&srmm=8888");
    EXPECT_NE(text_find(page, GBK("大文件.bin")), -1);
    EXPECT_NE(text_find(page, "&srmm=8888"), -1);
    EXPECT_FALSE(view.folders(demo, 0).empty());
    // An account without a password is open to everyone.
    Login guest = view.login("guest", "guest123");
    EXPECT_NE(text_find(from("/mljg/wjdq.php?pid=" + guest.pid + "&ml=0"), GBK("样例数据.bin")),
              -1);
}

TEST(HostileFtp, WaitingBytesAreCappedPerAddressAcrossNames) {
    auto s = started({"--ftp-quota", "100000"});
    ClientView view(*s);
    Login demo = view.login("demo", "demo123");
    ASSERT_TRUE(demo.ok());
    auto put = [&](const std::string& source, const std::string& name, size_t size) {
        FtpControl ftp(s->host(), s->ftp_port(), source);
        return ftp.upload(name, std::string(size, 'q')).substr(0, 3);
    };
    auto size_of = [&](const std::string& source, const std::string& name) {
        FtpControl ftp(s->host(), s->ftp_port(), source);
        ftp.reply();
        ftp.command("USER anonymous");
        ftp.command("PASS a@b.c");
        return ftp.command("SIZE " + name).substr(0, 3);
    };
    EXPECT_EQ(put("127.0.0.101", "a.bin.qrvllswj", 60000), "226");
    EXPECT_EQ(put("127.0.0.101", "b.bin.qrvllswj", 60000), "552");
    EXPECT_EQ(size_of("127.0.0.101", "b.bin.qrvllswj"), "550");     // nothing of it is kept
    EXPECT_EQ(put("127.0.0.102", "b.bin.qrvllswj", 60000), "226");  // another address
    EXPECT_EQ(put("127.0.0.101", "c.bin.qrvllswj", 30000), "226");
    // A registered upload no longer waits, and its bytes count no more.
    ASSERT_GT(ClientView::registered_id(
                  body_of(http_from("127.0.0.101", s->host(), s->web_port(), "POST",
                                    "/tjwj.php?bsm=" + demo.key + "&mlid=0", "wjdl=a.bin"))),
              0);
    EXPECT_EQ(put("127.0.0.101", "d.bin.qrvllswj", 60000), "226");

    // A refused resume creates nothing: neither past the end of no file, nor over the quota.
    FtpControl resume(s->host(), s->ftp_port(), "127.0.0.103");
    resume.reply();
    resume.command("USER anonymous");
    resume.command("PASS a@b.c");
    resume.command("PASV");
    EXPECT_EQ(resume.command("REST 100").substr(0, 3), "350");
    EXPECT_EQ(resume.command("STOR new.bin").substr(0, 3), "554");
    EXPECT_EQ(resume.command("SIZE new.bin").substr(0, 3), "550");
    EXPECT_EQ(put("127.0.0.104", "part.bin", 40000), "226");
    EXPECT_EQ(put("127.0.0.104", "full.bin", 60000), "226");
    FtpControl full(s->host(), s->ftp_port(), "127.0.0.104");
    full.reply();
    full.command("USER anonymous");
    full.command("PASS a@b.c");
    full.command("PASV");
    EXPECT_EQ(full.command("STOR more.bin").substr(0, 3), "552");
    full.command("PASV");
    EXPECT_EQ(full.command("REST 40000").substr(0, 3), "350");
    EXPECT_EQ(full.command("STOR part.bin").substr(0, 3), "552");
    EXPECT_EQ(full.command("SIZE more.bin").substr(0, 3), "550");
    EXPECT_EQ(full.command("SIZE part.bin"), "213 40000");
}

// The FTP hash extension: the digest of the asking address's own waiting
// upload, in the algorithm it chose; other names, addresses and algorithms
// get the draft's refusals.
TEST(FtpHash, AnswersTheDigestOfTheAddresssOwnUpload) {
    auto s = started();
    const std::string bytes = std::string(70000, 'q') + std::string("\r\n\0tail", 7);
    FtpControl ftp(s->host(), s->ftp_port(), "127.0.0.84");
    ASSERT_EQ(ftp.upload("h.bin", bytes).substr(0, 3), "226");

    std::vector<std::string> features = {ftp.command("FEAT")};
    for (int i = 0; i < 20 && features.back().substr(0, 4) != "211 "; ++i)
        features.push_back(ftp.reply());
    EXPECT_NE(std::find(features.begin(), features.end(), " HASH SHA-256*;MD5"), features.end());

    const std::string size = std::to_string(bytes.size());
    std::string sha = ftp.command("HASH h.bin");
    EXPECT_EQ(sha.substr(0, 15 + size.size()), "213 SHA-256 0-" + size + " ") << sha;
    EXPECT_EQ(sha.size(), 15 + size.size() + 64 + 6) << sha;
    EXPECT_EQ(ftp.command("OPTS HASH CRC99").substr(0, 3), "504");
    EXPECT_EQ(ftp.command("OPTS HASH md5"), "200 MD5");
    EXPECT_EQ(ftp.command("OPTS HASH"), "200 MD5");
    EXPECT_EQ(ftp.command("HASH /h.bin"),
              "213 MD5 0-" + size + " " + service::md5_hex(bytes) + " h.bin");
    for (const char* absent : {"HASH other.bin", "HASH ../h.bin", "HASH "})
        EXPECT_EQ(ftp.command(absent).substr(0, 3), "550") << absent;

    // Another address neither sees the upload nor learns its digest.
    FtpControl stranger(s->host(), s->ftp_port(), "127.0.0.85");
    EXPECT_EQ(stranger.reply().substr(0, 3), "220");
    EXPECT_EQ(stranger.command("HASH h.bin").substr(0, 3), "530");
    EXPECT_EQ(stranger.command("USER anonymous").substr(0, 3), "331");
    EXPECT_EQ(stranger.command("PASS x@example.com").substr(0, 3), "230");
    EXPECT_EQ(stranger.command("OPTS HASH MD5").substr(0, 3), "200");
    EXPECT_EQ(stranger.command("HASH h.bin").substr(0, 3), "550");
}

// The test aid stores other bytes than arrived, and the digest tells.
TEST(FtpHash, TheCorruptingTestAidChangesWhatIsStored) {
    auto s = started({"--test-ftp-corrupt-stored"});
    const std::string bytes(5000, 'z');
    FtpControl ftp(s->host(), s->ftp_port(), "127.0.0.86");
    ASSERT_EQ(ftp.upload("c.bin", bytes).substr(0, 3), "226");
    std::string stored = bytes;
    stored[0] = static_cast<char>(stored[0] ^ 0x5a);
    EXPECT_EQ(ftp.command("OPTS HASH MD5").substr(0, 3), "200");
    EXPECT_EQ(ftp.command("HASH c.bin"), "213 MD5 0-5000 " + service::md5_hex(stored) + " c.bin");
}

}  // namespace
}  // namespace qorvel::test

namespace qorvel::service {
namespace {

namespace fs = std::filesystem;

void run_sql(sqlite3* db, const char* sql) {
    char* err = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
}

// A data folder as the service left it before contents were told apart by
// SHA-256 and before ids were never given twice.
void write_older_data(const fs::path& dir, const std::string& kept, const std::string& left) {
    fs::create_directories(dir / "blobs");
    for (const std::string& bytes : {kept, left}) {
        std::string md5 = md5_hex(bytes);
        fs::create_directories(dir / "blobs" / md5.substr(0, 2));
        std::ofstream(dir / "blobs" / md5.substr(0, 2) / md5, std::ios::binary) << bytes;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "qorvel.sqlite3").c_str(), &db), SQLITE_OK);
    std::string kept_md5 = md5_hex(kept), left_md5 = md5_hex(left);
    std::string sql =
        "CREATE TABLE sessions (key TEXT PRIMARY KEY, account_id INTEGER NOT NULL, created "
        "INTEGER NOT NULL);"
        "CREATE TABLE folders (id INTEGER PRIMARY KEY, account_id INTEGER NOT NULL, parent_id "
        "INTEGER NOT NULL, name TEXT NOT NULL);"
        "CREATE INDEX folders_parent ON folders(account_id, parent_id);"
        "CREATE TABLE blobs (md5 TEXT PRIMARY KEY, size INTEGER NOT NULL);"
        "CREATE TABLE files (id INTEGER PRIMARY KEY, account_id INTEGER NOT NULL, folder_id "
        "INTEGER NOT NULL, name TEXT NOT NULL, size INTEGER NOT NULL, md5 TEXT, link TEXT NOT "
        "NULL UNIQUE, outside TEXT NOT NULL DEFAULT '', created TEXT NOT NULL, downloads INTEGER "
        "NOT NULL DEFAULT 0);"
        "CREATE INDEX files_folder ON files(account_id, folder_id);"
        "INSERT INTO folders VALUES (1, 1, 0, 'a'), (2, 1, 0, 'b');"
        "INSERT INTO blobs VALUES ('" +
        kept_md5 + "', " + std::to_string(kept.size()) + "), ('" + left_md5 + "', " +
        std::to_string(left.size()) +
        ");"
        "INSERT INTO files VALUES (1, 1, 0, 'kept.txt', " +
        std::to_string(kept.size()) + ", '" + kept_md5 +
        "', 'l1', '', '2024-01-01 00:00:00', 3),"
        "(7, 1, 2, 'out.zip', 0, NULL, 'l7', 'http://example.org/x', '2024-01-01 00:00:00', 0);";
    run_sql(db, sql.c_str());
    sqlite3_close(db);
}

TEST(StoreLayout, AnOlderDataFolderKeepsItsFilesLosesUnusedContentAndGivesNoIdTwice) {
    test::TempDir dir;
    const std::string kept = "still used", left = "no file uses this any more";
    write_older_data(dir.path(), kept, left);
    fs::path left_file = dir.path() / "blobs" / md5_hex(left).substr(0, 2) / md5_hex(left);
    for (int round = 0; round < 2; ++round) {
        Store store(dir.path());
        auto file = store.file(1);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->md5, md5_hex(kept));
        EXPECT_EQ(file->downloads, 3);
        auto path = store.content_path(*file);
        ASSERT_TRUE(path);
        EXPECT_EQ(test::read_file(*path), kept);
        EXPECT_FALSE(fs::exists(left_file));
        EXPECT_FALSE(store.claim_file(1, 0, "x", md5_hex(left)));
        EXPECT_EQ(store.file(7)->outside, "http://example.org/x");
    }
    Store store(dir.path());
    // The next ids lie above every id still known; a deleted newest one stays unused.
    auto link = store.add_link_file(1, 0, "n", "http://example.org/n");
    ASSERT_TRUE(link);
    EXPECT_EQ(*link, 8);
    ASSERT_TRUE(store.delete_files(1, {*link}));
    EXPECT_EQ(store.claim_file(1, 0, "copy.txt", md5_hex(kept)), std::optional<int>(9));
    auto folder = store.create_folder(1, 0, "c");
    EXPECT_EQ(folder, std::optional<int>(3));
    ASSERT_EQ(store.delete_folder(1, *folder), FolderDelete::ok);
    EXPECT_EQ(store.create_folder(1, 0, "d"), std::optional<int>(4));
}

}  // namespace
}  // namespace qorvel::service
