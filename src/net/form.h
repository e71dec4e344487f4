// The one place where queries and form bodies are built. Values keep their
// bytes (GBK or UTF-8) except the delimiters "&", "=", "+", "%", "#", blanks
// and control characters, which go as %XX so a value can never end a field.
#pragma once

#include <string>
#include <string_view>

namespace qorvel {

std::string form_escape(std::string_view value);

class Form {
  public:
    Form() = default;
    Form& add(std::string_view name, std::string_view value);
    Form& add(std::string_view name, long long value);
    const std::string& str() const { return body_; }
    bool empty() const { return body_.empty(); }

  private:
    std::string body_;
};

// path + "?" + the pairs (the path alone when there are none).
std::string with_query(std::string_view path, const Form& query);

}  // namespace qorvel
