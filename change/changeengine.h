#pragma once
// The change engine: what a plan asks of each device, checked before anything
// is sent, ordered so that a device leaves an address (and is seen to) before
// another takes it,
// sent through the library with a bounded number of requests awaiting their
// answers, and confirmed against a later scan. It never blocks and prints
// nothing: the caller feeds it answers and the time, and reads the outcomes.

#include "addresscheck.h"
#include "devicerow.h"
#include "kovalibrary.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace veltrona::change {

using Clock = std::chrono::steady_clock;
using Mac = std::array<std::uint8_t, 6>;

// The requests a device may be sent, in the order they go.
enum class Step { HostName, Account, Network };

const char *stepName(Step step);

struct Credentials {
    std::string user;
    std::string password;
    std::optional<std::string> newPassword; // sent with the account step; later steps use it
};

// What one device is to be given, worked out by the caller from a plan row and
// the device's answer to the scan.
struct DeviceChange {
    int row = 0;                          // named in messages ("row 4")
    Mac mac{};                            // the plan's MAC
    const DeviceRecord *device = nullptr; // nullptr: not heard in the scan
    std::vector<Step> steps;              // empty: nothing to change
    KOVA_NETWORK_SETTINGS settings{};     // sent with Step::Network
    std::string hostName, domainName;     // sent with Step::HostName (Latin-1)
    std::int32_t guest = 0;               // sent with Step::Account
    const Credentials *credentials = nullptr;
};

enum class State {
    Pending,      // not sent yet
    InFlight,     // a request awaits its answer
    Applied,      // every request answered with success; not confirmed yet
    Confirmed,    // the confirmation scan shows every value sent
    NotConfirmed, // applied, but the confirmation scan does not show it
    AuthFailed,
    Refused, // the library refused the request or the device answered status 1
    NoAnswer,
    NotFound,    // not heard in the scan
    Unchanged,   // nothing to send
    NotSent,     // never sent: stopped, or the device it waited for did not move
    Interrupted, // some of its requests went out, the rest were stopped
};

struct StateWords {
    const char *text; // for people
    const char *key;  // for programs: the report's result column
};
StateWords stateWords(State state);

// Whether the row's outcome is settled (no request of it is or will be sent).
bool isFinal(State state);

struct Outcome {
    State state = State::Pending;
    std::string detail;
    std::string addressBefore; // where the device answered the scan; empty when unknown
    std::string addressAfter;  // where it answers the confirmation scan; empty when unknown
};

struct Options {
    int parallel = 16; // requests awaiting their answers at once
    Clock::duration answerTimeout = std::chrono::seconds(5);
    // Asked just before each request goes out, with the row's index: false
    // stops the run there (as stop()), so that nothing goes after a stop
    // whenever it comes. A caller may also note the row as sent in it.
    std::function<bool(std::size_t row)> mayStart;
};

// The devices heard in a scan as the collision check takes them: each at the
// address it answered from and, when static, at its configured address too.
std::vector<HeardDevice> heardDevices(const std::vector<DeviceRecord> &devices);

// The static addresses the changes give to devices that do not hold them now.
std::vector<std::uint32_t> newAddresses(const std::vector<DeviceChange> &changes);

class ChangeEngine {
public:
    ChangeEngine(KovaLibrary &library, std::vector<DeviceChange> changes, Options options);

    // Every problem that keeps the plan from being sent, one sentence each
    // naming its row: addresses no device can use, an address held by a heard
    // device that keeps it or given twice, a cycle of moves. Also orders the
    // rows: a device that leaves an address goes before the one taking it.
    std::vector<std::string> check(const std::vector<HeardDevice> &heard);

    // Sends what may go now (library errors settle the row at once).
    void advance(Clock::time_point now);
    // A device's answer to a request (an event other than device information).
    void answer(const Mac &mac, std::int32_t event, Clock::time_point now);
    // A device's answer to a discovery. A device that leaves an address
    // another row takes must, once it has said "Success", answer from another
    // address or show the settings it was sent before that row is sent; one
    // not seen so within the answer timeout keeps the row from being sent.
    void heard(const DeviceRecord &device, Clock::time_point now);
    // Whether a device that left an address waits to be seen so: the caller
    // then sends discoveries and hands the answers to heard().
    bool awaitsMoves() const { return !awaitingMove_.empty(); }
    // No new requests: rows never sent become not-sent; answers in flight are
    // still awaited up to their timeout.
    void stop();

    bool stopped() const { return stopped_; }
    // After a stop: the rows whose answers are still awaited are given up as
    // no-answer with `why` (their requests went out).
    void abandon(const std::string &why);
    // No request in flight, none left to send and no move awaited.
    bool idle() const;
    // When the earliest request in flight times out; nothing when none is.
    std::optional<Clock::time_point> nextDeadline() const;

    // Settles the applied rows against a fresh scan and notes where every
    // device answered from. Rows still applied when no scan is given stay
    // not confirmed with `why`.
    void confirm(const std::vector<DeviceRecord> &fresh);
    void leaveUnconfirmed(const std::string &why);

    const std::vector<DeviceChange> &changes() const { return changes_; }
    const std::vector<Outcome> &outcomes() const { return outcomes_; }
    // How many rows are neither pending nor in flight, kept as they change.
    std::size_t done() const { return done_; }
    // Rows whose outcome became final since the last call, in plan order of
    // settling; each is handed out once.
    std::vector<std::size_t> takeSettled();

private:
    void setState(std::size_t i, State state);
    void settle(std::size_t i, State state, std::string detail);
    void release(std::size_t leaver);
    void dropWaiting(std::size_t leaver, const std::string &why);
    std::int32_t sendStep(std::size_t i);
    std::string interruptedDetail(std::size_t i) const;

    KovaLibrary &library_;
    std::vector<DeviceChange> changes_;
    Options options_;
    std::vector<Outcome> outcomes_;
    std::vector<std::size_t> nextStep_;
    std::vector<bool> newPasswordSet_;
    std::vector<Clock::time_point> deadline_;
    std::vector<std::optional<std::size_t>> waitsFor_; // the row that must leave this row's address
    std::vector<std::vector<std::size_t>> parked_;     // rows waiting for this one to move
    std::vector<std::vector<std::uint32_t>> leaves_;   // the addresses each row's device leaves
    std::unordered_map<std::uint64_t, std::size_t> awaitingMove_; // applied leavers, by MAC
    std::vector<Clock::time_point> moveDeadline_;
    Clock::time_point now_{};
    std::deque<std::size_t> ready_;                           // rows to send, in sending order
    std::unordered_map<std::uint64_t, std::size_t> inFlight_; // by MAC
    std::vector<bool> reported_;
    std::vector<std::size_t> settled_;
    std::size_t done_ = 0;
    bool stopped_ = false;
};

// Whether a fresh record shows every value the change sent; the difference
// otherwise.
std::string mismatch(const DeviceChange &change, const DeviceRecord &now);

} // namespace veltrona::change
