#include "runner.h"

#include <algorithm>
#include <set>
#include <utility>

namespace veltrona::change {

namespace {

using namespace std::chrono_literals;

// After a stop, answers in flight are awaited this long at most.
constexpr auto kStopGrace = 3s;
// While a device that left an address is to be heard from its new one, a
// discovery goes out this often.
constexpr auto kMoveDiscoveryGap = 500ms;

std::pair<std::uint32_t, std::uint32_t> lostNow(KovaLibrary &library) {
    std::uint32_t tableFull = 0, bufferFull = 0;
    library.getLostReplies(&tableFull, &bufferFull);
    return {tableFull, bufferFull};
}

// Replies the library lost since `before` (taken with lostNow).
std::uint32_t lostSince(KovaLibrary &library,
                        const std::pair<std::uint32_t, std::uint32_t> &before) {
    const auto now = lostNow(library);
    return (now.first - before.first) + (now.second - before.second);
}

} // namespace

Run::Run(KovaLibrary &library, Driver driver, const std::vector<Desired> &desired, std::string bind,
         int seconds, int parallel, const std::vector<Mac> &awaited)
    : library_(library), driver_(std::move(driver)), bind_(std::move(bind)) {
    found_ = driver_.scan(awaited, [&] {
        std::vector<std::uint32_t> addresses;
        for (const Desired &row : desired)
            if (const auto &ip = row.network.ipAddress)
                if (const auto address = parseAddress(*ip))
                    addresses.push_back(*address);
        probes_.send(addresses);
    });
    if (found_.error != KOVA_OK)
        return;
    engine_.emplace(library, changesFor(desired, found_, problems_),
                    Options{parallel, std::chrono::seconds(seconds),
                            [this](std::size_t i) { return beforeSend_(i); }});
}

const std::vector<Problem> &Run::start(bool everyHolder) {
    if (problems_.empty())
        problems_ = engine_->start(everyHolder ? holdersFor(engine_->changes(), found_, &probes_)
                                               : heardDevices(found_),
                                   {!bind_.empty(), localNetworks()});
    return problems_;
}

RunEnd Run::drive(ApplyReport *report) {
    ChangeEngine &engine = *engine_;
    RunEnd end;
    const auto &outcomes = engine.outcomes();
    const auto &planned = engine.changes();
    std::string &reportError = end.reportError;
    std::vector<std::size_t> sends(planned.size(), 0); // requests gone out, by row
    std::vector<std::string> written(planned.size());
    std::set<std::size_t> sent; // rows last written as sent
    const auto journal = [&](std::size_t i) {
        AppliedRow row = appliedRow(planned[i], outcomes[i]);
        row.result = journalKey(outcomes[i].state, sends[i] > 0);
        if (row.result == "sent")
            row.detail = std::string(stepName(planned[i].steps[sends[i] - 1])) + " request sent";
        std::string stamp = row.result + '\n' + row.detail;
        if (stamp == written[i])
            return;
        written[i] = std::move(stamp);
        if (report && reportError.empty())
            report->add(row, reportError);
    };
    const auto syncJournal = [&] {
        for (std::size_t i : engine.takeSettled()) {
            journal(i);
            sent.erase(i);
        }
        for (auto it = sent.begin(); it != sent.end();) {
            journal(*it);
            const State state = outcomes[*it].state;
            it = state == State::InFlight || state == State::Pending ? std::next(it)
                                                                     : sent.erase(it);
        }
    };
    // The engine asks this before each request goes: a stop ends the run there.
    beforeSend_ = [&](std::size_t i) {
        syncJournal(); // an answer that lets this request go is written before it
        if (driver_.stopSignal() != 0)
            return false;
        ++sends[i];
        end.sentRequests = true;
        journal(i);
        sent.insert(i);
        return true;
    };

    const Clock::time_point started = Clock::now();
    std::optional<Clock::time_point> stoppedAt;
    const auto lostBefore = lostNow(library_);
    {
        Answers answers(library_, true); // discoveries find the devices that moved
        Connection connection(library_, answers, bind_);
        end.opened = connection.error();
        if (end.opened != KOVA_OK)
            engine.stop();
        const auto noteStop = [&] {
            if (driver_.stopSignal() != 0 && !stoppedAt) {
                engine.stop();
                stoppedAt = Clock::now();
            }
        };
        noteStop();
        Clock::time_point nextDiscovery{};
        for (engine.advance(Clock::now()); !engine.idle(); engine.advance(Clock::now())) {
            noteStop();
            syncJournal();
            if (stoppedAt && (driver_.secondStop() || Clock::now() >= *stoppedAt + kStopGrace)) {
                engine.abandon(driver_.secondStop()
                                   ? "sent, its answer not awaited after a second stop signal"
                                   : "sent, no answer within " +
                                         std::to_string(kStopGrace.count()) + " s of the stop");
                break;
            }
            if (driver_.progress)
                driver_.progress(engine.done(), planned.size());
            auto deadline = engine.nextDeadline().value_or(Clock::now() + 100ms);
            if (stoppedAt)
                deadline = std::min(deadline, *stoppedAt + kStopGrace);
            if (engine.awaitsMoves()) {
                if (Clock::now() >= nextDiscovery && driver_.stopSignal() == 0) {
                    library_.sendDiscovery();
                    nextDiscovery = Clock::now() + kMoveDiscoveryGap;
                }
                deadline = std::min(deadline, nextDiscovery);
            }
            for (const auto &[mac, event] : answers.take(deadline))
                engine.answer(mac, event, Clock::now());
            for (const DeviceRecord &device : answers.takeHeard())
                engine.heard(device, Clock::now());
        }
        end.loopError = answers.loopErrorCode();
    }
    beforeSend_ = [](std::size_t) { return false; };
    driver_.sendingEnded();
    syncJournal();
    end.lost.sending = lostSince(library_, lostBefore);

    // Confirmation: a fresh scan, which also tells where every device answers
    // from now. Skipped when stopped: the run ends as soon as it can.
    int stopSignal = driver_.stopSignal();
    if (stopSignal == 0 && end.opened == KOVA_OK) {
        // Until every device that was sent something has answered.
        std::vector<Mac> toConfirm;
        for (std::size_t i = 0; i < planned.size(); ++i)
            if (planned[i].device && outcomes[i].state != State::Unchanged &&
                outcomes[i].state != State::NotSent)
                toConfirm.push_back(planned[i].mac);
        const ScanResult check = toConfirm.empty() ? ScanResult{} : driver_.scan(toConfirm, {});
        end.lost.confirming = check.lostTableFull + check.lostBufferFull;
        stopSignal = driver_.stopSignal();
        if (check.error == KOVA_OK && !check.stopped)
            engine.confirm(check.devices);
    }
    engine.leaveUnconfirmed(stopSignal != 0 ? "stopped before the confirmation scan"
                                            : "the confirmation scan could not be made");
    syncJournal();
    end.stopSignal = stopSignal;
    end.elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    return end;
}

} // namespace veltrona::change
