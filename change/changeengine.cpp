#include "changeengine.h"

#include "fieldtext.h"
#include "printable.h"

#include <string.h> // explicit_bzero

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

namespace veltrona::change {

namespace {

std::string rowName(const DeviceChange &change) {
    return "row " + std::to_string(change.row) + " (" + formatMac(change.mac.data()) + ")";
}

bool has(const DeviceChange &change, Step step) {
    return std::find(change.steps.begin(), change.steps.end(), step) != change.steps.end();
}

// "02-4B-56-00-00-01" (either case, '-' or ':') as macKey gives it.
std::optional<std::uint64_t> parseMacText(std::string_view text) {
    if (text.size() != 17)
        return std::nullopt;
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 17; i += 3) {
        unsigned value = 0;
        for (std::size_t k = i; k < i + 2; ++k) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[k])));
            if (c >= '0' && c <= '9')
                value = value * 16 + static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value = value * 16 + static_cast<unsigned>(c - 'a' + 10);
            else
                return std::nullopt;
        }
        key = key << 8 | value;
    }
    return key;
}

template <std::size_t N> void setField(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

std::string modeName(std::int32_t mode) {
    const std::string text = modeText(mode);
    return text.empty() ? "mode " + std::to_string(mode) : text;
}

// Writes the asked values over the device's settings.
void writeNetwork(const NetworkChanges &changes, const std::optional<std::string> &pppoePassword,
                  KOVA_NETWORK_SETTINGS &settings) {
    if (changes.mode)
        settings.mode = *changes.mode;
    if (changes.ipAddress)
        setField(settings.ipAddress, *changes.ipAddress);
    if (changes.netMask)
        setField(settings.netMask, *changes.netMask);
    if (changes.gateway)
        setField(settings.gateway, *changes.gateway);
    if (changes.dnsServer)
        setField(settings.dnsServer, *changes.dnsServer);
    if (changes.pppoeUserName)
        setField(settings.pppoeUserName, *changes.pppoeUserName);
    if (changes.pppoeServiceName)
        setField(settings.pppoeServiceName, *changes.pppoeServiceName);
    if (pppoePassword)
        setField(settings.pppoePassword, *pppoePassword);
    if (changes.mtu)
        settings.mtu = static_cast<std::int32_t>(*changes.mtu);
    if (changes.dnsMode)
        settings.dnsMode = *changes.dnsMode;
    if (changes.pppoeDnsServer)
        setField(settings.pppoeDnsServer, *changes.pppoeDnsServer);
}

// The problems of where a device answered from: several places without a
// bound network, or two addresses on one network.
std::optional<Problem> placeProblem(const std::vector<Place> &places, bool bound,
                                    const std::string &mac) {
    if (places.size() < 2)
        return std::nullopt;
    for (std::size_t a = 0; a < places.size(); ++a)
        for (std::size_t b = a + 1; b < places.size(); ++b)
            if (places[a].address != places[b].address &&
                (bound || places[a].interfaceName == places[b].interfaceName))
                return Problem{
                    Code::TwoAddresses, Field::Device, {mac, places[a].address, places[b].address}};
    if (bound)
        return std::nullopt;
    Problem problem{Code::HeardTwice, Field::Device, {mac}};
    for (const Place &place : places) {
        problem.values.push_back(place.address);
        problem.values.push_back(place.interfaceName);
    }
    return problem;
}

} // namespace

std::optional<Problem> outsideSegment(std::uint32_t address, const std::vector<Place> &places,
                                      const std::vector<LocalNetwork> &networks) {
    for (const Place &place : places) {
        if (place.interfaceName.empty())
            continue;
        Problem problem{
            Code::OutsideSegment, Field::Address, {dotted(address), place.interfaceName}};
        bool inside = false;
        for (const LocalNetwork &network : networks) {
            if (network.interfaceName != place.interfaceName)
                continue;
            problem.values.push_back(subnetText(network.address, network.netmask));
            inside = inside || (address & network.netmask) == (network.address & network.netmask);
        }
        if (!inside && problem.values.size() > 2)
            return problem;
    }
    return std::nullopt;
}

