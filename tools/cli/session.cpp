#include "session.h"

#include "fieldtext.h"
#include "printable.h"
#include "scansequence.h"
#include "stopsignals.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace veltrona::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Longest wait between two looks at a stop signal.
constexpr auto kStopCheck = 100ms;

// Where a device answered from: its address and the interface, as people read it.
std::string placeOf(const FoundDevice &device) {
    std::string place = fieldText(device.info.ipAddress);
    if (!device.interfaceName.empty())
        place += " on " + device.interfaceName;
    return place;
}

// The devices of a scan, by MAC: a flood of replies costs one hash look-up each.
class ScanReceiver : public ReplyReceiver {
public:
    ScanReceiver(KovaLibrary &library, const std::vector<MacAddress> &wanted) : library_(library) {
        for (const MacAddress &mac : wanted)
            wanted_.insert(macKey(mac.data()));
    }

    void reply(HKOVAITEM item, int32_t event) override {
        if (event != KOVA_EVENT_DEVICE_INFO || repeatsListedPlace(item))
            return;
        // Decoded here, on the thread that writes the records, not while it may.
        FoundDevice device;
        if (!decodeDevice(library_, item, device))
            return;
        const std::uint64_t key = macKey(device.info.mac);
        std::lock_guard lock(mutex_);
        const auto [at, fresh] = known_.emplace(key, devices_.size());
        if (!fresh) {
            const FoundDevice &first = devices_[at->second];
            if (placeOf(first) != placeOf(device) && !heardTwice_.count(key))
                heardTwice_[key] = placeOf(first) + " and " + placeOf(device);
            return;
        }
        wantedFound_ += wanted_.count(key);
        byItem_.emplace(item, devices_.size());
        devices_.push_back(std::move(device));
        changed_.notify_all();
    }
    void loopError(int32_t code) override {
        std::lock_guard lock(mutex_);
        if (!loopError_)
            loopError_ = code;
        changed_.notify_all();
    }

    // Waits until every wanted device answered or `until`; the number heard so far.
    std::size_t wait(Clock::time_point until) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, until,
                            [&] { return !wanted_.empty() && wantedFound_ == wanted_.size(); });
        return devices_.size();
    }
    bool allWantedHeard() {
        std::lock_guard lock(mutex_);
        return !wanted_.empty() && wantedFound_ == wanted_.size();
    }
    void takeInto(ScanResult &result) {
        std::lock_guard lock(mutex_);
        result.devices = std::move(devices_);
        result.loopError = loopError_;
        result.heardTwice = std::move(heardTwice_);
    }

private:
    // Whether this is a listed device's record answering again from the place
    // it was listed with: then only its address and interface are read, not
    // the whole reply (a flood of replies from known devices stays cheap).
    bool repeatsListedPlace(HKOVAITEM item) {
        KOVA_DEVICE_INFO info{};
        char name[KOVA_INTERFACE_NAME_SIZE] = {};
        {
            std::lock_guard lock(mutex_);
            if (byItem_.count(item) == 0)
                return false;
        }
        if (library_.getDeviceInfo(item, &info) != KOVA_OK ||
            library_.getReplyInterface(item, name) != KOVA_OK)
            return false;
        std::lock_guard lock(mutex_);
        const FoundDevice &listed = devices_[byItem_.at(item)];
        return std::strncmp(listed.info.ipAddress, info.ipAddress, sizeof info.ipAddress) == 0 &&
               listed.interfaceName == fieldText(name);
    }

    KovaLibrary &library_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unordered_set<std::uint64_t> wanted_;
    std::unordered_map<std::uint64_t, std::size_t> known_; // MAC -> index in devices_
    std::unordered_map<HKOVAITEM, std::size_t> byItem_;    // the record each was listed from
    std::map<std::uint64_t, std::string> heardTwice_;
    std::size_t wantedFound_ = 0;
    std::vector<FoundDevice> devices_;
    std::optional<std::int32_t> loopError_;
};

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

void Answers::reply(HKOVAITEM item, int32_t event) {
    if (event == KOVA_EVENT_DEVICE_INFO) {
        DeviceRecord device;
        if (!keepHeard_ || !decodeDevice(library_, item, device))
            return;
        std::lock_guard lock(mutex_);
        heard_.push_back(std::move(device));
        arrived_.notify_all();
        return;
    }
    KOVA_DEVICE_INFO info{};
    if (library_.getDeviceInfo(item, &info) != KOVA_OK)
        return;
    MacAddress mac;
    std::copy(std::begin(info.mac), std::end(info.mac), mac.begin());
    std::lock_guard lock(mutex_);
    queue_.emplace_back(mac, event);
    arrived_.notify_all();
}

