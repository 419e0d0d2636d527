#pragma once
// What the front end asks of the system it runs on: message boxes, modal
// dialogs, the browser, the host's addresses and neighbours, sockets and a
// clock. The window, the setting page and the dialogs they open take one;
// real() is the system itself, and a test derives and overrides what it
// records or answers.

#include "addresscheck.h"
#include "findings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class QDialog;
class QObject;
class QWidget;

namespace veltrona::ui {

// The faults among the host's findings (problems and warnings), one sentence
// each in the window's language; notes and checks that could not be made are
// left to veltrona-cli doctor.
QStringList describeFindings(const std::vector<diagnosis::HostFinding> &findings);

class Platform {
public:
    using Address = std::array<uint8_t, 4>;

    virtual ~Platform() = default;

    // The system itself; lives for the whole process.
    static Platform &real();

    // Shows `text` in a modal message box with an OK button, owned by `owner`
    // (or by the active window when null), captioned with the application's
    // name. Returns when the user has dismissed it. User-interface thread only.
    virtual void messageBox(QWidget *owner, const QString &text);
    // Shows `text` as a warning in a modal message box with two buttons:
    // `back` (the default, and what Escape and the close box choose) and
    // `proceed`. True only when the user chose `proceed`. User-interface
    // thread only.
    virtual bool askToProceed(QWidget *owner, const QString &text, const QString &back,
                              const QString &proceed);
    // Runs `dialog` modally and returns its result.
    virtual int runModal(QDialog &dialog);
    // Hands a web address to the default browser. Runs `done` on the
    // user-interface thread with whether that worked, never once `context`
    // is gone; the user-interface thread never blocks.
    virtual void openUrl(QObject *context, const QString &url, std::function<void(bool)> done);
    // What this host's own checks find that keeps a scan bound to `binding`
    // ("ANY" or an address) from hearing devices: one sentence for the user
    // each, none when they found nothing. Runs `found` on the user-interface
    // thread, never once `context` is gone.
    virtual void checkHost(QObject *context, const QByteArray &binding,
                           std::function<void(QStringList)> found);
    // This host's IPv4 interface addresses in the order the system lists them.
    virtual std::vector<Address> hostAddresses();
    // The hosts that hold one of `addresses` and are not among `heard`: this
    // host itself, and live hosts on its networks (change::liveHolders,
    // waiting up to a second for the neighbour table). Runs `found` with them
    // on the user-interface thread, and never once `context` is gone. When no
    // address outside `heard` is on a network of this host's there is nothing
    // to wait for and `found` runs before this returns; otherwise the lookup
    // runs on a thread of its own and the user-interface thread never blocks.
    virtual void findLiveHolders(QObject *context, std::vector<uint32_t> addresses,
                                 std::vector<change::HeardDevice> heard,
                                 std::function<void(std::vector<change::HeardDevice>)> found);
    // Whether a UDP socket can be made.
    virtual bool canCreateSocket();
    // Runs `then` on the user-interface thread once `ms` milliseconds have
    // passed, unless `context` is gone by then. The real one is a single-shot
    // timer: the user-interface thread never blocks.
    virtual void wait(QObject *context, int ms, std::function<void()> then);
};

} // namespace veltrona::ui
