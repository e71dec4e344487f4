// The account forms of the login window on the wire: new accounts and the two
// password recoveries (by security question, by e-mail), their bodies and
// addresses, and what each answer means.
#pragma once

#include <string>
#include <vector>

#include "platform/service_hosts.h"

namespace qorvel {

// What the registration window holds (GBK, as typed).
struct RegistrationForm {
    std::string account, password, confirmation, email;
    bool agreed = false;
};

// The recovery window's upper form.
struct QuestionRecoveryForm {
    std::string account, password, repetition, question, answer;
};

// The recovery window's lower form.
struct EmailRecoveryForm {
    std::string account, email;
};

// Form bodies. Typed values are escaped, so "&" or "=" in a password cannot
// start another field. The registration passwords keep their GBK bytes; the
// other typed values go as UTF-8.
std::string registration_body(const RegistrationForm& form);
std::string question_recovery_body(const QuestionRecoveryForm& form);
std::string email_recovery_body(const EmailRecoveryForm& form);

std::string registration_url(const ServiceHosts& hosts);
std::string question_recovery_url(const ServiceHosts& hosts);
std::string email_recovery_url(const ServiceHosts& hosts);

// A form's answer: reached is false when no usable HTTP answer came back
// (nothing listening, a dropped connection, a server error).
struct ServiceAnswer {
    bool reached = false;
    std::string text;  // GBK
};

// The status code of an answer's header block (its last status line), 0 when none.
int answer_status(const std::string& header_block);

// Posts the body and reads the answer as text.
ServiceAnswer post_form(const std::string& url, const std::string& body);

// What to show (in order) and whether the form succeeded.
struct FormVerdict {
    std::vector<std::string> messages;  // GBK
    bool succeeded = false;
};

// Registration: "3", else "5", else "6", else the incomplete-form message.
FormVerdict judge_registration(const ServiceAnswer& answer);
// Recovery: each of "1", "2", "3", "5" on its own, in that order; "5" succeeds.
FormVerdict judge_question_recovery(const ServiceAnswer& answer);
FormVerdict judge_email_recovery(const ServiceAnswer& answer);

// The message for a form whose service could not be reached.
const std::string& service_unreachable_message();

}  // namespace qorvel
