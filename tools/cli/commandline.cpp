#include "commandline.h"

#include "kova.h"

#include <cctype>
#include <vector>

namespace veltrona::cli {

namespace {

std::string dashed(const char *name) {
    return std::string("--") + name;
}

// A text for the device: Latin-1, at most maxLength characters; a problem
// naming the option is kept in `error`.
std::optional<std::string> bounded(const Arguments &arguments, const char *name,
                                   std::size_t maxLength, const char *what, std::string &error) {
    if (!arguments.isSet(name))
        return std::nullopt;
    std::optional<std::string> value = toLatin1(arguments.value(name));
    std::string problem;
    if (!value)
        problem = dashed(name) + ": " + notLatin1Problem(what);
    else if (value->size() > maxLength)
        problem = dashed(name) + ": the " + what + " is longer than " + std::to_string(maxLength) +
                  " characters";
    if (problem.empty())
        return value;
    if (error.empty())
        error = problem;
    return std::nullopt;
}

std::optional<std::string> optionalText(const Arguments &arguments, const char *name) {
    return arguments.isSet(name) ? std::optional(arguments.text(name)) : std::nullopt;
}

void readNetworkChanges(const Arguments &arguments, NetworkChanges &changes, std::string &error) {
    constexpr std::int32_t kModes[] = {KOVA_MODE_DHCP, KOVA_MODE_STATIC, KOVA_MODE_PPPOE};
    if (const int mode = arguments.choice("mode"); mode >= 0)
        changes.mode = kModes[mode];
    changes.ipAddress = optionalText(arguments, "ip");
    changes.netMask = optionalText(arguments, "netmask");
    changes.gateway = optionalText(arguments, "gateway");
    changes.dnsServer = optionalText(arguments, "dns");
    changes.pppoeUserName =
        bounded(arguments, "pppoe-user", kMaxPppoeUser, "PPPoE user name", error);
    changes.pppoeServiceName =
        bounded(arguments, "pppoe-service", kMaxPppoeService, "PPPoE service name", error);
    if (arguments.isSet("mtu"))
        changes.mtu = static_cast<std::uint32_t>(arguments.number("mtu", 0));
    if (const int dnsMode = arguments.choice("dns-mode"); dnsMode >= 0)
        changes.dnsMode = static_cast<std::uint8_t>(dnsMode);
    changes.pppoeDnsServer = optionalText(arguments, "pppoe-dns");
}

// The options of a configuration command beyond the table's own checks.
std::string readConfiguration(const Arguments &arguments, CommandLine &line) {
    std::string error;
    if (std::optional<std::string> mac = optionalText(arguments, "mac")) {
        if (std::optional<MacAddress> parsed = parseMac(*mac))
            line.mac = *parsed;
        else
            error = "--mac: '" + *mac +
                    "' is not a MAC address (six hexadecimal pairs joined by - or :)";
    } else {
        error = "--mac: the device's MAC address is required";
    }
    if (std::optional<std::string> user = bounded(arguments, "user", kMaxUserId, "ID", error)) {
        if (user->empty() && error.empty())
            error = "--user: the ID must not be empty";
        line.userId = *user;
    }
    line.passwordFile = optionalText(arguments, "password-file");
    line.reportPath = optionalText(arguments, "report");
    switch (line.command) {
    case Command::SetNetwork:
        readNetworkChanges(arguments, line.network, error);
        line.pppoePasswordFile = optionalText(arguments, "pppoe-password-file");
        line.askPppoePassword = arguments.isSet("ask-pppoe-password");
        if (line.pppoePasswordFile && line.askPppoePassword && error.empty())
            error = "--ask-pppoe-password: not together with --pppoe-password-file";
        break;
    case Command::SetHostName:
        line.hostName = bounded(arguments, "host", kMaxHostName, "host name", error);
        line.domainName = bounded(arguments, "domain", kMaxDomainName, "domain name", error);
        if (error.empty() && !line.hostName && !line.domainName)
            error = "set-hostname: nothing to change (give --host or --domain)";
        break;
    default:
        if (const int guest = arguments.choice("guest"); guest >= 0)
            line.guest = guest == 0;
        line.newPasswordFile = optionalText(arguments, "new-password-file");
        break;
    }
    return error;
}

std::string suggestion(const std::string &typed, const std::vector<std::string> &words) {
    const std::string close = closestWord(typed, words);
    return close.empty() ? " (try --help)" : " (did you mean " + close + "?)";
}

std::vector<std::string> commandWords() {
    std::vector<std::string> words;
    for (const CommandEntry &command : commandTable())
        words.push_back(command.name);
    words.push_back("help");
    return words;
}

} // namespace

std::optional<std::string> toLatin1(const QString &text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return std::nullopt;
        bytes += static_cast<char>(c.unicode());
    }
    return bytes;
}

