// The change engine against a stand-in library that records every request:
// the order of moves, refused plans, the states of an interrupted run and the
// confirmation.

#include "changeengine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

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
    ASSERT_EQ(engine.check(lab.heard()), std::vector<std::string>{});
    engine.advance(t0);
    ASSERT_EQ(library.sent.size(), 1u) << "only the device moving to a free address goes first";
    EXPECT_EQ(library.sent[0].first, d3.item);
    // "Success" is not enough: the leaver must be seen moved, by the settings
    // it shows or by the address it answers from.
    engine.answer(macOf(d3), KOVA_EVENT_SUCCESS, t0 + 1s);
    EXPECT_TRUE(engine.awaitsMoves());
    EXPECT_FALSE(engine.idle());
    engine.heard(d3, t0 + 1s); // as before the change
    EXPECT_EQ(library.sent.size(), 1u);
    veltrona::DeviceRecord moved3 = d3;
    setText(moved3.network.ipAddress, "10.77.1.50");
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
    ASSERT_TRUE(stuck.check(lab.heard()).empty());
    stuck.advance(t0);
    stuck.answer(macOf(d2), KOVA_EVENT_SUCCESS, t0 + 1s);
    stuck.advance(t0 + 5s);
    EXPECT_FALSE(stuck.idle());
    ASSERT_EQ(stuck.nextDeadline(), t0 + 6s);
    stuck.advance(t0 + 6s);
    EXPECT_TRUE(stuck.idle());
    EXPECT_EQ(unseen.sent.size(), 1u);
    EXPECT_EQ(stuck.outcomes()[0].state, State::NotSent);
    EXPECT_NE(stuck.outcomes()[0].detail.find("was not seen with its new address within 5 s"),
              std::string::npos);

    // The device that did not leave keeps the next one from moving onto it.
    RecordingLibrary second;
    ChangeEngine failing(second, {lab.move(2, d1, "10.77.1.2"), lab.move(3, d2, "10.77.1.60")},
                         {16, 5s});
    ASSERT_TRUE(failing.check(lab.heard()).empty());
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
    struct Case {
        const char *what;
        std::vector<DeviceChange> changes;
        std::vector<std::string> expected; // one text per problem
    } cases[] = {
        {"a cycle",
         {lab.move(2, d1, "10.77.1.2"), lab.move(3, d2, "10.77.1.1")},
         {"a cycle of moves"}},
        {"a device outside the plan keeps it",
         {lab.move(2, d1, "10.77.1.9")},
         {"row 2 (02-4B-56-00-00-01): 10.77.1.9 is held by the device 02-4B-56-00-00-09 "
          "(door?[2J)."}},
        {"given twice",
         {lab.move(2, d1, "10.77.1.70"), lab.move(3, d2, "10.77.1.70")},
         {"row 3 (02-4B-56-00-00-02): 10.77.1.70 is given twice in the plan, also to row 2"}},
        {"a subnet broadcast", {lab.move(2, d3, "10.77.255.255")}, {"broadcast address"}},
    };
    for (Case &c : cases) {
        RecordingLibrary library;
        ChangeEngine engine(library, std::move(c.changes), {});
        const auto problems = engine.check(lab.heard());
        ASSERT_EQ(problems.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < problems.size(); ++i)
            EXPECT_NE(problems[i].find(c.expected[i]), std::string::npos)
                << c.what << ": " << problems[i];
    }
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
    ASSERT_TRUE(engine.check(lab.heard()).empty());
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
    ASSERT_TRUE(engine.check(lab.heard()).empty());
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
