// The service API as the client stands now: hosts, session values, access
// password and membership copied into an object of the caller's own, since
// the client's state is shared by threads and the API object is not.
#pragma once

#include <string>
#include <vector>

#include "api/service_api.h"
#include "roads/client.h"

namespace qorvel {

inline api::ServiceApi service_api(Client& c) {
    api::ServiceApi api(c.hosts(), c.session().get());
    api.set_access_password(c.browser().access_password());
    api.set_vip(c.is_vip.load() == 1);
    return api;
}

// An error's lines as the windows show them, one box each; none when it says nothing.
inline std::vector<std::string> error_lines(const api::Error& e) {
    std::vector<std::string> lines;
    if (!e.message.empty()) lines.push_back(e.message);
    lines.insert(lines.end(), e.details.begin(), e.details.end());
    return lines;
}

}  // namespace qorvel
