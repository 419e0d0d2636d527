#pragma once
// The window's language: the program's own translation and Qt's for its
// standard texts (message box buttons, the edit fields' menu), chosen by a
// locale. English is the language of the sources and needs neither.

#include <QLocale>
#include <QString>
#include <QTranslator>

namespace veltrona::ui {

class Translations {
public:
    // Installs the translations for `locale` into the application: Qt's from
    // Qt's translation directory, the program's (veltrona_<language>.qm) from
    // `directory`. Returns whether the program's own was found; Qt's is
    // installed whenever it exists. Loading again replaces the earlier ones.
    bool load(const QLocale &locale, const QString &directory);

    // Where the package puts the program's translations, next to the program:
    // <program's directory>/../share/veltrona/translations.
    static QString installedDirectory();

private:
    QTranslator m_qt;
    QTranslator m_program;
};

} // namespace veltrona::ui
