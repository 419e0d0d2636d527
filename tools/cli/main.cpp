// veltrona-cli: finds KOVA devices and changes their settings from the command
// line. See docs/cli.md.

#include "batch.h"
#include "changeengine.h"
#include "commandline.h"
#include "devicerow.h"
#include "doctorrun.h"
#include "kovalibrary.h"
#include "printable.h"
#include "problems.h"
#include "report.h"
#include "secrets.h"
#include "secretsfile.h"
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
#include <map>

using namespace veltrona::cli;
using veltrona::formatMac;
using veltrona::kMaxPassword;
using veltrona::promptWithoutEcho;
using veltrona::readSecret;
using veltrona::SecretOutcome;
using veltrona::SecretSource;
using veltrona::wipe;

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
        std::cout << formatJson(result.devices, line.showSecrets);
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
        if (line.network.mode)
            if (const auto problem = veltrona::change::checkModes(line.network, newPppoePassword,
                                                                  *line.network.mode))
                return fail(kExitUsage, problemText(*problem, Terms::Options));
    }
    std::string error;
    std::optional<Secrets> secrets = readSecrets(line, interactive, error);
    if (!secrets)
        return fail(kExitUsage, error);

    veltrona::change::Credentials credentials{line.userId, secrets->password, secrets->newPassword};
    OneDevice one;
    one.desired.row = 1;
    one.desired.mac = line.mac;
    one.desired.credentials = &credentials;
    one.bind = line.bindAddress;
    one.seconds = line.seconds;
    one.reportPath = line.reportPath;
    switch (line.command) {
    case Command::SetNetwork:
        one.desired.network = line.network;
        one.desired.pppoePassword = secrets->pppoePassword;
        // A new address is checked against every device heard.
        one.readdressing = line.network.ipAddress ||
                           line.network.mode == std::optional<std::int32_t>(KOVA_MODE_STATIC);
        break;
    case Command::SetHostName:
        one.desired.hostName = line.hostName;
        one.desired.domainName = line.domainName;
        break;
    default:
        one.desired.guest = line.guest;
        break;
    }
    // The passwords are in the requests once they are built: forget them then.
    const auto forget = [&] {
        wipeCredentials(credentials);
        for (std::string *secret : {&secrets->password})
            wipe(*secret);
        for (std::optional<std::string> *other :
             {&secrets->newPassword, &secrets->pppoePassword, &one.desired.pppoePassword})
            if (*other)
                wipe(**other);
    };
    return runOneDevice(one, progress, library, forget);
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

// The function that runs each command of the table.
using Runner = int (*)(const CommandLine &, veltrona::KovaLibrary &);

int scanCommand(const CommandLine &line, veltrona::KovaLibrary &library) {
    return finish(runScan(line, isatty(STDERR_FILENO) == 1, library));
}

int doctorCommand(const CommandLine &line, veltrona::KovaLibrary &library) {
    return finish(runDoctor(line, isatty(STDERR_FILENO) == 1, library));
}

int configurationCommand(const CommandLine &line, veltrona::KovaLibrary &library) {
    return finish(
        runConfiguration(line, isatty(STDIN_FILENO) == 1, isatty(STDERR_FILENO) == 1, library));
}

int batchCommand(const CommandLine &line, veltrona::KovaLibrary &library) {
    bool sentRequests = false;
    const int code = runBatch(line, isatty(STDIN_FILENO) == 1, isatty(STDERR_FILENO) == 1, library,
                              &sentRequests);
    return finish(code, sentRequests);
}

const std::map<Command, Runner> kRunners = {
    {Command::Scan, scanCommand},
    {Command::SetNetwork, configurationCommand},
    {Command::SetHostName, configurationCommand},
    {Command::SetAccount, configurationCommand},
    {Command::Plan, batchCommand},
    {Command::Apply, batchCommand},
    {Command::Doctor, doctorCommand},
};

// `veltrona-cli --complete WORD... CURRENT`, for the bash completion: one
// word a line.
int complete(const QStringList &arguments) {
    std::vector<std::string> words;
    for (const QString &word : arguments)
        words.push_back(toLocale(word));
    const std::string current = words.empty() ? std::string() : words.back();
    if (!words.empty())
        words.pop_back();
    for (const std::string &word : completions(words, current, interfaceAddresses()))
        std::cout << veltrona::printable(word) << '\n';
    return finish(kExitOk);
}

} // namespace

int main(int argc, char **argv) {
    // A closed pipe is a write error reported as such, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::setlocale(LC_CTYPE, "");
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << fromLocale(argv[i]);
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("--complete"))
        return complete(arguments.mid(1));
    const ParseOutcome parsed = parseCommandLine(arguments);
    if (!parsed.commandLine)
        return fail(kExitUsage, parsed.error);
    const CommandLine &line = *parsed.commandLine;
    if (line.version) {
        std::cout << "veltrona-cli " VELTRONA_VERSION "\n";
        return finish(kExitOk);
    }
    if (line.command == Command::Help) {
        std::cout << usageText(line.helpFor);
        return finish(kExitOk);
    }
    // The one place that picks the library itself; everything below takes it.
    return kRunners.at(line.command)(line, veltrona::KovaLibrary::real());
}
