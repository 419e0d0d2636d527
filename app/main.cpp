// veltrona: finds the KOVA video devices on the local network and changes
// their settings. Takes no arguments and stores nothing.
#include "veltronaapp.h"
#include "version.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(veltrona::res::kProductName));
    // Lets the desktop match the window with the installed menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELTRONA_APP_ID));
    CVeltronaApp app;
    app.InitInstance();
    return 0;
}
