#include "transfer/engine/steps.h"

#include <string>

#include "transfer/engine/messages.h"
#include "transfer/engine/task.h"

namespace qorvel::engine {

Step connect_with_messages(Task& task, Socket& socket, const Address& to, int timeout_ms) {
    std::string port = std::to_string(to.port);
    if (!is_dotted_address(to.host)) task.message(fill(msg::resolving(), {to.host}));
    in_addr ip{};
    if (!resolve_host(to.host, ip)) {
        task.error(fill(msg::connect_failed(), {to.host, port}));
        return Step::retry;
    }
    task.message(fill(msg::connecting(), {to.host, port}));
    IoStatus st = socket.connect(ip, to.port, timeout_ms);
    if (st != IoStatus::ok) {
        if (task.stopping()) return Step::fatal;
        task.error(fill(st == IoStatus::timeout ? msg::connect_timeout() : msg::connect_failed(),
                        {to.host, port}));
        return Step::retry;
    }
    task.message(fill(msg::connected(), {to.host, port}));
    return Step::done;
}

}  // namespace qorvel::engine
