// FTP replies and the PASV answer as a server might send them.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "transfer/engine/ftp_reply.h"

using namespace qorvel::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string buffer(reinterpret_cast<const char*>(bytes), size);
    FtpReplyLines lines;
    std::string line;
    std::size_t before = buffer.size();
    while (take_line(buffer, line)) {
        FUZZ_CHECK(buffer.size() < before);
        before = buffer.size();
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        int code = lines.add(line);
        FUZZ_CHECK(code == 0 || (code >= 0 && code <= 999 && line.size() >= 3));
        int port = parse_pasv_port(line);
        FUZZ_CHECK(port >= 0 && port <= 65535);
        // A match needs at least "213 MD5 0-0 " and the 32 digits.
        if (judge_hash_reply(213, line, static_cast<std::int64_t>(size),
                             "0123456789abcdef0123456789abcdef") == HashCheck::matched)
            FUZZ_CHECK(line.size() >= 44);
    }
    int port = parse_pasv_port(std::string(reinterpret_cast<const char*>(bytes), size));
    FUZZ_CHECK(port >= 0 && port <= 65535);
    return 0;
}
