// veltrona-cli: finds KOVA devices and changes their settings from the command
// line. See docs/cli.md.

#include "batch.h"
#include "changes.h"
#include "commandline.h"
#include "devicerow.h"
#include "kovalibrary.h"
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

int runScan(const CommandLine &line, bool progress) {
    const ScanResult result = scan(line.bindAddress, line.seconds, std::nullopt, progress);
    if (result.error != KOVA_OK)
        return refused(scanRefusal(line.bindAddress, result), result.error);
    warnAboutLoop(result.loopError);
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

int runConfiguration(const CommandLine &line, bool interactive, bool progress) {
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
    const ScanResult found = scan(line.bindAddress, line.seconds, line.mac, progress);
    if (found.error != KOVA_OK)
        return refused(scanRefusal(line.bindAddress, found), found.error);
    const auto device = std::find_if(found.devices.begin(), found.devices.end(),
                                     [&](auto &d) { return formatMac(d.info.mac) == mac; });
    if (device == found.devices.end()) {
        warnAboutLoop(found.loopError);
        return fail(kExitNoDevice, "no device with MAC address " + mac + " answered within " +
                                       std::to_string(line.seconds) + " s");
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
        send = [&](HKOVAITEM item) {
            return veltrona::KovaLibrary::real().setNetworkSettings(item, user, password,
                                                                    &settings);
        };
        break;
    case Command::SetHostName:
        error =
            resolveHostNames(line.hostName, line.domainName, device->info, hostName, domainName);
        send = [&](HKOVAITEM item) {
            return veltrona::KovaLibrary::real().setHostName(item, user, password, hostName.c_str(),
                                                             domainName.c_str());
        };
        break;
    default:
        guest = line.guest ? (*line.guest ? 1 : 0) : (device->guestAccount != 0 ? 1 : 0);
        send = [&](HKOVAITEM item) {
            return veltrona::KovaLibrary::real().setAccount(item, user, password,
                                                            secrets->newPassword->c_str(), &guest);
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
        request(line.bindAddress, line.seconds, *device, sendAndForget, progress);
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
int finish(int code) {
    errno = 0;
    std::cout.flush();
    const bool flushed = std::fflush(stdout) == 0;
    if (std::cout && flushed && std::ferror(stdout) == 0)
        return code;
    const int error = errno;
    return fail(kExitOutput, std::string("cannot write to standard output") +
                                 (error != 0 ? std::string(": ") + std::strerror(error) : ""));
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
    if (!arguments.isEmpty() && isBatchCommand(arguments.first()))
        return finish(runBatch(arguments, isatty(STDIN_FILENO) == 1, isatty(STDERR_FILENO) == 1));
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
        return finish(runScan(line, progress));
    return finish(runConfiguration(line, isatty(STDIN_FILENO) == 1, progress));
}
