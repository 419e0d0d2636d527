#pragma once
// The scan that the client's commands share, and the connection that requests
// are sent on with their answers; without Qt, so that the window may use it
// too. The library has one connection per process, so there is one at a time.

#include "devicerow.h"
#include "kovalibrary.h"
#include "replycallbacks.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veltrona {

// Where a device answered from: the address and the interface (empty when not
// known).
struct Place {
    std::string address;
    std::string interfaceName;
    bool operator==(const Place &) const = default;
};

struct ScanResult {
    std::int32_t error = KOVA_OK;          // initialisation or discovery refused
    bool notSent = false;                  // the connection opened, no discovery left
    std::vector<DeviceRecord> devices;     // one per MAC (its first answer), in order of arrival
    std::optional<std::int32_t> loopError; // the receive loop stopped on this error
    bool stopped = false;                  // a stop request ended it early
    std::uint32_t lostTableFull = 0;       // replies of new devices beyond the library's ceiling
    std::uint32_t lostBufferFull = 0;      // datagrams the system dropped, receive buffer full
    // MACs that answered from more than one place, with every place, the first
    // answer's first.
    std::map<std::uint64_t, std::vector<Place>> heardTwice;
};

// Every place `device` of `result` answered from.
std::vector<Place> placesOf(const ScanResult &result, const DeviceRecord &device);

struct ScanOptions {
    std::string bindAddress; // empty: every network
    int seconds = 5;
    // When not empty (distinct MACs): the scan ends once all of them answered.
    std::vector<std::array<std::uint8_t, 6>> stopOnceHeard;
    // Runs once as the last second of listening begins (at once in a
    // one-second scan), unless the scan ends before.
    std::function<void()> lastSecond;
    // Asked at least every tenth of a second: true ends the scan (`stopped`).
    std::function<bool()> stopRequested;
    // Called at least once a second while listening: seconds left, devices heard.
    std::function<void(long, std::size_t)> tick;
};

// Scans as the main window does (two discoveries) and listens as `options` say.
ScanResult scan(KovaLibrary &library, const ScanOptions &options);

// The answers (events other than device information) of an open connection,
// by the MAC of the device that gave them.
class Answers : public ReplyReceiver {
public:
    using Mac = std::array<std::uint8_t, 6>;
    // With `keepHeard`, answers to discoveries are kept for takeHeard();
    // otherwise they are dropped.
    explicit Answers(KovaLibrary &library, bool keepHeard = false)
        : library_(library), keepHeard_(keepHeard) {}
    void reply(HKOVAITEM item, int32_t event) override;
    void loopError(int32_t code) override;

    // Waits until an answer is queued, `until` has come, or at most a tenth of
    // a second (so that a caller sees a stop request); takes what is queued.
    std::vector<std::pair<Mac, std::int32_t>> take(std::chrono::steady_clock::time_point until);
    // The devices that answered a discovery since the last call.
    std::vector<DeviceRecord> takeHeard();
    std::optional<std::int32_t> loopErrorCode();

private:
    KovaLibrary &library_;
    const bool keepHeard_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::pair<Mac, std::int32_t>> queue_;
    std::vector<DeviceRecord> heard_;
    std::optional<std::int32_t> loopError_;
};

// A connection of the library whose callbacks go to `receiver`, closed (and
// its callbacks drained) at the end of the object.
class Connection {
public:
    Connection(KovaLibrary &library, ReplyReceiver &receiver, const std::string &bindAddress);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    std::int32_t error() const { return error_; }

private:
    KovaLibrary &library_;
    std::int32_t error_;
};

} // namespace veltrona
