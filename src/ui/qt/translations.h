// Qt's own texts (dialog buttons, context menus, file choosers) in Chinese,
// so a message box reads "确定" like the rest of the program.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace qorvel::ui::qt {

// Loads Qt's translation catalogue for the locale from Qt's translations
// folder and installs it on the application. False when none is installed.
bool install_qt_translations(QCoreApplication& app,
                             const QString& locale = QStringLiteral("zh_CN"));

}  // namespace qorvel::ui::qt
