#include "api/service_api.h"

#include "api/messages.h"
#include "net/charset.h"
#include "net/text.h"
#include "net/web.h"

namespace qorvel::api {

namespace {

Error error(ErrorKind kind, const char* utf8) {
    return Error{kind, utf8_to_gbk(utf8), {}};
}

Error unreachable(const char* utf8 = text::kUnreachable) {
    return error(ErrorKind::unreachable, utf8);
}

// A change answered with "1" somewhere was made; any other answer was refused.
Result<void> post_expecting_one(const storage::FormRequest& r, const char* refused) {
    WebReply reply = web_post_reply(r.url, r.body);
    if (!reply.answered) return unreachable();
    if (!storage::contains_one(bytes_to_text(reply.body)))
        return error(ErrorKind::refused, refused);
    return {};
}

// A request whose answer tells nothing: only an unanswered one fails.
Result<void> get_answered(const std::string& url) {
    if (!web_get_reply(url).answered) return unreachable();
    return {};
}

// A form's verdict: the messages to show, refused when the form did not succeed.
Result<std::vector<std::string>> form_result(const ServiceAnswer& answer,
                                             const FormVerdict& verdict) {
    if (!answer.reached) return Error{ErrorKind::unreachable, service_unreachable_message(), {}};
    if (verdict.succeeded) return verdict.messages;
    Error e{ErrorKind::refused, {}, {}};
    if (!verdict.messages.empty()) {
        e.message = verdict.messages.front();
        e.details.assign(verdict.messages.begin() + 1, verdict.messages.end());
    }
    return e;
}

// An instant upload or a registration: only a whole 200 answer can create the file.
Result<long long> post_registration(const std::string& url, const std::string& file_name) {
    std::string head;
    bool answered = false;
    std::string body = WebSession::process().request(
        url, "POST", {}, nullptr, transfer::registration_body(file_name), &head, &answered);
    if (!answered) return unreachable(text::kNotRegistered);
    int status = transfer::answer_status(head);
    transfer::Registration r = transfer::parse_registration(bytes_to_text(body), status);
    if (r.created) return r.new_id;
    // A 200 without the insert is the service's no; any other status is no answer of its own.
    return error(status == 200 ? ErrorKind::refused : ErrorKind::not_understood,
                 text::kNotRegistered);
}

}  // namespace

const char* kind_name(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::refused: return "refused";
    case ErrorKind::unreachable: return "unreachable";
    case ErrorKind::not_understood: return "not_understood";
    }
    return "unknown";
}

AnswerPatterns::AnswerPatterns()
    : file_entry(
          utf8_to_gbk("<div style=\"display:none;\">pid：.*?<文件名：.*?<大小：.*?<日期：.*?<"
                      "下载量：.*?< </div><br />")),
      password_marker("id=\"fwmm\" value=\"") {}

ServiceApi::ServiceApi(ServiceHosts hosts) : hosts_(std::move(hosts)) {}

ServiceApi::ServiceApi(ServiceHosts hosts, Session session)
    : hosts_(std::move(hosts)), session_(std::move(session)) {}

Result<Session> ServiceApi::login(const std::string& account, const std::string& password) {
    ServiceAnswer a = post_form(login_url(hosts_), login_body(account, password));
    LoginVerdict v = judge_login_answer(a.reached, a.text, account);
    if (v.result == LoginResult::refused && password_sent_differently_before(password)) {
        // An account made by the earlier client: once more as it sent the password.
        a = post_form(login_url(hosts_), earlier_login_body(account, password));
        v = judge_login_answer(a.reached, a.text, account);
    }
    switch (v.result) {
    case LoginResult::accepted: session_ = *v.session; return *v.session;
    case LoginResult::refused: return error(ErrorKind::refused, text::kLoginRefused);
    case LoginResult::unreached: break;
    }
    return Error{a.reached ? ErrorKind::not_understood : ErrorKind::unreachable,
                 service_unreachable_message(),
                 {}};
}

Result<bool> ServiceApi::session_taken_over() const {
    WebReply reply = web_get_reply(session_check_url(hosts_, session_.account_key));
    if (!reply.answered) return unreachable();
    return ::qorvel::session_taken_over(bytes_to_text(reply.body));
}

