#include "ui/qt/translations.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace qorvel::ui::qt {

bool install_qt_translations(QCoreApplication& app, const QString& locale) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_") + locale,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace qorvel::ui::qt
