#pragma once
// veltrona-cli's use of the KOVA library: the scan, and the connection that
// requests are sent on with their answers. The library has one connection per
// process, so there is one at a time.

#include "commandline.h"
#include "kovalibrary.h"
#include "replycallbacks.h"
#include "report.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veltrona::cli {

struct ScanResult {
    std::int32_t error = KOVA_OK;          // initialisation or discovery refused
    bool notSent = false;                  // the connection opened, no discovery left
    std::vector<FoundDevice> devices;      // one per MAC, in order of arrival
    std::optional<std::int32_t> loopError; // the receive loop stopped on this error
    bool stopped = false;                  // a stop signal ended it early
    std::uint32_t lostTableFull = 0;       // replies of new devices beyond the library's ceiling
    std::uint32_t lostBufferFull = 0;      // datagrams the system dropped, receive buffer full
    // MACs that answered from two places (interfaces or addresses), each with
    // a text naming both; the device list holds the first answer only.
    std::map<std::uint64_t, std::string> heardTwice;
};

// Why a change to `mac` cannot be sent without --bind (it answered from two
// places), or empty.
std::string heardTwiceProblem(const ScanResult &result, const std::uint8_t *mac);

// Why the scan's list may be incomplete (replies were lost), for standard
// error; empty when nothing was lost.
std::string lostRepliesWarning(const ScanResult &result);

// Scans as the main window does and listens for `seconds`, or only until every
// device in `stopOnceHeard` (when not empty; distinct MACs) has answered.
// `progress`: a countdown on standard error. `lastSecond`, when given, runs
// once as the last second of listening begins (at once in a one-second scan),
// unless the scan ends before.
ScanResult scan(KovaLibrary &library, const std::string &bindAddress, int seconds,
                const std::vector<MacAddress> &stopOnceHeard, bool progress,
                const std::function<void()> &lastSecond = {});

// The answers (events other than device information) of an open connection,
// by the MAC of the device that gave them.
class Answers : public ReplyReceiver {
public:
    // With `keepHeard`, answers to discoveries are kept for takeHeard();
    // otherwise they are dropped.
    explicit Answers(KovaLibrary &library, bool keepHeard = false)
        : library_(library), keepHeard_(keepHeard) {}
    void reply(HKOVAITEM item, int32_t event) override;
    void loopError(int32_t code) override;

    // Waits until an answer is queued, `until` has come, or at most a tenth of
    // a second (so that a caller sees a stop signal); takes what is queued.
    std::vector<std::pair<MacAddress, std::int32_t>>
    take(std::chrono::steady_clock::time_point until);
    // The devices that answered a discovery since the last call.
    std::vector<DeviceRecord> takeHeard();
    std::optional<std::int32_t> loopErrorCode();

private:
    KovaLibrary &library_;
    const bool keepHeard_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::pair<MacAddress, std::int32_t>> queue_;
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

struct RequestResult {
    std::int32_t error = KOVA_OK;      // initialisation or the request refused
    std::optional<std::int32_t> event; // the device's answer, none when it gave none in time
};

// Opens a fresh connection, sends one request with `send` (which returns the
// library's result) and waits up to `seconds` for the answer of `target`.
RequestResult request(KovaLibrary &library, const std::string &bindAddress, int seconds,
                      const FoundDevice &target, const std::function<std::int32_t(HKOVAITEM)> &send,
                      bool progress);

} // namespace veltrona::cli
