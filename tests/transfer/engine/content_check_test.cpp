// Downloads from the reference service's direct-link host through a proxy that
// damages the answers: the whole file's MD5 the host names must hold for the
// file on disk before it takes its name.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>

#include <sys/stat.h>

#include "net/charset.h"
#include "net/web.h"
#include "support/engine_recorder.h"
#include "support/forwarding.h"
#include "support/process.h"
#include "support/recording_server.h"
#include "support/service_instance.h"
#include "transfer/engine/engine.h"
#include "transfer/engine/messages.h"

namespace qorvel::engine {
namespace {

using Result = Outcome::Result;
using test::Fault;
namespace fs = std::filesystem;

// The seeded "大文件.bin" (4 MiB) of the demo member.
constexpr const char* kBigFile = "/yunxz1.php?pid=2&szmm=8888";

class ContentCheck : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service_ = std::make_unique<test::ServiceInstance>(test::ServiceInstanceOptions{});
        ASSERT_TRUE(service_->start()) << test::read_file(service_->log_file());
        big_ = web_get(service_->direct() + kBigFile);
        ASSERT_EQ(big_.size(), 4u << 20);
    }
    static void TearDownTestSuite() { service_.reset(); }

    void SetUp() override {
        EngineSettings s;
        s.retry_wait_ms = 50;
        s.max_attempts = 3;
        set_engine_settings(s);
    }
    void TearDown() override { set_engine_settings(EngineSettings{}); }

    // One download through the proxy into a fresh folder; the outcome.
    Outcome download(test::EngineRecorder& rec, int connections, const std::string& resume = {}) {
        TaskParam p;
        p.url = "http://" + proxy_.address() + kBigFile;
        p.local_path = path_to_text(dir_->path() / "big.bin");
        p.connections = connections;
        p.receive_chunk = 256 << 10;
        // Slow enough that the further connections start (and ask for ranges)
        // before the first one has read the whole file on loopback.
        if (connections > 1) p.rate_limit = 2 << 20;
        p.timeout_1 = p.timeout_2 = p.timeout_3 = 5000;
        rec.attach(p);
        Download d;
        EXPECT_TRUE(d.start(p, resume));
        EXPECT_TRUE(d.wait_idle(60000)) << rec.log();
        EXPECT_EQ(rec.count(kEventEnded), 1) << rec.log();
        return d.outcome();
    }
    // Nothing under the final name, and no partial file left behind either.
    void expect_nothing_left() {
        int entries = 0;
        for (const auto& e : fs::directory_iterator(dir_->path())) {
            ADD_FAILURE() << "left behind: " << e.path();
            ++entries;
        }
        EXPECT_EQ(entries, 0);
    }

    static inline std::unique_ptr<test::ServiceInstance> service_;
    static inline std::string big_;
    std::shared_ptr<std::atomic<Fault>> fault_ = std::make_shared<std::atomic<Fault>>(Fault::none);
    // Forwards to the direct-link host (its address without "http://").
    test::RecordingServer proxy_{test::forward_with_fault(service_->direct().substr(7), fault_)};
    std::unique_ptr<test::TempDir> dir_ = std::make_unique<test::TempDir>("qorvel-check");
};

TEST_F(ContentCheck, AnUndamagedDownloadIsVerifiedWithOneConnectionOrSeveral) {
    for (int connections : {1, 4}) {
        test::EngineRecorder rec;
        Outcome o = download(rec, connections);
        ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec.log();
        EXPECT_EQ(o.content, Outcome::Content::verified);
        EXPECT_EQ(o.length, static_cast<std::int64_t>(big_.size()));
        EXPECT_TRUE(test::read_file(dir_->path() / "big.bin") == big_);
        fs::remove(dir_->path() / "big.bin");
    }
}

