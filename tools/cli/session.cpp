#include "session.h"

#include "kovalibrary.h"
#include "printable.h"
#include "scansequence.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace veltrona::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

KovaLibrary &library() {
    return KovaLibrary::real();
}

// State shared with the library's receive thread, guarded by `mutex`. It is
// never destroyed: a callback that had already begun when kova_Close returned
// may still reach it while the process ends.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0; // callbacks between their first and last look at this state

    // Scanning.
    bool collecting = false;
    std::vector<FoundDevice> devices;
    std::vector<MacAddress> wanted;
    std::size_t wantedFound = 0;

    // Waiting for the answer to a request.
    bool awaitingResult = false;
    MacAddress resultMac{};
    std::optional<std::int32_t> event;

    std::optional<std::int32_t> loopError;
};

Shared &shared() {
    static Shared *state = new Shared;
    return *state;
}

bool sameMac(const std::uint8_t *a, const std::uint8_t *b) {
    return std::memcmp(a, b, 6) == 0;
}

// Whether a result record belongs to the device a request went to: by MAC
// address, which a result carries; its source address may be the new one that
// the request just gave the device.
bool isTargetResult(const Shared &s, const KOVA_DEVICE_INFO &info) {
    return sameMac(info.mac, s.resultMac.data());
}

void onReply(HKOVAITEM item, std::int32_t event, std::int32_t /*reserved*/) {
    Shared &s = shared();
    {
        std::lock_guard lock(s.mutex);
        if (!s.collecting && !s.awaitingResult)
            return;
        ++s.inFlight;
    }
    // Decode here, on the thread that writes the records, not while it may.
    FoundDevice device;
    KOVA_DEVICE_INFO info{};
    const bool decoded = event == KOVA_EVENT_DEVICE_INFO
                             ? decodeDevice(library(), item, device)
                             : library().getDeviceInfo(item, &info) == KOVA_OK;
    std::lock_guard lock(s.mutex);
    if (decoded && event == KOVA_EVENT_DEVICE_INFO && s.collecting) {
        const bool known = std::any_of(s.devices.begin(), s.devices.end(), [&](const auto &d) {
            return sameMac(d.info.mac, device.info.mac);
        });
        if (!known) {
            if (std::any_of(s.wanted.begin(), s.wanted.end(), [&](const MacAddress &m) {
                    return sameMac(device.info.mac, m.data());
                }))
                ++s.wantedFound;
            s.devices.push_back(device);
        }
    } else if (decoded && event != KOVA_EVENT_DEVICE_INFO && s.awaitingResult && !s.event &&
               isTargetResult(s, info)) {
        s.event = event;
    }
    --s.inFlight;
    s.changed.notify_all();
}

void onError(std::int32_t code, const char * /*text*/) {
    Shared &s = shared();
    std::lock_guard lock(s.mutex);
    if (!s.loopError)
        s.loopError = code;
    s.changed.notify_all();
}

std::int32_t openConnection(const std::string &bindAddress) {
    KOVA_CONFIG config{};
    config.replyCallback = onReply;
    config.errorCallback = onError;
    config.classId = KOVA_CLASS_ID;
    const std::int32_t result = initialiseForBinding(library(), config, bindAddress);
    if (result != KOVA_OK)
        library().close();
    return result;
}

// Closes the connection and waits for callbacks that are still busy with it.
void closeConnection() {
    library().close();
    Shared &s = shared();
    std::unique_lock lock(s.mutex);
    s.collecting = false;
    s.awaitingResult = false;
    s.changed.wait_for(lock, 2s, [&] { return s.inFlight == 0; });
}

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

long secondsLeft(Clock::time_point deadline, Clock::time_point now) {
    return static_cast<long>(
        std::chrono::ceil<std::chrono::seconds>(std::max(deadline - now, Clock::duration{}))
            .count());
}

} // namespace

ScanResult scan(const std::string &bindAddress, int seconds,
                const std::optional<MacAddress> &wanted, bool progress) {
    return scanFor(bindAddress, seconds,
                   wanted ? std::vector<MacAddress>{*wanted} : std::vector<MacAddress>{}, progress);
}

ScanResult scanFor(const std::string &bindAddress, int seconds,
                   const std::vector<MacAddress> &wanted, bool progress) {
    Shared &s = shared();
    {
        std::lock_guard lock(s.mutex);
        s.devices.clear();
        s.wanted = wanted;
        s.wantedFound = 0;
        s.loopError.reset();
        s.awaitingResult = false;
        s.collecting = true;
    }
    ScanResult result;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    result.error = openConnection(bindAddress);
    if (result.error != KOVA_OK) {
        closeConnection();
        return result;
    }
    // Two discoveries, version bytes 5 and 3, as the main window sends them.
    DiscoverySequence discovery(library());
    for (int wait = discovery.next(); wait >= 0; wait = discovery.next())
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    if (discovery.firstResult() != KOVA_OK && discovery.secondResult() != KOVA_OK) {
        result.error = discovery.secondResult();
        result.notSent = true;
        closeConnection();
        return result;
    }

    Countdown countdown(progress);
    {
        std::unique_lock lock(s.mutex);
        for (;;) {
            const Clock::time_point now = Clock::now();
            if ((!wanted.empty() && s.wantedFound == wanted.size()) || now >= deadline)
                break;
            const long left = secondsLeft(deadline, now);
            countdown.show(
                (wanted.size() == 1 ? "Looking for " + formatMac(wanted[0].data()) : "Scanning") +
                ": " + std::to_string(left) + " s, " + std::to_string(s.devices.size()) +
                (s.devices.size() == 1 ? " device" : " devices"));
            // Wake at the next whole second before the deadline, or on a reply.
            const Clock::time_point tick = deadline - std::chrono::seconds(left - 1);
            s.changed.wait_until(lock, std::min(tick, deadline));
        }
    }
    closeConnection();
    std::lock_guard lock(s.mutex);
    result.devices = s.devices;
    result.loopError = s.loopError;
    return result;
}

RequestResult request(const std::string &bindAddress, int seconds, const FoundDevice &target,
                      const std::function<std::int32_t(HKOVAITEM)> &send, bool progress) {
    Shared &s = shared();
    {
        std::lock_guard lock(s.mutex);
        s.collecting = false;
        std::copy(std::begin(target.info.mac), std::end(target.info.mac), s.resultMac.begin());
        s.event.reset();
        s.loopError.reset();
        s.awaitingResult = true;
    }
    RequestResult result;
    // A fresh connection for the request, as the setting page makes one.
    result.error = openConnection(bindAddress);
    if (result.error == KOVA_OK)
        result.error = send(target.item);
    if (result.error != KOVA_OK) {
        closeConnection();
        return result;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    Countdown countdown(progress);
    {
        std::unique_lock lock(s.mutex);
        for (;;) {
            const Clock::time_point now = Clock::now();
            if (s.event || now >= deadline)
                break;
            const long left = secondsLeft(deadline, now);
            countdown.show("Waiting for the answer: " + std::to_string(left) + " s");
            const Clock::time_point tick = deadline - std::chrono::seconds(left - 1);
            s.changed.wait_until(lock, std::min(tick, deadline));
        }
    }
    closeConnection();
    std::lock_guard lock(s.mutex);
    result.event = s.event;
    return result;
}

} // namespace veltrona::cli
