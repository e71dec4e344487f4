// One logged-in session's typed operations on the service: each sends the
// requests the wire functions of this folder build and reads the answer with
// their readers, and gives a value or an Error (refused, unreachable,
// not_understood) with the message the windows show. Requests go through the
// process's web session (net/web.h), so its cookies and timeouts apply.
// An object is not shared between threads; a worker takes its own copy.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "api/forms.h"
#include "api/login.h"
#include "api/result.h"
#include "api/storage_answers.h"
#include "api/transfer_wire.h"
#include "net/web.h"
#include "platform/service_hosts.h"

namespace qorvel::api {

// What the answers are read with: the main window's hidden boxes hold the
// same by default and may be changed there.
struct AnswerPatterns {
    std::string folder_entry = ".*?<br />";
    std::string file_entry;       // GBK; the default is set by the constructor
    std::string password_marker;  // before the access password on the settings page
    AnswerPatterns();
};

class ServiceApi {
  public:
    explicit ServiceApi(ServiceHosts hosts);
    ServiceApi(ServiceHosts hosts, Session session);

    const ServiceHosts& hosts() const { return hosts_; }
    const Session& session() const { return session_; }
    void set_session(Session session) { session_ = std::move(session); }
    bool logged_in() const { return !session_.account_key.empty(); }
    // Members fetch from file host 3 (membership() sets it).
    bool vip() const { return vip_; }
    void set_vip(bool vip) { vip_ = vip; }
    // The settings page's access password (access_password_from_settings() sets it).
    const std::string& access_password() const { return access_password_; }
    void set_access_password(std::string password) { access_password_ = std::move(password); }
    AnswerPatterns& patterns() { return patterns_; }
    const AnswerPatterns& patterns() const { return patterns_; }

    // Account. login() keeps the session it returns; an account the earlier
    // client made is tried once more with the password as it sent it.
    Result<Session> login(const std::string& account, const std::string& password);
    // True when the account was logged in elsewhere.
    Result<bool> session_taken_over() const;
    // The account page in GBK.
    Result<std::string> account_page() const;
    // Whether the account page shows a member; sets vip().
    Result<bool> membership();
    // The web-login hand-over; refused while nothing was handed over yet.
    Result<Handover> handover() const;
    // The visit counter and the avatar: their answers mean nothing to us.
    void visit() const;
    void fetch_avatar() const;

    // Storage: reading.
    Result<std::vector<storage::FolderEntry>> folders_of(long long folder_id) const;
    // The folder's first page as the folder load reads it, and page `page`
    // as the page selector reads it.
    Result<storage::FilePage> first_page(long long folder_id) const;
    Result<storage::FilePage> page(long long folder_id, int page) const;
    Result<int> page_count(long long folder_id) const;
    // Every file of the folder in one answer (the whole-folder download).
    Result<storage::FilePage> whole_folder(long long folder_id) const;
    // Reads the settings page and keeps its access password (empty: none set).
    Result<std::string> access_password_from_settings();

    // What a folder view reads, asked together on kept-alive connections: the
    // sub-folders (when with_folders; with the access password kept here), the
    // list page at page_address, then the settings page. each() gets the raw
    // answers in that order as they come in, for the window reads them with
    // patterns of its own; returning false drops the rest unasked-for.
    enum class ViewPart { folders, page, settings };
    void folder_view(bool with_folders, long long folder_id, const std::string& page_address,
                     const std::function<bool(ViewPart, WebReply&)>& each) const;

    // Storage: changes.
    // The new folder's answer text (more than a line break).
    Result<void> create_folder(long long parent_id, const std::string& name) const;
    Result<void> rename_folder(long long folder_id, const std::string& name) const;
    // Refused while the folder has sub-folders.
    Result<void> delete_folder(long long folder_id) const;
    Result<void> rename_file(long long file_id, const std::string& name) const;
    // The service's answer to these says nothing; only an unanswered one fails.
    Result<void> move_files(const std::vector<long long>& file_ids, long long target_id) const;
    Result<void> delete_files(const std::vector<long long>& file_ids, long long folder_id) const;
    // Ids as the selection keeps them ("12,34,").
    Result<void> move_files(const std::string& ids, long long target_id) const;
    Result<void> delete_files(const std::string& ids, long long folder_id) const;
    // folder: the folder id as text, as the tree gives it.
    Result<void> create_link_file(const std::string& folder, const std::string& name,
                                  const std::string& link) const;

    // Addresses handed to the desktop.
    std::string share_address(long long file_id) const;
    std::string share_address(const std::string& file_id) const;
    std::string folder_address(long long folder_id) const;
    // With the access password, or "0" without one.
    std::string direct_address(const std::string& file_id) const;

    // Transfers.
    // The storage link of a file, asked with the access password kept here.
    Result<std::string> storage_link(const std::string& file_id) const;
    // The address a download fetches the link from, on the host vip() picks.
    std::string download_address(const std::string& link) const;
    // The new file's id when the service holds content of this digest.
    Result<long long> instant_upload(long long folder_id, const std::string& md5_hex,
                                     const std::string& file_name) const;
    // Registers a file sent by FTP; its new id.
    Result<long long> register_upload(long long folder_id, const std::string& file_name) const;

    // Account forms (no session needed). The value is what to show, in order.
    Result<std::vector<std::string>> register_account(const RegistrationForm& form) const;
    Result<std::vector<std::string>> recover_by_question(const QuestionRecoveryForm& form) const;
    Result<std::vector<std::string>> recover_by_email(const EmailRecoveryForm& form) const;

  private:
    ServiceHosts hosts_;
    Session session_;
    bool vip_ = false;
    std::string access_password_;
    AnswerPatterns patterns_;
};

}  // namespace qorvel::api
