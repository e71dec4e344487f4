// Raw TCP peers for the service's fault tests: an HTTP exchange and an FTP
// control connection, each from a chosen loopback source address, so one
// test can play several clients (the service counts and keys by address).
#pragma once

#include <string>

namespace qorvel::test {

// A connected socket from source (empty: any) to host:port; -1 on failure.
// Reads time out after timeout_s.
int connect_from(const std::string& host, int port, const std::string& source = {},
                 int timeout_s = 3);

// Sends bytes, optionally half-closes, reads until close (at most 1 MiB).
std::string raw_exchange(const std::string& host, int port, const std::string& bytes,
                         bool half_close = true, const std::string& source = {});

// Reads what arrives until close or time-out (at most 1 MiB).
std::string read_all(int fd);

// One HTTP/1.1 request with Connection: close; the whole answer.
std::string http_from(const std::string& source, const std::string& host, int port,
                      const std::string& method, const std::string& target,
                      const std::string& body = {}, const std::string& extra_headers = {});
// The body of an answer (after the head).
std::string body_of(const std::string& answer);

// An FTP control connection driven line by line.
class FtpControl {
  public:
    FtpControl(const std::string& host, int port, const std::string& source = {});
    ~FtpControl();
    FtpControl(const FtpControl&) = delete;
    FtpControl& operator=(const FtpControl&) = delete;
    // The next reply line (empty on close or time-out).
    std::string reply();
    std::string command(const std::string& line);
    // USER/PASS anonymous, then PASV and STOR of bytes; the final reply.
    std::string upload(const std::string& name, const std::string& bytes);

  private:
    int fd_ = -1;
    std::string host_, source_;
    std::string buf_;
};

}  // namespace qorvel::test
