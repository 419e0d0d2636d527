#pragma once
// The application object: checks that the system can make sockets, then runs
// the main window modally; when it ends, the process ends.

#include "kovalibrary.h"
#include "platform.h"

class CVeltronaApp {
public:
    // The main window gets `library` and `platform`; the socket check and the
    // message box go through `platform`.
    explicit CVeltronaApp(veltrona::ui::Platform &platform = veltrona::ui::Platform::real(),
                          veltrona::KovaLibrary &library = veltrona::KovaLibrary::real())
        : m_platform(platform), m_library(library) {}

    // Shows "Windows sockets initialization failed." when no UDP socket can
    // be made; otherwise runs the main window, registered as the main window
    // while it runs. Returns false in both cases: nothing runs afterwards.
    bool InitInstance();

private:
    veltrona::ui::Platform &m_platform;
    veltrona::KovaLibrary &m_library;
};
