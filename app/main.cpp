// veltrona: finds the KOVA video devices on the local network and changes
// their settings. Takes no arguments and stores nothing.
#include "translations.h"
#include "veltronaapp.h"
#include "version.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(veltrona::res::kProductName));
    // Lets the desktop match the window with the installed menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELTRONA_APP_ID));
    // The window speaks the language of the environment's locale (LANGUAGE,
    // LC_ALL, LC_MESSAGES, LANG) when there is a translation for it.
    veltrona::ui::Translations translations;
    translations.load(QLocale(), veltrona::ui::Translations::installedDirectory());
    CVeltronaApp app;
    app.InitInstance();
    return 0;
}