Result<std::string> ServiceApi::account_page() const {
    WebReply reply = web_get_reply(account_page_url(hosts_, session_.account_key));
    if (!reply.answered) return unreachable();
    return utf8_to_gbk(bytes_to_text(reply.body));
}

Result<bool> ServiceApi::membership() {
    Result<std::string> page = account_page();
    if (!page) return page.error();
    vip_ = page_says_member(*page);
    return vip_;
}

Result<Handover> ServiceApi::handover() const {
    WebReply reply = web_get_reply(handover_url(hosts_));
    if (!reply.answered) return unreachable();
    std::optional<Handover> h = parse_handover(bytes_to_text(reply.body));
    if (!h) return Error{ErrorKind::refused, {}, {}};
    return *h;
}

void ServiceApi::visit() const {
    web_get(visit_url(hosts_));
}

void ServiceApi::fetch_avatar() const {
    const std::string& avatar = session_.avatar_path;
    web_get(hosts_.web_url(avatar.rfind('/', 0) == 0 ? avatar : "/" + avatar));
}

Result<std::vector<storage::FolderEntry>> ServiceApi::folders_of(long long folder_id) const {
    WebReply reply = web_get_reply(
        storage::folder_request_url(hosts_, session_.login_pid, folder_id, access_password_));
    if (!reply.answered) return unreachable();
    return storage::parse_folder_answer(reply.body, patterns_.folder_entry);
}

namespace {

Result<storage::FilePage> read_page(const std::string& address, const std::string& pattern) {
    WebReply reply = web_get_reply(address);
    if (!reply.answered) return unreachable();
    // The whole answer: a zero byte in it must not hide the rows and page count after it.
    return storage::parse_file_page(reply.body, pattern);
}

}  // namespace

Result<storage::FilePage> ServiceApi::first_page(long long folder_id) const {
    return read_page(
        storage::file_list_request(
            hosts_, storage::list_address(hosts_, session_.login_pid, folder_id), false),
        patterns_.file_entry);
}

Result<storage::FilePage> ServiceApi::page(long long folder_id, int page) const {
    return read_page(
        storage::file_list_request(
            hosts_,
            storage::page_address(hosts_, session_.login_pid, folder_id, std::to_string(page)),
            false),
        patterns_.file_entry);
}

Result<int> ServiceApi::page_count(long long folder_id) const {
    Result<storage::FilePage> first = first_page(folder_id);
    if (!first) return first.error();
    return first->pages;
}

Result<storage::FilePage> ServiceApi::whole_folder(long long folder_id) const {
    return read_page(
        storage::file_list_request(
            hosts_, storage::list_address(hosts_, session_.login_pid, folder_id), true),
        patterns_.file_entry);
}

void ServiceApi::folder_view(bool with_folders, long long folder_id,
                             const std::string& page_address,
                             const std::function<bool(ViewPart, WebReply&)>& each) const {
    std::vector<std::string> urls;
    std::vector<ViewPart> parts;
    if (with_folders) {
        urls.push_back(
            storage::folder_request_url(hosts_, session_.login_pid, folder_id, access_password_));
        parts.push_back(ViewPart::folders);
    }
    urls.push_back(page_address);
    parts.push_back(ViewPart::page);
    urls.push_back(storage::settings_url(hosts_, session_.account_key));
    parts.push_back(ViewPart::settings);
    web_get_in_order(urls, [&](size_t i, WebReply& reply) { return each(parts[i], reply); });
}

Result<std::string> ServiceApi::access_password_from_settings() {
    WebReply reply = web_get_reply(storage::settings_url(hosts_, session_.account_key));
    if (!reply.answered) return unreachable();
    access_password_ =
        storage::read_access_password(utf8_to_gbk(reply.body), patterns_.password_marker);
    return access_password_;
}

Result<void> ServiceApi::create_folder(long long parent_id, const std::string& name) const {
    storage::FormRequest r =
        storage::create_folder_request(hosts_, session_.account_key, name, parent_id);
    WebReply reply = web_post_reply(r.url, r.body);
    if (!reply.answered) return unreachable();
    if (!storage::create_folder_accepted(bytes_to_text(reply.body)))
        return error(ErrorKind::refused, text::kCreateFailed);
    return {};
}

