#include "changeengine.h"

#include "fieldtext.h"
#include "printable.h"

#include <algorithm>
#include <unordered_map>

namespace veltrona::change {

namespace {

std::string rowName(const DeviceChange &change) {
    return "row " + std::to_string(change.row) + " (" + formatMac(change.mac.data()) + ")";
}

bool has(const DeviceChange &change, Step step) {
    return std::find(change.steps.begin(), change.steps.end(), step) != change.steps.end();
}

// The addresses a heard device holds: where it answered from and, when static,
// its configured address.
std::vector<std::uint32_t> heldAddresses(const DeviceRecord &device) {
    std::vector<std::uint32_t> held;
    if (auto source = parseAddress(fieldView(device.info.ipAddress)))
        held.push_back(*source);
    if (device.network.mode == KOVA_MODE_STATIC)
        if (auto configured = parseAddress(fieldView(device.network.ipAddress)))
            if (held.empty() || held.front() != *configured)
                held.push_back(*configured);
    return held;
}

} // namespace

const char *stepName(Step step) {
    return step == Step::HostName ? "host name" : step == Step::Account ? "account" : "network";
}

StateWords stateWords(State state) {
    switch (state) {
    case State::Confirmed:
        return {"applied and confirmed", "confirmed"};
    case State::Applied:
    case State::NotConfirmed:
        return {"applied, not confirmed", "not-confirmed"};
    case State::AuthFailed:
        return {"authentication failed", "auth-failed"};
    case State::Refused:
        return {"refused", "refused"};
    case State::NoAnswer:
        return {"no answer", "no-answer"};
    case State::NotFound:
        return {"not found", "not-found"};
    case State::Unchanged:
        return {"nothing to change", "unchanged"};
    case State::NotSent:
        return {"not sent", "not-sent"};
    case State::Interrupted:
        return {"partly applied, interrupted", "interrupted"};
    case State::InFlight:
    case State::Pending:
        break;
    }
    return {"pending", "pending"};
}

bool isFinal(State state) {
    return state != State::Pending && state != State::InFlight && state != State::Applied;
}

std::vector<std::uint32_t> newAddresses(const std::vector<DeviceChange> &changes) {
    std::vector<std::uint32_t> addresses;
    for (const DeviceChange &change : changes) {
        if (!change.device || !has(change, Step::Network) ||
            change.settings.mode != KOVA_MODE_STATIC)
            continue;
        const auto address = parseAddress(fieldView(change.settings.ipAddress));
        const std::vector<std::uint32_t> held = heldAddresses(*change.device);
        if (address && std::find(held.begin(), held.end(), *address) == held.end())
            addresses.push_back(*address);
    }
    return addresses;
}

std::vector<HeardDevice> heardDevices(const std::vector<DeviceRecord> &devices) {
    std::vector<HeardDevice> heard;
    heard.reserve(devices.size());
    for (const DeviceRecord &device : devices)
        for (std::uint32_t address : heldAddresses(device))
            heard.push_back({formatMac(device.info.mac), fieldText(device.info.hostName), address});
    return heard;
}

ChangeEngine::ChangeEngine(KovaLibrary &library, std::vector<DeviceChange> changes, Options options)
    : library_(library), changes_(std::move(changes)), options_(options),
      outcomes_(changes_.size()), nextStep_(changes_.size(), 0),
      newPasswordSet_(changes_.size(), false), deadline_(changes_.size()),
      waitsFor_(changes_.size()), parked_(changes_.size()), leaves_(changes_.size()),
      moveDeadline_(changes_.size()), reported_(changes_.size(), false) {
    for (std::size_t i = 0; i < changes_.size(); ++i) {
        const DeviceChange &change = changes_[i];
        if (!change.device)
            settle(i, State::NotFound, "no answer to the scan");
        else if (change.steps.empty())
            settle(i, State::Unchanged, {});
        if (change.device)
            outcomes_[i].addressBefore = fieldText(change.device->info.ipAddress);
    }
}

std::vector<std::string> ChangeEngine::check(const std::vector<HeardDevice> &heard) {
    std::vector<std::string> problems;
    std::vector<std::vector<std::uint32_t>> leaves(changes_.size());
    std::vector<std::optional<std::uint32_t>> takes(changes_.size());
    std::unordered_map<std::string, std::size_t> rowByMac;
    std::unordered_map<std::uint32_t, std::size_t> takenBy;
    for (std::size_t i = 0; i < changes_.size(); ++i) {
        const DeviceChange &change = changes_[i];
        rowByMac.emplace(formatMac(change.mac.data()), i);
        if (!change.device || !has(change, Step::Network))
            continue;
        const KOVA_NETWORK_SETTINGS &s = change.settings;
        std::optional<std::uint32_t> address;
        if (s.mode == KOVA_MODE_STATIC) {
            address = parseAddress(fieldView(s.ipAddress));
            const auto netmask = parseAddress(fieldView(s.netMask));
            const auto gateway = fieldView(s.gateway).empty() ? std::optional<std::uint32_t>(0)
                                                              : parseAddress(fieldView(s.gateway));
            if (!address || !netmask || !gateway) {
                problems.push_back(rowName(change) +
                                   ": the static address, netmask or gateway is not an address.");
                continue;
            }
            for (const Problem &problem : checkAddresses(*address, *netmask, *gateway))
                problems.push_back(rowName(change) + ": " + problem.message);
        }
        const std::vector<std::uint32_t> held = heldAddresses(*change.device);
        for (std::uint32_t old : held)
            if (!address || old != *address)
                leaves[i].push_back(old);
        if (address && std::find(held.begin(), held.end(), *address) == held.end()) {
            takes[i] = *address;
            const auto [at, fresh] = takenBy.emplace(*address, i);
            if (!fresh)
                problems.push_back(rowName(change) + ": " + dotted(*address) +
                                   " is given twice in the plan, also to " +
                                   rowName(changes_[at->second]) + ".");
        }
    }

    // Who holds each address now; a holder in the plan that leaves it goes first.
    std::unordered_multimap<std::uint32_t, const HeardDevice *> holders;
    for (const HeardDevice &device : heard)
        if (takenBy.count(device.address))
            holders.emplace(device.address, &device);
    for (std::size_t i = 0; i < changes_.size(); ++i) {
        if (!takes[i])
            continue;
        const std::uint32_t address = *takes[i];
        const std::string ownMac = formatMac(changes_[i].mac.data());
        const auto [first, last] = holders.equal_range(address);
        for (auto it = first; it != last; ++it) {
            const HeardDevice &holder = *it->second;
            if (sameMac(holder.mac, ownMac))
                continue;
            std::string key = holder.mac;
            std::transform(key.begin(), key.end(), key.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            const auto leaver = rowByMac.find(key);
            const bool leaving =
                leaver != rowByMac.end() &&
                std::find(leaves[leaver->second].begin(), leaves[leaver->second].end(), address) !=
                    leaves[leaver->second].end();
            if (leaving && (!waitsFor_[i] || *waitsFor_[i] == leaver->second))
                waitsFor_[i] = leaver->second;
            else
                problems.push_back(rowName(changes_[i]) + ": " +
                                   heldBy(address, holder.mac, holder.hostName).message);
        }
    }

    // Each row waits for at most one other: a cycle is found by following them.
    std::vector<int> mark(changes_.size(), 0); // 0 unseen, 1 on the current path, 2 done
    for (std::size_t start = 0; start < changes_.size(); ++start) {
        std::vector<std::size_t> path;
        std::size_t at = start;
        while (mark[at] == 0) {
            mark[at] = 1;
            path.push_back(at);
            if (!waitsFor_[at])
                break;
            at = *waitsFor_[at];
        }
        if (mark[at] == 1 && waitsFor_[at]) {
            std::string names;
            for (auto it = std::find(path.begin(), path.end(), at); it != path.end(); ++it)
                names += (names.empty() ? "" : ", ") + rowName(changes_[*it]) + " takes " +
                         dotted(*takes[*it]);
            problems.push_back("a cycle of moves cannot be applied (" + names +
                               "): move one device to a free address first.");
        }
        for (std::size_t row : path)
            mark[row] = 2;
    }
    leaves_ = leaves;

    for (std::size_t i = 0; i < changes_.size(); ++i) {
        if (outcomes_[i].state != State::Pending)
            continue;
        if (waitsFor_[i])
            parked_[*waitsFor_[i]].push_back(i);
        else
            ready_.push_back(i);
    }
    return problems;
}

void ChangeEngine::setState(std::size_t i, State state) {
    const auto open = [](State s) { return s == State::Pending || s == State::InFlight; };
    if (open(outcomes_[i].state) && !open(state))
        ++done_;
    else if (!open(outcomes_[i].state) && open(state))
        --done_;
    outcomes_[i].state = state;
}

void ChangeEngine::settle(std::size_t i, State state, std::string detail) {
    setState(i, state);
    outcomes_[i].detail = std::move(detail);
    if (isFinal(state) && !reported_[i]) {
        reported_[i] = true;
        settled_.push_back(i);
    }
    if (state == State::Applied) {
        // What waits for this device goes once it answers from elsewhere.
        if (!parked_[i].empty()) {
            awaitingMove_.emplace(macKey(changes_[i].mac.data()), i);
            moveDeadline_[i] = now_ + options_.answerTimeout;
        }
    } else if (isFinal(state)) {
        dropWaiting(i, "did not leave the address first");
    }
}

void ChangeEngine::dropWaiting(std::size_t leaver, const std::string &why) {
    // What waited for this device to leave its address cannot go now.
    const std::vector<std::size_t> waiting = std::move(parked_[leaver]);
    parked_[leaver].clear();
    for (std::size_t row : waiting)
        settle(row, State::NotSent, "not sent: " + rowName(changes_[leaver]) + " " + why);
}

std::int32_t ChangeEngine::sendStep(std::size_t i) {
    const DeviceChange &change = changes_[i];
    const Credentials &cr = *change.credentials;
    const HKOVAITEM item = change.device->item;
    const char *user = cr.user.c_str();
    const char *password = newPasswordSet_[i] ? cr.newPassword->c_str() : cr.password.c_str();
    switch (change.steps[nextStep_[i]]) {
    case Step::HostName:
        return library_.setHostName(item, user, password, change.hostName.c_str(),
                                    change.domainName.c_str());
    case Step::Account: {
        const std::string &newPassword = cr.newPassword ? *cr.newPassword : cr.password;
        return library_.setAccount(item, user, password, newPassword.c_str(), &change.guest);
    }
    case Step::Network:
        break;
    }
    return library_.setNetworkSettings(item, user, password, &change.settings);
}

void ChangeEngine::release(std::size_t leaver) {
    for (auto it = parked_[leaver].rbegin(); it != parked_[leaver].rend(); ++it)
        ready_.push_front(*it);
    parked_[leaver].clear();
}

void ChangeEngine::heard(const DeviceRecord &device, Clock::time_point now) {
    const auto at = awaitingMove_.find(macKey(device.info.mac));
    if (at == awaitingMove_.end())
        return;
    const std::size_t i = at->second;
    const std::optional<std::uint32_t> from = parseAddress(fieldView(device.info.ipAddress));
    const bool elsewhere =
        from && std::find(leaves_[i].begin(), leaves_[i].end(), *from) == leaves_[i].end();
    if (!elsewhere && !mismatch(changes_[i], device).empty())
        return; // not moved yet
    awaitingMove_.erase(at);
    release(i);
    advance(now);
}

void ChangeEngine::advance(Clock::time_point now) {
    now_ = now;
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(options_.answerTimeout).count();
    for (auto it = awaitingMove_.begin(); it != awaitingMove_.end();) {
        const std::size_t i = it->second;
        if (moveDeadline_[i] > now) {
            ++it;
            continue;
        }
        it = awaitingMove_.erase(it);
        dropWaiting(i,
                    "was not seen with its new address within " + std::to_string(seconds) + " s");
    }
    for (auto it = inFlight_.begin(); it != inFlight_.end();) {
        const std::size_t i = it->second;
        if (deadline_[i] > now) {
            ++it;
            continue;
        }
        it = inFlight_.erase(it);
        settle(i, State::NoAnswer,
               std::string(stepName(changes_[i].steps[nextStep_[i]])) + ": no answer within " +
                   std::to_string(seconds) + " s");
    }
    while (!stopped_ && !ready_.empty() &&
           inFlight_.size() < static_cast<std::size_t>(options_.parallel)) {
        const std::size_t i = ready_.front();
        if (options_.mayStart && !options_.mayStart(i)) {
            stop();
            break;
        }
        ready_.pop_front();
        const std::int32_t code = sendStep(i);
        if (code != KOVA_OK) {
            settle(i, State::Refused,
                   std::string(stepName(changes_[i].steps[nextStep_[i]])) + ": " +
                       kova_ErrorText(code));
            continue;
        }
        setState(i, State::InFlight);
        deadline_[i] = now + options_.answerTimeout;
        inFlight_.emplace(macKey(changes_[i].mac.data()), i);
    }
}

void ChangeEngine::answer(const Mac &mac, std::int32_t event, Clock::time_point now) {
    now_ = now;
    const auto at = inFlight_.find(macKey(mac.data()));
    if (at == inFlight_.end())
        return; // late, or not ours
    const std::size_t i = at->second;
    inFlight_.erase(at);
    const DeviceChange &change = changes_[i];
    const Step step = change.steps[nextStep_[i]];
    if (event == KOVA_EVENT_SUCCESS) {
        if (step == Step::Account && change.credentials->newPassword)
            newPasswordSet_[i] = true;
        if (++nextStep_[i] == change.steps.size()) {
            settle(i, State::Applied, {});
        } else if (stopped_) {
            settle(i, State::Interrupted, interruptedDetail(i));
        } else {
            setState(i, State::Pending);
            ready_.push_front(i); // the same device's next request first
        }
    } else if (event == KOVA_EVENT_AUTH_FAILED) {
        settle(i, State::AuthFailed, stepName(step));
    } else {
        settle(i, State::Refused,
               std::string(stepName(step)) + ": the device answered with status 1");
    }
    advance(now);
}

std::string ChangeEngine::interruptedDetail(std::size_t i) const {
    const std::vector<Step> &steps = changes_[i].steps;
    auto names = [&](std::size_t from, std::size_t to) {
        std::string text;
        for (std::size_t k = from; k < to; ++k)
            text += (text.empty() ? "" : ", ") + std::string(stepName(steps[k]));
        return text;
    };
    return names(0, nextStep_[i]) + " applied; " + names(nextStep_[i], steps.size()) + " not sent";
}

void ChangeEngine::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    awaitingMove_.clear();
    std::vector<std::size_t> pending(ready_.begin(), ready_.end());
    ready_.clear();
    for (std::vector<std::size_t> &rows : parked_) {
        pending.insert(pending.end(), rows.begin(), rows.end());
        rows.clear();
    }
    std::sort(pending.begin(), pending.end());
    for (std::size_t i : pending) {
        if (nextStep_[i] == 0)
            settle(i, State::NotSent, "not sent: stopped");
        else
            settle(i, State::Interrupted, interruptedDetail(i));
    }
}

void ChangeEngine::abandon(const std::string &why) {
    std::vector<std::size_t> waiting;
    for (const auto &[key, i] : inFlight_)
        waiting.push_back(i);
    inFlight_.clear();
    std::sort(waiting.begin(), waiting.end());
    for (std::size_t i : waiting)
        settle(i, State::NoAnswer,
               std::string(stepName(changes_[i].steps[nextStep_[i]])) + ": " + why);
}

bool ChangeEngine::idle() const {
    return inFlight_.empty() && (stopped_ || (ready_.empty() && awaitingMove_.empty()));
}

std::optional<Clock::time_point> ChangeEngine::nextDeadline() const {
    std::optional<Clock::time_point> earliest;
    for (const auto &[key, i] : inFlight_)
        if (!earliest || deadline_[i] < *earliest)
            earliest = deadline_[i];
    for (const auto &[key, i] : awaitingMove_)
        if (!earliest || moveDeadline_[i] < *earliest)
            earliest = moveDeadline_[i];
    return earliest;
}

void ChangeEngine::confirm(const std::vector<DeviceRecord> &fresh) {
    std::unordered_map<std::uint64_t, const DeviceRecord *> now;
    for (const DeviceRecord &device : fresh)
        now[macKey(device.info.mac)] = &device;
    for (std::size_t i = 0; i < changes_.size(); ++i) {
        const auto at = now.find(macKey(changes_[i].mac.data()));
        if (at != now.end())
            outcomes_[i].addressAfter = fieldText(at->second->info.ipAddress);
        if (outcomes_[i].state != State::Applied)
            continue;
        if (at == now.end()) {
            settle(i, State::NotConfirmed, "no answer to the confirmation scan");
            continue;
        }
        std::string differs = mismatch(changes_[i], *at->second);
        const State state = differs.empty() ? State::Confirmed : State::NotConfirmed;
        settle(i, state, std::move(differs));
    }
}

void ChangeEngine::leaveUnconfirmed(const std::string &why) {
    for (std::size_t i = 0; i < changes_.size(); ++i)
        if (outcomes_[i].state == State::Applied)
            settle(i, State::NotConfirmed, why);
}

std::vector<std::size_t> ChangeEngine::takeSettled() {
    std::vector<std::size_t> rows;
    rows.swap(settled_);
    return rows;
}

std::string mismatch(const DeviceChange &change, const DeviceRecord &now) {
    for (Step step : change.steps) {
        if (step == Step::HostName) {
            if (fieldText(now.info.hostName) != change.hostName)
                return "host name is '" + printable(fieldText(now.info.hostName)) + "'";
            if (fieldText(now.info.domainName) != change.domainName)
                return "domain name is '" + printable(fieldText(now.info.domainName)) + "'";
        } else if (step == Step::Account) {
            if ((now.guestAccount != 0) != (change.guest != 0))
                return "guest access is " + std::string(now.guestAccount ? "on" : "off");
        } else {
            const KOVA_NETWORK_SETTINGS &a = now.network, &b = change.settings;
            if (a.mode != b.mode)
                return "mode is " + std::string(modeText(a.mode));
            if (b.mode == KOVA_MODE_STATIC) {
                const std::pair<const char *, std::pair<std::string_view, std::string_view>>
                    fields[] = {{"ip", {fieldView(a.ipAddress), fieldView(b.ipAddress)}},
                                {"netmask", {fieldView(a.netMask), fieldView(b.netMask)}},
                                {"gateway", {fieldView(a.gateway), fieldView(b.gateway)}},
                                {"dns", {fieldView(a.dnsServer), fieldView(b.dnsServer)}}};
                for (const auto &[name, values] : fields)
                    if (values.first != values.second)
                        return std::string(name) + " is " + printable(values.first);
            } else if (b.mode == KOVA_MODE_PPPOE &&
                       (fieldView(a.pppoeUserName) != fieldView(b.pppoeUserName) ||
                        fieldView(a.pppoeServiceName) != fieldView(b.pppoeServiceName) ||
                        a.mtu != b.mtu || a.dnsMode != b.dnsMode ||
                        fieldView(a.pppoeDnsServer) != fieldView(b.pppoeDnsServer))) {
                return "PPPoE settings differ";
            }
        }
    }
    return {};
}

} // namespace veltrona::change
