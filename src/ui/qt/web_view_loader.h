// Builds a browser view through the browser module, loading it on first use.
#pragma once

class QWidget;

namespace qorvel::ui::qt {

// The module is looked for in QORVEL_WEB_VIEW_MODULE, next to the program,
// then where the build put it. Without it the view is a notice, not a crash.
QWidget* create_web_view(QWidget* parent);

// Whether the module has been loaded in this process.
bool web_view_module_loaded();

}  // namespace qorvel::ui::qt