Result<void> ServiceApi::rename_folder(long long folder_id, const std::string& name) const {
    return post_expecting_one(
        storage::rename_folder_request(hosts_, folder_id, session_.account_key, name),
        text::kSessionFailed);
}

Result<void> ServiceApi::delete_folder(long long folder_id) const {
    return post_expecting_one(
        storage::delete_folder_request(hosts_, folder_id, session_.account_key),
        text::kHasSubfolders);
}

Result<void> ServiceApi::rename_file(long long file_id, const std::string& name) const {
    return post_expecting_one(
        storage::rename_file_request(hosts_, file_id, session_.account_key, name),
        text::kSessionFailed);
}

Result<void> ServiceApi::move_files(const std::vector<long long>& file_ids,
                                    long long target_id) const {
    return move_files(storage::selected_ids_text(file_ids), target_id);
}

Result<void> ServiceApi::delete_files(const std::vector<long long>& file_ids,
                                      long long folder_id) const {
    return delete_files(storage::selected_ids_text(file_ids), folder_id);
}

Result<void> ServiceApi::move_files(const std::string& ids, long long target_id) const {
    return get_answered(storage::move_files_url(hosts_, ids, target_id, session_.account_key));
}

Result<void> ServiceApi::delete_files(const std::string& ids, long long folder_id) const {
    return get_answered(storage::delete_files_url(hosts_, ids, folder_id, session_.account_key));
}

Result<void> ServiceApi::create_link_file(const std::string& folder, const std::string& name,
                                          const std::string& link) const {
    return post_expecting_one(
        storage::create_link_request(hosts_, folder, session_.account_key, name, link),
        text::kSessionFailed);
}

std::string ServiceApi::share_address(long long file_id) const {
    return storage::file_page_url(hosts_, file_id);
}

std::string ServiceApi::share_address(const std::string& file_id) const {
    return storage::file_page_url(hosts_, file_id);
}

std::string ServiceApi::folder_address(long long folder_id) const {
    return storage::folder_page_url(hosts_, session_.login_pid, folder_id);
}

std::string ServiceApi::direct_address(const std::string& file_id) const {
    return storage::direct_url(hosts_, file_id,
                               access_password_.empty() ? std::string("0") : access_password_);
}

Result<std::string> ServiceApi::storage_link(const std::string& file_id) const {
    WebReply reply =
        web_get_reply(hosts_.web_url(transfer::storage_link_path(file_id, access_password_)));
    if (!reply.answered) return unreachable(text::kNoStorageLink);
    std::optional<std::string> link = transfer::storage_link(reply.body);
    if (!link) return error(ErrorKind::refused, text::kNoStorageLink);
    return *link;
}

std::string ServiceApi::download_address(const std::string& link) const {
    return transfer::download_url(hosts_, vip_, link);
}

Result<long long> ServiceApi::instant_upload(long long folder_id, const std::string& md5_hex,
                                             const std::string& file_name) const {
    return post_registration(
        hosts_.web_url(transfer::instant_upload_path(session_.account_key, folder_id, md5_hex)),
        file_name);
}

Result<long long> ServiceApi::register_upload(long long folder_id,
                                              const std::string& file_name) const {
    return post_registration(
        hosts_.web_url(transfer::register_upload_path(session_.account_key, folder_id)), file_name);
}

Result<std::vector<std::string>> ServiceApi::register_account(const RegistrationForm& f) const {
    ServiceAnswer a = post_form(registration_url(hosts_), registration_body(f));
    return form_result(a, judge_registration(a));
}

Result<std::vector<std::string>> ServiceApi::recover_by_question(
    const QuestionRecoveryForm& f) const {
    ServiceAnswer a = post_form(question_recovery_url(hosts_), question_recovery_body(f));
    return form_result(a, judge_question_recovery(a));
}

Result<std::vector<std::string>> ServiceApi::recover_by_email(const EmailRecoveryForm& f) const {
    ServiceAnswer a = post_form(email_recovery_url(hosts_), email_recovery_body(f));
    FormVerdict v = judge_email_recovery(a);
    // The request was taken when the answer holds "2"; the other messages still show.
    v.succeeded = a.reached && text_find(a.text, "2") != -1;
    return form_result(a, v);
}

}  // namespace qorvel::api
