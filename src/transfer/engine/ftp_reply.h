// Reading what an FTP server says: reply lines and the PASV answer. Pure
// functions over bytes, so they are tested and fuzzed alone.
#pragma once

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

}  // namespace qorvel::engine
