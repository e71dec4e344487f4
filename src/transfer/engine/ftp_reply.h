// Reading what an FTP server says: reply lines and the PASV answer. Pure
// functions over bytes, so they are tested and fuzzed alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qorvel::engine {

// Takes one line (CRLF or bare LF) off the front of buffer; false while no
// line is complete.
bool take_line(std::string& buffer, std::string& line);

// Collects the lines of one reply: "DDD-text" opens a reply of several lines,
// which ends with "DDD text" (or "DDD") of the same code; a single line
// "DDD text" is a whole reply.
class FtpReplyLines {
  public:
    // The code once line ends the reply, 0 while the reply goes on.
    int add(std::string_view line);
    void reset() { open_code_.clear(); }

  private:
    std::string open_code_;
};

// The port of a 227 answer "(h1,h2,h3,h4,p1,p2)"; 0 when there is none. The
// address part is read but never used: data goes to the control connection's
// server only.
int parse_pasv_port(std::string_view text);

// What the server's digest of an upload says about it. A server that does
// not speak the extension (a refusal, no answer, or "200" to everything)
// leaves it unchecked, as before servers could be asked; a 213 that does not
// give the local MD5 for the whole file, or a 550 for the file just stored,
// means the server holds something else.
enum class HashCheck { unchecked, matched, mismatched };
// code and text: the reply to "HASH name" after "OPTS HASH MD5" was taken;
// text is its last line, "213 MD5 0-<size> <hex> <name>".
HashCheck judge_hash_reply(int code, std::string_view text, std::int64_t size,
                           std::string_view local_md5);

}  // namespace qorvel::engine