TEST_F(ContentCheck, EveryDamagedAnswerEndsFailedWithNothingUnderTheNameEveryTime) {
    struct Case {
        Fault fault;
        int connections;  // several where the damage is to ranges
        const char* what;
    };
    const Case cases[] = {
        {Fault::flip_byte, 1, "one byte flipped"},
        {Fault::flip_byte, 2, "one byte flipped in each part"},
        {Fault::drop_last_byte, 1, "last byte dropped"},
        {Fault::whole_body_for_range, 4, "a range answered by the file's start"},
        {Fault::wrong_content_range, 4, "a wrong Content-Range"},
        {Fault::wrong_digest, 1, "a digest no file has"},
        {Fault::wrong_digest, 4, "a digest no file has, on ranges too"},
    };
    for (const Case& c : cases) {
        // Twice where it is quick; the throttled multi-connection cases once.
        for (int round = 0; round < (c.connections > 1 ? 1 : 2); ++round) {
            SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
            fault_->store(c.fault);
            test::EngineRecorder rec;
            Outcome o = download(rec, c.connections);
            EXPECT_EQ(o.result, Result::failed) << rec.log();
            EXPECT_EQ(o.message, msg::content_mismatch()) << gbk_to_utf8(o.message);
            EXPECT_EQ(o.content, Outcome::Content::none);
            // Tried once more from the start before giving up.
            EXPECT_TRUE(rec.said(msg::content_retry())) << rec.log();
            expect_nothing_left();
        }
    }
}

TEST_F(ContentCheck, AFileChangedOnDiskAfterItsLastByteIsCaught) {
    // Every time: the task fails. The first time only: the second try succeeds.
    for (bool every_time : {true, false}) {
        SCOPED_TRACE(every_time ? "changed every time" : "changed once");
        auto changes = std::make_shared<std::atomic<int>>(0);
        EngineSettings s = engine_settings();
        s.before_content_check = [changes, every_time](const std::string& partial) {
            if (!every_time && changes->load() > 0) return;
            ++*changes;
            std::string bytes = test::read_file(text_to_path(partial));
            bytes[bytes.size() / 3] ^= 0x40;
            test::write_file(text_to_path(partial), bytes);
        };
        set_engine_settings(s);
        test::EngineRecorder rec;
        Outcome o = download(rec, 1);
        if (every_time) {
            EXPECT_EQ(o.result, Result::failed) << rec.log();
            EXPECT_EQ(o.message, msg::content_mismatch()) << gbk_to_utf8(o.message);
            EXPECT_EQ(changes->load(), 2);
            expect_nothing_left();
        } else {
            ASSERT_EQ(o.result, Result::success) << rec.log();
            EXPECT_EQ(o.content, Outcome::Content::verified);
            EXPECT_TRUE(test::read_file(dir_->path() / "big.bin") == big_);
            fs::remove(dir_->path() / "big.bin");
        }
    }
}

// A record as an earlier version wrote it: the first half received, no digest.
std::string old_record(const std::string& url, const std::string& path, std::int64_t total) {
    auto field = [](const std::string& s) { return std::to_string(s.size()) + ":" + s + "\n"; };
    std::int64_t half = total / 2;
    return "QRVLRESUME1\n" + field(url) + field(path) + std::to_string(total) + "\n2\n0 " +
           std::to_string(half) + " " + std::to_string(half) + "\n" + std::to_string(half) + " " +
           std::to_string(total) + " 0\n";
}

TEST_F(ContentCheck, AResumedDownloadIsCheckedAgainstTheDigestOfItsPartialAnswers) {
    std::string path = path_to_text(dir_->path() / "big.bin");
    std::string url = "http://" + proxy_.address() + kBigFile;
    auto half_file = [&] {
        std::string part = big_.substr(0, big_.size() / 2) + std::string(big_.size() / 2, '\0');
        test::write_file(text_to_path(partial_name(path)), part);
    };
    // The partial answers name the whole file's MD5: the resumed file verifies.
    half_file();
    {
        test::EngineRecorder rec;
        Outcome o = download(rec, 1, old_record(url, path, static_cast<std::int64_t>(big_.size())));
        ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec.log();
        EXPECT_EQ(o.content, Outcome::Content::verified);
        EXPECT_TRUE(test::read_file(dir_->path() / "big.bin") == big_);
        fs::remove(dir_->path() / "big.bin");
    }
    // A partial answer naming a digest the file does not have: never a success.
    fault_->store(Fault::wrong_digest);
    half_file();
    {
        test::EngineRecorder rec;
        Outcome o = download(rec, 1, old_record(url, path, static_cast<std::int64_t>(big_.size())));
        EXPECT_EQ(o.result, Result::failed) << rec.log();
        EXPECT_EQ(o.message, msg::content_mismatch()) << gbk_to_utf8(o.message);
        expect_nothing_left();
    }
}

// Counts the pieces the content check reads back from the disk.
std::shared_ptr<std::atomic<int>> count_read_back(std::function<void(int)> also = {}) {
    auto pieces = std::make_shared<std::atomic<int>>(0);
    EngineSettings s = engine_settings();
    s.on_read_back_piece = [pieces, also] {
        int n = ++*pieces;
        if (also) also(n);
    };
    set_engine_settings(s);
    return pieces;
}

