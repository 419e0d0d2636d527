#include "batch.h"

#include "changes.h"
#include "csv.h"
#include "devicerow.h"
#include "kovalibrary.h"
#include "plan.h"
#include "printable.h"
#include "scansequence.h"
#include "secrets.h"
#include "secretsfile.h"
#include "session.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <mutex>
#include <set>

namespace veltrona::cli {

namespace {

using Clock = std::chrono::steady_clock;

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

// ---- plan ----

int runPlan(const QStringList &arguments, bool progress) {
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

    const ScanResult result = scan(bind, seconds, std::nullopt, progress);
    if (result.error != KOVA_OK)
        return fail(kExitRefused, "cannot scan: " + std::string(kova_ErrorText(result.error)));
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
    error = checkFill(fill, devices.size());
    if (!error.empty())
        return fail(kExitUsage, error);
    const QByteArray plan = formatPlan(devices, fill, json, error);
    if (!error.empty())
        return fail(kExitUsage, error);
    std::cout << plan.toStdString();
    if (progress)
        std::cerr << devices.size() << (devices.size() == 1 ? " device" : " devices")
                  << " in the plan\n";
    return kExitOk;
}

// ---- apply ----

enum class Step { HostName, Account, Network };

enum class Outcome {
    Pending,
    Confirmed,
    NotConfirmed,
    AuthFailed,
    Refused,
    NoAnswer,
    NotFound,
    Unchanged
};

struct OutcomeWords {
    const char *text; // for people: the terminal table
    const char *key;  // for programs: the report file
};

OutcomeWords outcomeWords(Outcome outcome) {
    switch (outcome) {
    case Outcome::Confirmed:
        return {"applied and confirmed", "confirmed"};
    case Outcome::NotConfirmed:
        return {"applied, not confirmed", "not-confirmed"};
    case Outcome::AuthFailed:
        return {"authentication failed", "auth-failed"};
    case Outcome::Refused:
        return {"refused", "refused"};
    case Outcome::NoAnswer:
        return {"no answer", "no-answer"};
    case Outcome::NotFound:
        return {"not found", "not-found"};
    case Outcome::Unchanged:
        return {"nothing to change", "unchanged"};
    case Outcome::Pending:
        break;
    }
    return {"pending", "pending"};
}

const char *stepName(Step step) {
    return step == Step::HostName ? "host name" : step == Step::Account ? "account" : "network";
}

// One device of the plan, from validation to its confirmation.
struct Job {
    const PlanRow *row = nullptr;
    const FoundDevice *device = nullptr;
    KOVA_NETWORK_SETTINGS settings{};
    std::string hostName, domainName;
    std::int32_t guest = 0;
    std::vector<Step> steps;
    std::size_t next = 0;
    bool newPasswordSet = false; // later requests need the new password
    Credentials *credentials = nullptr;
    Outcome outcome = Outcome::Pending;
    std::string detail;
    Clock::time_point deadline;
};

// Works out what to send to one device; a problem text when the row cannot be
// sent as it stands.
std::string prepare(Job &job) {
    const PlanChanges &c = job.row->changes;
    const FoundDevice &d = *job.device;
    if (c.hostName || c.domainName) {
        std::string problem =
            resolveHostNames(c.hostName, c.domainName, d.info, job.hostName, job.domainName);
        if (!problem.empty())
            return problem;
        job.steps.push_back(Step::HostName);
    }
    job.guest = c.guest ? (*c.guest ? 1 : 0) : (d.guestAccount != 0 ? 1 : 0);
    if (c.guest || (job.credentials && job.credentials->newPassword))
        job.steps.push_back(Step::Account);
    job.settings = d.network;
    if (c.network.any()) {
        std::string problem = applyNetworkChanges(c.network, std::nullopt, job.settings);
        if (!problem.empty())
            return problem;
        job.steps.push_back(Step::Network);
    }
    return {};
}

// Whether a device's fresh answer shows every value the job sent.
std::string mismatch(const Job &job, const FoundDevice &now) {
    for (Step step : job.steps) {
        if (step == Step::HostName) {
            if (fieldText(now.info.hostName) != job.hostName)
                return "host name is '" + fieldText(now.info.hostName) + "'";
            if (fieldText(now.info.domainName) != job.domainName)
                return "domain name is '" + fieldText(now.info.domainName) + "'";
        } else if (step == Step::Account) {
            if ((now.guestAccount != 0) != (job.guest != 0))
                return "guest access is " + std::string(now.guestAccount ? "on" : "off");
        } else {
            const KOVA_NETWORK_SETTINGS &a = now.network, &b = job.settings;
            if (a.mode != b.mode)
                return "mode is " + currentValue(now, "mode");
            if (b.mode == KOVA_MODE_STATIC) {
                for (const char *column : {"ip", "netmask", "gateway", "dns"}) {
                    const std::string want =
                        column == std::string("ip")        ? fieldText(b.ipAddress)
                        : column == std::string("netmask") ? fieldText(b.netMask)
                        : column == std::string("gateway") ? fieldText(b.gateway)
                                                           : fieldText(b.dnsServer);
                    if (currentValue(now, column) != want)
                        return std::string(column) + " is " + currentValue(now, column);
                }
            } else if (b.mode == KOVA_MODE_PPPOE &&
                       (fieldText(a.pppoeUserName) != fieldText(b.pppoeUserName) ||
                        fieldText(a.pppoeServiceName) != fieldText(b.pppoeServiceName) ||
                        a.mtu != b.mtu || a.dnsMode != b.dnsMode ||
                        fieldText(a.pppoeDnsServer) != fieldText(b.pppoeDnsServer))) {
                return "PPPoE settings differ";
            }
        }
    }
    return {};
}

// The requests' connection: answers are queued by MAC for the sending thread.
struct Answers {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::pair<std::uint64_t, std::int32_t>> queue;
    bool open = false;
    int inCallback = 0;
    std::optional<std::int32_t> loopError;
};

Answers &answers() {
    static Answers *state = new Answers; // outlives a late callback at exit
    return *state;
}

void onAnswer(HKOVAITEM item, std::int32_t event, std::int32_t) {
    if (event == KOVA_EVENT_DEVICE_INFO)
        return;
    Answers &a = answers();
    {
        std::lock_guard lock(a.mutex);
        if (!a.open)
            return;
        ++a.inCallback;
    }
    KOVA_DEVICE_INFO info{};
    const bool decoded = KovaLibrary::real().getDeviceInfo(item, &info) == KOVA_OK;
    std::lock_guard lock(a.mutex);
    if (decoded)
        a.queue.emplace_back(macKey(info.mac), event);
    --a.inCallback;
    a.arrived.notify_all();
}

void onLoopError(std::int32_t code, const char *) {
    Answers &a = answers();
    std::lock_guard lock(a.mutex);
    a.loopError = code;
    a.arrived.notify_all();
}

std::int32_t sendStep(Job &job) {
    const Credentials &cr = *job.credentials;
    const HKOVAITEM item = job.device->item;
    const char *user = cr.user.c_str();
    const char *password = job.newPasswordSet ? cr.newPassword->c_str() : cr.password.c_str();
    switch (job.steps[job.next]) {
    case Step::HostName:
        return KovaLibrary::real().setHostName(item, user, password, job.hostName.c_str(),
                                               job.domainName.c_str());
    case Step::Account: {
        const std::string &newPassword = cr.newPassword ? *cr.newPassword : cr.password;
        return KovaLibrary::real().setAccount(item, user, password, newPassword.c_str(),
                                              &job.guest);
    }
    case Step::Network:
        break;
    }
    return KovaLibrary::real().setNetworkSettings(item, user, password, &job.settings);
}

// Sends every job's steps with up to `parallel` requests awaiting their answers.
std::int32_t sendAll(std::vector<Job *> &jobs, const std::string &bind, int seconds, int parallel,
                     bool progress) {
    Answers &a = answers();
    {
        std::lock_guard lock(a.mutex);
        a.queue.clear();
        a.loopError.reset();
        a.open = true;
    }
    KOVA_CONFIG config{};
    config.replyCallback = onAnswer;
    config.errorCallback = onLoopError;
    config.classId = KOVA_CLASS_ID;
    std::int32_t result = initialiseForBinding(KovaLibrary::real(), config, bind);
    if (result == KOVA_OK) {
        std::deque<Job *> ready(jobs.begin(), jobs.end());
        std::map<std::uint64_t, Job *> waiting;
        std::size_t done = 0;
        const std::size_t total = jobs.size();
        auto finish = [&](Job *job, Outcome outcome, const std::string &detail) {
            job->outcome = outcome;
            job->detail = detail;
            ++done;
        };
        std::unique_lock lock(a.mutex);
        while (done < total) {
            while (!ready.empty() && waiting.size() < static_cast<std::size_t>(parallel)) {
                Job *job = ready.front();
                ready.pop_front();
                lock.unlock();
                const std::int32_t code = sendStep(*job);
                lock.lock();
                if (code != KOVA_OK) {
                    finish(job, Outcome::Refused,
                           std::string(stepName(job->steps[job->next])) + ": " +
                               kova_ErrorText(code));
                    continue;
                }
                job->deadline = Clock::now() + std::chrono::seconds(seconds);
                waiting[macKey(job->device->info.mac)] = job;
            }
            if (progress)
                std::fprintf(stderr, "\r\033[KApplying: %zu of %zu devices done", done, total);
            Clock::time_point earliest = Clock::time_point::max();
            for (const auto &[key, job] : waiting)
                earliest = std::min(earliest, job->deadline);
            if (a.queue.empty() && !waiting.empty())
                a.arrived.wait_until(lock, earliest);
            while (!a.queue.empty()) {
                const auto [key, event] = a.queue.front();
                a.queue.pop_front();
                const auto at = waiting.find(key);
                if (at == waiting.end())
                    continue; // late, or not ours
                Job *job = at->second;
                waiting.erase(at);
                const std::string step = stepName(job->steps[job->next]);
                if (event == KOVA_EVENT_SUCCESS) {
                    if (job->steps[job->next] == Step::Account && job->credentials->newPassword)
                        job->newPasswordSet = true;
                    if (++job->next < job->steps.size())
                        ready.push_front(job); // the same device's next request first
                    else
                        finish(job, Outcome::Pending, {});
                } else if (event == KOVA_EVENT_AUTH_FAILED) {
                    finish(job, Outcome::AuthFailed, step);
                } else {
                    finish(job, Outcome::Refused, step + ": the device answered with status 1");
                }
            }
            const Clock::time_point now = Clock::now();
            for (auto it = waiting.begin(); it != waiting.end();) {
                if (it->second->deadline <= now) {
                    finish(it->second, Outcome::NoAnswer,
                           std::string(stepName(it->second->steps[it->second->next])) +
                               ": no answer within " + std::to_string(seconds) + " s");
                    it = waiting.erase(it);
                } else {
                    ++it;
                }
            }
        }
        lock.unlock();
        if (progress)
            std::fputs("\r\033[K", stderr);
    }
    KovaLibrary::real().close();
    std::unique_lock lock(a.mutex);
    a.open = false;
    a.arrived.wait_for(lock, std::chrono::seconds(2), [&] { return a.inCallback == 0; });
    return result;
}

void wipeAll(std::map<std::uint64_t, Credentials> &secrets, Credentials &common) {
    for (auto &[key, credentials] : secrets)
        wipeCredentials(credentials);
    wipeCredentials(common);
}

std::string tableOf(const std::vector<Job> &jobs) {
    std::vector<std::array<std::string, 5>> lines = {
        {"MAC", "Host name", "Address", "Result", "Detail"}};
    const auto shown = [](const std::string &text) { return printable(text); };
    for (const Job &job : jobs) {
        std::string host, address;
        if (job.device) {
            const bool readdressed =
                std::find(job.steps.begin(), job.steps.end(), Step::Network) != job.steps.end() &&
                job.settings.mode == KOVA_MODE_STATIC;
            host = std::find(job.steps.begin(), job.steps.end(), Step::HostName) != job.steps.end()
                       ? QString::fromLatin1(job.hostName.c_str()).toStdString()
                       : currentValue(*job.device, "host");
            address = fieldText(readdressed ? job.settings.ipAddress : job.device->info.ipAddress);
        }
        lines.push_back({formatMac(job.row->mac.data()), shown(host), address,
                         outcomeWords(job.outcome).text, shown(job.detail)});
    }
    std::array<std::size_t, 5> width{};
    for (const auto &line : lines)
        for (std::size_t i = 0; i < 5; ++i)
            width[i] = std::max(width[i], displayWidth(line[i]));
    std::string out;
    for (const auto &line : lines) {
        std::string text;
        for (std::size_t i = 0; i < 5; ++i)
            text += line[i] + (i < 4 ? std::string(width[i] - displayWidth(line[i]) + 2, ' ') : "");
        out += text.substr(0, text.find_last_not_of(' ') + 1) + '\n';
    }
    return out;
}

bool writeReport(const std::string &path, const std::vector<Job> &jobs, std::string &error) {
    const bool json = path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
    QByteArray data;
    QJsonArray array;
    std::string csv = "row,mac,result,detail\n";
    for (const Job &job : jobs) {
        const std::string mac = formatMac(job.row->mac.data());
        csv += std::to_string(job.row->row) + "," + mac + "," + outcomeWords(job.outcome).key +
               "," + csvField(spreadsheetText(job.detail)) + "\n";
        array.append(QJsonObject{{"row", job.row->row},
                                 {"mac", QString::fromStdString(mac)},
                                 {"result", outcomeWords(job.outcome).key},
                                 {"detail", QString::fromStdString(job.detail)}});
    }
    data = json ? QJsonDocument(array).toJson() : QByteArray::fromStdString(csv);
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size() ||
        !file.flush()) {
        error = "--report: " + toLocale(file.errorString());
        return false;
    }
    return true;
}

void printDryRun(const Job &job) {
    std::cout << formatMac(job.row->mac.data()) << "  "
              << printable(currentValue(*job.device, "model")) << '\n';
    const FoundDevice &d = *job.device;
    auto show = [](const std::string &name, const std::string &is, const std::string &tobe) {
        std::cout << "  " << name << std::string(name.size() < 12 ? 12 - name.size() : 1, ' ')
                  << (is.empty() ? "(empty)" : printable(is)) << " -> "
                  << (tobe.empty() ? "(empty)" : printable(tobe))
                  << (is == tobe ? "  (unchanged)" : "") << '\n';
    };
    for (Step step : job.steps) {
        if (step == Step::HostName) {
            show("host", currentValue(d, "host"), QString::fromLatin1(job.hostName).toStdString());
            show("domain", currentValue(d, "domain"),
                 QString::fromLatin1(job.domainName).toStdString());
        } else if (step == Step::Account) {
            show("guest", currentValue(d, "guest"), job.guest ? "yes" : "no");
            if (job.credentials && job.credentials->newPassword)
                std::cout << "  password    (new one from the secrets file)\n";
        } else {
            FoundDevice after = d;
            after.network = job.settings;
            for (const char *column : {"mode", "ip", "netmask", "gateway", "dns"})
                show(column, currentValue(d, column), currentValue(after, column));
        }
    }
}

int runApply(const QStringList &arguments, bool interactive, bool progress) {
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

    // Every row is checked before anything is sent.
    const QString planPath = parser.positionalArguments().first();
    const std::string planName = toLocale(planPath);
    const std::optional<QByteArray> planText = readPlanFile(planPath, error);
    if (!planText)
        return fail(kExitUsage, planName + ": " + error);
    const PlanInput plan = parsePlan(*planText);
    if (!plan.problems.empty()) {
        for (const std::string &problem : plan.problems)
            fail(kExitUsage, planName + ": " + problem);
        return kExitUsage;
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
            return fail(kExitUsage, error);
        }
    }

