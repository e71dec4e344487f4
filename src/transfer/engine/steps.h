// What both kinds of connection share: the outcome of one step of an attempt
// and the connect step with its messages.
#pragma once

#include "transfer/engine/address.h"
#include "transfer/engine/socket_io.h"

namespace qorvel::engine {

class Task;

// done: go on (or finished); retry: this attempt failed, another may work;
// fatal: the connection ends; handed_back: an HTTP part went to another
// connection, this one ends without an error.
enum class Step { done, retry, fatal, handed_back };

// Resolves and connects with "正在解析域名", "正在连接", "连接 ... 成功/失败/超时".
Step connect_with_messages(Task& task, Socket& socket, const Address& to, int timeout_ms);

}  // namespace qorvel::engine
