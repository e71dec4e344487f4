// New accounts and lost passwords, from the login window: the client's own
// checks of the forms before anything is sent. The forms' bodies, addresses
// and the meaning of the answers are in the service API layer; the roads only
// read controls, send one form on a worker and show the verdict.
#pragma once

#include <string>

#include "api/forms.h"

namespace qorvel {

// An e-mail needs an "@", a "." and no "@" directly followed by ".".
bool email_shape_ok(const std::string& email);

// The registration's checks before its "in progress" notice (agreement,
// e-mail shape) and after it (empty boxes, unequal passwords): the message
// that stops the operation, or the empty text when the form passes.
std::string registration_first_refusal(const RegistrationForm& form);
std::string registration_second_refusal(const RegistrationForm& form);
std::string question_recovery_refusal(const QuestionRecoveryForm& form);
std::string email_recovery_refusal(const EmailRecoveryForm& form);

}  // namespace qorvel
