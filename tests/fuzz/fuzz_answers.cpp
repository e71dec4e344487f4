// The service's answers to login, the session check, the web-login hand-over,
// the update file, the remembered login and the account page.
#include <cstdint>
#include <string>

#include "account/session.h"
#include "account/update_check.h"
#include "fuzz_check.h"

using namespace qorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string answer(reinterpret_cast<const char*>(bytes), size);
    if (auto s = parse_login_answer(answer, "user")) FUZZ_CHECK(answer.size() > 3);
    (void)session_taken_over(answer);
    if (auto h = parse_handover(answer))
        FUZZ_CHECK(h->account_key.size() + h->account_name.size() + h->login_pid.size() <=
                   answer.size());
    UpdateDecision d = decide_update(answer);
    FUZZ_CHECK(d.current || d.address.size() <= answer.size());
    (void)parse_remembered_login(answer);
    (void)page_says_member(answer);
    return 0;
}
