// Reading queries and form bodies the way a standard form parser does:
// "+" is a blank, %XX is the byte XX, every other byte stays as sent.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qorvel::service {

class FormFields {
  public:
    FormFields() = default;
    explicit FormFields(std::string_view encoded);

    // The first value under name; nullopt when the name is absent.
    std::optional<std::string> get(std::string_view name) const;
    // The value, or the empty text when absent.
    std::string text(std::string_view name) const;

  private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

std::string form_decode(std::string_view encoded);

// The query part of a request target (after the first "?").
std::string_view query_of(std::string_view target);

// A decimal id in 32 bits: optional "-", 1-10 digits, nothing else.
std::optional<int> parse_id(std::string_view text);
// A list of ids each followed by "," ("12,34,"); nullopt on any bad piece.
std::optional<std::vector<int>> parse_id_list(std::string_view text, size_t max_count);

}  // namespace qorvel::service
