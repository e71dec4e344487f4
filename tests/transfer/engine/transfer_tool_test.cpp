// qorvel-transfer as a person at a terminal meets it: bounded retries, and an
// exit status that tells a whole file from a broken one.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "support/engine_peers.h"
#include "support/process.h"

namespace qorvel::test {
namespace {

namespace fs = std::filesystem;

std::string tool() {
    const char* env = std::getenv("QORVEL_TRANSFER_BIN");
    return env && *env ? env : QORVEL_TRANSFER_BUILT;
}

std::string url_of(const ScriptedServer& s) {
    return "http://127.0.0.1:" + std::to_string(s.port()) + "/f.bin";
}

TEST(TransferTool, RetriesAreBoundedByTheOptions) {
    ScriptedServer closing([](int fd, int) { ::close(fd); });
    TempDir dir("qorvel-tool");
    fs::path out = dir.path() / "f.bin";
    ChildProcess p(
        {tool(), "get", url_of(closing), out.string(), "--retries", "2", "--retry-wait", "0"},
        (dir.path() / "log").string());
    EXPECT_EQ(p.wait(std::chrono::seconds(60)), 1) << read_file(dir.path() / "log");
    EXPECT_EQ(closing.connections(), 3);
    EXPECT_FALSE(fs::exists(out));
    // Nonsense is refused before anything starts.
    ChildProcess bad({tool(), "get", url_of(closing), out.string(), "--retries", "-1"});
    EXPECT_EQ(bad.wait(std::chrono::seconds(60)), 2);
    EXPECT_EQ(closing.connections(), 3);
}

TEST(TransferTool, AnInterruptedDownloadOfUnknownLengthFailsAndLeavesNoFile) {
    ScriptedServer endless([](int fd, int) {
        read_until(fd, "\r\n\r\n");
        write_all(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + random_bytes(50000, 3));
        read_until(fd, "never", 10000);
        ::close(fd);
    });
    TempDir dir("qorvel-tool");
    fs::path out = dir.path() / "f.bin";
    ChildProcess p({tool(), "get", url_of(endless), out.string()}, (dir.path() / "log").string());
    fs::path part = out;
    part += ".part";
    for (int i = 0; i < 500 && !fs::exists(part); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(part)) << read_file(dir.path() / "log");
    EXPECT_EQ(p.stop(), 1) << read_file(dir.path() / "log");
    EXPECT_NE(read_file(dir.path() / "log").find("stopped"), std::string::npos)
        << read_file(dir.path() / "log");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(part));
}

}  // namespace
}  // namespace qorvel::test
