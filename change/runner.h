#pragma once
// A change from its scan to its confirmation, as the command-line client runs
// it: the scan the engine starts from, the requests sent and their answers
// awaited, the discoveries that see the devices that moved, a stop that lets
// the answers in flight come in, the confirmation scan, and the report kept as
// a journal all along. The front end hands in how it scans, whether a stop
// was asked, and its progress line; it prints what the run returns.

#include "applyreport.h"
#include "changeengine.h"
#include "neighbours.h"
#include "scansession.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace veltrona::change {

// What a run takes from its front end.
struct Driver {
    // Scans and listens until the devices in `awaited` (none: every device)
    // answered; `lastSecond` as ScanOptions says. A stop request ends it.
    std::function<ScanResult(const std::vector<Mac> &awaited,
                             const std::function<void()> &lastSecond)>
        scan;
    std::function<int()> stopSignal;  // the stop asked for, 0 when none
    std::function<bool()> secondStop; // whether a second stop was asked for
    // While sending, at every turn: rows done, rows in all. May be empty.
    std::function<void(std::size_t done, std::size_t total)> progress;
    // Nothing more is sent: the passwords may be wiped, the progress ended.
    std::function<void()> sendingEnded;
};

struct RunEnd {
    int stopSignal = 0;
    std::int32_t opened = KOVA_OK;         // the connection requests go on
    std::optional<std::int32_t> loopError; // receiving stopped early while sending
    std::string reportError;
    double elapsed = 0;
    bool sentRequests = false; // a request went out
    LostReplies lost;
};

// One run of the engine on the devices `desired` names. Made with the scan
// it starts from (ending once `awaited` answered, none: listening for all its
// time so that every holder of an address is heard), the new addresses asked
// for probed in its last second; without an engine when the scan failed.
class Run {
public:
    Run(KovaLibrary &library, Driver driver, const std::vector<Desired> &desired, std::string bind,
        int seconds, int parallel, const std::vector<Mac> &awaited);
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    const ScanResult &found() const { return found_; }
    ChangeEngine &engine() { return *engine_; }
    // The problems of matching the rows to the devices heard and, after
    // start(), of the checks.
    const std::vector<Problem> &problems() const { return problems_; }

    // Without problems so far, checks the changes against the devices heard
    // (with `everyHolder`, against every holder of an address: the scan heard
    // them all and the new addresses were probed) and schedules them.
    const std::vector<Problem> &start(bool everyHolder);

    // Sends, awaits the answers and the moves, then confirms with a fresh
    // scan. `report` (may be null) is kept as a journal: each row's latest
    // state is added as it changes, a row's "sent" before its request goes.
    // After a stop the answers in flight are awaited a few seconds at most,
    // and not at all after a second stop.
    RunEnd drive(ApplyReport *report);

private:
    KovaLibrary &library_;
    Driver driver_;
    std::string bind_;
    NeighbourProbes probes_;
    ScanResult found_;
    std::vector<Problem> problems_;
    std::function<bool(std::size_t)> beforeSend_ = [](std::size_t) { return false; };
    std::optional<ChangeEngine> engine_;
};

} // namespace veltrona::change