void before_check(std::function<void(const std::string&)> change) {
    EngineSettings s = engine_settings();
    s.before_content_check = std::move(change);
    set_engine_settings(s);
}

TEST_F(ContentCheck, BytesInOrderAreCheckedAsTheyComeAndTheFileIsReadBackOnlyWhenTouched) {
    struct Case {
        const char* what;
        int connections;
        std::function<void(const std::string&)> change;  // after the last byte
        bool read_back;
    };
    const Case cases[] = {
        {"one connection, untouched", 1, {}, false},
        {"several connections", 4, {}, true},
        // Neither length nor content changes, only the inode's change time.
        {"mode set again", 1, [](const std::string& p) { ::chmod(text_to_path(p).c_str(), 0644); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto pieces = count_read_back();
        before_check(c.change);
        test::EngineRecorder rec;
        Outcome o = download(rec, c.connections);
        ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec.log();
        EXPECT_EQ(o.content, Outcome::Content::verified);
        EXPECT_EQ(pieces->load() > 0, c.read_back) << pieces->load();
        EXPECT_TRUE(test::read_file(dir_->path() / "big.bin") == big_);
        fs::remove(dir_->path() / "big.bin");
    }
    // One connection, a byte changed in place after the last one arrived: the
    // digest taken on the way no longer stands for the file, which is read back.
    auto pieces = count_read_back();
    before_check([](const std::string& p) {
        std::string bytes = test::read_file(text_to_path(p));
        bytes[7] ^= 0x01;
        test::write_file(text_to_path(p), bytes);
    });
    test::EngineRecorder rec;
    Outcome o = download(rec, 1);
    EXPECT_EQ(o.result, Result::failed) << rec.log();
    EXPECT_EQ(o.message, msg::content_mismatch()) << gbk_to_utf8(o.message);
    EXPECT_GT(pieces->load(), 0);
    expect_nothing_left();
}

TEST_F(ContentCheck, SeveralConnectionsReadBackOnlyWhatCameAfterTheFirstPart) {
    // Two connections: the first one's part, from offset 0, is checked as it
    // comes; only the second half is read back (the whole file would be 5 reads).
    auto pieces = count_read_back();
    test::EngineRecorder rec;
    Outcome o = download(rec, 2);
    ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec.log();
    EXPECT_EQ(o.content, Outcome::Content::verified);
    EXPECT_GT(pieces->load(), 0);
    EXPECT_LE(pieces->load(), 2);
    EXPECT_TRUE(test::read_file(dir_->path() / "big.bin") == big_);
    fs::remove(dir_->path() / "big.bin");
}

TEST_F(ContentCheck, AStopDuringTheReadBackTakesEffectBeforeTheRestIsRead) {
    // The file is read back (touched after its last byte); the stop comes with the first piece.
    for (bool save : {false, true}) {
        SCOPED_TRACE(save ? "stop and save" : "stop");
        Download d;
        std::string record;
        auto pieces = count_read_back([&d, &record, save](int n) {
            if (n != 1) return;
            if (save)
                d.stop_and_save(record);
            else
                d.stop();
        });
        before_check([](const std::string& p) { ::chmod(text_to_path(p).c_str(), 0644); });
        TaskParam p;
        p.url = "http://" + proxy_.address() + kBigFile;
        p.local_path = path_to_text(dir_->path() / "big.bin");
        p.receive_chunk = 256 << 10;
        ASSERT_TRUE(d.start(p));
        ASSERT_TRUE(d.wait_idle(60000));
        EXPECT_EQ(d.outcome().result, Result::stopped) << gbk_to_utf8(d.outcome().message);
        // 4 MiB in 1 MiB pieces: the whole file would be 5 reads.
        EXPECT_LE(pieces->load(), 2);
        EXPECT_FALSE(fs::exists(dir_->path() / "big.bin"));
        if (!save) {
            expect_nothing_left();
            continue;
        }
        // What was kept is whole: the resumed task only checks it.
        ASSERT_FALSE(record.empty());
        set_engine_settings(EngineSettings{});
        test::EngineRecorder rec;
        Outcome o = download(rec, 1, record);
        ASSERT_EQ(o.result, Result::success) << gbk_to_utf8(o.message) << rec.log();
        EXPECT_EQ(o.content, Outcome::Content::verified);
        EXPECT_TRUE(test::read_file(dir_->path() / "big.bin") == big_);
    }
}

}  // namespace
}  // namespace qorvel::engine
