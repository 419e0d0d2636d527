// veltrona-cli: finds KOVA devices and changes their settings from the command
// line. See docs/cli.md.

#include "batch.h"
#include "changeengine.h"
#include "changes.h"
#include "commandline.h"
#include "devicerow.h"
#include "doctorrun.h"
#include "kovalibrary.h"
#include "neighbours.h"
#include "printable.h"
#include "report.h"
#include "secrets.h"
#include "session.h"

#include <string.h> // explicit_bzero
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>

using namespace veltrona::cli;
using veltrona::formatMac;

namespace {

int fail(int code, const std::string &message) {
    std::cerr << "veltrona-cli: " << veltrona::printable(message) << '\n';
    return code;
}

int refused(const std::string &what, std::int32_t error) {
    return fail(kExitRefused, what + ": " + kova_ErrorText(error));
}

void warnAboutLoop(const std::optional<std::int32_t> &loopError) {
    if (loopError)
        std::cerr << "veltrona-cli: receiving stopped early: " << kova_ErrorText(*loopError)
                  << '\n';
}

std::string whereText(const std::string &bindAddress) {
    return bindAddress.empty() ? "" : " on " + bindAddress;
}

// Why a scan could not start, for standard error.
std::string scanRefusal(const std::string &bindAddress, const ScanResult &result) {
    std::string what = "cannot scan" + whereText(bindAddress);
    if (result.notSent)
        what += bindAddress.empty() ? ": no network interface could send the discovery"
                                    : ": the discovery could not be sent";
    return what;
}

int runScan(const CommandLine &line, bool progress, veltrona::KovaLibrary &library) {
    const ScanResult result = scan(library, line.bindAddress, line.seconds, {}, progress);
    if (result.error != KOVA_OK)
        return refused(scanRefusal(line.bindAddress, result), result.error);
    warnAboutLoop(result.loopError);
    if (const std::string lost = lostRepliesWarning(result); !lost.empty())
        std::cerr << "veltrona-cli: " << lost << '\n';
    for (const FoundDevice &device : result.devices)
        if (const std::string twice = heardTwiceProblem(result, device.info.mac); !twice.empty())
            std::cerr << "veltrona-cli: " << twice << '\n';
    if (result.devices.empty())
        std::cerr << "veltrona-cli: no device answered within " << line.seconds
                  << " s; `veltrona-cli doctor` checks this host\n";
    switch (line.format) {
    case Format::Table:
        std::cout << formatTable(result.devices, line.showSecrets);
        break;
    case Format::Csv:
        std::cout << formatCsv(result.devices, line.showSecrets);
        break;
    case Format::Json:
        std::cout << formatJson(result.devices, line.showSecrets).toStdString();
        break;
    }
    return kExitOk;
}

// Passwords, all read before anything is sent.
struct Secrets {
    std::string password;
    std::optional<std::string> newPassword;
    std::optional<std::string> pppoePassword;
};

std::optional<Secrets> readSecrets(const CommandLine &line, bool interactive, std::string &error) {
    Secrets secrets;
    SecretSource admin{"--password-file",
                       line.passwordFile,
                       "VELTRONA_PASSWORD",
                       "Password for " + toLocale(QString::fromLatin1(line.userId.c_str())) + ": ",
                       "password",
                       kMaxPassword};
    SecretOutcome outcome = readSecret(admin, interactive, promptWithoutEcho);
    if (!outcome.value) {
        error = outcome.error;
        return std::nullopt;
    }
    secrets.password = *outcome.value;

    if (line.command == Command::SetAccount) {
        SecretSource source{"--new-password-file", line.newPasswordFile, "VELTRONA_NEW_PASSWORD",
                            "New password: ",      "new password",       kMaxPassword};
        source.confirm = true;
        outcome = readSecret(source, interactive, promptWithoutEcho);
        if (!outcome.value) {
            error = outcome.error;
            return std::nullopt;
        }
        secrets.newPassword = outcome.value;
    } else if (line.command == Command::SetNetwork) {
        // Kept unless given; asked for only with --ask-pppoe-password.
        SecretSource source{"--pppoe-password-file",
                            line.pppoePasswordFile,
                            line.askPppoePassword ? "" : "VELTRONA_PPPOE_PASSWORD",
                            "New PPPoE password: ",
                            "PPPoE password",
                            kMaxPppoePassword};
        source.mayPrompt = line.askPppoePassword;
        source.required = line.askPppoePassword;
        source.confirm = true;
        if (line.askPppoePassword && !interactive) {
            error = "--ask-pppoe-password: standard input is not a terminal";
            return std::nullopt;
        }
        outcome = readSecret(source, interactive, promptWithoutEcho);
        if (!outcome.error.empty()) {
            error = outcome.error;
            return std::nullopt;
        }
        secrets.pppoePassword = outcome.value;
    }
    return secrets;
}

// The problems of a new network setting: addresses no device can use, or one
// that another device heard in the scan holds. One line each, or none.
std::vector<std::string> checkNewNetwork(veltrona::KovaLibrary &library, const FoundDevice &device,
                                         const KOVA_NETWORK_SETTINGS &settings,
                                         const std::vector<FoundDevice> &heard) {
    namespace change = veltrona::change;
    change::DeviceChange planned;
    std::copy(std::begin(device.info.mac), std::end(device.info.mac), planned.mac.begin());
    planned.device = &device;
    planned.steps = {change::Step::Network};
    planned.settings = settings;
    change::ChangeEngine engine(library, {planned}, {});
    std::vector<std::string> problems;
    for (std::string problem : engine.check(change::holdersFor(engine.changes(), heard))) {
        // Named by the row of a plan; here there is only the one device.
        problem.erase(0, problem.find(": ") + 2);
        problems.push_back(problem);
    }
    return problems;
}

int runConfiguration(const CommandLine &line, bool interactive, bool progress,
                     veltrona::KovaLibrary &library) {
    if (line.command == Command::SetNetwork) {
        // Checked before any prompt: whether there is something to send, and, with
        // --mode, whether that mode sends every given setting (without --mode, once
        // the device's mode is known).
        const bool newPppoePassword = line.pppoePasswordFile || line.askPppoePassword ||
                                      std::getenv("VELTRONA_PPPOE_PASSWORD") != nullptr;
        if (!line.network.any() && !newPppoePassword)
            return fail(kExitUsage, "set-network: nothing to change");
        if (line.network.mode) {
            const std::string problem =
                checkModeOptions(line.network, newPppoePassword, *line.network.mode);
            if (!problem.empty())
                return fail(kExitUsage, problem);
        }
    }
    std::string error;
    std::optional<Secrets> secrets = readSecrets(line, interactive, error);
    if (!secrets)
        return fail(kExitUsage, error);

    const std::string mac = formatMac(line.mac.data());
    // A new address is checked against every device heard: the scan then
    // listens for its whole time instead of ending at the device's answer.
    const bool readdressing = line.command == Command::SetNetwork &&
                              (line.network.ipAddress ||
                               line.network.mode == std::optional<std::int32_t>(KOVA_MODE_STATIC));
    const ScanResult found = scan(
        library, line.bindAddress, line.seconds,
        readdressing ? std::vector<MacAddress>{} : std::vector<MacAddress>{line.mac}, progress);
    if (found.error != KOVA_OK)
        return refused(scanRefusal(line.bindAddress, found), found.error);
    const auto device = std::find_if(found.devices.begin(), found.devices.end(),
                                     [&](auto &d) { return formatMac(d.info.mac) == mac; });
    if (device == found.devices.end()) {
        warnAboutLoop(found.loopError);
        if (const std::string lost = lostRepliesWarning(found); !lost.empty())
            std::cerr << "veltrona-cli: " << lost << '\n';
        return fail(kExitNoDevice, "no device with MAC address " + mac + " answered within " +
                                       std::to_string(line.seconds) + " s");
    }

    // The same MAC on two networks: the request would go to either.
    if (const std::string twice = heardTwiceProblem(found, device->info.mac);
        !twice.empty() && line.bindAddress.empty()) {
        return fail(kExitUsage, twice + "; nothing was sent");
    }

    std::function<std::int32_t(HKOVAITEM)> send;
    KOVA_NETWORK_SETTINGS settings = device->network;
    std::string hostName;
    std::string domainName;
    std::int32_t guest = 0;
    const char *user = line.userId.c_str();
    const char *password = secrets->password.c_str();
    switch (line.command) {
    case Command::SetNetwork:
        error = applyNetworkChanges(line.network, secrets->pppoePassword, settings);
        if (error.empty() && line.network.any()) {
            const std::vector<std::string> problems =
                checkNewNetwork(library, *device, settings, found.devices);
            for (std::size_t i = 0; i + 1 < problems.size(); ++i)
                std::cerr << "veltrona-cli: " << problems[i] << '\n';
            if (!problems.empty())
                error = problems.back() + " Nothing was sent.";
        }
        send = [&](HKOVAITEM item) {
            return library.setNetworkSettings(item, user, password, &settings);
        };
        break;
    case Command::SetHostName:
        error =
            resolveHostNames(line.hostName, line.domainName, device->info, hostName, domainName);
        send = [&](HKOVAITEM item) {
            return library.setHostName(item, user, password, hostName.c_str(), domainName.c_str());
        };
        break;
    default:
        guest = line.guest ? (*line.guest ? 1 : 0) : (device->guestAccount != 0 ? 1 : 0);
        send = [&](HKOVAITEM item) {
            return library.setAccount(item, user, password, secrets->newPassword->c_str(), &guest);
        };
        break;
    }
    // The passwords are in the request once it is built: forget them then.
    auto forget = [&] {
        wipe(secrets->password);
        for (std::optional<std::string> *other : {&secrets->newPassword, &secrets->pppoePassword})
            if (*other)
                wipe(**other);
        explicit_bzero(settings.pppoePassword, sizeof settings.pppoePassword);
    };
    if (!error.empty()) {
        forget();
        return fail(kExitUsage, error);
    }
    const std::function<std::int32_t(HKOVAITEM)> sendAndForget = [&](HKOVAITEM item) {
        const std::int32_t code = send(item);
        forget();
        return code;
    };
    const RequestResult result =
        request(library, line.bindAddress, line.seconds, *device, sendAndForget, progress);
    forget();
    if (result.error != KOVA_OK)
        return refused("request to " + mac + " refused", result.error);
    if (!result.event)
        return fail(kExitNoDevice,
                    "no answer from " + mac + " within " + std::to_string(line.seconds) + " s");
    if (const char *text = veltrona::updateResultText(*result.event))
        std::cout << text << '\n';
    const int code = exitCodeForEvent(*result.event);
    if (code == kExitNotConfirmed)
        std::cerr << "veltrona-cli: " << mac << " answered with event " << *result.event
                  << "; the change is not confirmed\n";
    return code;
}

// Every command ends here: whatever it wrote must have reached standard output.
// When it could not, exit 74, unless `ownStatusWins` (apply sent requests):
// the run's own status then tells the caller that changes were made.
int finish(int code, bool ownStatusWins = false) {
    errno = 0;
    std::cout.flush();
    const bool flushed = std::fflush(stdout) == 0;
    if (std::cout && flushed && std::ferror(stdout) == 0)
        return code;
    const int error = errno;
    const int written =
        fail(kExitOutput, std::string("cannot write to standard output") +
                              (error != 0 ? std::string(": ") + std::strerror(error) : ""));
    return ownStatusWins ? code : written;
}

} // namespace

