// HTTP downloads against a real nginx on loopback.
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "net/charset.h"
#include "support/engine_peers.h"
#include "support/engine_recorder.h"
#include "transfer/engine/engine.h"

namespace qorvel::engine {
namespace {

namespace fs = std::filesystem;
using test::EngineRecorder;
using Result = Outcome::Result;

class HttpDownloadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        EngineSettings s;
        s.retry_wait_ms = 50;
        s.max_attempts = 3;
        set_engine_settings(s);
        www_ = std::make_unique<test::TempDir>("qorvel-www");
        data_ = test::random_bytes(4 << 20, 7);
        test::write_file(www_->path() / "data.bin", data_);
        nginx_ = std::make_unique<test::NginxPeer>(www_->path());
    }
    static void TearDownTestSuite() {
        nginx_.reset();
        www_.reset();
    }
    void SetUp() override { ASSERT_TRUE(nginx_->error().empty()) << nginx_->error(); }

    TaskParam param(const std::string& path, const std::string& local) {
        TaskParam p;
        p.url = nginx_->url(path);
        p.local_path = path_to_text(out_.path() / local);
        p.timeout_1 = p.timeout_2 = p.timeout_3 = 5000;
        rec_.attach(p);
        return p;
    }

    // Waits for the end and checks the one event 4 every task owes.
    Outcome finish(Download& d) {
        EXPECT_TRUE(d.wait_idle(30000)) << rec_.log();
        EXPECT_EQ(rec_.count(kEventEnded), 1) << rec_.log();
        EXPECT_EQ(rec_.events().back().first, kEventEnded) << "event 4 must be the last";
        EXPECT_FALSE(d.running());
        EXPECT_EQ(d.bytes_received(), 0) << "an ended object answers as an idle one";
        return d.outcome();
    }

    static inline std::unique_ptr<test::TempDir> www_;
    static inline std::unique_ptr<test::NginxPeer> nginx_;
    static inline std::string data_;
    test::TempDir out_{"qorvel-dl"};
    EngineRecorder rec_;
};

TEST_F(HttpDownloadTest, SingleConnectionIsByteExactAndCopiesItsRecord) {
    Download d;
    TaskParam p = param("/data.bin", "one.bin");
    ASSERT_TRUE(d.start(p));
    p.url = "garbage";  // the task holds its own copy
    p.local_path.clear();
    Outcome o = finish(d);
    EXPECT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec_.log();
    EXPECT_EQ(o.bytes, static_cast<std::int64_t>(data_.size()));
    EXPECT_TRUE(test::read_file(out_.path() / "one.bin") == data_);
    EXPECT_EQ(rec_.count(kEventPartBegins), 1);
    EXPECT_EQ(rec_.count(kEventConnectionEnded), 1);
    std::string where = "127.0.0.1:" + std::to_string(nginx_->port());
    EXPECT_TRUE(rec_.said(utf8_to_gbk("正在连接 [" + where + "]")));
    EXPECT_TRUE(rec_.said(utf8_to_gbk("连接 [" + where + "]成功")));
}

TEST_F(HttpDownloadTest, FourConnectionsSplitTheFileAndStayByteExact) {
    Download d;
    TaskParam p = param("/data.bin", "four.bin");
    p.connections = 4;
    // Slow enough that the further connections find most of the file still to come.
    p.rate_limit = 2 << 20;
    ASSERT_TRUE(d.start(p));
    Outcome o = finish(d);
    ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec_.log();
    EXPECT_TRUE(test::read_file(out_.path() / "four.bin") == data_);
    std::int64_t parts = 0;
    int ended = 0;
    for (auto [code, value] : rec_.events())
        if (code == kEventConnectionEnded) {
            parts += value;
            ++ended;
        }
    EXPECT_GE(ended, 4) << rec_.log();
    EXPECT_EQ(parts, static_cast<std::int64_t>(data_.size()));
}

