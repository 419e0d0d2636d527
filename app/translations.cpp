#include "translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace {

// Removes what `translator` held and installs what it loads, if anything.
bool reload(QTranslator &translator, const QLocale &locale, const QString &name,
            const QString &directory) {
    QCoreApplication::removeTranslator(&translator);
    if (!translator.load(locale, name, QStringLiteral("_"), directory))
        return false;
    QCoreApplication::installTranslator(&translator);
    return true;
}

} // namespace

namespace veltrona::ui {

bool Translations::load(const QLocale &locale, const QString &directory) {
    reload(m_qt, locale, QStringLiteral("qtbase"),
           QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    return reload(m_program, locale, QStringLiteral("veltrona"), directory);
}

QString Translations::installedDirectory() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/veltrona/translations"));
}

} // namespace veltrona::ui
