#include "batch.h"

#include "applyreport.h"
#include "changeengine.h"
#include "devicerow.h"
#include "kovalibrary.h"
#include "neighbours.h"
#include "plan.h"
#include "printable.h"
#include "problems.h"
#include "runner.h"
#include "secrets.h"
#include "secretsfile.h"
#include "session.h"
#include "stopsignals.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <set>

namespace veltrona::cli {

namespace {

int fail(int code, const std::string &message) {
    std::cerr << "veltrona-cli: " << printable(message) << '\n';
    return code;
}

constexpr int kDefaultParallel = 16;

std::optional<std::string> optionalText(const Arguments &arguments, const char *name) {
    return arguments.isSet(name) ? std::optional(arguments.text(name)) : std::nullopt;
}

// ---- a plan's rows as changes ----

using change::AppliedRow;
using change::ApplyReport;
using change::DeviceChange;
using change::PlanFill;
using change::PlanInput;
using change::PlanOrder;
using change::PlanRow;
using change::ShownValues;
using change::State;
using change::Step;

// A plan's text read and checked, its rows' problems in the client's words.
PlanInput readPlan(std::string_view text) {
    return change::parsePlan(
        text, [](const change::Problem &problem) { return problemText(problem, Terms::Columns); });
}

void printProblems(const std::vector<change::Problem> &problems, Terms terms,
                   const std::string &where) {
    for (const change::Problem &problem : problems)
        fail(kExitUsage, where + problemText(problem, terms));
    std::cerr << "veltrona-cli: nothing was sent\n";
}

// ---- plan ----

int runPlan(const Arguments &arguments, bool progress, KovaLibrary &library) {
    std::string error;
    const std::string bind = arguments.text("bind");
    const int seconds = static_cast<int>(arguments.number("seconds", kDefaultSeconds));
    const bool json = arguments.choice("format") == 1;
    PlanFill fill;
    if (arguments.isSet("static-range")) {
        if (auto range = change::parseRange(arguments.text("static-range"))) {
            fill.rangeFirst = range->first;
            fill.rangeLast = range->second;
        } else {
            error = "--static-range: '" + arguments.text("static-range") +
                    "' is not FIRST-LAST, two IPv4 addresses in rising order";
        }
    }
    fill.netMask = optionalText(arguments, "netmask");
    fill.gateway = optionalText(arguments, "gateway");
    fill.dnsServer = optionalText(arguments, "dns");
    if (!fill.rangeFirst && (fill.netMask || fill.gateway || fill.dnsServer) && error.empty())
        error = "--netmask, --gateway and --dns go with --static-range";
    if (arguments.isSet("hostname-pattern"))
        fill.hostPattern = arguments.value("hostname-pattern").toStdString();
    constexpr PlanOrder kOrders[] = {PlanOrder::Mac, PlanOrder::Ip, PlanOrder::Model,
                                     PlanOrder::Serial};
    const PlanOrder order = kOrders[std::max(arguments.choice("order"), 0)];
    // The words of the table are those of kModeTexts, in their order.
    std::optional<std::int32_t> onlyMode;
    if (const int mode = arguments.choice("only-mode"); mode >= 0)
        onlyMode = mode;
    std::optional<std::set<std::uint64_t>> onlyMacs;
    if (arguments.isSet("only-macs")) {
        QFile file(arguments.value("only-macs"));
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
        if (!change::expandHostPattern(*fill.hostPattern, 1, sample, error))
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
    const std::optional<std::string> onlyModel = optionalText(arguments, "only-model");
    for (const FoundDevice &device : result.devices) {
        if (onlyModel && change::currentValue(device, "model") != *onlyModel)
            continue;
        if (onlyMode && device.network.mode != *onlyMode)
            continue;
        if (onlyMacs && !onlyMacs->count(macKey(device.info.mac)))
            continue;
        devices.push_back(device);
    }
    change::sortDevices(devices, order);
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
    error = change::checkFill(fill, addressed);
    if (!error.empty())
        return fail(kExitUsage, error);
    const std::string plan = change::formatPlan(devices, fill, json, error);
    if (!error.empty())
        return fail(kExitUsage, error);
    // The plan is checked as apply will check it: no address that a device
    // outside it keeps, none that no device can use.
    const PlanInput written = readPlan(plan);
    for (const std::string &problem : written.problems)
        std::cerr << "veltrona-cli: plan: " << problem << '\n';
    if (!written.problems.empty())
        return kExitUsage;
    const Credentials none;
    std::vector<change::Problem> problems;
    change::ChangeEngine engine(
        library, change::changesFor(change::desiredOf(written.rows, {}, none), result, problems),
        {});
    if (problems.empty())
        problems = engine.check(change::holdersFor(engine.changes(), result), surroundings);
    if (!problems.empty()) {
        for (const change::Problem &problem : problems)
            std::cerr << "veltrona-cli: plan: " << problemText(problem, Terms::Columns) << '\n';
        return kExitUsage;
    }
    std::cout << plan;
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

const std::set<std::string> kPppoeFields = {"pppoe_user", "pppoe_service", "mtu", "dns_mode",
                                            "pppoe_dns"};

// Each field a request of the row sends, as it is and as it will be; the
// PPPoE ones when the device is or goes into PPPoE mode.
void printDryRun(const DeviceChange &change) {
    const FoundDevice &d = *change.device;
    std::cout << formatMac(change.mac.data()) << "  " << printable(change::currentValue(d, "model"))
              << '\n';
    const ShownValues is = change::shownValues(d),
                      tobe = change::shownValues(change::deviceAfter(change));
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

// The dry run's last line: how many devices would be changed with how many requests.
std::string dryRunSummary(const std::vector<DeviceChange> &planned,
                          const std::vector<change::Outcome> &outcomes) {
    const auto [devices, requests] = change::dryRunCount(planned, outcomes);
    return std::to_string(devices) + (devices == 1 ? " device" : " devices") + " to change, " +
           std::to_string(requests) + (requests == 1 ? " request" : " requests") +
           " would go; nothing was sent\n";
}

// One line of the table printed at the end.
struct TableLine {
    std::string mac, hostName, address, result, detail;
};

// The table with its title line; device texts are shown with control
// characters as '?'.
std::string formatAppliedTable(const std::vector<TableLine> &lines) {
    std::vector<std::array<std::string, 5>> cells = {
        {"MAC", "Host name", "Address", "Result", "Detail"}};
    for (const TableLine &line : lines)
        cells.push_back({line.mac, printable(line.hostName), line.address, line.result,
                         printable(line.detail)});
    std::array<std::size_t, 5> width{};
    for (const auto &line : cells)
        for (std::size_t i = 0; i < 5; ++i)
            width[i] = std::max(width[i], displayWidth(line[i]));
    std::string out;
    for (const auto &line : cells) {
        std::string text;
        for (std::size_t i = 0; i < 5; ++i)
            text += line[i] + (i < 4 ? std::string(width[i] - displayWidth(line[i]) + 2, ' ') : "");
        out += text.substr(0, text.find_last_not_of(' ') + 1) + '\n';
    }
    return out;
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
    line.hostName = confirmed && renamed ? latin1ToUtf8(change.hostName)
                                         : change::currentValue(*change.device, "host");
    line.address = !outcome.addressAfter.empty() ? outcome.addressAfter : outcome.addressBefore;
    return line;
}

// The client's side of a run: its scan with the countdown, its stop signals
// (caught from here: a stop ends the run with every row written down), its
// progress line; `forget` wipes the passwords once nothing more is sent.
change::Driver driverFor(KovaLibrary &library, const std::string &bind, int seconds, bool progress,
                         const std::function<void()> &forget) {
    catchStopSignals();
    change::Driver driver{
        [&library, bind, seconds, progress](const auto &awaited, const auto &lastSecond) {
            return scan(library, bind, seconds, awaited, progress, lastSecond);
        },
        caughtStopSignal, caughtSecondStopSignal, nullptr,
        [progress, forget] {
            if (progress)
                std::fputs("\r\033[K", stderr);
            forget();
        }};
    if (progress)
        driver.progress = [](std::size_t done, std::size_t total) {
            std::fprintf(stderr, "\r\033[KApplying: %zu of %zu devices done", done, total);
        };
    return driver;
}

// What went wrong while sending and confirming, on standard error.
void printRunEnd(const change::RunEnd &end) {
    if (end.loopError)
        std::cerr << "veltrona-cli: receiving stopped early: " << kova_ErrorText(*end.loopError)
                  << '\n';
    if (end.opened != KOVA_OK)
        std::cerr << "veltrona-cli: cannot send: " << kova_ErrorText(end.opened) << '\n';
    if (end.lost.sending != 0)
        std::cerr << "veltrona-cli: " << change::lostNote(end.lost.sending, "while sending")
                  << " (receive buffer full): a row without an answer may have applied its "
                     "change\n";
    if (end.lost.confirming != 0)
        std::cerr << "veltrona-cli: "
                  << change::lostNote(end.lost.confirming, "in the confirmation scan")
                  << ": a row not confirmed may have applied its change\n";
}

int runApply(const Arguments &arguments, bool interactive, bool progress, KovaLibrary &library,
             bool &sentRequests) {
    std::string error;
    const std::string bind = arguments.text("bind");
    const int seconds = static_cast<int>(arguments.number("seconds", kDefaultSeconds));
    const int parallel = static_cast<int>(arguments.number("parallel", kDefaultParallel));
    const bool dryRun = arguments.isSet("dry-run");
    Credentials common{"root", {}, std::nullopt};
    if (arguments.isSet("user")) {
        const std::optional<std::string> user = toLatin1(arguments.value("user"));
        if (!user || user->empty() || user->size() > kMaxUserId)
            error = "--user: the ID must have 1 to " + std::to_string(kMaxUserId) +
                    " Latin-1 characters";
        else
            common.user = *user;
    }
    if (arguments.isSet("secrets") && arguments.isSet("password-file"))
        error = "--secrets: not together with --password-file";
    if (!error.empty())
        return fail(kExitUsage, error);

    const std::string planName = toLocale(arguments.positionals.front());
    // A report that cannot be written, or would replace a file this run
    // reads, is found before anything is read or sent.
    const std::optional<std::string> reportPath = optionalText(arguments, "report");
    if (reportPath) {
        std::vector<std::string> keep = {planName};
        for (const char *option : {"secrets", "password-file"})
            if (arguments.isSet(option))
                keep.push_back(arguments.text(option));
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
            !report.finish(*reportPath, change::refusedRows(rows, problems, why), reportError))
            fail(kExitOutput, reportError);
        return code;
    };

    // Every row is checked before anything is sent.
    const std::optional<std::string> planText = change::readPlanFile(planName, error);
    if (!planText) {
        fail(kExitUsage, planName + ": " + error);
        return refuse(kExitUsage, {}, {}, "the plan cannot be read: " + error);
    }
    const PlanInput plan = readPlan(*planText);
    if (!plan.problems.empty()) {
        for (const std::string &problem : plan.problems)
            fail(kExitUsage, planName + ": " + problem);
        return refuse(kExitUsage, plan.rows, plan.problems,
                      "the plan was refused (the rows named have problems)");
    }

    std::map<std::uint64_t, Credentials> secrets;
    // A secrets file is read for a dry run too (it may add account changes);
    // the one password is not needed then.
    if (!dryRun || arguments.isSet("secrets")) {
        if (arguments.isSet("secrets")) {
            error = readSecretsFile(arguments.text("secrets"), secrets);
            for (const PlanRow &row : plan.rows)
                if (error.empty() && row.changes.any() && !secrets.count(macKey(row.mac.data())))
                    error = "--secrets: no entry for " + formatMac(row.mac.data()) + " (row " +
                            std::to_string(row.row) + ")";
        } else {
            SecretSource admin{
                "--password-file",
                optionalText(arguments, "password-file"),
                "VELTRONA_PASSWORD",
                "Password for " + toLocale(QString::fromLatin1(common.user.c_str())) + ": ",
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

    change::Run run(library,
                    driverFor(library, bind, seconds, progress, [&] { wipeAll(secrets, common); }),
                    change::desiredOf(plan.rows, secrets, common), bind, seconds, parallel, {});
    const ScanResult &found = run.found();
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
        const std::vector<AppliedRow> rows =
            change::refusedRows(plan.rows, {}, "stopped during the scan");
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
    change::ChangeEngine &engine = run.engine();
    if (const auto &problems = run.start(true); !problems.empty()) {
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
            AppliedRow row = change::finalRow(planned[i], outcomes[i], {});
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
        std::cout << dryRunSummary(planned, outcomes);
        if (reportPath && !report.finish(*reportPath, rows, reportError))
            return fail(kExitOutput, reportError);
        return allFound ? kExitOk : kExitSomeFailed;
    }

    if (reportPath && !report.open(*reportPath, reportError)) {
        wipeAll(secrets, common);
        return fail(kExitOutput, reportError);
    }
    const change::RunEnd end = run.drive(reportPath ? &report : nullptr);
    printRunEnd(end);
    sentRequests = end.sentRequests;
    reportError = end.reportError;

    std::vector<TableLine> lines;
    std::vector<AppliedRow> rows;
    std::size_t good = 0;
    for (std::size_t i = 0; i < planned.size(); ++i) {
        AppliedRow row = change::finalRow(planned[i], outcomes[i], end.lost);
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
    // A new address is checked against every device heard: the scan then
    // listens for its whole time instead of ending at the device's answer.
    change::Run run(library, driverFor(library, one.bind, one.seconds, progress, forget), {desired},
                    one.bind, one.seconds, 1,
                    one.readdressing ? std::vector<MacAddress>{} : std::vector{desired.mac});
    const ScanResult &found = run.found();
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
    change::ChangeEngine &engine = run.engine();
    const change::Outcome &outcome = engine.outcomes().front();
    if (outcome.state == State::NotFound) {
        forget();
        if (const std::string lost = lostRepliesWarning(found); !lost.empty())
            std::cerr << "veltrona-cli: " << lost << '\n';
        return fail(kExitNoDevice, "no device with MAC address " + mac + " answered within " +
                                       std::to_string(one.seconds) + " s");
    }
    if (const auto &problems = run.start(one.readdressing); !problems.empty()) {
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
    const change::RunEnd end = run.drive(one.reportPath ? &report : nullptr);
    printRunEnd(end);
    std::string reportError = end.reportError;
    if (one.reportPath && reportError.empty())
        report.finish(*one.reportPath,
                      {change::finalRow(engine.changes().front(), outcome, end.lost)}, reportError);

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

int runBatch(const CommandLine &line, bool interactive, bool progress, KovaLibrary &library,
             bool *sentRequests) {
    bool sent = false;
    const int code = line.command == Command::Plan
                         ? runPlan(line.arguments, progress, library)
                         : runApply(line.arguments, interactive, progress, library, sent);
    if (sentRequests)
        *sentRequests = sent;
    return code;
}

} // namespace veltrona::cli
