#include "batch.h"

#include "applyreport.h"
#include "changeengine.h"
#include "csv.h"
#include "devicerow.h"
#include "kovalibrary.h"
#include "neighbours.h"
#include "plan.h"
#include "printable.h"
#include "problems.h"
#include "scansequence.h"
#include "secrets.h"
#include "secretsfile.h"
#include "session.h"
#include "stopsignals.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <unordered_map>

namespace veltrona::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int fail(int code, const std::string &message) {
    std::cerr << "veltrona-cli: " << printable(message) << '\n';
    return code;
}

struct OptionDef {
    const char *name;
    const char *valueName; // nullptr for a switch
};

const std::vector<OptionDef> kPlanOptions = {{"bind", "ADDR"},
                                             {"seconds", "N"},
                                             {"format", "FORMAT"},
                                             {"static-range", "FIRST-LAST"},
                                             {"netmask", "A"},
                                             {"gateway", "A"},
                                             {"dns", "A"},
                                             {"order", "COLUMN"},
                                             {"hostname-pattern", "PATTERN"},
                                             {"only-model", "MODEL"},
                                             {"only-mode", "MODE"},
                                             {"only-macs", "FILE"}};
const std::vector<OptionDef> kApplyOptions = {
    {"bind", "ADDR"},    {"seconds", "N"},     {"user", "ID"},    {"password-file", "FILE"},
    {"secrets", "FILE"}, {"dry-run", nullptr}, {"parallel", "N"}, {"report", "FILE"}};

constexpr int kDefaultParallel = 16;
constexpr int kMaxParallel = 256;

std::string text(const QCommandLineParser &parser, const char *name) {
    return toLocale(parser.value(QString::fromLatin1(name)));
}

bool isSet(const QCommandLineParser &parser, const char *name) {
    return parser.isSet(QString::fromLatin1(name));
}

std::optional<int> numberOption(const QCommandLineParser &parser, const char *name, int low,
                                int high, std::string &error) {
    if (!isSet(parser, name))
        return std::nullopt;
    bool ok = false;
    const int n = parser.value(QString::fromLatin1(name)).toInt(&ok);
    if (!ok || n < low || n > high) {
        error = std::string("--") + name + ": '" + text(parser, name) + "' is not a number from " +
                std::to_string(low) + " to " + std::to_string(high);
        return std::nullopt;
    }
    return n;
}

std::optional<std::string> addressOption(const QCommandLineParser &parser, const char *name,
                                         std::string &error) {
    if (!isSet(parser, name))
        return std::nullopt;
    std::optional<std::string> canonical = canonicalIpv4(text(parser, name));
    if (!canonical)
        error = std::string("--") + name + ": '" + text(parser, name) + "' is not an IPv4 address";
    return canonical;
}

// Parses one batch command line; an error text when it is wrong.
std::string parse(QCommandLineParser &parser, const QStringList &arguments,
                  const std::vector<OptionDef> &defs) {
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    for (const OptionDef &def : defs) {
        QCommandLineOption option(QString::fromLatin1(def.name));
        if (def.valueName)
            option.setValueName(QString::fromLatin1(def.valueName));
        parser.addOption(option);
    }
    QStringList withProgram = arguments;
    withProgram.first() = QStringLiteral("veltrona-cli");
    if (!parser.parse(withProgram))
        return toLocale(arguments.first()) + ": " + toLocale(parser.errorText());
    for (const OptionDef &def : defs)
        if (parser.optionNames().count(QString::fromLatin1(def.name)) > 1)
            return std::string("--") + def.name + ": given more than once";
    return {};
}

// ---- a plan's rows as changes ----

using change::DeviceChange;
using change::State;
using change::Step;

// What each row of a plan asks of its device, with the credentials to use.
std::vector<change::Desired> desiredOf(const std::deque<PlanRow> &rows,
                                       const std::map<std::uint64_t, Credentials> &secrets,
                                       const Credentials &common) {
    std::vector<change::Desired> desired(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PlanRow &row = rows[i];
        change::Desired &d = desired[i];
        d.row = row.row;
        d.mac = row.mac;
        d.network = row.changes.network;
        d.hostName = row.changes.hostName;
        d.domainName = row.changes.domainName;
        d.guest = row.changes.guest;
        const auto own = secrets.find(macKey(row.mac.data()));
        d.credentials = own != secrets.end() ? &own->second : &common;
    }
    return desired;
}

void printProblems(const std::vector<change::Problem> &problems, Terms terms,
                   const std::string &where) {
    for (const change::Problem &problem : problems)
        fail(kExitUsage, where + problemText(problem, terms));
    std::cerr << "veltrona-cli: nothing was sent\n";
}

// ---- plan ----