TEST_F(HttpDownloadTest, FourConnectionsAtFullSpeed) {
    Download d;
    TaskParam p = param("/data.bin", "fast.bin");
    p.connections = 4;
    p.receive_chunk = 1 << 20;
    ASSERT_TRUE(d.start(p));
    Outcome o = finish(d);
    ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec_.log();
    EXPECT_TRUE(test::read_file(out_.path() / "fast.bin") == data_);
}

TEST_F(HttpDownloadTest, NotFoundIsAFailureNotACompletion) {
    Download d;
    ASSERT_TRUE(d.start(param("/missing.bin", "missing.bin")));
    Outcome o = finish(d);
    EXPECT_EQ(o.result, Result::failed);
    EXPECT_EQ(o.message, utf8_to_gbk("出现错误"));
    EXPECT_TRUE(rec_.said(utf8_to_gbk("出现错误"), 3));
    EXPECT_FALSE(fs::exists(out_.path() / "missing.bin"));
}

TEST_F(HttpDownloadTest, RedirectIsFollowed) {
    Download d;
    ASSERT_TRUE(d.start(param("/moved/data.bin", "moved.bin")));
    Outcome o = finish(d);
    ASSERT_EQ(o.result, Result::success) << rec_.log();
    EXPECT_TRUE(rec_.said(utf8_to_gbk("重定向到 [" + nginx_->url("/data.bin") + "]")))
        << rec_.log();
    EXPECT_TRUE(test::read_file(out_.path() / "moved.bin") == data_);
}

TEST_F(HttpDownloadTest, ExistingFileIsNeverOverwritten) {
    test::write_file(out_.path() / "have.bin", "old");
    test::write_file(out_.path() / "have(1).bin", "old too");
    {
        Download d;  // answer 0: the engine picks the next free name
        ASSERT_TRUE(d.start(param("/data.bin", "have.bin")));
        ASSERT_EQ(finish(d).result, Result::success) << rec_.log();
        EXPECT_TRUE(test::read_file(out_.path() / "have(2).bin") == data_);
        EXPECT_TRUE(rec_.said(
            utf8_to_gbk("发现同名文件, 系统自动更名为" + (out_.path() / "have(2).bin").string())))
            << rec_.log();
    }
    {
        EngineRecorder rec;
        rec.answer = [](int code) { return code == kEventLocalFileExists ? kExistsGiveUp : 0; };
        TaskParam p = param("/data.bin", "have.bin");
        rec.attach(p);
        Download d;
        ASSERT_TRUE(d.start(p));
        ASSERT_TRUE(d.wait_idle(30000));
        EXPECT_EQ(rec.count(kEventEnded), 1);
        EXPECT_EQ(rec.count(kEventLocalFileExists), 1);
        EXPECT_EQ(d.outcome().result, Result::failed);
        EXPECT_EQ(d.outcome().message, utf8_to_gbk("发现同名文件, 用户选择放弃下载"));
    }
    {
        EngineRecorder rec;
        Download d;
        std::string chosen = path_to_text(out_.path() / "chosen.bin");
        rec.answer = [&](int code) {
            if (code != kEventLocalFileExists) return 0;
            d.choose_local_path(chosen);
            return kExistsCallerRenamed;
        };
        TaskParam p = param("/data.bin", "have.bin");
        rec.attach(p);
        ASSERT_TRUE(d.start(p));
        ASSERT_TRUE(d.wait_idle(30000));
        EXPECT_EQ(d.outcome().result, Result::success) << rec.log();
        EXPECT_TRUE(test::read_file(out_.path() / "chosen.bin") == data_);
    }
    EXPECT_EQ(test::read_file(out_.path() / "have.bin"), "old");
    EXPECT_EQ(test::read_file(out_.path() / "have(1).bin"), "old too");
}

