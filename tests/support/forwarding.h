// A responder for RecordingServer that hands each request to a real server
// and returns its whole answer, so a test sees every request byte on the way
// to the reference service.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "support/recording_server.h"

namespace qorvel::test {

// Changes an answer (raw bytes, head included) on its way back to the client.
using AnswerEdit = std::function<std::string(const RecordedRequest&, std::string answer)>;

// host:port of the real server. The request goes with "Connection: close";
// an unreachable server gives a 502 answer. While *cut is true the
// connection closes without any answer, as a service that went away. While
// *hold is true a request waits before it goes on (at most 10 s), so a test
// can keep a load running for as long as it needs. edit, when given, changes
// every answer the real server gave.
RecordingServer::Responder forward_to(const std::string& host_port,
                                      std::shared_ptr<std::atomic<bool>> cut = nullptr,
                                      std::shared_ptr<std::atomic<bool>> hold = nullptr,
                                      AnswerEdit edit = nullptr);

// Ways a file host's answer is damaged on its way to a download.
enum class Fault {
    none,
    flip_byte,             // one byte in the middle of every body flipped
    drop_last_byte,        // every body one byte short, its length to match
    whole_body_for_range,  // a range answered by the file's start, labelled as the range
    wrong_content_range,   // a range answered from one byte earlier, labelled as asked
    wrong_digest,          // every answer names an MD5 no file has
};

// forward_to with *fault applied to every answer (switchable while running).
RecordingServer::Responder forward_with_fault(const std::string& host_port,
                                              std::shared_ptr<std::atomic<Fault>> fault);

// The answer with its body changed by change and its Content-Length to match.
std::string with_body(const std::string& answer,
                      const std::function<std::string(std::string body)>& change);

}  // namespace qorvel::test
