#include "commandline.h"

#include "kova.h"

#include <cctype>
#include <climits>
#include <cwchar>
#include <vector>

namespace veltrona::cli {

namespace {

// A byte that does not decode in the locale is kept as U+DC00 plus the byte (a
// lone surrogate, which no decoded text holds), so that file names pass through
// unchanged and device texts refuse it.
constexpr char32_t kEscapedByte = 0xDC00;

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
    for (const CommandSpec &command : commandTable())
        words.push_back(command.name);
    words.push_back("help");
    return words;
}

} // namespace

QString fromLocale(const std::string &bytes) {
    std::u32string text;
    std::mbstate_t state{};
    std::size_t at = 0;
    while (at < bytes.size()) {
        wchar_t c = 0;
        const std::size_t n = std::mbrtowc(&c, bytes.data() + at, bytes.size() - at, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            text += static_cast<char32_t>(kEscapedByte + static_cast<unsigned char>(bytes[at]));
            state = std::mbstate_t{};
            ++at;
        } else {
            text += static_cast<char32_t>(c);
            at += n == 0 ? 1 : n;
        }
    }
    return QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toLocale(const QString &text) {
    std::string bytes;
    std::mbstate_t state{};
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(text[i], text[i + 1]), ++i;
        else if (c >= kEscapedByte + 0x80 && c <= kEscapedByte + 0xff) {
            bytes += static_cast<char>(c - kEscapedByte);
            continue;
        }
        char out[MB_LEN_MAX];
        const std::size_t n = std::wcrtomb(out, static_cast<wchar_t>(c), &state);
        if (n == static_cast<std::size_t>(-1)) {
            bytes += '?';
            state = std::mbstate_t{};
        } else {
            bytes.append(out, n);
        }
    }
    return bytes;
}

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

std::optional<MacAddress> parseMac(const std::string &text) {
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != '-' && separator != ':')
        return std::nullopt;
    MacAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != separator)
            return std::nullopt;
        unsigned value = 0;
        for (std::size_t k = at; k < at + 2; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[k]);
            if (!std::isxdigit(c))
                return std::nullopt;
            value = value * 16 +
                    static_cast<unsigned>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        }
        mac[i] = static_cast<std::uint8_t>(value);
    }
    return mac;
}

std::optional<std::string> canonicalIpv4(const std::string &text) {
    std::string canonical;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) &&
               digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        canonical += (part > 0 ? "." : "") + std::to_string(value);
    }
    if (at != text.size())
        return std::nullopt;
    return canonical;
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
            const CommandSpec *about = findCommand(name);
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
    const CommandSpec *command = findCommand(firstText);
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
