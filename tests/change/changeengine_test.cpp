// The change engine against a stand-in library that records every request:
// the order of moves, refused plans, the states of an interrupted run and the
// confirmation.

#include "changeengine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>

using namespace veltrona::change;
using namespace std::chrono_literals;

namespace {

// Records what is sent; answers nothing by itself.
class RecordingLibrary : public veltrona::KovaLibrary {
public:
    std::vector<std::pair<HKOVAITEM, Step>> sent;
    std::int32_t result = KOVA_OK;

    int32_t setNetworkSettings(HKOVAITEM item, const char *, const char *,
                               const KOVA_NETWORK_SETTINGS *) override {
        return record(item, Step::Network);
    }
    int32_t setHostName(HKOVAITEM item, const char *, const char *, const char *,
                        const char *) override {
        return record(item, Step::HostName);
    }
    int32_t setAccount(HKOVAITEM item, const char *, const char *, const char *,
                       const int32_t *) override {
        return record(item, Step::Account);
    }

private:
    int32_t record(HKOVAITEM item, Step step) {
        sent.emplace_back(item, step);
        return result;
    }
};

template <std::size_t N> void setText(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// A lab of devices 02-4B-56-00-00-0n at 10.77.1.n/16, static.
struct Lab {
    std::deque<veltrona::DeviceRecord> devices;
    Credentials credentials{"admin", "secret", std::nullopt};

    const veltrona::DeviceRecord &device(int n, const std::string &host = "") {
        veltrona::DeviceRecord &d = devices.emplace_back();
        const std::uint8_t mac[6] = {0x02, 0x4B, 0x56, 0, 0, static_cast<std::uint8_t>(n)};
        std::memcpy(d.info.mac, mac, 6);
        const std::string ip = "10.77.1." + std::to_string(n);
        setText(d.info.ipAddress, ip);
        setText(d.info.hostName, host.empty() ? "cam-" + std::to_string(n) : host);
        d.network.mode = KOVA_MODE_STATIC;
        setText(d.network.ipAddress, ip);
        setText(d.network.netMask, "255.255.0.0");
        setText(d.network.gateway, "10.77.0.1");
        d.item = reinterpret_cast<HKOVAITEM>(&d); // never read: the stand-in takes it
        return d;
    }

    // Row `row` gives device `d` the address `ip`, after the `steps` given.
    DeviceChange move(int row, const veltrona::DeviceRecord &d, const std::string &ip,
                      std::vector<Step> steps = {}) {
        DeviceChange change;
        change.row = row;
        std::memcpy(change.mac.data(), d.info.mac, 6);
        change.device = &d;
        change.settings = d.network;
        setText(change.settings.ipAddress, ip);
        steps.push_back(Step::Network);
        change.steps = steps;
        change.credentials = &credentials;
        return change;
    }

    std::vector<HeardDevice> heard() const {
        return heardDevices({devices.begin(), devices.end()});
    }
};

Mac macOf(const veltrona::DeviceRecord &d) {
    Mac mac;
    std::memcpy(mac.data(), d.info.mac, 6);
    return mac;
}

const Clock::time_point t0{};

} // namespace

TEST(ChangeEngine, ALeaverGoesBeforeTheDeviceTakingItsAddress) {
    Lab lab;
    const auto &d1 = lab.device(1), &d2 = lab.device(2), &d3 = lab.device(3);
    RecordingLibrary library;
    // A chain: 1 takes 2's address, 2 takes 3's, 3 moves to a free one.
    ChangeEngine engine(
        library,
        {lab.move(2, d1, "10.77.1.2"), lab.move(3, d2, "10.77.1.3"), lab.move(4, d3, "10.77.1.50")},
        {16, 5s});
    ASSERT_TRUE(engine.start(lab.heard()).empty());
    engine.advance(t0);
    ASSERT_EQ(library.sent.size(), 1u) << "only the device moving to a free address goes first";
    EXPECT_EQ(library.sent[0].first, d3.item);
    // "Success" is not enough, nor showing the new settings: the leaver must
    // answer from another address.
    engine.answer(macOf(d3), KOVA_EVENT_SUCCESS, t0 + 1s);
    EXPECT_TRUE(engine.awaitsMoves());
    EXPECT_FALSE(engine.idle());
    engine.heard(d3, t0 + 1s); // as before the change
    veltrona::DeviceRecord moved3 = d3;
    setText(moved3.network.ipAddress, "10.77.1.50");
    engine.heard(moved3, t0 + 1s); // applies only after a restart
    EXPECT_EQ(library.sent.size(), 1u);
    setText(moved3.info.ipAddress, "10.77.1.50");
    engine.heard(moved3, t0 + 2s);
    ASSERT_EQ(library.sent.size(), 2u);
    EXPECT_EQ(library.sent[1].first, d2.item);
    engine.answer(macOf(d2), KOVA_EVENT_SUCCESS, t0 + 3s);
    EXPECT_EQ(library.sent.size(), 2u);
    veltrona::DeviceRecord moved2 = d2;
    setText(moved2.info.ipAddress, "10.77.1.3");
    engine.heard(moved2, t0 + 4s);
    ASSERT_EQ(library.sent.size(), 3u);
    EXPECT_EQ(library.sent[2].first, d1.item);
    engine.answer(macOf(d1), KOVA_EVENT_SUCCESS, t0 + 5s);
    EXPECT_TRUE(engine.idle());

    // A leaver never seen moved keeps the taker back past the timeout.
    RecordingLibrary unseen;
    ChangeEngine stuck(unseen, {lab.move(2, d1, "10.77.1.2"), lab.move(3, d2, "10.77.1.60")},
                       {16, 5s});
    ASSERT_TRUE(stuck.start(lab.heard()).empty());
    stuck.advance(t0);
    stuck.answer(macOf(d2), KOVA_EVENT_SUCCESS, t0 + 1s);
    stuck.advance(t0 + 5s);
    EXPECT_FALSE(stuck.idle());
    ASSERT_EQ(stuck.nextDeadline(), t0 + 6s);
    stuck.advance(t0 + 6s);
    EXPECT_TRUE(stuck.idle());
    EXPECT_EQ(unseen.sent.size(), 1u);
    EXPECT_EQ(stuck.outcomes()[0].state, State::NotSent);
    EXPECT_NE(
        stuck.outcomes()[0].detail.find("was not seen answering from another address within 5 s"),
        std::string::npos);

    // The device that did not leave keeps the next one from moving onto it.
    RecordingLibrary second;
    ChangeEngine failing(second, {lab.move(2, d1, "10.77.1.2"), lab.move(3, d2, "10.77.1.60")},
                         {16, 5s});
    ASSERT_TRUE(failing.start(lab.heard()).empty());
    failing.advance(t0);
    failing.answer(macOf(d2), KOVA_EVENT_AUTH_FAILED, t0 + 1s);
    EXPECT_EQ(second.sent.size(), 1u);
    EXPECT_EQ(failing.outcomes()[0].state, State::NotSent);
    EXPECT_NE(failing.outcomes()[0].detail.find("row 3 (02-4B-56-00-00-02)"), std::string::npos);
    EXPECT_EQ(failing.outcomes()[1].state, State::AuthFailed);
    EXPECT_TRUE(failing.idle());
}

TEST(ChangeEngine, RefusesPlansThatCannotBeSentSafely) {
    Lab lab;
    const auto &d1 = lab.device(1), &d2 = lab.device(2), &d3 = lab.device(3);
    lab.device(9, "door\x1b[2J");
    // Device 5 also answers from 192.168.0.64 (on the same interface), and
    // device 6 is heard on vt1, whose only network is 10.78.0.0/16.
    const auto &d5 = lab.device(5), &d6 = lab.device(6);
    DeviceChange hostOnly = lab.move(3, d2, "10.77.1.2");
    hostOnly.steps = {Step::HostName};
    hostOnly.hostName = "cam-2b";
    DeviceChange keepsIp = lab.move(3, d2, "10.77.1.2");
    setText(keepsIp.settings.gateway, "10.77.0.254");
    DeviceChange twoPlaces = lab.move(2, d5, "10.77.1.55");
    twoPlaces.places = {{"10.77.1.5", "vt0"}, {"192.168.0.64", "vt0"}};
    DeviceChange secondSegment = lab.move(2, d6, "10.77.1.66");
    secondSegment.places = {{"10.78.1.6", "vt1"}};
    DeviceChange formula = lab.move(2, d1, "10.77.1.1");
    formula.steps = {Step::HostName};
    formula.hostName = "=HYPERLINK(\"x\")";
    formula.domainName = "a\nb";
    DeviceChange badGateway = lab.move(2, d1, "10.77.1.70");
    setText(badGateway.settings.gateway, "10.77.1.70");
    setText(badGateway.settings.dnsServer, "0.1.2.3");
    DeviceChange thisNetwork = lab.move(2, d1, "0.1.2.3");
    setText(thisNetwork.settings.netMask, "128.0.0.0");
    setText(thisNetwork.settings.gateway, "127.0.0.1");
    const std::vector<LocalNetwork> networks = {{"vt0", 0x0A4D0001, 0xFFFF0000},
                                                {"vt1", 0x0A4E0001, 0xFFFF0000}};
    struct Case {
        const char *what;
        std::vector<DeviceChange> changes;
        std::vector<std::pair<Code, Field>> expected;
        std::vector<std::string> values = {}; // of the first problem, when given
        bool bound = false;
    } cases[] = {
        {"a cycle",
         {lab.move(2, d1, "10.77.1.2"), lab.move(3, d2, "10.77.1.1")},
         {{Code::MoveCycle, Field::Address}}},
        {"a device outside the plan keeps it",
         {lab.move(2, d1, "10.77.1.9")},
         {{Code::HeldBy, Field::Address}},
         {"10.77.1.9", "02-4B-56-00-00-09", "door\x1b[2J"}},
        {"a host-name-only row keeps its address",
         {lab.move(2, d1, "10.77.1.2"), hostOnly},
         {{Code::HeldBy, Field::Address}}},
        {"a network row keeping its address",
         {lab.move(2, d1, "10.77.1.2"), keepsIp},
         {{Code::HeldBy, Field::Address}}},
        {"given twice",
         {lab.move(2, d1, "10.77.1.70"), lab.move(3, d2, "10.77.1.70")},
         {{Code::GivenTwice, Field::Address}},
         {"10.77.1.70", "2", "02-4B-56-00-00-01"}},
        {"a subnet broadcast",
         {lab.move(2, d3, "10.77.255.255")},
         {{Code::BroadcastAddress, Field::Address}}},
        {"the network address of a /30",
         {[&] {
             DeviceChange c = lab.move(2, d3, "10.77.1.128");
             setText(c.settings.netMask, "255.255.255.252");
             setText(c.settings.gateway, "10.77.1.130");
             return c;
         }()},
         {{Code::NetworkAddress, Field::Address}},
         {"10.77.1.128", "10.77.1.128/30"}},
        {"the broadcast address of a /30",
         {[&] {
             DeviceChange c = lab.move(2, d3, "10.77.1.131");
             setText(c.settings.netMask, "255.255.255.252");
             setText(c.settings.gateway, "10.77.1.130");
             return c;
         }()},
         {{Code::BroadcastAddress, Field::Address}}},
        {"the gateway is the address, DNS in 0.0.0.0/8",
         {badGateway},
         {{Code::ThisNetwork, Field::Dns}, {Code::GatewayIsAddress, Field::Gateway}}},
        {"0.0.0.0/8 and a loopback gateway",
         {thisNetwork},
         {{Code::ThisNetwork, Field::Address}, {Code::Loopback, Field::Gateway}}},
        {"a device also answers from the taken address",
         {[&] {
             DeviceChange c = lab.move(2, d1, "192.168.0.64");
             setText(c.settings.gateway, "");
             return c;
         }()},
         {{Code::HeldBy, Field::Address}},
         {"192.168.0.64", "02-4B-56-00-00-05", "cam-5"}},
        {"two addresses on one network, bound",
         {twoPlaces},
         {{Code::TwoAddresses, Field::Device}},
         {"02-4B-56-00-00-05", "10.77.1.5", "192.168.0.64"},
         true},
        {"outside the segment it was heard on",
         {secondSegment},
         {{Code::OutsideSegment, Field::Address}},
         {"10.77.1.66", "vt1", "10.78.0.0/16"}},
        {"names that a plan refuses",
         {formula},
         {{Code::FormulaStart, Field::HostName}, {Code::ControlCharacter, Field::DomainName}}},
    };
    for (Case &c : cases) {
        RecordingLibrary library;
        ChangeEngine engine(library, std::move(c.changes), {});
        std::vector<HeardDevice> heard = lab.heard();
        heard.push_back({"02-4B-56-00-00-05", "cam-5", 0xC0A80040}); // 192.168.0.64
        const auto problems = engine.check(heard, {c.bound, networks});
        std::vector<std::pair<Code, Field>> got;
        for (const Problem &problem : problems)
            got.emplace_back(problem.code, problem.field);
        EXPECT_EQ(got, c.expected) << c.what;
        if (!c.values.empty() && !problems.empty()) {
            EXPECT_EQ(problems[0].values, c.values) << c.what;
        }
        // Checking schedules nothing: a second look gives the same, nothing goes.
        EXPECT_EQ(engine.check(heard, {c.bound, networks}).size(), problems.size()) << c.what;
        engine.advance(t0);
        EXPECT_TRUE(library.sent.empty()) << c.what;
    }
}

// The desired values become requests in the engine's order, and a device's
// requests after a new password use it; settings a mode does not send, and
// kept values that cannot be sent back, are problems with their field.
TEST(ChangeEngine, DesiredValuesBecomeOrderedRequests) {
    Lab lab;
    veltrona::ScanResult scan;
    scan.devices = {lab.device(1), lab.device(2)};
    for (veltrona::DeviceRecord &device : scan.devices)
        setText(device.network.dnsServer, "10.77.0.53");
    scan.devices[1].network.mode = KOVA_MODE_PPPOE;
    setText(scan.devices[1].network.gateway, "");
    lab.credentials.newPassword = "n3w";
    Desired all;
    all.row = 2;
    std::memcpy(all.mac.data(), scan.devices[0].info.mac, 6);
    all.network.ipAddress = "10.77.1.80";
    all.hostName = "cam-1b";
    all.credentials = &lab.credentials;
    Desired ipInPppoe = all;
    ipInPppoe.row = 3;
    std::memcpy(ipInPppoe.mac.data(), scan.devices[1].info.mac, 6);
    Desired toStatic = ipInPppoe;
    toStatic.network.mode = KOVA_MODE_STATIC;
    // Every address a device answered from is held.
    scan.heardTwice[veltrona::macKey(scan.devices[1].info.mac)] = {{"10.77.1.2", "vt0"},
                                                                   {"192.168.0.64", "vt0"}};
    EXPECT_EQ(heardDevices(scan).size(), 3u);
    std::vector<Problem> problems;
    const auto changes = changesFor({all, ipInPppoe, toStatic}, scan, problems);
    EXPECT_EQ(changes[0].steps, (std::vector<Step>{Step::HostName, Step::Account, Step::Network}));
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].code, Code::NotSentInMode);
    EXPECT_EQ(problems[0].field, Field::Address);
    EXPECT_EQ(problems[0].values, (std::vector<std::string>{"pppoe", "device"}));
    EXPECT_EQ(problems[0].row, 3);
    EXPECT_EQ(problems[1].code, Code::CurrentNotAddress) << "a static request needs a gateway";
    EXPECT_EQ(problems[1].field, Field::Gateway);

    class Passwords : public RecordingLibrary {
    public:
        std::vector<std::string> used;
        int32_t setHostName(HKOVAITEM item, const char *u, const char *p, const char *h,
                            const char *d) override {
            used.push_back(p);
            return RecordingLibrary::setHostName(item, u, p, h, d);
        }
        int32_t setAccount(HKOVAITEM item, const char *u, const char *p, const char *n,
                           const int32_t *g) override {
            used.push_back(p);
            return RecordingLibrary::setAccount(item, u, p, n, g);
        }
        int32_t setNetworkSettings(HKOVAITEM item, const char *u, const char *p,
                                   const KOVA_NETWORK_SETTINGS *s) override {
            used.push_back(p);
            return RecordingLibrary::setNetworkSettings(item, u, p, s);
        }
    } library;
    ChangeEngine engine(library, {changes[0]}, {});
    ASSERT_TRUE(engine.start(heardDevices(scan)).empty());
    for (int i = 0; i < 3; ++i) {
        engine.advance(t0);
        engine.answer(macOf(scan.devices[0]), KOVA_EVENT_SUCCESS, t0);
    }
    EXPECT_EQ(library.used, (std::vector<std::string>{"secret", "secret", "n3w"}));
    EXPECT_EQ(engine.outcomes()[0].state, State::Applied);

    // A request whose values the device shows already is left out, unless the
    // row asks to send it; what the device cannot show always goes. A row left
    // with none is unchanged and sends nothing.
    scan.heardTwice.clear();
    scan.devices[1].network.mtu = 1492;
    setText(scan.devices[1].network.pppoeUserName, "isp-7");
    const Credentials plain{"admin", "secret", std::nullopt}, rotate{"admin", "secret", "n3w"};
    struct Case {
        const char *what;
        std::size_t device;
        std::function<void(Desired &)> ask;
        std::vector<Step> steps;
    } cases[] = {
        {"the names it has", 0, [](Desired &d) { d.hostName = "cam-1", d.domainName = ""; }, {}},
        {"the names it has, sent",
         0,
         [](Desired &d) { d.hostName = "cam-1", d.sendShown = true; },
         {Step::HostName}},
        {"another domain", 0, [](Desired &d) { d.domainName = "lab"; }, {Step::HostName}},
        {"the guest access it has", 0, [](Desired &d) { d.guest = false; }, {}},
        {"guest access", 0, [](Desired &d) { d.guest = true; }, {Step::Account}},
        {"a new password",
         0,
         [&](Desired &d) { d.guest = false, d.credentials = &rotate; },
         {Step::Account}},
        {"its own address and netmask",
         0,
         [](Desired &d) { d.network.ipAddress = "10.77.1.1", d.network.netMask = "255.255.0.0"; },
         {}},
        {"its address, another gateway",
         0,
         [](Desired &d) { d.network.ipAddress = "10.77.1.1", d.network.gateway = "10.77.0.2"; },
         {Step::Network}},
        {"its PPPoE values",
         1,
         [](Desired &d) { d.network.mtu = 1492, d.network.pppoeUserName = "isp-7"; },
         {}},
        {"another MTU", 1, [](Desired &d) { d.network.mtu = 1400; }, {Step::Network}},
        {"a PPPoE password",
         1,
         [](Desired &d) { d.network.mtu = 1492, d.pppoePassword = "pw"; },
         {Step::Network}},
    };
    for (const Case &c : cases) {
        Desired d;
        std::memcpy(d.mac.data(), scan.devices[c.device].info.mac, 6);
        d.credentials = &plain;
        c.ask(d);
        std::vector<Problem> none;
        auto asked = changesFor({d}, scan, none);
        EXPECT_TRUE(none.empty()) << c.what;
        EXPECT_EQ(asked[0].steps, c.steps) << c.what;
        RecordingLibrary quiet;
        ChangeEngine one(quiet, std::move(asked), {});
        ASSERT_TRUE(one.start(heardDevices(scan)).empty()) << c.what;
        one.advance(t0);
        EXPECT_EQ(quiet.sent.size(), c.steps.empty() ? 0u : 1u) << c.what;
        EXPECT_EQ(one.outcomes()[0].state, c.steps.empty() ? State::Unchanged : State::InFlight)
            << c.what;
    }
}

