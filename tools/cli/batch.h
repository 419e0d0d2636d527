#pragma once
// `veltrona-cli plan` and `veltrona-cli apply`: batch configuration of many
// devices from one reviewable plan (see plan.h for its format).

#include "changeengine.h"
#include "commandline.h"
#include "kovalibrary.h"

#include <QStringList>

#include <functional>
#include <optional>
#include <string>

namespace veltrona::cli {

// Some rows of a plan were not applied and confirmed.
inline constexpr int kExitSomeFailed = 5;

// Runs `plan` or `apply` as parsed on the given library; `sentRequests`, when
// given, tells whether any request went out to a device.
int runBatch(const CommandLine &line, bool interactive, bool progress, KovaLibrary &library,
             bool *sentRequests = nullptr);

// set-network, set-hostname and set-account: one device's change through the
// engine, with the same checks, confirmation and report as apply.
struct OneDevice {
    change::Desired desired; // its credentials set
    std::string bind;
    int seconds = 5;
    std::optional<std::string> reportPath;
    bool readdressing = false; // a new address: the scan hears every holder
};

// Exit codes as set-* document them; `forget` wipes the passwords once they
// are no longer needed (also when nothing is sent).
int runOneDevice(const OneDevice &one, bool progress, KovaLibrary &library,
                 const std::function<void()> &forget);

} // namespace veltrona::cli
