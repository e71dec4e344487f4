// The storage browser's exchanges with the service as pure functions: the
// addresses and form bodies it sends and the answers it reads. No windows,
// no network, so each is tested alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/service_hosts.h"

namespace qorvel::storage {

struct FolderEntry {
    std::string name;
    int id = 0;
};

struct FileRow {
    int id = 0;
    std::string name, size, date, downloads;
};

struct FilePage {
    int pages = 0;
    std::vector<FileRow> rows;
};

// The longest piece one match may span; an answer of megabytes is then read
// piece by piece instead of letting a lazy pattern rescan it from every start.
inline constexpr size_t kMaxEntryBytes = 4096;
// More pages than this is no answer a service gives; the selector stays usable.
inline constexpr int kMaxPages = 10000;

// Every non-overlapping match of pattern, left to right. A pattern that does
// not compile finds nothing. A match never runs past the literal text the
// pattern ends with, nor spans more than kMaxEntryBytes.
// A pattern of plain texts joined by ".*?", as the window's are, is read by a
// scan instead of the regex, with the same matches.
std::vector<std::string> find_matches(std::string_view text, const std::string& pattern);
// The same with the regex always: what the scan is checked against.
std::vector<std::string> find_matches_by_regex(std::string_view text, const std::string& pattern);

// The folder answer: "wenjianjL" name "目录pid:" id "<br />" per entry.
std::vector<FolderEntry> parse_folder_answer(std::string_view text, const std::string& pattern);
// One page of a folder's files and the page count after "总共有".
FilePage parse_file_page(std::string_view text, const std::string& entry_pattern);
FilePage parse_file_page_by_regex(std::string_view text, const std::string& entry_pattern);
int parse_page_count(std::string_view text);
// The value after the settings-page marker, up to the next double quote.
std::string read_access_password(std::string_view settings_page, std::string_view marker);

// Success tests of the change requests.
bool contains_one(std::string_view answer);
bool create_folder_accepted(std::string_view answer);

// Ids each followed by ",", in row order ("12,34,56,").
std::string selected_ids_text(const std::vector<long long>& ids);

// Addresses on the main web host.
std::string folder_request_url(const ServiceHosts& h, const std::string& login_pid,
                               long long folder_id, const std::string& access_password);
std::string list_address(const ServiceHosts& h, const std::string& login_pid, long long folder_id);
std::string page_address(const ServiceHosts& h, const std::string& login_pid, long long folder_id,
                         const std::string& page);
// The list address as the file list fetches it ("/mljg/wjdq.php"), with
// "&dqlx=1" for a whole-folder download.
std::string file_list_request(const ServiceHosts& h, const std::string& address, bool whole_folder);
std::string settings_url(const ServiceHosts& h, const std::string& account_key);

// Addresses handed to the desktop.
std::string file_page_url(const ServiceHosts& h, long long file_id);
// The id as a list cell holds it (the finished-uploads column "pid").
std::string file_page_url(const ServiceHosts& h, const std::string& file_id);
std::string folder_page_url(const ServiceHosts& h, const std::string& login_pid,
                            long long folder_id);
std::string direct_url(const ServiceHosts& h, const std::string& file_id,
                       const std::string& access_password);

struct FormRequest {
    std::string url;
    std::string body;
};
FormRequest delete_folder_request(const ServiceHosts& h, long long folder_id,
                                  const std::string& account_key);
// name: as typed (GBK); it goes as UTF-8.
FormRequest create_folder_request(const ServiceHosts& h, const std::string& account_key,
                                  const std::string& name, long long parent_id);
FormRequest rename_folder_request(const ServiceHosts& h, long long folder_id,
                                  const std::string& account_key, const std::string& name);
FormRequest create_link_request(const ServiceHosts& h, const std::string& folder_text,
                                const std::string& account_key, const std::string& name,
                                const std::string& link);
FormRequest rename_file_request(const ServiceHosts& h, long long file_id,
                                const std::string& account_key, const std::string& name);
std::string delete_files_url(const ServiceHosts& h, const std::string& ids, long long folder_id,
                             const std::string& account_key);
std::string move_files_url(const ServiceHosts& h, const std::string& ids, long long target_id,
                           const std::string& account_key);

}  // namespace qorvel::storage