bool NetworkChanges::any() const {
    return mode || ipAddress || netMask || gateway || dnsServer || pppoeUserName ||
           pppoeServiceName || mtu || dnsMode || pppoeDnsServer;
}

std::optional<Problem> checkModes(const NetworkChanges &changes, bool pppoePasswordGiven,
                                  std::int32_t deviceMode) {
    const std::int32_t mode = changes.mode.value_or(deviceMode);
    struct Given {
        Field field;
        bool given;
        std::int32_t sentIn;
    };
    const Given given[] = {
        {Field::Address, changes.ipAddress.has_value(), KOVA_MODE_STATIC},
        {Field::Netmask, changes.netMask.has_value(), KOVA_MODE_STATIC},
        {Field::Gateway, changes.gateway.has_value(), KOVA_MODE_STATIC},
        {Field::Dns, changes.dnsServer.has_value(), KOVA_MODE_STATIC},
        {Field::PppoeUser, changes.pppoeUserName.has_value(), KOVA_MODE_PPPOE},
        {Field::PppoeService, changes.pppoeServiceName.has_value(), KOVA_MODE_PPPOE},
        {Field::Mtu, changes.mtu.has_value(), KOVA_MODE_PPPOE},
        {Field::DnsMode, changes.dnsMode.has_value(), KOVA_MODE_PPPOE},
        {Field::PppoeDns, changes.pppoeDnsServer.has_value(), KOVA_MODE_PPPOE},
        {Field::PppoePassword, pppoePasswordGiven, KOVA_MODE_PPPOE},
    };
    for (const Given &option : given)
        if (option.given && option.sentIn != mode)
            return Problem{
                Code::NotSentInMode, option.field, {modeName(mode), changes.mode ? "" : "device"}};
    return std::nullopt;
}

std::vector<std::uint32_t> heldAddresses(const std::vector<Place> &places,
                                         const KOVA_NETWORK_SETTINGS &network) {
    std::vector<std::uint32_t> held;
    for (const Place &place : places)
        if (auto source = parseAddress(place.address))
            if (std::find(held.begin(), held.end(), *source) == held.end())
                held.push_back(*source);
    if (network.mode == KOVA_MODE_STATIC)
        if (auto configured = parseAddress(fieldView(network.ipAddress)))
            if (std::find(held.begin(), held.end(), *configured) == held.end())
                held.push_back(*configured);
    return held;
}

