// The embedded browser lives in a module of its own, loaded when the first
// web view is built: linking the browser engine into the program would start
// its GL context and map its libraries at launch, for a window most people
// never open. The program hands the module its cookie store through plain
// function pointers, so the module needs none of our libraries.
#pragma once

#include <vector>

#include "net/web.h"

class QWidget;

namespace qorvel::ui::qt {

struct WebViewHost {
    std::vector<WebCookie> (*cookies)();          // the request routines' cookies now
    void (*set_cookie)(const WebCookie& cookie);  // a cookie the browser received
};

// extern "C" QWidget* qorvel_create_web_view(QWidget* parent, const WebViewHost* host):
// a browser view whose store starts with the host's cookies and gives every
// cookie it receives back to the host. The url property loads a page.
using CreateWebView = QWidget* (*)(QWidget* parent, const WebViewHost* host);
inline constexpr const char* kCreateWebViewSymbol = "qorvel_create_web_view";

}  // namespace qorvel::ui::qt