    std::vector<MacAddress> macs;
    for (const PlanRow &row : plan.rows)
        macs.push_back(row.mac);
    const ScanResult found = scanFor(bind, seconds, macs, progress);
    if (found.error != KOVA_OK) {
        wipeAll(secrets, common);
        return fail(kExitRefused, "cannot scan: " + std::string(kova_ErrorText(found.error)));
    }
    std::map<std::uint64_t, const FoundDevice *> byMac;
    for (const FoundDevice &device : found.devices)
        byMac[macKey(device.info.mac)] = &device;

    std::vector<Job> jobs(plan.rows.size());
    std::vector<std::string> problems;
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
        Job &job = jobs[i];
        job.row = &plan.rows[i];
        const auto at = byMac.find(macKey(job.row->mac.data()));
        if (at == byMac.end()) {
            job.outcome = Outcome::NotFound;
            job.detail = "no answer to the scan within " + std::to_string(seconds) + " s";
            continue;
        }
        job.device = at->second;
        const auto own = secrets.find(macKey(job.row->mac.data()));
        job.credentials = own != secrets.end() ? &own->second : &common;
        const std::string problem = prepare(job);
        if (!problem.empty())
            problems.push_back("row " + std::to_string(job.row->row) + ": " + inPlanTerms(problem));
        else if (job.steps.empty())
            job.outcome = Outcome::Unchanged;
    }
    if (!problems.empty()) {
        wipeAll(secrets, common);
        for (const std::string &problem : problems)
            fail(kExitUsage, planName + ": " + problem);
        return kExitUsage;
    }

    std::vector<Job *> toSend;
    for (Job &job : jobs)
        if (job.outcome == Outcome::Pending)
            toSend.push_back(&job);
    if (dryRun) {
        wipeAll(secrets, common);
        for (Job *job : toSend) {
            printDryRun(*job);
            job->outcome = Outcome::Unchanged;
            job->detail = "dry run: nothing sent";
        }
        for (const Job &job : jobs)
            if (job.outcome != Outcome::Unchanged)
                std::cout << formatMac(job.row->mac.data()) << "  "
                          << outcomeWords(job.outcome).text << '\n';
        return std::all_of(jobs.begin(), jobs.end(),
                           [](const Job &job) { return job.outcome == Outcome::Unchanged; })
                   ? kExitOk
                   : kExitSomeFailed;
    }

    const Clock::time_point started = Clock::now();
    const std::int32_t sent = sendAll(toSend, bind, seconds, parallel, progress);
    wipeAll(secrets, common);
    if (sent != KOVA_OK)
        return fail(kExitRefused, "cannot send: " + std::string(kova_ErrorText(sent)));

    // Confirmation: a fresh scan of the devices that took every request.
    std::vector<MacAddress> applied;
    for (Job *job : toSend)
        if (job->outcome == Outcome::Pending)
            applied.push_back(job->row->mac);
    if (!applied.empty()) {
        const ScanResult check = scanFor(bind, seconds, applied, progress);
        std::map<std::uint64_t, const FoundDevice *> now;
        for (const FoundDevice &device : check.devices)
            now[macKey(device.info.mac)] = &device;
        for (Job *job : toSend) {
            if (job->outcome != Outcome::Pending)
                continue;
            const auto at = now.find(macKey(job->row->mac.data()));
            const std::string differs = at == now.end() ? "" : mismatch(*job, *at->second);
            job->outcome =
                at != now.end() && differs.empty() ? Outcome::Confirmed : Outcome::NotConfirmed;
            job->detail = at == now.end() ? "no answer to the confirmation scan" : differs;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();

    std::cout << tableOf(jobs);
    std::size_t good = 0;
    for (const Job &job : jobs)
        good += job.outcome == Outcome::Confirmed || job.outcome == Outcome::Unchanged;
    char summary[128];
    std::snprintf(summary, sizeof summary, "%zu of %zu rows applied and confirmed in %.1f s\n",
                  good, jobs.size(), elapsed);
    if (progress) // standard error holds nothing but errors unless it is a terminal
        std::cerr << summary;
    if (isSet(parser, "report") && !writeReport(text(parser, "report"), jobs, error))
        return fail(kExitOutput, error);
    return good == jobs.size() ? kExitOk : kExitSomeFailed;
}

} // namespace

bool isBatchCommand(const QString &command) {
    return command == QLatin1String("plan") || command == QLatin1String("apply");
}

int runBatch(const QStringList &arguments, bool interactive, bool progress) {
    return arguments.first() == QLatin1String("plan") ? runPlan(arguments, progress)
                                                      : runApply(arguments, interactive, progress);
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
           "account before network settings) and confirms them with a new scan.\n" +
           common +
           "  --user ID              administrator ID for every device (default: root)\n"
           "  --password-file FILE   administrator password for every device (else\n"
           "                         $VELTRONA_PASSWORD, else a prompt)\n"
           "  --secrets FILE         CSV with mac,user,password[,new_password] per device\n"
           "  --dry-run              print each change as it is and as it will be; send nothing\n"
           "  --parallel N           requests awaiting their answers at once, 1 to 256 "
           "(default: 16)\n"
           "  --report FILE          write the results to FILE (JSON when it ends in .json,\n"
           "                         else CSV)\n"
           "Exit codes: 0 every row applied and confirmed, 5 some rows failed, 64 the plan or\n"
           "the command line is wrong (nothing was sent).\n";
}

} // namespace veltrona::cli
