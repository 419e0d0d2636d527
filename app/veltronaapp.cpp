#include "veltronaapp.h"

#include "messagebox.h"
#include "skinbutton.h"
#include "veltronadlg.h"
#include "version.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

CVeltronaApp::SocketProbe &socketProbe() {
    static CVeltronaApp::SocketProbe probe;
    return probe;
}

} // namespace

CVeltronaApp::SocketProbe CVeltronaApp::setSocketProbe(SocketProbe probe) {
    SocketProbe previous = std::move(socketProbe());
    socketProbe() = std::move(probe);
    return previous;
}

bool CVeltronaApp::canCreateSocket() {
    if (socketProbe())
        return socketProbe()();
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool CVeltronaApp::InitInstance() {
    if (!canCreateSocket()) {
        veltrona::ui::messageBox(nullptr,
                                 QString::fromLatin1(veltrona::res::kSocketsInitFailedText));
        return false;
    }
    CVeltronaDlg dialog(nullptr);
    {
        const veltrona::ui::MainWindowRegistration registration(&dialog);
        dialog.exec();
    }
    // The window's destruction closes the library connection, so no reply
    // reaches it once it is gone.
    return false;
}
