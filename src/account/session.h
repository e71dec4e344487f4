// The session values shared by the window thread and the workers, and the
// texts the windows show about the account. The login exchange itself is in
// the service API layer.
#pragma once

#include <mutex>
#include <string>

#include "api/login.h"

namespace qorvel {

// The session values shared by the window thread and the workers.
class SessionStore {
  public:
    Session get() const {
        std::lock_guard g(mutex_);
        return session_;
    }
    void set(Session s) {
        std::lock_guard g(mutex_);
        session_ = std::move(s);
    }
    std::string account_key() const {
        std::lock_guard g(mutex_);
        return session_.account_key;
    }
    std::string login_pid() const {
        std::lock_guard g(mutex_);
        return session_.login_pid;
    }
    void set_account_key(std::string key) {
        std::lock_guard g(mutex_);
        session_.account_key = std::move(key);
    }

  private:
    mutable std::mutex mutex_;
    Session session_;
};

std::string membership_notice(bool member);

std::string welcome_line(const std::string& account_name);

}  // namespace qorvel
