// Loopback peers for the transfer engine tests and bench: nginx, pure-ftpd,
// and a scripted TCP server for misbehaviour real servers won't show.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace qorvel::test {

// nginx serving root on 127.0.0.1 with ranges, plus "/redirect" -> "/moved/<name>"
// handled by a 302 to "/<name>". Empty error() when running.
class NginxPeer {
  public:
    explicit NginxPeer(const std::filesystem::path& root);
    ~NginxPeer();
    int port() const { return port_; }
    std::string url(const std::string& path) const;
    const std::string& error() const { return error_; }

  private:
    TempDir dir_{"qorvel-nginx"};
    ChildProcess process_;
    int port_ = 0;
    std::string error_;
};

// pure-ftpd with anonymous uploads into the home of the system user "ftp".
class PureFtpdPeer {
  public:
    PureFtpdPeer();
    ~PureFtpdPeer();
    int port() const { return port_; }
    std::string url(const std::string& name) const;
    static std::filesystem::path home();
    // First of the ten passive ports of this process's server: below the
    // kernel's ephemeral range, so no outgoing connection can hold one.
    static int passive_low();
    const std::string& error() const { return error_; }

  private:
    TempDir dir_{"qorvel-ftpd"};
    ChildProcess process_;
    int port_ = 0;
    std::string error_;
};

// Accepts connections on 127.0.0.1 and hands each socket to the handler on a
// thread of its own; the handler owns the descriptor. Stops on destruction.
class ScriptedServer {
  public:
    using Handler = std::function<void(int fd, int index)>;
    explicit ScriptedServer(Handler handler);
    ~ScriptedServer();
    int port() const { return port_; }
    int connections() const { return count_.load(); }

  private:
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> count_{0};
    std::thread acceptor_;
    std::vector<std::thread> workers_;
    Handler handler_;
};

// Small socket helpers for handlers.
std::string read_until(int fd, const std::string& marker, int timeout_ms = 5000);
bool write_all(int fd, const std::string& bytes);
// Writes one byte at a time with a pause between; the bytes written before
// the peer went away (all of them when it stayed).
std::size_t trickle(int fd, const std::string& bytes, int pause_ms);
// A listening socket on 127.0.0.1 (any port); returns fd, port in out.
int listen_loopback(int& port);
// From source when given (another 127.x.y.z address stands for a third party).
int connect_loopback(const std::string& host, int port, const std::string& source = {});

// A scripted FTP server dialogue on one control connection, with switches
// for the ways servers misbehave. Data of a STOR goes to `received`.
struct FtpScript {
    bool refuse_login = false;
    int dead_port = 0;           // announced by PASV when set (nothing listens there)
    bool never_finish = false;   // takes the data but never says 226
    int trickle_welcome_ms = 0;  // welcome sent one byte per this many ms
    std::string intruder;        // a third address that connects to the PORT first
    std::string received;
    std::string intruder_received;
    std::string commands;
    std::size_t welcome_sent = 0;

    void run(int fd);
};

std::string random_bytes(std::size_t size, unsigned seed);

}  // namespace qorvel::test
