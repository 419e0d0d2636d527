// veltrona: finds the KOVA video devices on the local network and changes
// their settings. Takes no settings from its command line and stores nothing.
#include "commandline.h"
#include "translations.h"
#include "veltronaapp.h"
#include "version.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv) {
    // Read before the application object, which needs a display: --help,
    // --version and a mistyped argument are answered on a remote shell too.
    const veltrona::ui::CommandLine line = veltrona::ui::readCommandLine(argc, argv);
    switch (line.action) {
    case veltrona::ui::CommandLine::Action::Help:
        std::fputs(veltrona::ui::helpText().c_str(), stdout);
        return 0;
    case veltrona::ui::CommandLine::Action::Version:
        std::fputs(veltrona::ui::versionText().c_str(), stdout);
        return 0;
    case veltrona::ui::CommandLine::Action::UsageError:
        std::fputs(veltrona::ui::usageErrorText(line.offending).c_str(), stderr);
        return 64; // EX_USAGE
    case veltrona::ui::CommandLine::Action::Run:
        break;
    }
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