int runPlan(const QStringList &arguments, bool progress, KovaLibrary &library) {
    QCommandLineParser parser;
    std::string error = parse(parser, arguments, kPlanOptions);
    if (!error.empty())
        return fail(kExitUsage, error);
    if (isSet(parser, "help")) {
        std::cout << batchUsage(QStringLiteral("plan"));
        return kExitOk;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(kExitUsage, "plan: unexpected argument '" +
                                    toLocale(parser.positionalArguments().first()) + "'");
    const std::string bind = addressOption(parser, "bind", error).value_or("");
    const int seconds =
        numberOption(parser, "seconds", 1, kMaxSeconds, error).value_or(kDefaultSeconds);
    bool json = false;
    if (isSet(parser, "format")) {
        const std::string format = text(parser, "format");
        if (format != "csv" && format != "json")
            error = "--format: '" + format + "' is not csv or json";
        json = format == "json";
    }
    PlanFill fill;
    if (isSet(parser, "static-range")) {
        if (auto range = parseRange(text(parser, "static-range"))) {
            fill.rangeFirst = range->first;
            fill.rangeLast = range->second;
        } else {
            error = "--static-range: '" + text(parser, "static-range") +
                    "' is not FIRST-LAST, two IPv4 addresses in rising order";
        }
    }
    fill.netMask = addressOption(parser, "netmask", error);
    fill.gateway = addressOption(parser, "gateway", error);
    fill.dnsServer = addressOption(parser, "dns", error);
    if (!fill.rangeFirst && (fill.netMask || fill.gateway || fill.dnsServer) && error.empty())
        error = "--netmask, --gateway and --dns go with --static-range";
    if (isSet(parser, "hostname-pattern"))
        fill.hostPattern = parser.value(QStringLiteral("hostname-pattern")).toStdString();
    PlanOrder order = PlanOrder::Mac;
    if (isSet(parser, "order")) {
        const std::string word = text(parser, "order");
        const std::map<std::string, PlanOrder> orders = {{"mac", PlanOrder::Mac},
                                                         {"ip", PlanOrder::Ip},
                                                         {"model", PlanOrder::Model},
                                                         {"serial", PlanOrder::Serial}};
        if (orders.count(word))
            order = orders.at(word);
        else
            error = "--order: '" + word + "' is not mac, ip, model or serial";
    }
    std::optional<std::int32_t> onlyMode;
    if (isSet(parser, "only-mode")) {
        const std::string word = text(parser, "only-mode");
        const std::vector<std::string> words(kModeTexts.begin(), kModeTexts.end());
        const auto at = std::find(words.begin(), words.end(), word);
        if (at == words.end())
            error = "--only-mode: '" + word + "' is not static, dhcp or pppoe";
        onlyMode = static_cast<std::int32_t>(at - words.begin());
    }
    std::optional<std::set<std::uint64_t>> onlyMacs;
    if (isSet(parser, "only-macs")) {
        QFile file(parser.value(QStringLiteral("only-macs")));
        if (!file.open(QIODevice::ReadOnly)) {
            error = "--only-macs: " + toLocale(file.errorString());
        } else {
            onlyMacs.emplace();
            int line = 0;
            for (QByteArray entry : file.readAll().split('\n')) {
                ++line;
                entry = entry.trimmed();
                if (entry.isEmpty() || entry.startsWith('#'))
                    continue;
                if (auto mac = parseMac(entry.toStdString()))
                    onlyMacs->insert(macKey(mac->data()));
                else if (error.empty())
                    error = "--only-macs: line " + std::to_string(line) + ": '" +
                            entry.toStdString() + "' is not a MAC address";
            }
        }
    }
    if (!error.empty())
        return fail(kExitUsage, error);
    // A malformed pattern is refused before the scan.
    if (fill.hostPattern) {
        FoundDevice sample;
        if (!expandHostPattern(*fill.hostPattern, 1, sample, error))
            return fail(kExitUsage, error);
    }

    const ScanResult result = scan(library, bind, seconds, {}, progress);
    if (result.error != KOVA_OK)
        return fail(kExitRefused, "cannot scan: " + std::string(kova_ErrorText(result.error)));
    if (const std::string lost = lostRepliesWarning(result); !lost.empty())
        return fail(kExitNoDevice, lost + "; no plan written");
    for (const FoundDevice &device : result.devices)
        if (const std::string twice = heardTwiceProblem(result, device.info.mac); !twice.empty())
            std::cerr << "veltrona-cli: " << twice << '\n';
    std::vector<FoundDevice> devices;
    const std::string onlyModel = isSet(parser, "only-model") ? text(parser, "only-model") : "";
    for (const FoundDevice &device : result.devices) {
        if (isSet(parser, "only-model") && currentValue(device, "model") != onlyModel)
            continue;
        if (onlyMode && device.network.mode != *onlyMode)
            continue;
        if (onlyMacs && !onlyMacs->count(macKey(device.info.mac)))
            continue;
        devices.push_back(device);
    }
    sortDevices(devices, order);
    // A device heard on a network of this host only gets an address inside it:
    // one the range cannot serve keeps its address, and is named.
    const change::Surroundings surroundings{!bind.empty(), change::localNetworks()};
    std::size_t addressed = devices.size();
    if (fill.rangeFirst)
        for (const FoundDevice &device : devices)
            if (const auto outside = change::outsideSegment(
                    *fill.rangeFirst, placesOf(result, device), surroundings.networks)) {
                fill.noAddress.insert(macKey(device.info.mac));
                --addressed;
                std::cerr << "veltrona-cli: plan: " << formatMac(device.info.mac)
                          << ": address cells left blank: " << problemText(*outside, Terms::Options)
                          << '\n';
            }
    error = checkFill(fill, addressed);
    if (!error.empty())
        return fail(kExitUsage, error);
    const QByteArray plan = formatPlan(devices, fill, json, error);
    if (!error.empty())
        return fail(kExitUsage, error);
    // The plan is checked as apply will check it: no address that a device
    // outside it keeps, none that no device can use.
    const PlanInput written = parsePlan(plan);
    for (const std::string &problem : written.problems)
        std::cerr << "veltrona-cli: plan: " << problem << '\n';
    if (!written.problems.empty())
        return kExitUsage;
    const Credentials none;
    std::vector<change::Problem> problems;
    change::ChangeEngine engine(
        library, change::changesFor(desiredOf(written.rows, {}, none), result, problems), {});
    if (problems.empty())
        problems = engine.check(change::holdersFor(engine.changes(), result), surroundings);
    if (!problems.empty()) {
        for (const change::Problem &problem : problems)
            std::cerr << "veltrona-cli: plan: " << problemText(problem, Terms::Columns) << '\n';
        return kExitUsage;
    }
    std::cout << plan.toStdString();
    if (progress)
        std::cerr << devices.size() << (devices.size() == 1 ? " device" : " devices")
                  << " in the plan\n";
    return kExitOk;
}

// ---- apply ----

void wipeAll(std::map<std::uint64_t, Credentials> &secrets, Credentials &common) {
    for (auto &[key, credentials] : secrets)
        wipeCredentials(credentials);
    wipeCredentials(common);
}

// The values a device shows, under the report's names.
ShownValues shownValues(const FoundDevice &d) {
    ShownValues values;
    for (const char *column :
         {"host", "domain", "guest", "mode", "ip", "netmask", "gateway", "dns"})
        values.emplace_back(column, currentValue(d, column));
    const KOVA_NETWORK_SETTINGS &n = d.network;
    values.emplace_back("pppoe_user", deviceTextUtf8(fieldView(n.pppoeUserName)));
    values.emplace_back("pppoe_service", deviceTextUtf8(fieldView(n.pppoeServiceName)));
    values.emplace_back("mtu", std::to_string(n.mtu));
    values.emplace_back("dns_mode", n.dnsMode != 0 ? "manual" : "auto");
    values.emplace_back("pppoe_dns", fieldText(n.pppoeDnsServer));
    return values;
}

template <std::size_t N> void putField(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

// The device as the row's requests leave it.
FoundDevice deviceAfter(const DeviceChange &change) {
    FoundDevice after = *change.device;
    for (Step step : change.steps) {
        if (step == Step::HostName) {
            putField(after.info.hostName, change.hostName);
            putField(after.info.domainName, change.domainName);
        } else if (step == Step::Account) {
            after.guestAccount = change.guest;
        } else {
            after.network = change.settings;
        }
    }
    return after;
}

const std::set<std::string> kPppoeFields = {"pppoe_user", "pppoe_service", "mtu", "dns_mode",
                                            "pppoe_dns"};

// Each field a request of the row sends, as it is and as it will be; the
// PPPoE ones when the device is or goes into PPPoE mode.
void printDryRun(const DeviceChange &change) {
    const FoundDevice &d = *change.device;
    std::cout << formatMac(change.mac.data()) << "  " << printable(currentValue(d, "model"))
              << '\n';
    const ShownValues is = shownValues(d), tobe = shownValues(deviceAfter(change));
    const bool pppoe = d.network.mode == KOVA_MODE_PPPOE || change.settings.mode == KOVA_MODE_PPPOE;
    const std::map<Step, std::vector<std::string>> fields = {
        {Step::HostName, {"host", "domain"}},
        {Step::Account, {"guest"}},
        {Step::Network,
         {"mode", "ip", "netmask", "gateway", "dns", "pppoe_user", "pppoe_service", "mtu",
          "dns_mode", "pppoe_dns"}}};
    for (Step step : change.steps) {
        for (const std::string &name : fields.at(step)) {
            if (!pppoe && kPppoeFields.count(name))
                continue;
            const auto at = [&](const ShownValues &values) {
                return std::find_if(values.begin(), values.end(),
                                    [&](const auto &v) { return v.first == name; })
                    ->second;
            };
            const std::string &was = at(is), &will = at(tobe);
            std::cout << "  " << name << std::string(name.size() < 12 ? 12 - name.size() : 1, ' ')
                      << (was.empty() ? "(empty)" : printable(was)) << " -> "
                      << (will.empty() ? "(empty)" : printable(will))
                      << (was == will ? "  (unchanged)" : "") << '\n';
        }
        if (step == Step::Account && change.credentials && change.credentials->newPassword)
            std::cout << "  password    (new one from the secrets file)\n";
    }
}

AppliedRow appliedRow(const DeviceChange &change, const change::Outcome &outcome) {
    return {change.row,
            formatMac(change.mac.data()),
            change::stateWords(outcome.state).key,
            outcome.detail,
            outcome.addressBefore,
            outcome.addressAfter,
            {},
            {}};
}

// The table's line of a row: for a confirmed row the values it was given, for
// any other what the device has (its address after the run when known).
TableLine tableLine(const DeviceChange &change, const change::Outcome &outcome) {
    TableLine line{formatMac(change.mac.data()),
                   {},
                   {},
                   change::stateWords(outcome.state).text,
                   outcome.detail};
    if (!change.device)
        return line;
    const bool confirmed = outcome.state == State::Confirmed;
    const bool renamed =
        std::find(change.steps.begin(), change.steps.end(), Step::HostName) != change.steps.end();
    line.hostName = confirmed && renamed ? QString::fromLatin1(change.hostName).toStdString()
                                         : currentValue(*change.device, "host");
    line.address = !outcome.addressAfter.empty() ? outcome.addressAfter : outcome.addressBefore;
    return line;
}

// The key word of a row's state in the journal: a row whose request went out
// is `sent` until it settles, or `applied` (answered Success, not confirmed).
std::string journalKey(State state, bool sent) {
    if (state == State::Applied)
        return "applied";
    if (state == State::InFlight || (state == State::Pending && sent))
        return "sent";
    return change::stateWords(state).key;
}

// The rows of a plan refused before anything was sent: every one not-sent,
// with the problems that name it, else `why`. A plan without rows gives one
// line, row 0, for the whole plan.
std::vector<AppliedRow> refusedRows(const std::deque<PlanRow> &rows,
                                    const std::vector<std::string> &problems,
                                    const std::string &why) {
    std::vector<AppliedRow> out;
    for (const PlanRow &row : rows) {
        const std::string n = std::to_string(row.row);
        std::string detail;
        for (const std::string &problem : problems)
            for (const std::string &start :
                 {"row " + n + ": ", "entry " + n + ": ", "row " + n + " ("})
                if (problem.rfind(start, 0) == 0) {
                    detail += (detail.empty() ? "" : "; ") + problem;
                    break;
                }
        out.push_back({row.row,
                       formatMac(row.mac.data()),
                       "not-sent",
                       detail.empty() ? "not sent: " + why : detail,
                       {},
                       {},
                       {},
                       {}});
    }
    if (out.empty())
        out.push_back({0, {}, "not-sent", "not sent: " + why, {}, {}, {}, {}});
    return out;
}

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

std::string lostNote(std::uint32_t count, const char *when) {
    return std::to_string(count) + (count == 1 ? " reply was" : " replies were") + " lost " + when;
}

// After a stop, answers in flight are awaited this long at most.
constexpr auto kStopGrace = 3s;

struct RunSetup {
    std::string bind;
    int seconds;
    bool progress;
};

struct RunEnd {
    int stopSignal = 0;
    std::int32_t opened = KOVA_OK;
    std::string reportError;
    double elapsed = 0;
    bool sentRequests = false;        // a request went out
    std::uint32_t lostSending = 0;    // replies the system dropped while sending
    std::uint32_t lostConfirming = 0; // and in the confirmation scan
};

// Drives a started engine: sends, awaits the answers and the moves, then
// confirms with a fresh scan. `report` is kept as a journal: each row's
// latest state is added as it changes, a row's "sent" before its request
// goes. `beforeSend` is the engine's mayStart: it is set here, and stops the
// run when a stop signal came. After a stop the answers in flight are awaited
// kStopGrace at most, and not at all after a second stop signal. `forget`
// wipes the passwords once nothing more is sent.
RunEnd run(change::ChangeEngine &engine, KovaLibrary &library, const RunSetup &setup,
           ApplyReport *report, std::function<bool(std::size_t)> &beforeSend,
           const std::function<void()> &forget) {
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
            row.detail =
                std::string(change::stepName(planned[i].steps[sends[i] - 1])) + " request sent";
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
    beforeSend = [&](std::size_t i) {
        syncJournal(); // an answer that lets this request go is written before it
        if (caughtStopSignal() != 0)
            return false;
        ++sends[i];
        end.sentRequests = true;
        journal(i);
        sent.insert(i);
        return true;
    };
    const bool progress = setup.progress;

    const Clock::time_point started = Clock::now();
    std::int32_t &opened = end.opened;
    std::optional<Clock::time_point> stoppedAt;
    const auto lostBefore = lostNow(library);
    {
        Answers answers(library, true); // discoveries find the devices that moved
        Connection connection(library, answers, setup.bind);
        opened = connection.error();
        if (opened != KOVA_OK)
            engine.stop();
        const auto noteStop = [&] {
            if (caughtStopSignal() != 0 && !stoppedAt) {
                engine.stop();
                stoppedAt = Clock::now();
            }
        };
        noteStop();
        const std::size_t total = planned.size();
        // While a device that left an address is to be heard from its new one,
        // a discovery goes out every kMoveDiscoveryGap.
        constexpr auto kMoveDiscoveryGap = 500ms;
        Clock::time_point nextDiscovery{};
        for (engine.advance(Clock::now()); !engine.idle(); engine.advance(Clock::now())) {
            noteStop();
            syncJournal();
            if (stoppedAt &&
                (caughtSecondStopSignal() || Clock::now() >= *stoppedAt + kStopGrace)) {
                engine.abandon(caughtSecondStopSignal()
                                   ? "sent, its answer not awaited after a second stop signal"
                                   : "sent, no answer within " +
                                         std::to_string(kStopGrace.count()) + " s of the stop");
                break;
            }
            if (progress)
                std::fprintf(stderr, "\r\033[KApplying: %zu of %zu devices done", engine.done(),
                             total);
            auto deadline = engine.nextDeadline().value_or(Clock::now() + 100ms);
            if (stoppedAt)
                deadline = std::min(deadline, *stoppedAt + kStopGrace);
            if (engine.awaitsMoves()) {
                if (Clock::now() >= nextDiscovery && caughtStopSignal() == 0) {
                    library.sendDiscovery();
                    nextDiscovery = Clock::now() + kMoveDiscoveryGap;
                }
                deadline = std::min(deadline, nextDiscovery);
            }
            for (const auto &[mac, event] : answers.take(deadline))
                engine.answer(mac, event, Clock::now());
            for (const DeviceRecord &device : answers.takeHeard())
                engine.heard(device, Clock::now());
        }
        if (progress)
            std::fputs("\r\033[K", stderr);
        if (const auto loop = answers.loopErrorCode())
            std::cerr << "veltrona-cli: receiving stopped early: " << kova_ErrorText(*loop) << '\n';
    }
    forget();
    syncJournal();
    end.lostSending = lostSince(library, lostBefore);
    if (opened != KOVA_OK)
        std::cerr << "veltrona-cli: cannot send: " << kova_ErrorText(opened) << '\n';

    // Confirmation: a fresh scan, which also tells where every device answers
    // from now. Skipped when stopped: the run ends as soon as it can.
    int stopSignal = caughtStopSignal();
    if (stopSignal == 0 && opened == KOVA_OK) {
        // Until every device that was sent something has answered.
        std::vector<MacAddress> toConfirm;
        for (std::size_t i = 0; i < planned.size(); ++i)
            if (planned[i].device && outcomes[i].state != State::Unchanged &&
                outcomes[i].state != State::NotSent)
                toConfirm.push_back(planned[i].mac);
        const ScanResult check =
            toConfirm.empty() ? ScanResult{}
                              : scan(library, setup.bind, setup.seconds, toConfirm, progress);
        end.lostConfirming = check.lostTableFull + check.lostBufferFull;
        stopSignal = caughtStopSignal();
        if (check.error == KOVA_OK && !check.stopped)
            engine.confirm(check.devices);
    }
    engine.leaveUnconfirmed(stopSignal != 0 ? "stopped before the confirmation scan"
                                            : "the confirmation scan could not be made");
    syncJournal();
    end.stopSignal = stopSignal;
    end.elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    if (end.lostSending != 0)
        std::cerr << "veltrona-cli: " << lostNote(end.lostSending, "while sending")
                  << " (receive buffer full): a row without an answer may have applied its "
                     "change\n";
    if (end.lostConfirming != 0)
        std::cerr << "veltrona-cli: " << lostNote(end.lostConfirming, "in the confirmation scan")
                  << ": a row not confirmed may have applied its change\n";
    return end;
}

// A row for the final report and table: the detail also says when its answer
// may have been among the replies lost.
AppliedRow finalRow(const DeviceChange &change, const change::Outcome &outcome, const RunEnd &end) {
    AppliedRow row = appliedRow(change, outcome);
    if (change.device) {
        row.before = shownValues(*change.device);
        row.after = shownValues(deviceAfter(change));
    }
    const State state = outcome.state;
    if (end.lostSending != 0 &&
        (state == State::NoAnswer ||
         (state == State::NotSent && row.detail.find("was not seen") != std::string::npos)))
        row.detail += "; " + lostNote(end.lostSending, "while sending") +
                      ", its answer may have been among them";
    if (end.lostConfirming != 0 && state == State::NotConfirmed &&
        row.detail.rfind("no answer to the confirmation scan", 0) == 0)
        row.detail += "; " + lostNote(end.lostConfirming, "in that scan") +
                      ", its answer may have been among them";
    return row;
}

int runApply(const QStringList &arguments, bool interactive, bool progress, KovaLibrary &library,
             bool &sentRequests) {
    QCommandLineParser parser;
    std::string error = parse(parser, arguments, kApplyOptions);
    if (!error.empty())
        return fail(kExitUsage, error);
    if (isSet(parser, "help")) {
        std::cout << batchUsage(QStringLiteral("apply"));
        return kExitOk;
    }
    if (parser.positionalArguments().size() != 1)
        return fail(kExitUsage, "apply: give one plan file (try apply --help)");
    const std::string bind = addressOption(parser, "bind", error).value_or("");
    const int seconds =
        numberOption(parser, "seconds", 1, kMaxSeconds, error).value_or(kDefaultSeconds);
    const int parallel =
        numberOption(parser, "parallel", 1, kMaxParallel, error).value_or(kDefaultParallel);
    const bool dryRun = isSet(parser, "dry-run");
    Credentials common{"root", {}, std::nullopt};
    if (isSet(parser, "user")) {
        const std::optional<std::string> user = toLatin1(parser.value(QStringLiteral("user")));
        if (!user || user->empty() || user->size() > kMaxUserId)
            error = "--user: the ID must have 1 to " + std::to_string(kMaxUserId) +
                    " Latin-1 characters";
        else
            common.user = *user;
    }
    if (isSet(parser, "secrets") && isSet(parser, "password-file"))
        error = "--secrets: not together with --password-file";
    if (!error.empty())
        return fail(kExitUsage, error);

    const QString planPath = parser.positionalArguments().first();
    const std::string planName = toLocale(planPath);
    // A report that cannot be written, or would replace a file this run
    // reads, is found before anything is read or sent.
    const std::optional<std::string> reportPath =
        isSet(parser, "report") ? std::optional(text(parser, "report")) : std::nullopt;
    if (reportPath) {
        std::vector<std::string> keep = {QFile::encodeName(planPath).toStdString()};
        for (const char *option : {"secrets", "password-file"})
            if (isSet(parser, option))
                keep.push_back(
                    QFile::encodeName(parser.value(QString::fromLatin1(option))).toStdString());
        error = ApplyReport::check(*reportPath, keep);
        if (!error.empty())
            return fail(kExitOutput, error);
    }
    ApplyReport report;
    std::string reportError;
    // A run refused before anything was sent says so in its report.
    const auto refuse = [&](int code, const std::deque<PlanRow> &rows,
                            const std::vector<std::string> &problems, const std::string &why) {
        if (reportPath &&
            !report.finish(*reportPath, refusedRows(rows, problems, why), reportError))
            fail(kExitOutput, reportError);
        return code;
    };

    // Every row is checked before anything is sent.
    const std::optional<QByteArray> planText = readPlanFile(planPath, error);
    if (!planText) {
        fail(kExitUsage, planName + ": " + error);
        return refuse(kExitUsage, {}, {}, "the plan cannot be read: " + error);
    }
    const PlanInput plan = parsePlan(*planText);
    if (!plan.problems.empty()) {
        for (const std::string &problem : plan.problems)
            fail(kExitUsage, planName + ": " + problem);
        return refuse(kExitUsage, plan.rows, plan.problems,
                      "the plan was refused (the rows named have problems)");
    }

    std::map<std::uint64_t, Credentials> secrets;
    // A secrets file is read for a dry run too (it may add account changes);
    // the one password is not needed then.
    if (!dryRun || isSet(parser, "secrets")) {
        if (isSet(parser, "secrets")) {
            error = readSecretsFile(text(parser, "secrets"), secrets);
            for (const PlanRow &row : plan.rows)
                if (error.empty() && row.changes.any() && !secrets.count(macKey(row.mac.data())))
                    error = "--secrets: no entry for " + formatMac(row.mac.data()) + " (row " +
                            std::to_string(row.row) + ")";
        } else {
            SecretSource admin{"--password-file",
                               isSet(parser, "password-file")
                                   ? std::optional<std::string>(text(parser, "password-file"))
                                   : std::nullopt,
                               "VELTRONA_PASSWORD",
                               "Password for " +
                                   toLocale(QString::fromLatin1(common.user.c_str())) + ": ",
                               "password",
                               kMaxPassword};
            SecretOutcome outcome = readSecret(admin, interactive, promptWithoutEcho);
            if (outcome.value)
                common.password = *outcome.value, wipe(*outcome.value);
            else
                error = outcome.error;
        }
        if (!error.empty()) {
            wipeAll(secrets, common);
            fail(kExitUsage, error);
            return refuse(kExitUsage, plan.rows, {}, error);
        }
    }

    // From here a stop signal ends the run with every row written down.
    catchStopSignals();
    // The scan listens for its whole time: every holder of an address is heard.
    // The addresses the plan gives are probed in its last second, so that the
    // neighbour table has answered for them by its end.
    change::NeighbourProbes probes;
    const ScanResult found = scan(library, bind, seconds, {}, progress, [&] {
        std::vector<std::uint32_t> addresses;
        for (const PlanRow &row : plan.rows)
            if (const auto &ip = row.changes.network.ipAddress)
                if (const auto address = change::parseAddress(*ip))
                    addresses.push_back(*address);
        probes.send(addresses);
    });
    if (found.error != KOVA_OK) {
        wipeAll(secrets, common);
        const std::string why = "cannot scan: " + std::string(kova_ErrorText(found.error));
        fail(kExitRefused, why);
        return refuse(kExitRefused, plan.rows, {}, why);
    }
    if (found.stopped) {
        // A partial scan is no ground for any change: nothing goes.
        wipeAll(secrets, common);
        const int signal = caughtStopSignal();
        const std::vector<AppliedRow> rows = refusedRows(plan.rows, {}, "stopped during the scan");
        std::vector<TableLine> lines;
        for (const AppliedRow &row : rows)
            lines.push_back({row.mac, {}, {}, "not sent", row.detail});
        std::cout << formatAppliedTable(lines);
        std::cerr << "0 of " << plan.rows.size()
                  << " rows applied and confirmed, stopped by a signal during the scan; nothing "
                     "was sent\n";
        refuse(0, plan.rows, {}, "stopped during the scan");
        return 128 + signal;
    }
    if (const std::string lost = lostRepliesWarning(found); !lost.empty()) {
        wipeAll(secrets, common);
        fail(kExitNoDevice, lost + "; nothing was sent");
        return refuse(kExitNoDevice, plan.rows, {}, lost);
    }
    if (found.loopError)
        std::cerr << "veltrona-cli: receiving stopped early: " << kova_ErrorText(*found.loopError)
                  << '\n';
    std::vector<change::Problem> problems;
    // Asked before each request goes out; run() sets it.
    std::function<bool(std::size_t)> beforeSend = [](std::size_t) { return false; };
    change::ChangeEngine engine(
        library, change::changesFor(desiredOf(plan.rows, secrets, common), found, problems),
        {parallel, std::chrono::seconds(seconds), [&](std::size_t i) { return beforeSend(i); }});
    if (problems.empty())
        problems = engine.start(change::holdersFor(engine.changes(), found, &probes),
                                {!bind.empty(), change::localNetworks()});
    if (!problems.empty()) {
        wipeAll(secrets, common);
        printProblems(problems, Terms::Columns, planName + ": ");
        std::vector<std::string> texts;
        for (const change::Problem &problem : problems)
            texts.push_back(problemText(problem, Terms::Columns));
        return refuse(kExitUsage, plan.rows, texts,
                      "the plan was refused (the rows named have problems)");
    }
    const auto &outcomes = engine.outcomes();
    const auto &planned = engine.changes();

    if (dryRun) {
        wipeAll(secrets, common);
        bool allFound = true;
        std::vector<AppliedRow> rows;
        for (std::size_t i = 0; i < planned.size(); ++i) {
            AppliedRow row = finalRow(planned[i], outcomes[i], {});
            if (outcomes[i].state == State::Pending) {
                printDryRun(planned[i]);
                row.result = "would-change";
            } else {
                std::cout << formatMac(planned[i].mac.data()) << "  "
                          << change::stateWords(outcomes[i].state).text << '\n';
            }
            allFound = allFound && outcomes[i].state != State::NotFound;
            rows.push_back(std::move(row));
        }
        if (reportPath && !report.finish(*reportPath, rows, reportError))
            return fail(kExitOutput, reportError);
        return allFound ? kExitOk : kExitSomeFailed;
    }

    if (reportPath && !report.open(*reportPath, reportError)) {
        wipeAll(secrets, common);
        return fail(kExitOutput, reportError);
    }
    const RunEnd end =
        run(engine, library, {bind, seconds, progress}, reportPath ? &report : nullptr, beforeSend,
            [&] { wipeAll(secrets, common); });
    sentRequests = end.sentRequests;
    reportError = end.reportError;

    std::vector<TableLine> lines;
    std::vector<AppliedRow> rows;
    std::size_t good = 0;
    for (std::size_t i = 0; i < planned.size(); ++i) {
        AppliedRow row = finalRow(planned[i], outcomes[i], end);
        TableLine line = tableLine(planned[i], outcomes[i]);
        line.detail = row.detail;
        lines.push_back(std::move(line));
        rows.push_back(std::move(row));
        good += outcomes[i].state == State::Confirmed || outcomes[i].state == State::Unchanged;
    }
    std::cout << formatAppliedTable(lines);
    std::cout.flush();
    char summary[160];
    std::snprintf(summary, sizeof summary, "%zu of %zu rows applied and confirmed in %.1f s%s\n",
                  good, planned.size(), end.elapsed,
                  end.stopSignal != 0 ? ", stopped by a signal" : "");
    if (progress ||
        end.stopSignal != 0) // standard error holds nothing but errors unless a terminal
        std::cerr << summary;
    if (reportPath && !report.finish(*reportPath, rows, reportError) && end.stopSignal == 0)
        return fail(kExitOutput, reportError);
    if (end.stopSignal != 0)
        return 128 + end.stopSignal;
    if (!reportError.empty())
        return fail(kExitOutput, reportError);
    if (end.opened != KOVA_OK)
        return kExitRefused;
    return good == planned.size() ? kExitOk : kExitSomeFailed;
}

} // namespace

int runOneDevice(const OneDevice &one, bool progress, KovaLibrary &library,
                 const std::function<void()> &forget) {
    const change::Desired &desired = one.desired;
    const std::string mac = formatMac(desired.mac.data());
    if (one.reportPath) {
        const std::string error = ApplyReport::check(*one.reportPath, {});
        if (!error.empty()) {
            forget();
            return fail(kExitOutput, error);
        }
    }
    catchStopSignals();
    // A new address is checked against every device heard: the scan then
    // listens for its whole time instead of ending at the device's answer.
    change::NeighbourProbes probes;
    const ScanResult found =
        scan(library, one.bind, one.seconds,
             one.readdressing ? std::vector<MacAddress>{} : std::vector<MacAddress>{desired.mac},
             progress, [&] {
                 if (const auto &ip = desired.network.ipAddress)
                     if (const auto address = change::parseAddress(*ip))
                         probes.send({*address});
             });
    if (found.error != KOVA_OK) {
        forget();
        return fail(kExitRefused, "cannot scan" + (one.bind.empty() ? "" : " on " + one.bind) +
                                      ": " +
                                      (found.notSent ? "the discovery could not be sent: " : "") +
                                      kova_ErrorText(found.error));
    }
    if (found.loopError)
        std::cerr << "veltrona-cli: receiving stopped early: " << kova_ErrorText(*found.loopError)
                  << '\n';
    std::vector<change::Problem> problems;
    // Asked before the request goes out; run() sets it.
    std::function<bool(std::size_t)> beforeSend = [](std::size_t) { return false; };
    change::ChangeEngine engine(
        library, change::changesFor({desired}, found, problems),
        {1, std::chrono::seconds(one.seconds), [&](std::size_t i) { return beforeSend(i); }});
    const change::Outcome &outcome = engine.outcomes().front();
    if (outcome.state == State::NotFound) {
        forget();
        if (const std::string lost = lostRepliesWarning(found); !lost.empty())
            std::cerr << "veltrona-cli: " << lost << '\n';
        return fail(kExitNoDevice, "no device with MAC address " + mac + " answered within " +
                                       std::to_string(one.seconds) + " s");
    }
    if (problems.empty())
        problems =
            engine.start(one.readdressing ? change::holdersFor(engine.changes(), found, &probes)
                                          : change::heardDevices(found),
                         {!one.bind.empty(), change::localNetworks()});
    if (!problems.empty()) {
        forget();
        printProblems(problems, Terms::Options, "");
        return kExitUsage;
    }
    ApplyReport report;
    std::string error;
    if (one.reportPath && !report.open(*one.reportPath, error)) {
        forget();
        return fail(kExitOutput, error);
    }
    const RunEnd end = run(engine, library, {one.bind, one.seconds, progress},
                           one.reportPath ? &report : nullptr, beforeSend, forget);
    std::string reportError = end.reportError;
    if (one.reportPath && reportError.empty())
        report.finish(*one.reportPath, {finalRow(engine.changes().front(), outcome, end)},
                      reportError);

    // The device's answer as the setting page words it, then what the
    // confirmation found.
    if (outcome.answer) {
        if (const char *text = updateResultText(*outcome.answer))
            std::cout << text << '\n';
    } else if (outcome.state == State::Unchanged) {
        std::cout << mac << ": " << change::stateWords(State::Unchanged).text
                  << ", the device shows these values already\n";
    }
    int code = kExitOk;
    switch (outcome.state) {
    case State::Confirmed:
    case State::Unchanged:
        break;
    case State::AuthFailed:
        code = kExitAuthFailed;
        break;
    case State::NoAnswer:
        code = fail(kExitNoDevice,
                    "no answer from " + mac + " within " + std::to_string(one.seconds) + " s");
        break;
    case State::Refused:
        code = outcome.answer
                   ? fail(kExitNotConfirmed, mac + " refused the change: " + outcome.detail)
                   : fail(kExitRefused, "request to " + mac + " refused: " + outcome.detail);
        break;
    default:
        code = fail(kExitNotConfirmed, mac + ": " + change::stateWords(outcome.state).text +
                                           (outcome.detail.empty() ? "" : ": " + outcome.detail));
        break;
    }
    if (end.stopSignal != 0)
        return 128 + end.stopSignal;
    if (!reportError.empty())
        return fail(kExitOutput, reportError);
    return code;
}

bool isBatchCommand(const QString &command) {
    return command == QLatin1String("plan") || command == QLatin1String("apply");
}

int runBatch(const QStringList &arguments, bool interactive, bool progress, KovaLibrary &library,
             bool *sentRequests) {
    bool sent = false;
    const int code = arguments.first() == QLatin1String("plan")
                         ? runPlan(arguments, progress, library)
                         : runApply(arguments, interactive, progress, library, sent);
    if (sentRequests)
        *sentRequests = sent;
    return code;
}

std::string batchUsage(const QString &command) {
    const std::string common =
        "  --bind ADDR            local IPv4 address to use (default: any)\n"
        "  --seconds N            how long each scan listens and each request waits for its\n"
        "                         answer, 1 to 3600 (default: 5)\n";
    if (command == QLatin1String("plan"))
        return "usage: veltrona-cli plan [options] > PLAN.csv\n"
               "Scans and writes a plan: one row per device with its current settings and the\n"
               "new values to give it (blank: keep).\n" +
               common +
               "  --format FORMAT        csv (default) or json\n"
               "  --static-range FIRST-LAST   consecutive static addresses, one per device\n"
               "  --netmask A, --gateway A    with --static-range (both needed)\n"
               "  --dns A                with --static-range: the DNS server\n"
               "  --order COLUMN         mac (default), ip, model or serial: the order of the "
               "rows\n"
               "  --hostname-pattern PATTERN  new host names: {n} counter, {n:03} counter with\n"
               "                         3 digits, {mac} last MAC bytes, {serial} serial number\n"
               "  --only-model MODEL     only devices of this model\n"
               "  --only-mode MODE       only devices now in this mode: static, dhcp or pppoe\n"
               "  --only-macs FILE       only the devices listed in FILE, one MAC a line\n";
    return "usage: veltrona-cli apply PLAN [options]\n"
           "Checks every row of a plan, then sends each device its changes (host name and\n"
           "account before network settings) and confirms them with a new scan. A request\n"
           "whose values the device shows already is not sent (a new password always is).\n" +
           common +
           "  --user ID              administrator ID for every device (default: root)\n"
           "  --password-file FILE   administrator password for every device (else\n"
           "                         $VELTRONA_PASSWORD, else a prompt)\n"
           "  --secrets FILE         CSV with mac,user,password[,new_password] per device\n"
           "  --dry-run              print each change as it is and as it will be; send nothing\n"
           "                         (with --report: each row as would-change, unchanged or\n"
           "                         not-found, with its values now and after)\n"
           "  --parallel N           requests awaiting their answers at once, 1 to 256 "
           "(default: 16)\n"
           "  --report FILE          write the results to FILE (JSON when it ends in .json,\n"
           "                         else CSV), a journal of each row's state while running\n"
           "INT, TERM or HUP stop sending; answers in flight are awaited 3 s at most, a\n"
           "second signal ends the run at once.\n"
           "Exit codes: 0 every row applied and confirmed, 5 some rows failed, 64 the plan or\n"
           "the command line is wrong (nothing was sent), 128+N stopped by signal N.\n";
}

} // namespace veltrona::cli
