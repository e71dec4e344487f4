// The lines between the program and its browser child (qorvel-web-view), one
// message per line, fields separated by single spaces and percent-escaped:
//   to the child:   "cookie DOMAIN PATH NAME VALUE EXPIRES SECURE SUBDOMAINS", "url URL", "show"
//   from the child: "window ID", "cookie ..." (as above)
// The child runs a browser engine that loads pages from the network, so the
// program reads its lines as hostile: bounded, checked field by field, and a
// line it does not know is dropped. Plain C++ so both sides share it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/web.h"

namespace qorvel::ui::qt {

// No line, escaped, is longer (the newline not counted).
inline constexpr size_t kMaxWebViewLine = 8192;

std::string web_view_cookie_line(const WebCookie& cookie);
std::string web_view_url_line(std::string_view url);
std::string web_view_window_line(std::uint64_t id);

struct WebViewLine {
    enum class Kind { unknown, cookie, url, show, window };
    Kind kind = Kind::unknown;
    WebCookie cookie;
    std::string url;
    std::uint64_t window = 0;
};

// One line without its newline. A cookie whose fields could not go into the
// request routines' store unchanged (control bytes, a domain that is no host
// name, a path without "/") and every malformed line read as unknown.
WebViewLine read_web_view_line(std::string_view line);

// Splits a byte stream into lines of at most kMaxWebViewLine bytes; the rest
// of a longer line is dropped up to its newline.
class WebViewLineReader {
  public:
    std::vector<std::string> feed(std::string_view bytes);

  private:
    std::string partial_;
    bool skipping_ = false;
};

}  // namespace qorvel::ui::qt
