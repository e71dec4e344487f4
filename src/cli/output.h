// What the client prints: a table for people, JSON lines for scripts. Every
// text from the service is GBK and leaves as UTF-8; nothing it holds can
// break a line or a JSON string.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qorvel::cli {

// A JSON string literal of a UTF-8 text: quotes, backslashes and control
// bytes escaped; invalid UTF-8 bytes become U+FFFD.
std::string json_string(const std::string& utf8);

// One JSON object of (key, value) pairs; values are already JSON (a string
// from json_string, a number, true, false).
std::string json_object(const std::vector<std::pair<std::string, std::string>>& fields);

// Columns a UTF-8 text takes on a terminal: wide (CJK) characters two.
std::size_t display_width(const std::string& utf8);

// A text for a table cell or a message line: control bytes become "?".
std::string printable(const std::string& utf8);

// Left-aligned columns two blanks apart, a header line first; the last column is not padded.
std::string table(const std::vector<std::string>& header,
                  const std::vector<std::vector<std::string>>& rows);

// The progress line of a transfer (UTF-8): "name  45%  1.5MB/s  剩余 1分05秒".
std::string progress_line(const std::string& name_utf8, long long done, long long total,
                          double bytes_per_s);

}  // namespace qorvel::cli
