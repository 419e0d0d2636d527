#include "scansession.h"

#include "fieldtext.h"
#include "scansequence.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace veltrona {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Longest wait between two looks at a stop request.
constexpr auto kStopCheck = 100ms;

Place placeOf(const DeviceRecord &device) {
    return {fieldText(device.info.ipAddress), device.interfaceName};
}

// The devices of a scan, by MAC: a flood of replies costs one hash look-up each.
class ScanReceiver : public ReplyReceiver {
public:
    ScanReceiver(KovaLibrary &library, const std::vector<std::array<std::uint8_t, 6>> &wanted)
        : library_(library) {
        for (const auto &mac : wanted)
            wanted_.insert(macKey(mac.data()));
        // Room for a whole /16 from the start: no rehash of thousands of
        // entries, nor a move of every record (tens of megabytes), on the
        // receive thread in the middle of a burst.
        known_.reserve(kRoomFor);
        byItem_.reserve(kRoomFor);
        devices_.reserve(kRoomFor); // address space only until records fill it
    }

    void reply(HKOVAITEM item, int32_t event) override {
        if (event != KOVA_EVENT_DEVICE_INFO || repeatsListedPlace(item))
            return;
        // Decoded here, on the thread that writes the records, not while it may.
        DeviceRecord device;
        if (!decodeDevice(library_, item, device))
            return;
        const std::uint64_t key = macKey(device.info.mac);
        std::lock_guard lock(mutex_);
        const auto [at, fresh] = known_.emplace(key, devices_.size());
        if (!fresh) {
            Place place = placeOf(device);
            const auto twice = heardTwice_.find(key);
            if (twice == heardTwice_.end()) {
                Place first = placeOf(devices_[at->second]);
                if (first != place)
                    heardTwice_.emplace(key,
                                        std::vector<Place>{std::move(first), std::move(place)});
            } else if (std::find(twice->second.begin(), twice->second.end(), place) ==
                           twice->second.end() &&
                       twice->second.size() < kMostPlaces) {
                twice->second.push_back(std::move(place));
            }
            return;
        }
        byItem_.emplace(item, devices_.size());
        devices_.push_back(std::move(device));
        // Only the last wanted device ends a wait early: a burst of thousands
        // of new devices wakes no one (the waiter looks at the count on its
        // own ticks).
        if (wanted_.count(key) != 0 && ++wantedFound_ == wanted_.size())
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
        byItem_.clear();
    }

private:
    // Forged replies may name a MAC from ever new places: a few are enough.
    static constexpr std::size_t kMostPlaces = 8;
    static constexpr std::size_t kRoomFor = 1 << 16;

    // Whether this is a listed device's record answering again from the place
    // it was listed with: then only its address and interface are read, not
    // the whole reply (a flood of replies from known devices stays cheap).
    bool repeatsListedPlace(HKOVAITEM item) {
        {
            std::lock_guard lock(mutex_);
            if (byItem_.count(item) == 0)
                return false;
        }
        KOVA_DEVICE_INFO info{};
        char name[KOVA_INTERFACE_NAME_SIZE] = {};
        if (library_.getDeviceInfo(item, &info) != KOVA_OK ||
            library_.getReplyInterface(item, name) != KOVA_OK)
            return false;
        std::lock_guard lock(mutex_);
        const DeviceRecord &listed = devices_[byItem_.at(item)];
        return std::strncmp(listed.info.ipAddress, info.ipAddress, sizeof info.ipAddress) == 0 &&
               listed.interfaceName == fieldText(name);
    }

    KovaLibrary &library_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unordered_set<std::uint64_t> wanted_;
    std::unordered_map<std::uint64_t, std::size_t> known_; // MAC -> index in devices_
    std::unordered_map<HKOVAITEM, std::size_t> byItem_;    // the record each was listed from
    std::map<std::uint64_t, std::vector<Place>> heardTwice_;
    std::size_t wantedFound_ = 0;
    std::vector<DeviceRecord> devices_;
    std::optional<std::int32_t> loopError_;
};

long secondsLeft(Clock::time_point deadline, Clock::time_point now) {
    return static_cast<long>(
        std::chrono::ceil<std::chrono::seconds>(std::max(deadline - now, Clock::duration{}))
            .count());
}

} // namespace

std::vector<Place> placesOf(const ScanResult &result, const DeviceRecord &device) {
    const auto at = result.heardTwice.find(macKey(device.info.mac));
    return at != result.heardTwice.end() ? at->second : std::vector<Place>{placeOf(device)};
}

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
    Mac mac;
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

std::vector<std::pair<Answers::Mac, std::int32_t>> Answers::take(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    arrived_.wait_until(lock, std::min(until, Clock::now() + kStopCheck),
                        [&] { return !queue_.empty() || !heard_.empty(); });
    std::vector<std::pair<Mac, std::int32_t>> taken;
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

ScanResult scan(KovaLibrary &library, const ScanOptions &options) {
    ScanResult result;
    std::uint32_t tableFull = 0, bufferFull = 0;
    library.getLostReplies(&tableFull, &bufferFull);
    ScanReceiver receiver(library, options.stopOnceHeard);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.seconds);
    {
        Connection connection(library, receiver, options.bindAddress);
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
        std::size_t heard = 0;
        bool lastSecondRun = !options.lastSecond;
        for (;;) {
            const Clock::time_point now = Clock::now();
            result.stopped = options.stopRequested && options.stopRequested();
            if (result.stopped || now >= deadline || receiver.allWantedHeard())
                break;
            const long left = secondsLeft(deadline, now);
            if (left <= 1 && !lastSecondRun) {
                lastSecondRun = true;
                options.lastSecond();
            }
            if (options.tick)
                options.tick(left, heard);
            // Wake at the next whole second, on the last wanted reply, or to look
            // for a stop request.
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

} // namespace veltrona
