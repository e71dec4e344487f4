// FTP uploads against a real pure-ftpd on loopback, passive and active.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

class FtpUploadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        EngineSettings s;
        s.retry_wait_ms = 50;
        s.max_attempts = 3;
        set_engine_settings(s);
        ftpd_ = std::make_unique<test::PureFtpdPeer>();
    }
    static void TearDownTestSuite() { ftpd_.reset(); }
    void SetUp() override { ASSERT_TRUE(ftpd_->error().empty()) << ftpd_->error(); }
    void TearDown() override {
        for (const auto& n : uploaded_) fs::remove(test::PureFtpdPeer::home() / n);
    }

    // A unique remote name, removed after the test.
    std::string remote(const std::string& ext) {
        std::string n = "qorvel-engine-" + std::to_string(getpid()) + "-" +
                        std::to_string(uploaded_.size()) + ext;
        uploaded_.push_back(n);
        return n;
    }

    TaskParam param(const fs::path& local, const std::string& name) {
        TaskParam p;
        p.mode_flags = kModeUpload;
        p.url = ftpd_->url(name);
        p.local_path = path_to_text(local);
        p.timeout_1 = p.timeout_2 = p.timeout_3 = 5000;
        p.user_name.clear();  // the engine's anonymous default
        p.password.clear();
        rec_.attach(p);
        return p;
    }

    Outcome finish(FtpUpload& u) {
        EXPECT_TRUE(u.wait_idle(30000)) << rec_.log();
        EXPECT_EQ(rec_.count(kEventEnded), 1) << rec_.log();
        EXPECT_EQ(rec_.events().back().first, kEventEnded);
        EXPECT_FALSE(u.running());
        EXPECT_EQ(u.bytes_sent(), 0);
        return u.outcome();
    }

    static inline std::unique_ptr<test::PureFtpdPeer> ftpd_;
    std::vector<std::string> uploaded_;
    test::TempDir dir_{"qorvel-up"};
    EngineRecorder rec_;
};

