#pragma once
// The change engine: what is asked of each device (a plan's rows, or one
// device's from a command or the window) turned into requests, checked before
// anything is sent, ordered so that a device leaves an address (and is seen
// to) before another takes it, sent through the library with a bounded number
// of requests awaiting their answers, and confirmed against a later scan. It
// never blocks and prints nothing: the caller feeds it answers and the time,
// and reads the problems and outcomes.

#include "addresscheck.h"
#include "devicerow.h"
#include "kovalibrary.h"
#include "scansession.h"

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

// Longest texts a request carries, in bytes, and the largest MTU.
inline constexpr std::size_t kMaxHostName = 32;
inline constexpr std::size_t kMaxDomainName = 64;
inline constexpr std::size_t kMaxPppoeUser = 16;
inline constexpr std::size_t kMaxPppoeService = 32;
inline constexpr std::uint32_t kMaxMtu = 65535;

// Network settings asked for; the others keep the device's values.
struct NetworkChanges {
    std::optional<std::int32_t> mode; // KOVA_MODE_STATIC, KOVA_MODE_DHCP or KOVA_MODE_PPPOE
    std::optional<std::string> ipAddress;
    std::optional<std::string> netMask;
    std::optional<std::string> gateway;
    std::optional<std::string> dnsServer;
    std::optional<std::string> pppoeUserName;
    std::optional<std::string> pppoeServiceName;
    std::optional<std::uint32_t> mtu;
    std::optional<std::uint8_t> dnsMode; // 0 automatic, 1 manual
    std::optional<std::string> pppoeDnsServer;

    bool any() const;
};

// A setting given that a request in the resulting mode (the given one, else
// `deviceMode`) does not send: static addresses outside static mode, PPPoE
// values outside PPPoE mode (Code::NotSentInMode, the first one found).
std::optional<Problem> checkModes(const NetworkChanges &changes, bool pppoePasswordGiven,
                                  std::int32_t deviceMode);

// What is asked of one device: blank values keep the device's.
struct Desired {
    int row = 0; // the plan's row; 0 for a single device
    Mac mac{};
    NetworkChanges network;
    std::optional<std::string> pppoePassword; // Latin-1
    std::optional<std::string> hostName;      // Latin-1
    std::optional<std::string> domainName;    // Latin-1
    std::optional<bool> guest;
    // A new password in them adds the account request; the device's later
    // requests then authenticate with it.
    const Credentials *credentials = nullptr;
    // Whether a request goes whose values the device already shows (host and
    // domain name, guest access without a new password, network settings
    // without a PPPoE password). By default it is left out: a row whose
    // device shows every value asked for sends nothing and is Unchanged.
    bool sendShown = false;
};

// What one device is to be given, with the requests in the order they go.
struct DeviceChange {
    int row = 0;                          // named in messages ("row 4")
    Mac mac{};                            // the plan's MAC
    const DeviceRecord *device = nullptr; // nullptr: not heard in the scan
    std::vector<Place> places;            // everywhere the device answered from
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
    std::optional<std::int32_t> answer; // the device's latest answer (an event), if any
};

struct Options {
    int parallel = 16; // requests awaiting their answers at once
    Clock::duration answerTimeout = std::chrono::seconds(5);
    // Asked just before each request goes out, with the row's index: false
    // stops the run there (as stop()), so that nothing goes after a stop
    // whenever it comes. A caller may also note the row as sent in it.
    std::function<bool(std::size_t row)> mayStart = {};
};

// The requests for each desired change against the devices of a scan, host
// name first, then the account, then the network settings (a row whose device
// was not heard has none), leaving out those whose values the device already
// shows unless the row asks to send them. A value kept from the device that
// cannot be sent back adds a problem.
std::vector<DeviceChange> changesFor(const std::vector<Desired> &desired, const ScanResult &scan,
                                     std::vector<Problem> &problems);

// The addresses a device holds: every address it answered from and, when its
// settings are static, its configured address.
std::vector<std::uint32_t> heldAddresses(const std::vector<Place> &places,
                                         const KOVA_NETWORK_SETTINGS &network);

// The devices heard in a scan as the collision check takes them: each at
// every address it holds (above).
std::vector<HeardDevice> heardDevices(const ScanResult &scan);
// The same for devices heard once each.
std::vector<HeardDevice> heardDevices(const std::vector<DeviceRecord> &devices);

// An IPv4 network of one of this host's interfaces.
struct LocalNetwork {
    std::string interfaceName;
    std::uint32_t address = 0, netmask = 0;
};

// What the checks know of the host besides the scan.
struct Surroundings {
    // Every change goes out on the one network of a chosen local address.
    bool bound = false;
    // The host's IPv4 networks: a device heard on an interface that has one is
    // only given addresses inside that interface's networks.
    std::vector<LocalNetwork> networks;
};

// The static addresses the changes give to devices that do not hold them now.
std::vector<std::uint32_t> newAddresses(const std::vector<DeviceChange> &changes);

// Code::OutsideSegment when `address` lies outside every network of an
// interface (one that has IPv4 networks) that the device was heard on.
std::optional<Problem> outsideSegment(std::uint32_t address, const std::vector<Place> &places,
                                      const std::vector<LocalNetwork> &networks);

class ChangeEngine {
public:
    ChangeEngine(KovaLibrary &library, std::vector<DeviceChange> changes, Options options);

    // Every problem that keeps the changes from being sent: addresses no
    // device can use or outside the device's networks, an address held by a
    // device that keeps it or given twice, a cycle of moves, a device heard
    // from several places, names that cannot be sent. Sends and schedules
    // nothing.
    std::vector<Problem> check(const std::vector<HeardDevice> &heard,
                               const Surroundings &surroundings = {}) const;
    // Checks as above and, when nothing is wrong, orders the rows (a device
    // that leaves an address goes before the one taking it) for advance().
    // Only the first call schedules.
    std::vector<Problem> start(const std::vector<HeardDevice> &heard,
                               const Surroundings &surroundings = {});

    // Sends what may go now (library errors settle the row at once).
    void advance(Clock::time_point now);
    // A device's answer to a request (an event other than device information).
    void answer(const Mac &mac, std::int32_t event, Clock::time_point now);
    // A device's answer to a discovery. A device that leaves an address
    // another row takes must, once it has said "Success", answer from an
    // address it did not hold before that row is sent; one not seen so within
    // the answer timeout keeps the row from being sent.
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
    // device answered from; a device that shares the address it answers from
    // with another MAC is not confirmed. Rows still applied when no scan is
    // given stay not confirmed with `why`.
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
    struct Order {
        std::vector<Problem> problems;
        std::vector<std::optional<std::size_t>> waitsFor;
        std::vector<std::vector<std::uint32_t>> leaves;
    };
    Order analyse(const std::vector<HeardDevice> &heard, const Surroundings &surroundings) const;
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
    bool started_ = false;
};

// Whether two network settings agree in every value a device shows: all but
// the PPPoE password.
bool sameShownSettings(const KOVA_NETWORK_SETTINGS &a, const KOVA_NETWORK_SETTINGS &b);

// Whether a fresh record shows every value the change sent; the difference
// otherwise.
std::string mismatch(const DeviceChange &change, const DeviceRecord &now);

} // namespace veltrona::change
