// One cookie store for the web view and the request routines, as the
// desktop's browser control and its request functions once shared.
#pragma once

namespace qorvel::ui::qt {

// Copies the request routines' cookies into the web view's store and keeps
// every cookie the web view receives for the request routines. Once per process.
void share_web_cookies();

}  // namespace qorvel::ui::qt
