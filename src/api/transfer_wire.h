// The transfer queues' exchanges with the service: the storage link a
// download fetches from, the file host it fetches it on, and the two
// requests that register an upload (the instant upload by digest and the
// registration after the FTP transfer) with their answers.
#pragma once

#include <optional>
#include <string>

#include "platform/service_hosts.h"

namespace qorvel::transfer {

// The storage link in a "/ym.php" answer: the text between "bsmzdyd" and "<".
// Nothing when either marker is missing or the link is empty, so a broken
// answer fails the task instead of fetching from a made-up address.
std::optional<std::string> storage_link(const std::string& answer);

// "/ym.php?pid=" + file id + "&srmm=" + access password.
std::string storage_link_path(const std::string& file_id, const std::string& access_password);

// Members fetch from file host 3, everyone else from file host 2.
std::string download_url(const ServiceHosts& hosts, bool vip, const std::string& link);

// The status code of an answer's header block ("HTTP/1.1 200 OK"); 0 without one.
int answer_status(const std::string& head);

// The service's answer to an instant upload or a registration. Only a whole
// answer with status 200 can say created: an error page may echo anything.
struct Registration {
    bool created = false;  // status 200 and "INSERT INTO `wenjian`" in the answer
    long long new_id = 0;  // digits between the first "xxxx" and the next "x"
};
// status: the answer's status, 0 when no whole answer arrived.
Registration parse_registration(const std::string& answer, int status);

// Addresses and bodies of the two registration requests.
std::string instant_upload_path(const std::string& account_key, long long folder_id,
                                const std::string& md5_hex);
std::string register_upload_path(const std::string& account_key, long long folder_id);
std::string registration_body(const std::string& file_name);

}  // namespace qorvel::transfer