TEST_F(FtpUploadTest, PassiveUploadIsByteExactWithChunkEvents) {
    std::string data = test::random_bytes(3 << 20, 11);
    test::write_file(dir_.path() / "up.bin", data);
    std::string name = remote(".bin");
    TaskParam p = param(dir_.path() / "up.bin", name);
    p.send_chunk = 256 << 10;
    FtpUpload::sent_since_last_query();
    FtpUpload u;
    ASSERT_TRUE(u.start(p));
    Outcome o = finish(u);
    ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec_.log();
    EXPECT_EQ(o.bytes, static_cast<std::int64_t>(data.size()));
    EXPECT_TRUE(test::read_file(test::PureFtpdPeer::home() / name) == data);

    std::int64_t chunks = 0, part = -1;
    for (auto [code, value] : rec_.events()) {
        if (code == kEventChunkSent) chunks += value;
        if (code == kEventPartBegins) part = value;
    }
    EXPECT_EQ(part, static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(chunks, static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(rec_.count(kEventChunkSent), 12);
    EXPECT_EQ(rec_.count(kEventConnectionEnded), 1);
    // Commands count too, so the process-wide figure exceeds the file.
    std::int64_t sent = FtpUpload::sent_since_last_query();
    EXPECT_GT(sent, static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(FtpUpload::sent_since_last_query(), 0) << "read and reset";

    EXPECT_TRUE(rec_.said("USER anonymous", 1));
    EXPECT_TRUE(rec_.said("PASS ******", 1) || rec_.said("230 Anonymous user logged in", 2));
    EXPECT_TRUE(rec_.said("REST 100", 1));
    EXPECT_TRUE(rec_.said("PASV", 1));
    EXPECT_TRUE(rec_.said("TYPE I", 1));
    EXPECT_TRUE(rec_.said("STOR " + name, 1));
    EXPECT_TRUE(rec_.said("QUIT", 1));
    // pure-ftpd has no HASH: the upload stands unchecked, as before servers were asked.
    EXPECT_TRUE(rec_.said("OPTS HASH MD5", 1));
    EXPECT_FALSE(o.verified);
    EXPECT_EQ(o.upload, Outcome::Upload::server_has_no_hash);
    EXPECT_TRUE(rec_.said(utf8_to_gbk("登录成功")));
    EXPECT_TRUE(rec_.said(utf8_to_gbk("开始发送数据")));
}

TEST_F(FtpUploadTest, ActiveModeWhenPassiveIsUnavailable) {
    // Occupy pure-ftpd's whole passive range so PASV cannot be served.
    int low = test::PureFtpdPeer::passive_low();
    std::vector<int> held;
    for (int port = low; port <= low + 9; ++port) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0)
            held.push_back(fd);
        else
            ::close(fd);
    }
    ASSERT_EQ(held.size(), 10u) << "another program holds a port of the passive range";
    std::string data = test::random_bytes(1 << 20, 12);
    test::write_file(dir_.path() / "active.bin", data);
    std::string name = remote(".bin");
    FtpUpload u;
    ASSERT_TRUE(u.start(param(dir_.path() / "active.bin", name)));
    Outcome o = finish(u);
    for (int fd : held) ::close(fd);
    ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec_.log();
    EXPECT_TRUE(rec_.said(utf8_to_gbk("尝试主动模式连接"))) << rec_.log();
    EXPECT_TRUE(rec_.said_containing("PORT 127,0,0,1,"));
    EXPECT_TRUE(test::read_file(test::PureFtpdPeer::home() / name) == data);
}

TEST_F(FtpUploadTest, TransferTypeFollowsTheExtensionList) {
    std::string text = "line one\r\nline two\r\n";
    test::write_file(dir_.path() / "notes.txt", text);
    test::write_file(dir_.path() / "pack.ZIP", text);
    {
        TaskParam p = param(dir_.path() / "pack.ZIP", remote(".zip"));
        p.transfer_type = 3;
        FtpUpload u;
        ASSERT_TRUE(u.start(p));
        ASSERT_EQ(finish(u).result, Result::success) << rec_.log();
        EXPECT_TRUE(rec_.said("TYPE I", 1));
        EXPECT_FALSE(rec_.said("TYPE A", 1));
    }
    EngineRecorder rec;
    TaskParam p = param(dir_.path() / "notes.txt", remote(".txt"));
    rec.attach(p);
    p.transfer_type = 3;
    FtpUpload u;
    ASSERT_TRUE(u.start(p));
    ASSERT_TRUE(u.wait_idle(30000));
    EXPECT_EQ(u.outcome().result, Result::success) << rec.log();
    EXPECT_TRUE(rec.said("TYPE A", 1));
}

TEST_F(FtpUploadTest, FinishWhileSendingStopsTheTask) {
    std::string data = test::random_bytes(1 << 20, 13);
    test::write_file(dir_.path() / "slow.bin", data);
    TaskParam p = param(dir_.path() / "slow.bin", remote(".bin"));
    p.rate_limit = 64 << 10;
    FtpUpload u;
    ASSERT_TRUE(u.start(p));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_GT(u.bytes_sent(), 0);
    EXPECT_TRUE(u.finish());
    EXPECT_FALSE(u.finish()) << "released by the first finish";
    Outcome o = finish(u);
    EXPECT_EQ(o.result, Result::stopped) << rec_.log();
    EXPECT_LT(o.bytes, static_cast<std::int64_t>(data.size()));
}

TEST_F(FtpUploadTest, MissingLocalFileFails) {
    FtpUpload u;
    std::string missing = path_to_text(dir_.path() / "nope.bin");
    ASSERT_TRUE(u.start(param(dir_.path() / "nope.bin", remote(".bin"))));
    Outcome o = finish(u);
    EXPECT_EQ(o.result, Result::failed);
    EXPECT_EQ(o.message, utf8_to_gbk("打开文件失败，请检查磁盘是否存在 " + gbk_to_utf8(missing) +
                                     " 这个文件"));
}

// The file is read where it is: a link is not followed, and a FIFO swapped in
// for the file fails at once instead of holding the task until a writer comes.
TEST_F(FtpUploadTest, ALinkOrAFifoInPlaceOfTheFileFailsAtOnce) {
    test::write_file(dir_.path() / "id_rsa", "secret");
    fs::create_symlink(dir_.path() / "id_rsa", dir_.path() / "notes.txt");
    ASSERT_EQ(::mkfifo((dir_.path() / "swapped.bin").c_str(), 0600), 0);
    for (const char* local : {"notes.txt", "swapped.bin"}) {
        EngineRecorder rec;
        TaskParam p = param(dir_.path() / local, remote(".bin"));
        rec.attach(p);
        FtpUpload u;
        ASSERT_TRUE(u.start(p));
        if (!u.wait_idle(3000)) {
            ADD_FAILURE() << local << " holds the task";
            // A writer that comes and goes lets a waiting open return.
            int w = ::open((dir_.path() / local).c_str(), O_WRONLY | O_NONBLOCK);
            if (w >= 0) ::close(w);
            ASSERT_TRUE(u.wait_idle(30000));
        }
        EXPECT_EQ(u.outcome().result, Result::failed) << local << rec.log();
        EXPECT_FALSE(rec.said("STOR " + uploaded_.back(), 1)) << local;
    }
    EXPECT_FALSE(fs::exists(test::PureFtpdPeer::home() / uploaded_[0]));
}

// A file written to during the send leaves the server with neither version:
// grown, or rewritten in place at the same size, it fails the task.
TEST_F(FtpUploadTest, AFileChangedWhileItIsSentFails) {
    const std::string data = test::random_bytes(128 << 10, 14);
    for (bool grow : {true, false}) {
        test::write_file(dir_.path() / "live.bin", data);
        EngineRecorder rec;
        TaskParam p = param(dir_.path() / "live.bin", remote(".bin"));
        rec.attach(p);
        // A second's worth a piece: the second piece waits out a pause.
        p.rate_limit = 64 << 10;
        FtpUpload u;
        ASSERT_TRUE(u.start(p));
        for (int i = 0; i < 500 && u.bytes_sent() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_GT(u.bytes_sent(), 0) << rec.log();
        {
            std::ofstream out(dir_.path() / "live.bin",
                              grow ? std::ios::binary | std::ios::app
                                   : std::ios::binary | std::ios::in | std::ios::out);
            out << std::string(4096, 'x');
        }
        ASSERT_TRUE(u.wait_idle(30000));
        Outcome o = u.outcome();
        EXPECT_EQ(o.result, Result::failed) << grow << rec.log();
        EXPECT_EQ(o.message, utf8_to_gbk("文件在上传中被改动")) << grow;
        EXPECT_EQ(rec.count(kEventEnded), 1);
    }
}

TEST_F(FtpUploadTest, FinishCalledFromTheEndEventDoesNotHang) {
    // The upload queue finishes its object from inside the event-4 callback.
    std::string data = "small";
    test::write_file(dir_.path() / "small.bin", data);
    FtpUpload u;
    std::atomic<bool> finished_inside{false};
    rec_.on_end = [&] { finished_inside = u.finish(); };
    ASSERT_TRUE(u.start(param(dir_.path() / "small.bin", remote(".bin"))));
    Outcome o = finish(u);
    EXPECT_EQ(o.result, Result::success) << rec_.log();
    EXPECT_TRUE(finished_inside.load());
}

}  // namespace
}  // namespace qorvel::engine