std::vector<DeviceChange> changesFor(const std::vector<Desired> &desired, const ScanResult &scan,
                                     std::vector<Problem> &problems) {
    std::unordered_map<std::uint64_t, const DeviceRecord *> byMac;
    for (const DeviceRecord &device : scan.devices)
        byMac.emplace(macKey(device.info.mac), &device);
    std::vector<DeviceChange> changes(desired.size());
    for (std::size_t i = 0; i < desired.size(); ++i) {
        const Desired &d = desired[i];
        DeviceChange &change = changes[i];
        change.row = d.row;
        change.mac = d.mac;
        change.credentials = d.credentials;
        const auto at = byMac.find(macKey(d.mac.data()));
        if (at == byMac.end())
            continue;
        const DeviceRecord &device = *at->second;
        change.device = &device;
        change.places = placesOf(scan, device);
        const auto problem = [&](Code code, Field field, std::vector<std::string> values) {
            problems.push_back({code, field, std::move(values), d.row, formatMac(d.mac.data())});
        };
        if (d.hostName || d.domainName) {
            change.hostName = d.hostName.value_or(fieldText(device.info.hostName));
            change.domainName = d.domainName.value_or(fieldText(device.info.domainName));
            // Nothing goes when the device has both names already.
            const bool send = d.sendShown || change.hostName != fieldView(device.info.hostName) ||
                              change.domainName != fieldView(device.info.domainName);
            if (send && change.hostName.size() > kMaxHostName)
                problem(Code::CurrentTooLong, Field::HostName, {std::to_string(kMaxHostName)});
            else if (send && change.domainName.size() > kMaxDomainName)
                problem(Code::CurrentTooLong, Field::DomainName, {std::to_string(kMaxDomainName)});
            if (send)
                change.steps.push_back(Step::HostName);
        }
        const std::int32_t guestNow = device.guestAccount != 0 ? 1 : 0;
        change.guest = d.guest ? (*d.guest ? 1 : 0) : guestNow;
        // A new password cannot be seen on the device: it always goes.
        if ((d.guest && (d.sendShown || change.guest != guestNow)) ||
            (d.credentials && d.credentials->newPassword))
            change.steps.push_back(Step::Account);
        change.settings = device.network;
        if (!d.network.any() && !d.pppoePassword)
            continue;
        if (auto modes = checkModes(d.network, d.pppoePassword.has_value(), device.network.mode)) {
            problem(modes->code, modes->field, std::move(modes->values));
            continue;
        }
        writeNetwork(d.network, d.pppoePassword, change.settings);
        if (!d.pppoePassword && !d.sendShown && sameShownSettings(change.settings, device.network))
            continue;
        change.steps.push_back(Step::Network);
        if (change.settings.mode != KOVA_MODE_STATIC)
            continue;
        const KOVA_NETWORK_SETTINGS &s = change.settings;
        const std::pair<Field, std::string_view> addresses[] = {
            {Field::Address, fieldView(s.ipAddress)},
            {Field::Netmask, fieldView(s.netMask)},
            {Field::Gateway, fieldView(s.gateway)},
            {Field::Dns, fieldView(s.dnsServer)}};
        for (const auto &[field, text] : addresses)
            if (!parseAddress(text)) {
                problem(Code::CurrentNotAddress, field, {});
                break;
            }
    }
    return changes;
}

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
        const std::vector<Place> places =
            change.places.empty() ? std::vector<Place>{{fieldText(change.device->info.ipAddress),
                                                        change.device->interfaceName}}
                                  : change.places;
        const std::vector<std::uint32_t> held = heldAddresses(places, change.device->network);
        if (address && std::find(held.begin(), held.end(), *address) == held.end())
            addresses.push_back(*address);
    }
    return addresses;
}

std::vector<HeardDevice> heardDevices(const ScanResult &scan) {
    std::vector<HeardDevice> heard;
    heard.reserve(scan.devices.size());
    for (const DeviceRecord &device : scan.devices) {
        const std::string mac = formatMac(device.info.mac);
        const std::string host = fieldText(device.info.hostName);
        for (std::uint32_t address : heldAddresses(placesOf(scan, device), device.network))
            heard.push_back({mac, host, address});
    }
    return heard;
}

std::vector<HeardDevice> heardDevices(const std::vector<DeviceRecord> &devices) {
    ScanResult scan;
    scan.devices = devices;
    return heardDevices(scan);
}

ChangeEngine::ChangeEngine(KovaLibrary &library, std::vector<DeviceChange> changes, Options options)
    : library_(library), changes_(std::move(changes)), options_(options),
      outcomes_(changes_.size()), nextStep_(changes_.size(), 0),
      newPasswordSet_(changes_.size(), false), deadline_(changes_.size()),
      waitsFor_(changes_.size()), parked_(changes_.size()), leaves_(changes_.size()),
      moveDeadline_(changes_.size()), reported_(changes_.size(), false) {
    for (std::size_t i = 0; i < changes_.size(); ++i) {
        DeviceChange &change = changes_[i];
        if (!change.device)
            settle(i, State::NotFound, "no answer to the scan");
        else if (change.steps.empty())
            settle(i, State::Unchanged, {});
        if (change.device) {
            outcomes_[i].addressBefore = fieldText(change.device->info.ipAddress);
            if (change.places.empty())
                change.places.push_back({outcomes_[i].addressBefore, change.device->interfaceName});
        }
    }
}

