#pragma once
// The application object: checks that the system can make sockets, then runs
// the main window modally; when it ends, the process ends.

#include <functional>

class CVeltronaApp {
public:
    // Shows "Windows sockets initialization failed." when no UDP socket can
    // be made; otherwise runs the main window, registered as the main window
    // while it runs. Returns false in both cases: nothing runs afterwards.
    bool InitInstance();

    // Whether a UDP socket can be made; tests put their own answer in place.
    using SocketProbe = std::function<bool()>;
    static SocketProbe setSocketProbe(SocketProbe probe);
    static bool canCreateSocket();
};
