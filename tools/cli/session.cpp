#include "session.h"

#include "printable.h"
#include "problems.h"
#include "stopsignals.h"

#include <cstdio>

namespace veltrona::cli {

namespace {

// A one-line countdown on standard error, erased at the end.
class Countdown {
public:
    explicit Countdown(bool enabled) : enabled_(enabled) {}
    ~Countdown() {
        if (shown_)
            std::fputs("\r\033[K", stderr);
    }
    void show(const std::string &text) {
        if (!enabled_ || text == last_)
            return;
        std::fprintf(stderr, "\r\033[K%s", printable(text).c_str());
        std::fflush(stderr);
        last_ = text;
        shown_ = true;
    }

private:
    bool enabled_;
    bool shown_ = false;
    std::string last_;
};

} // namespace

std::string heardTwiceProblem(const ScanResult &result, const std::uint8_t *mac) {
    const auto at = result.heardTwice.find(macKey(mac));
    if (at == result.heardTwice.end())
        return {};
    change::Problem problem{change::Code::HeardTwice, change::Field::Device, {formatMac(mac)}};
    for (const Place &place : at->second) {
        problem.values.push_back(place.address);
        problem.values.push_back(place.interfaceName);
    }
    return problemText(problem, Terms::Options);
}

std::string lostRepliesWarning(const ScanResult &result) {
    std::string warning;
    if (result.lostTableFull != 0)
        warning = std::to_string(result.lostTableFull) +
                  " replies of further devices were dropped (at most 65536 devices are kept)";
    if (result.lostBufferFull != 0)
        warning += (warning.empty() ? "" : "; ") + std::to_string(result.lostBufferFull) +
                   " replies were dropped by the system (receive buffer full)";
    return warning.empty() ? warning : warning + ": the list may be incomplete";
}

ScanResult scan(KovaLibrary &library, const std::string &bindAddress, int seconds,
                const std::vector<MacAddress> &stopOnceHeard, bool progress,
                const std::function<void()> &lastSecond) {
    Countdown countdown(progress);
    ScanOptions options;
    options.bindAddress = bindAddress;
    options.seconds = seconds;
    options.stopOnceHeard = stopOnceHeard;
    options.lastSecond = lastSecond;
    options.stopRequested = [] { return caughtStopSignal() != 0; };
    options.tick = [&](long left, std::size_t heard) {
        countdown.show((stopOnceHeard.size() == 1
                            ? "Looking for " + formatMac(stopOnceHeard[0].data())
                            : std::string("Scanning")) +
                       ": " + std::to_string(left) + " s, " + std::to_string(heard) +
                       (heard == 1 ? " device" : " devices"));
    };
    return veltrona::scan(library, options);
}

} // namespace veltrona::cli