// A device leaving for DHCP counts as moved only once it answers from another
// address; until then the device taking its address is not sent.
TEST(ChangeEngine, ADhcpLeaverMustAnswerFromElsewhere) {
    Lab lab;
    const auto &d1 = lab.device(1), &d2 = lab.device(2);
    DeviceChange leaver = lab.move(3, d2, "");
    leaver.settings.mode = KOVA_MODE_DHCP;
    RecordingLibrary library;
    ChangeEngine engine(library, {lab.move(2, d1, "10.77.1.2"), leaver}, {16, 5s});
    ASSERT_TRUE(engine.start(lab.heard()).empty());
    engine.advance(t0);
    ASSERT_EQ(library.sent.size(), 1u);
    engine.answer(macOf(d2), KOVA_EVENT_SUCCESS, t0);
    veltrona::DeviceRecord dhcp = d2;
    dhcp.network.mode = KOVA_MODE_DHCP; // reports DHCP, still at 10.77.1.2
    engine.heard(dhcp, t0 + 1s);
    EXPECT_EQ(library.sent.size(), 1u);
    engine.advance(t0 + 5s);
    EXPECT_EQ(engine.outcomes()[0].state, State::NotSent);
    // Two MACs answering from one address are not confirmed.
    engine.confirm({d1, dhcp});
    EXPECT_EQ(engine.outcomes()[1].state, State::Confirmed);
    std::vector<veltrona::DeviceRecord> fresh = {dhcp, d1};
    setText(fresh[1].info.ipAddress, "10.77.1.2");
    RecordingLibrary other;
    ChangeEngine second(other, {leaver}, {});
    ASSERT_TRUE(second.start(lab.heard()).empty());
    second.advance(t0);
    second.answer(macOf(d2), KOVA_EVENT_SUCCESS, t0);
    second.confirm(fresh);
    EXPECT_EQ(second.outcomes()[0].state, State::NotConfirmed);
    EXPECT_EQ(second.outcomes()[0].detail, "02-4B-56-00-00-01 answers from 10.77.1.2 too");
}