TEST_F(HttpDownloadTest, StopWhileRunningEndsOnceAsStopped) {
    Download d;
    TaskParam p = param("/data.bin", "stopped.bin");
    p.rate_limit = 256 << 10;
    ASSERT_TRUE(d.start(p));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_GT(d.bytes_received(), 0);
    d.stop();
    EXPECT_FALSE(d.running());
    Outcome o = finish(d);
    EXPECT_EQ(o.result, Result::stopped);
    EXPECT_LT(o.bytes, static_cast<std::int64_t>(data_.size()));
}

TEST_F(HttpDownloadTest, StopAndSaveThenResumeIsByteExact) {
    std::string record;
    {
        Download d;
        TaskParam p = param("/data.bin", "resumed.bin");
        p.connections = 2;
        p.rate_limit = 1 << 20;
        ASSERT_TRUE(d.start(p));
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        ASSERT_TRUE(d.stop_and_save(record));
        EXPECT_FALSE(d.stop_and_save(record)) << "released at once";
        Outcome o = finish(d);
        ASSERT_EQ(o.result, Result::stopped);
        ASSERT_GT(o.bytes, 0);
        ASSERT_LT(o.bytes, static_cast<std::int64_t>(data_.size()));
        ASSERT_FALSE(record.empty());
    }
    EngineRecorder rec;
    TaskParam p = param("/data.bin", "ignored-on-resume.bin");
    rec.attach(p);
    Download d;
    ASSERT_TRUE(d.start(p, record));
    ASSERT_TRUE(d.wait_idle(30000));
    EXPECT_EQ(rec.count(kEventEnded), 1);
    EXPECT_EQ(rec.count(kEventLocalFileExists), 0) << "a resumed file is our own";
    ASSERT_EQ(d.outcome().result, Result::success) << rec.log();
    EXPECT_TRUE(test::read_file(out_.path() / "resumed.bin") == data_);
    EXPECT_FALSE(fs::exists(out_.path() / "ignored-on-resume.bin"));
}

// The parts of a resume record: (start, received) each.
std::vector<std::pair<std::int64_t, std::int64_t>> parts_of(const std::string& record) {
    std::istringstream in(record);
    std::string line;
    std::getline(in, line);  // magic
    for (int field = 0; field < 2; ++field) {
        std::size_t n = 0;
        char colon = 0;
        in >> n;
        in.get(colon);
        in.ignore(static_cast<std::streamsize>(n + 1));
    }
    std::int64_t total = 0;
    std::size_t count = 0;
    in >> total >> count;
    std::vector<std::pair<std::int64_t, std::int64_t>> parts;
    for (std::size_t i = 0; i < count && i < 64; ++i) {
        std::int64_t start = 0, end = 0, received = 0;
        in >> start >> end >> received;
        parts.emplace_back(start, received);
    }
    return parts;
}

