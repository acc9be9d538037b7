#include "ui/FrameworkTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pelvar {

bool InstallGermanFrameworkTexts(QCoreApplication& app)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    QLocale::setDefault(german);
    // Parented to the application so it lives exactly as long as it is installed.
    auto* translator = new QTranslator(&app);
    const bool loaded = translator->load(german, QStringLiteral("qtbase"), QStringLiteral("_"),
                                         QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (!loaded) {
        delete translator;
        return false;
    }
    app.installTranslator(translator);
    return true;
}

} // namespace pelvar
