// GBK text operations. A text is a std::string of GBK bytes; positions are
// 1-based byte positions and a failed search gives -1. Scans step over a
// two-byte character as a whole, so a match never starts at its second byte.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qorvel {

inline bool is_gbk_lead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// The text a byte string reads as: everything before its first zero byte.
std::string bytes_to_text(std::string_view bytes);

int text_find(std::string_view text, std::string_view what, int start = 1,
              bool ignore_case = false);
int text_find_last(std::string_view text, std::string_view what);

std::string text_left(std::string_view text, int n);
std::string text_right(std::string_view text, int n);
std::string text_middle(std::string_view text, int start, int n);
std::string text_replace_all(std::string_view text, std::string_view what, std::string_view with,
                             bool case_sensitive = true);
std::string text_remove(std::string_view text, int start, int n);

// Splitting the empty text gives no pieces; a separator at the start or two
// separators in a row give empty pieces; a trailing empty remainder is dropped.
std::vector<std::string> text_split(std::string_view text, std::string_view separator);

std::string text_trim(std::string_view text);
std::string text_upper(std::string_view text);
std::string text_lower(std::string_view text);

// Whether a byte below 0x20 or 0x7F occurs. Such a byte in an address, path,
// user name or password would end a protocol line early and start another.
bool has_control_chars(std::string_view text);

// C-style conversions: leading blanks and a sign, then digits; 0 when none.
int text_to_int(std::string_view text);
double text_to_number(std::string_view text);
// An integral value prints without a decimal point.
std::string number_to_text(double value);

// Cuts the value between two markers with the service's exact arithmetic:
// a missing start marker starts the cut at (marker length - 1), a missing end
// marker gives the empty text.
std::string text_between(std::string_view text, std::string_view start_marker,
                         std::string_view end_marker);

// The time part of the date-time text ("14时0分30秒", "9时5分", "" at midnight).
std::string time_of_day_text(const std::tm& local_time);

// Injectable clock for the log time stamp.
using LocalClock = std::function<std::tm()>;
std::tm system_local_time();
inline std::string time_of_day_text(const LocalClock& clock) {
    return time_of_day_text(clock ? clock() : system_local_time());
}

}  // namespace qorvel