std::string notLatin1Problem(const std::string &what) {
    return "the " + what +
           " holds a character that cannot be sent (devices take Latin-1 characters only)";
}

ParseOutcome parseCommandLine(const QStringList &arguments) {
    return parseCommandLine(arguments, interfaceAddresses());
}

ParseOutcome parseCommandLine(const QStringList &arguments, const Interfaces &interfaces) {
    ParseOutcome outcome;
    if (arguments.isEmpty()) {
        outcome.error = "no command given (try --help)";
        return outcome;
    }
    const QString first = arguments.first();
    const std::string firstText = toLocale(first);
    CommandLine line;
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("--version") || first == QLatin1String("-V")) {
        if (arguments.size() > 1) {
            outcome.error = firstText + ": expected nothing after it";
            return outcome;
        }
        line.version = first == QLatin1String("--version") || first == QLatin1String("-V");
        outcome.commandLine = line;
        return outcome;
    }
    if (first == QLatin1String("help")) {
        if (arguments.size() > 2) {
            outcome.error = "help: expected one command name";
            return outcome;
        }
        if (arguments.size() == 2) {
            const std::string name = toLocale(arguments.at(1));
            const CommandEntry *about = findCommand(name);
            if (!about) {
                outcome.error =
                    "help: unknown command '" + name + "'" + suggestion(name, commandWords());
                return outcome;
            }
            line.helpFor = about->command;
        }
        outcome.commandLine = line;
        return outcome;
    }
    const CommandEntry *command = findCommand(firstText);
    if (!command) {
        outcome.error =
            first.startsWith(QLatin1Char('-'))
                ? "no command given before '" + firstText + "'" +
                      suggestion(firstText, {"--help", "--version"})
                : "unknown command '" + firstText + "'" + suggestion(firstText, commandWords());
        return outcome;
    }
    outcome.error = parseArguments(*command, arguments.mid(1), line.arguments, interfaces);
    if (!outcome.error.empty())
        return outcome;
    if (line.arguments.help) {
        line.helpFor = command->command;
        outcome.commandLine = line;
        return outcome;
    }
    line.command = command->command;
    const Arguments &options = line.arguments;
    line.bindAddress = options.text("bind");
    line.seconds = static_cast<int>(options.number("seconds", kDefaultSeconds));
    switch (line.command) {
    case Command::Scan:
        if (const int format = options.choice("format"); format >= 0)
            line.format = static_cast<Format>(format);
        line.showSecrets = options.isSet("show-secrets");
        break;
    case Command::Doctor:
        if (options.choice("format") == 1)
            line.format = Format::Json;
        line.probe = options.isSet("probe");
        break;
    case Command::SetNetwork:
    case Command::SetHostName:
    case Command::SetAccount:
        outcome.error = readConfiguration(options, line);
        break;
    default: // plan and apply read their options themselves
        break;
    }
    if (outcome.error.empty())
        outcome.commandLine = line;
    return outcome;
}

} // namespace veltrona::cli