int main(int argc, char **argv) {
    // A closed pipe is a write error reported as such, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::setlocale(LC_CTYPE, "");
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << fromLocale(argv[i]);
    if (arguments == QStringList{QStringLiteral("--version")}) {
        std::cout << "veltrona-cli " VELTRONA_VERSION "\n";
        return finish(kExitOk);
    }
    // The one place that picks the library itself; everything below takes it.
    veltrona::KovaLibrary &library = veltrona::KovaLibrary::real();
    if (!arguments.isEmpty() && isBatchCommand(arguments.first())) {
        bool sentRequests = false;
        const int code = runBatch(arguments, isatty(STDIN_FILENO) == 1, isatty(STDERR_FILENO) == 1,
                                  library, &sentRequests);
        return finish(code, sentRequests);
    }
    if (arguments.size() == 2 && arguments.first() == QLatin1String("help") &&
        isBatchCommand(arguments.last())) {
        std::cout << batchUsage(arguments.last());
        return finish(kExitOk);
    }
    const ParseOutcome parsed = parseCommandLine(arguments);
    if (!parsed.commandLine)
        return fail(kExitUsage, parsed.error);
    const CommandLine &line = *parsed.commandLine;
    if (line.command == Command::Help) {
        std::cout << usageText(line.helpFor);
        return finish(kExitOk);
    }
    const bool progress = isatty(STDERR_FILENO) == 1;
    if (line.command == Command::Scan)
        return finish(runScan(line, progress, library));
    if (line.command == Command::Doctor)
        return finish(runDoctor(line, progress, library));
    return finish(runConfiguration(line, isatty(STDIN_FILENO) == 1, progress, library));
}
