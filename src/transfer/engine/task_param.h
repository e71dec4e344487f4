// The record that describes one transfer task. Starting a task copies it,
// so the caller may change or reuse its record at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qorvel::engine {

// Identifies a task in callbacks; never 0.
using TaskId = std::uintptr_t;

// (text, level): 0 information, 1 FTP command as sent, 2 FTP reply, 3 error.
using MessageCallback = std::function<void(const std::string& text, int level)>;
// (code, task, value, extra, task); the answer is read for codes 2 and 18 only.
using EventCallback = std::function<int(int code, TaskId task, std::int64_t value,
                                        std::int64_t extra, TaskId task_again)>;

// Mode bits of mode_flags.
inline constexpr int kModeDownload = 0x1000;
inline constexpr int kModeUpload = 0x2000;
inline constexpr int kModeAskExisting = 0x10;  // ask event 2 before sending over a remote file
inline constexpr int kPolicyMask = 0x0F;       // low bits: what to do with an existing remote file
inline constexpr int kPolicyReplace = 0;       // send from offset 0 and replace it
inline constexpr int kPolicyContinue = 1;      // continue after the bytes the server has

// Event codes.
inline constexpr int kEventAskExistingRemote = 2;
inline constexpr int kEventPartBegins = 3;
inline constexpr int kEventEnded = 4;
inline constexpr int kEventConnectionEnded = 8;
inline constexpr int kEventChunkSent = 17;
inline constexpr int kEventLocalFileExists = 18;

// Answers to event 18.
inline constexpr int kExistsAutoRename = 0;
inline constexpr int kExistsGiveUp = 1;
inline constexpr int kExistsCallerRenamed = 2;

// The fixed e-mail-style password of anonymous logins (17 characters).
inline constexpr const char* kAnonymousPassword = "qorvel@qorvel.net";

struct TaskParam {
    int mode_flags = 1;
    std::string url;
    std::string local_path;  // GBK text
    std::string user_name = "anonymous";
    std::string password = kAnonymousPassword;
    int connections = 1;
    int rate_limit = 0;  // bytes per second for the whole task, 0 = none
    // The record's numbered time-outs, in ms; read them through the named
    // accessors below.
    int timeout_1 = 20000;
    int timeout_2 = 20000;
    int timeout_3 = 20000;
    int stop_wait_ms = 1000;
    int receive_chunk = 20480;
    int send_chunk = 1024;
    MessageCallback message_callback;
    EventCallback event_callback;
    // Downloads: told a partial file's name just before the engine creates it,
    // so the caller can record it as its own first.
    std::function<void(const std::string& partial_path)> partial_chosen;
    // Fields 16, 19 and 20 of the record are further request settings that
    // the program leaves empty; they keep their place so records stay whole.
    std::string param_16;
    int transfer_type = 1;  // FTP: 1 binary, 2 text, 3 by file_types
    std::string file_types = ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm";
    std::string param_19;
    std::string param_20;

    // Connecting, also the FTP data channel.
    int connect_timeout_ms() const { return timeout_1; }
    // Each send.
    int send_timeout_ms() const { return timeout_2; }
    // Each receive of data; also the whole of an answer head or an FTP reply.
    int receive_timeout_ms() const { return timeout_3; }
};

}  // namespace qorvel::engine