TEST(ChangeEngine, StoppingLeavesEveryRowWithItsState) {
    Lab lab;
    const auto &d1 = lab.device(1), &d2 = lab.device(2), &d3 = lab.device(3), &d4 = lab.device(4);
    RecordingLibrary library;
    DeviceChange unchanged = lab.move(6, d4, "10.77.1.4");
    unchanged.steps.clear();
    DeviceChange missing = lab.move(7, d4, "10.77.1.90");
    missing.mac[5] = 0x77;
    missing.device = nullptr;
    ChangeEngine engine(library,
                        {lab.move(2, d1, "10.77.1.81", {Step::HostName}),
                         lab.move(3, d2, "10.77.1.82"), lab.move(4, d3, "10.77.1.83"), unchanged,
                         missing},
                        {2, 5s});
    ASSERT_TRUE(engine.start(lab.heard()).empty());
    // Rows that need nothing are settled from the start, once.
    auto settled = engine.takeSettled();
    EXPECT_EQ(settled, (std::vector<std::size_t>{3, 4}));
    EXPECT_EQ(engine.outcomes()[4].state, State::NotFound);
    EXPECT_EQ(engine.done(), 2u);

    engine.advance(t0);
    ASSERT_EQ(library.sent.size(), 2u); // row 2's host name and row 3, two in flight
    EXPECT_EQ(engine.done(), 2u);
    engine.stop();
    EXPECT_FALSE(engine.idle()) << "answers in flight are still awaited";
    EXPECT_EQ(engine.done(), 3u);
    EXPECT_EQ(engine.takeSettled(), std::vector<std::size_t>{2}); // row 4: never sent
    EXPECT_EQ(engine.outcomes()[2].state, State::NotSent);

    engine.answer(macOf(d1), KOVA_EVENT_SUCCESS, t0 + 1s);
    EXPECT_EQ(library.sent.size(), 2u) << "nothing new after the stop";
    EXPECT_EQ(engine.outcomes()[0].state, State::Interrupted);
    EXPECT_EQ(engine.outcomes()[0].detail, "host name applied; network not sent");
    EXPECT_EQ(engine.nextDeadline(), t0 + 5s);
    engine.advance(t0 + 5s);
    EXPECT_EQ(engine.outcomes()[1].state, State::NoAnswer);
    EXPECT_EQ(engine.outcomes()[1].detail, "network: no answer within 5 s");
    EXPECT_TRUE(engine.idle());
    EXPECT_EQ(engine.done(), 5u);
    EXPECT_EQ(engine.takeSettled(), (std::vector<std::size_t>{0, 1}));
}