ChangeEngine::Order ChangeEngine::analyse(const std::vector<HeardDevice> &heard,
                                          const Surroundings &surroundings) const {
    Order order;
    std::vector<Problem> &problems = order.problems;
    order.waitsFor.resize(changes_.size());
    order.leaves.resize(changes_.size());
    std::vector<std::optional<std::uint32_t>> takes(changes_.size());
    std::unordered_map<std::uint64_t, std::size_t> rowByMac;
    std::unordered_map<std::uint32_t, std::size_t> takenBy;
    for (std::size_t i = 0; i < changes_.size(); ++i) {
        const DeviceChange &change = changes_[i];
        rowByMac.emplace(macKey(change.mac.data()), i);
        if (!change.device || change.steps.empty())
            continue;
        const std::string mac = formatMac(change.mac.data());
        const auto add = [&](Problem problem) {
            problem.row = change.row;
            problem.mac = mac;
            problems.push_back(std::move(problem));
        };
        if (auto where = placeProblem(change.places, surroundings.bound, mac))
            add(std::move(*where));
        if (has(change, Step::HostName)) {
            if (auto name = checkName(change.hostName, Field::HostName))
                add(std::move(*name));
            if (auto name = checkName(change.domainName, Field::DomainName))
                add(std::move(*name));
        }
        if (!has(change, Step::Network))
            continue;
        const KOVA_NETWORK_SETTINGS &s = change.settings;
        std::optional<std::uint32_t> address;
        if (s.mode == KOVA_MODE_STATIC) {
            address = parseAddress(fieldView(s.ipAddress));
            const auto netmask = parseAddress(fieldView(s.netMask));
            const auto optional = [](std::string_view text) {
                return text.empty() ? std::optional<std::uint32_t>(0) : parseAddress(text);
            };
            const auto gateway = optional(fieldView(s.gateway));
            const auto dns = optional(fieldView(s.dnsServer));
            const std::pair<Field, bool> parsed[] = {{Field::Address, address.has_value()},
                                                     {Field::Netmask, netmask.has_value()},
                                                     {Field::Gateway, gateway.has_value()},
                                                     {Field::Dns, dns.has_value()}};
            bool allParsed = true;
            for (const auto &[field, ok] : parsed)
                if (!ok) {
                    add({Code::NotAnAddress, field, {}});
                    allParsed = false;
                }
            if (!allParsed)
                continue;
            for (Problem &problem : checkAddresses(*address, *netmask, *gateway, *dns))
                add(std::move(problem));
            if (auto outside = outsideSegment(*address, change.places, surroundings.networks))
                add(std::move(*outside));
        }
        const std::vector<std::uint32_t> held =
            heldAddresses(change.places, change.device->network);
        for (std::uint32_t old : held)
            if (!address || old != *address)
                order.leaves[i].push_back(old);
        if (address && std::find(held.begin(), held.end(), *address) == held.end()) {
            takes[i] = *address;
            const auto [at, fresh] = takenBy.emplace(*address, i);
            if (!fresh) {
                const DeviceChange &other = changes_[at->second];
                add({Code::GivenTwice,
                     Field::Address,
                     {dotted(*address), std::to_string(other.row), formatMac(other.mac.data())}});
            }
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
            std::optional<std::size_t> leaver;
            if (const auto mac = parseMacText(holder.mac))
                if (const auto row = rowByMac.find(*mac); row != rowByMac.end())
                    leaver = row->second;
            const bool leaving =
                leaver && std::find(order.leaves[*leaver].begin(), order.leaves[*leaver].end(),
                                    address) != order.leaves[*leaver].end();
            if (leaving && (!order.waitsFor[i] || *order.waitsFor[i] == *leaver)) {
                order.waitsFor[i] = leaver;
                continue;
            }
            Problem problem = heldBy(address, holder.mac, holder.hostName);
            problem.row = changes_[i].row;
            problem.mac = ownMac;
            problems.push_back(std::move(problem));
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
            if (!order.waitsFor[at])
                break;
            at = *order.waitsFor[at];
        }
        if (mark[at] == 1 && order.waitsFor[at]) {
            Problem cycle{Code::MoveCycle, Field::Address, {}};
            for (auto it = std::find(path.begin(), path.end(), at); it != path.end(); ++it) {
                cycle.values.push_back(std::to_string(changes_[*it].row));
                cycle.values.push_back(formatMac(changes_[*it].mac.data()));
                cycle.values.push_back(dotted(*takes[*it]));
            }
            problems.push_back(std::move(cycle));
        }
        for (std::size_t row : path)
            mark[row] = 2;
    }
    return order;
}