void Answers::loopError(int32_t code) {
    std::lock_guard lock(mutex_);
    if (!loopError_)
        loopError_ = code;
    arrived_.notify_all();
}

std::vector<std::pair<MacAddress, std::int32_t>> Answers::take(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    arrived_.wait_until(lock, std::min(until, Clock::now() + kStopCheck),
                        [&] { return !queue_.empty() || !heard_.empty(); });
    std::vector<std::pair<MacAddress, std::int32_t>> taken;
    taken.swap(queue_);
    return taken;
}

std::vector<DeviceRecord> Answers::takeHeard() {
    std::lock_guard lock(mutex_);
    std::vector<DeviceRecord> taken;
    taken.swap(heard_);
    return taken;
}

std::optional<std::int32_t> Answers::loopErrorCode() {
    std::lock_guard lock(mutex_);
    return loopError_;
}

Connection::Connection(KovaLibrary &library, ReplyReceiver &receiver,
                       const std::string &bindAddress)
    : library_(library) {
    const KOVA_CONFIG config = ReplyCallbacks::instance().open(receiver);
    error_ = initialiseForBinding(library_, config, bindAddress);
}

Connection::~Connection() {
    library_.close();
    ReplyCallbacks::instance().close();
}

std::string heardTwiceProblem(const ScanResult &result, const std::uint8_t *mac) {
    const auto at = result.heardTwice.find(macKey(mac));
    if (at == result.heardTwice.end())
        return {};
    return formatMac(mac) + " answered from two places (" + at->second +
           "): give --bind with the address of the network to change it on";
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
    ScanResult result;
    std::uint32_t tableFull = 0, bufferFull = 0;
    library.getLostReplies(&tableFull, &bufferFull);
    ScanReceiver receiver(library, stopOnceHeard);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    {
        Connection connection(library, receiver, bindAddress);
        result.error = connection.error();
        if (result.error != KOVA_OK)
            return result;
        // Two discoveries, version bytes 5 and 3, as the main window sends them.
        DiscoverySequence discovery(library);
        for (int wait = discovery.next(); wait >= 0; wait = discovery.next())
            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        if (discovery.firstResult() != KOVA_OK && discovery.secondResult() != KOVA_OK) {
            result.error = discovery.secondResult();
            result.notSent = true;
            return result;
        }
        Countdown countdown(progress);
        std::size_t heard = 0;
        bool lastSecondRun = !lastSecond;
        for (;;) {
            const Clock::time_point now = Clock::now();
            result.stopped = caughtStopSignal() != 0;
            if (result.stopped || now >= deadline || receiver.allWantedHeard())
                break;
            const long left = secondsLeft(deadline, now);
            if (left <= 1 && !lastSecondRun) {
                lastSecondRun = true;
                lastSecond();
            }
            countdown.show((stopOnceHeard.size() == 1
                                ? "Looking for " + formatMac(stopOnceHeard[0].data())
                                : std::string("Scanning")) +
                           ": " + std::to_string(left) + " s, " + std::to_string(heard) +
                           (heard == 1 ? " device" : " devices"));
            // Wake at the next whole second, on the last wanted reply, or to look
            // for a stop signal.
            const Clock::time_point tick = deadline - std::chrono::seconds(left - 1);
            heard = receiver.wait(std::min({tick, deadline, now + kStopCheck}));
        }
    }
    receiver.takeInto(result);
    std::uint32_t tableFullAfter = 0, bufferFullAfter = 0;
    if (library.getLostReplies(&tableFullAfter, &bufferFullAfter) == KOVA_OK) {
        result.lostTableFull = tableFullAfter - tableFull;
        result.lostBufferFull = bufferFullAfter - bufferFull;
    }
    return result;
}

RequestResult request(KovaLibrary &library, const std::string &bindAddress, int seconds,
                      const FoundDevice &target, const std::function<std::int32_t(HKOVAITEM)> &send,
                      bool progress) {
    RequestResult result;
    Answers answers(library);
    // A fresh connection for the request, as the setting page makes one.
    Connection connection(library, answers, bindAddress);
    result.error = connection.error();
    if (result.error == KOVA_OK)
        result.error = send(target.item);
    if (result.error != KOVA_OK)
        return result;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    Countdown countdown(progress);
    while (!result.event && Clock::now() < deadline) {
        countdown.show("Waiting for the answer: " +
                       std::to_string(secondsLeft(deadline, Clock::now())) + " s");
        // By MAC, which a result carries; its source address may be the new one
        // that the request just gave the device.
        for (const auto &[mac, event] : answers.take(deadline))
            if (!result.event && std::memcmp(mac.data(), target.info.mac, 6) == 0)
                result.event = event;
    }
    return result;
}

} // namespace veltrona::cli