TEST(ChangeEngine, ConfirmationComparesWhatWasSent) {
    Lab lab;
    const auto &d1 = lab.device(1), &d2 = lab.device(2);
    RecordingLibrary library;
    ChangeEngine engine(library, {lab.move(2, d1, "10.77.1.101"), lab.move(3, d2, "10.77.1.102")},
                        {});
    ASSERT_TRUE(engine.start(lab.heard()).empty());
    engine.advance(t0);
    engine.answer(macOf(d1), KOVA_EVENT_SUCCESS, t0);
    engine.answer(macOf(d2), KOVA_EVENT_SUCCESS, t0);
    EXPECT_TRUE(engine.takeSettled().empty()) << "applied rows wait for the confirmation";

    std::vector<veltrona::DeviceRecord> fresh = {d1, d2};
    setText(fresh[0].info.ipAddress, "10.77.1.101");
    setText(fresh[0].network.ipAddress, "10.77.1.101");
    // Device 2 still answers from its old address.
    engine.confirm(fresh);
    EXPECT_EQ(engine.outcomes()[0].state, State::Confirmed);
    EXPECT_EQ(engine.outcomes()[0].addressBefore, "10.77.1.1");
    EXPECT_EQ(engine.outcomes()[0].addressAfter, "10.77.1.101");
    EXPECT_EQ(engine.outcomes()[1].state, State::NotConfirmed);
    EXPECT_EQ(engine.outcomes()[1].detail, "ip is 10.77.1.2");
    EXPECT_EQ(engine.outcomes()[1].addressAfter, "10.77.1.2");
}