// A checkpoint taken while the download runs claims only bytes that are in
// the partial file, and a later start from it (the program killed there)
// ends byte-exact; a record of a file that changed since starts over.
TEST_F(HttpDownloadTest, ACheckpointClaimsOnlyWrittenBytesAndResumesOrStartsOverWhenChanged) {
    std::string old_content = test::random_bytes(3 << 20, 11);
    test::write_file(www_->path() / "changing.bin", old_content);
    std::string checkpoint;
    {
        Download d;
        TaskParam p = param("/changing.bin", "changing.bin");
        p.connections = 2;
        p.rate_limit = 1 << 20;
        EXPECT_FALSE(d.checkpoint(checkpoint)) << "no task yet";
        ASSERT_TRUE(d.start(p));
        for (int i = 0; i < 300 && d.bytes_received() < (512 << 10); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(d.checkpoint(checkpoint));
        // What the record claims is on disk now, whatever comes later.
        std::string part = test::read_file(out_.path() / "changing.bin.part");
        std::int64_t claimed = 0;
        for (auto [start, received] : parts_of(checkpoint)) {
            ASSERT_LE(start + received, static_cast<std::int64_t>(part.size()));
            EXPECT_TRUE(part.compare(static_cast<std::size_t>(start),
                                     static_cast<std::size_t>(received),
                                     old_content.substr(static_cast<std::size_t>(start),
                                                        static_cast<std::size_t>(received))) == 0);
            claimed += received;
        }
        EXPECT_GT(claimed, 0);
        EXPECT_LT(claimed, static_cast<std::int64_t>(old_content.size()));
        std::string later;
        ASSERT_TRUE(d.stop_and_save(later));  // keeps the partial file; the later record is dropped
        finish(d);
    }
    {
        EngineRecorder rec;
        TaskParam p = param("/changing.bin", "ignored.bin");
        rec.attach(p);
        Download d;
        ASSERT_TRUE(d.start(p, checkpoint));
        EXPECT_GT(d.bytes_received(), 0) << "went on from the checkpoint";
        ASSERT_TRUE(d.wait_idle(30000));
        ASSERT_EQ(d.outcome().result, Result::success) << rec.log();
        EXPECT_TRUE(test::read_file(out_.path() / "changing.bin") == old_content);
    }
    // Once more to the same checkpoint, but the server's file is another one now.
    fs::remove(out_.path() / "changing.bin");
    std::string new_content = test::random_bytes((3 << 20) + 5, 12);
    {
        Download d;
        TaskParam p = param("/changing.bin", "first.bin");
        p.rate_limit = 1 << 20;
        ASSERT_TRUE(d.start(p));
        for (int i = 0; i < 300 && d.bytes_received() < (256 << 10); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(d.checkpoint(checkpoint));
        std::string later;
        ASSERT_TRUE(d.stop_and_save(later));
        ASSERT_TRUE(d.wait_idle(30000));
    }
    test::write_file(www_->path() / "changing.bin", new_content);
    EngineRecorder rec;
    TaskParam p = param("/changing.bin", "ignored.bin");
    rec.attach(p);
    Download d;
    ASSERT_TRUE(d.start(p, checkpoint));
    ASSERT_TRUE(d.wait_idle(30000));
    ASSERT_EQ(d.outcome().result, Result::success) << rec.log();
    EXPECT_TRUE(test::read_file(out_.path() / "first.bin") == new_content)
        << "no byte of the old version stayed";
}

TEST_F(HttpDownloadTest, RefusedStartsSendNoEvents) {
    Download d;
    TaskParam bad = param("/data.bin", "x.bin");
    bad.url = "";
    EXPECT_FALSE(d.start(bad));
    bad.url = "127.0.0.1/data.bin";
    EXPECT_FALSE(d.start(bad));
    bad.url = "gopher://127.0.0.1/x";
    EXPECT_FALSE(d.start(bad));
    bad.url = "ftp://127.0.0.1/x";  // downloads speak HTTP only
    EXPECT_FALSE(d.start(bad));
    EXPECT_FALSE(d.start(param("/data.bin", "x.bin"), "not a resume record"));
    EXPECT_FALSE(d.running());
    EXPECT_TRUE(rec_.events().empty());
    std::string record;
    EXPECT_FALSE(d.stop_and_save(record));
    EXPECT_FALSE(d.add_connection());
    EXPECT_EQ(d.recent_bytes(), 0);
    d.stop();
}

TEST_F(HttpDownloadTest, OneTaskPerObject) {
    Download d;
    TaskParam p = param("/data.bin", "busy.bin");
    p.rate_limit = 1 << 20;
    ASSERT_TRUE(d.start(p));
    EXPECT_FALSE(d.start(param("/data.bin", "busy2.bin")));
    EXPECT_TRUE(d.add_connection());
    d.stop();
    finish(d);
    EXPECT_FALSE(fs::exists(out_.path() / "busy2.bin"));
}

}  // namespace
}  // namespace qorvel::engine
