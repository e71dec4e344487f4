// The engine against the reference service: an upload over its FTP server,
// registered like the upload queue does, then fetched back by direct link.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "account/session.h"
#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"
#include "net/web.h"
#include "support/engine_peers.h"
#include "support/engine_recorder.h"
#include "support/process.h"
#include "support/service_instance.h"
#include "transfer/engine/engine.h"
#include "transfer/engine/local_file.h"

namespace qorvel::engine {
namespace {

using Result = Outcome::Result;

TEST(ServiceRoundTrip, UploadRegisterAndDownloadAreByteExact) {
    EngineSettings settings;
    settings.retry_wait_ms = 50;
    settings.max_attempts = 3;
    set_engine_settings(settings);
    test::ServiceInstanceOptions o;
    o.host = "127.0.0.42";
    test::ServiceInstance service(o);
    ASSERT_TRUE(service.start()) << test::read_file(service.log_file());
    test::TempDir dir("qorvel-round-trip");

    std::string key;
    {
        std::string answer =
            web_request_text(service.web() + "/csx.php", "POST", "", nullptr,
                             login_body(test::kDemoMember, test::kDemoMemberPassword));
        auto s = parse_login_answer(answer, test::kDemoMember);
        ASSERT_TRUE(s) << answer;
        key = s->account_key;
    }

    // Binary content with CR and LF bytes: sent as TYPE A, as the program's
    // temporary ".qrvllswj" names are, it must still arrive unchanged.
    std::string data = test::random_bytes(3 << 20, 7) + "\r\n\n\r";
    test::write_file(dir.path() / "local.bin", data);
    std::string name = GBK("往返测试") + ".bin";
    test::EngineRecorder up_rec;
    TaskParam up;
    up.mode_flags = kModeUpload;
    up.url = "ftp://" + service.host() + ":" + std::to_string(service.ftp_port()) + "/" + name +
             ".qrvllswj";
    up.local_path = path_to_text(dir.path() / "local.bin");
    up.transfer_type = 3;
    up.send_chunk = 64 << 10;
    up_rec.attach(up);
    FtpUpload upload;
    ASSERT_TRUE(upload.start(up));
    ASSERT_TRUE(upload.wait_idle(30000)) << up_rec.log();
    EXPECT_EQ(upload.outcome().result, Result::success) << up_rec.log();
    EXPECT_EQ(up_rec.count(kEventEnded), 1);
    EXPECT_TRUE(up_rec.said("TYPE A")) << up_rec.log();
    // The server's MD5 of what it stored was asked for and matched.
    EXPECT_TRUE(upload.outcome().verified) << up_rec.log();
    EXPECT_EQ(upload.outcome().upload, Outcome::Upload::verified);
    EXPECT_TRUE(up_rec.said("HASH " + name + ".qrvllswj", 1)) << up_rec.log();
    int local = ::open((dir.path() / "local.bin").c_str(), O_RDONLY | O_CLOEXEC);
    std::string md5 =
        md5_hex_of(local, static_cast<std::int64_t>(data.size()), [] { return false; });
    ::close(local);
    EXPECT_TRUE(up_rec.said_containing("213 MD5 0-" + std::to_string(data.size()) + " " + md5))
        << up_rec.log();

    Form body;
    body.add("wjdl", name);
    std::string reg = web_request_text(service.web() + "/tjwj.php?bsm=" + key + "&mlid=0", "POST",
                                       "", nullptr, body.str());
    ASSERT_NE(text_find(reg, "INSERT INTO `wenjian`"), -1) << reg;
    int id = text_to_int(text_between(reg, "xxxx", "x"));
    ASSERT_GT(id, 0) << reg;

    test::EngineRecorder down_rec;
    TaskParam down;
    down.mode_flags = kModeDownload;
    down.url = service.direct() + "/yunxz1.php?pid=" + std::to_string(id) +
               "&szmm=" + test::kDemoMemberAccessPassword;
    down.local_path = path_to_text(dir.path() / "back.bin");
    down.connections = 4;
    down.receive_chunk = 256 << 10;
    down_rec.attach(down);
    Download download;
    ASSERT_TRUE(download.start(down));
    ASSERT_TRUE(download.wait_idle(30000)) << down_rec.log();
    EXPECT_EQ(download.outcome().result, Result::success) << down_rec.log();
    EXPECT_EQ(down_rec.count(kEventEnded), 1);
    EXPECT_TRUE(test::read_file(dir.path() / "back.bin") == data);
}

// A server that kept other bytes than were sent is caught by its own digest:
// the upload fails, however many attempts are left, and says why.
TEST(ServiceRoundTrip, AnUploadStoredWithOtherBytesFails) {
    EngineSettings settings;
    settings.retry_wait_ms = 50;
    settings.max_attempts = 3;
    set_engine_settings(settings);
    test::ServiceInstanceOptions o;
    o.host = "127.0.0.42";
    o.extra_args = {"--test-ftp-corrupt-stored"};
    test::ServiceInstance service(o);
    ASSERT_TRUE(service.start()) << test::read_file(service.log_file());
    test::TempDir dir("qorvel-round-trip");
    test::write_file(dir.path() / "local.bin", test::random_bytes(200 << 10, 9));

    test::EngineRecorder rec;
    TaskParam up;
    up.mode_flags = kModeUpload;
    up.url = service.ftp_url("wrong.bin");
    up.local_path = path_to_text(dir.path() / "local.bin");
    up.transfer_type = 1;
    rec.attach(up);
    FtpUpload upload;
    ASSERT_TRUE(upload.start(up));
    ASSERT_TRUE(upload.wait_idle(30000)) << rec.log();
    EXPECT_EQ(upload.outcome().result, Result::failed) << rec.log();
    EXPECT_EQ(upload.outcome().message, utf8_to_gbk("服务器收到的内容与本地文件不符"));
    EXPECT_FALSE(upload.outcome().verified);
    EXPECT_EQ(rec.count(kEventEnded), 1);
    std::string log = rec.log();
    int stores = 0;
    for (auto at = log.find("1 STOR wrong.bin\n"); at != std::string::npos && stores < 10;
         at = log.find("1 STOR wrong.bin\n", at + 1))
        ++stores;
    EXPECT_EQ(stores, 1) << "a mismatch is not tried again\n" << log;
}

}  // namespace
}  // namespace qorvel::engine
