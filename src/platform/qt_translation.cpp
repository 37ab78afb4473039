#include "platform/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installQtTranslation()
{
    // Dates, and the kinds of file the file dialog names, in Portuguese too, whatever the
    // system's locale; the program's own numbers and files never depend on it.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Portugal));
    // Owned by the application, so it lives exactly as long as the texts it translates.
    auto* qtTexts = new QTranslator(QCoreApplication::instance());
    if (!qtTexts->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qtTexts;
        return false;
    }
    return QCoreApplication::installTranslator(qtTexts);
}