std::vector<Problem> ChangeEngine::check(const std::vector<HeardDevice> &heard,
                                         const Surroundings &surroundings) const {
    return analyse(heard, surroundings).problems;
}

std::vector<Problem> ChangeEngine::start(const std::vector<HeardDevice> &heard,
                                         const Surroundings &surroundings) {
    Order order = analyse(heard, surroundings);
    if (!order.problems.empty() || started_)
        return std::move(order.problems);
    started_ = true;
    waitsFor_ = std::move(order.waitsFor);
    leaves_ = std::move(order.leaves);
    for (std::size_t i = 0; i < changes_.size(); ++i) {
        if (outcomes_[i].state != State::Pending)
            continue;
        if (waitsFor_[i])
            parked_[*waitsFor_[i]].push_back(i);
        else
            ready_.push_back(i);
    }
    return {};
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
    // Showing the new settings is not enough: a device that applies them only
    // after a restart, or leaves for DHCP, still answers from the old address.
    if (!from || std::find(leaves_[i].begin(), leaves_[i].end(), *from) != leaves_[i].end())
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
        dropWaiting(i, "was not seen answering from another address within " +
                           std::to_string(seconds) + " s");
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
        // The request holds the PPPoE password now; the change needs it no more.
        explicit_bzero(changes_[i].settings.pppoePassword,
                       sizeof changes_[i].settings.pppoePassword);
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
    outcomes_[i].answer = event;
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
    // The first two MACs answering from each address.
    std::unordered_map<std::string_view, std::pair<const DeviceRecord *, const DeviceRecord *>>
        byAddress;
    for (const DeviceRecord &device : fresh) {
        now[macKey(device.info.mac)] = &device;
        auto &[first, second] = byAddress[fieldView(device.info.ipAddress)];
        if (!first)
            first = &device;
        else if (!second && macKey(first->info.mac) != macKey(device.info.mac))
            second = &device;
    }
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
        const auto &[first, second] = byAddress[fieldView(at->second->info.ipAddress)];
        if (differs.empty() && second) {
            const DeviceRecord &other = first == at->second ? *second : *first;
            differs = formatMac(other.info.mac) + " answers from " +
                      fieldText(at->second->info.ipAddress) + " too";
        }
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

bool sameShownSettings(const KOVA_NETWORK_SETTINGS &a, const KOVA_NETWORK_SETTINGS &b) {
    return a.mode == b.mode && fieldView(a.ipAddress) == fieldView(b.ipAddress) &&
           fieldView(a.netMask) == fieldView(b.netMask) &&
           fieldView(a.gateway) == fieldView(b.gateway) &&
           fieldView(a.dnsServer) == fieldView(b.dnsServer) &&
           fieldView(a.pppoeUserName) == fieldView(b.pppoeUserName) &&
           fieldView(a.pppoeServiceName) == fieldView(b.pppoeServiceName) && a.mtu == b.mtu &&
           a.dnsMode == b.dnsMode && fieldView(a.pppoeDnsServer) == fieldView(b.pppoeDnsServer);
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
