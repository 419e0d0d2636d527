#include "commandline.h"

#include "kova.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

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

struct OptionDef {
    const char *name;
    const char *valueName; // nullptr for a switch
};

// Options, by the commands that take them.
const std::vector<OptionDef> kCommonOptions = {{"bind", "ADDR"}, {"seconds", "N"}};
const std::vector<OptionDef> kScanOptions = {{"format", "FORMAT"}, {"show-secrets", nullptr}};
const std::vector<OptionDef> kDoctorOptions = {{"format", "FORMAT"}, {"probe", nullptr}};
const std::vector<OptionDef> kConfigOptions = {
    {"mac", "MAC"}, {"user", "ID"}, {"password-file", "FILE"}, {"report", "FILE"}};
const std::vector<OptionDef> kNetworkOptions = {{"mode", "MODE"},
                                                {"ip", "A"},
                                                {"netmask", "A"},
                                                {"gateway", "A"},
                                                {"dns", "A"},
                                                {"pppoe-user", "U"},
                                                {"pppoe-service", "S"},
                                                {"mtu", "N"},
                                                {"dns-mode", "MODE"},
                                                {"pppoe-dns", "A"},
                                                {"pppoe-password-file", "FILE"},
                                                {"ask-pppoe-password", nullptr}};
const std::vector<OptionDef> kHostNameOptions = {{"host", "H"}, {"domain", "D"}};
const std::vector<OptionDef> kAccountOptions = {{"guest", "yes|no"}, {"new-password-file", "FILE"}};

std::optional<Command> commandNamed(const QString &name) {
    if (name == QLatin1String("scan"))
        return Command::Scan;
    if (name == QLatin1String("set-network"))
        return Command::SetNetwork;
    if (name == QLatin1String("set-hostname"))
        return Command::SetHostName;
    if (name == QLatin1String("set-account"))
        return Command::SetAccount;
    if (name == QLatin1String("doctor"))
        return Command::Doctor;
    if (name == QLatin1String("help"))
        return Command::Help;
    return std::nullopt;
}

std::string bytesOf(const QString &text) {
    return toLocale(text);
}

std::string dashed(const char *name) {
    return std::string("--") + name;
}

// Reads the options of one parsed command line, recording the first problem.
class Reader {
public:
    explicit Reader(const QCommandLineParser &parser) : parser_(parser) {}

    bool failed() const { return !error_.empty(); }
    const std::string &error() const { return error_; }

    void fail(const std::string &message) {
        if (error_.empty())
            error_ = message;
    }

    bool isSet(const char *name) const { return parser_.isSet(QString::fromLatin1(name)); }

    std::optional<std::string> text(const char *name) {
        if (!isSet(name))
            return std::nullopt;
        return bytesOf(parser_.value(QString::fromLatin1(name)));
    }

    // A text for the device: Latin-1, at most maxLength characters.
    std::optional<std::string> bounded(const char *name, std::size_t maxLength, const char *what) {
        if (!isSet(name))
            return std::nullopt;
        std::optional<std::string> value = toLatin1(parser_.value(QString::fromLatin1(name)));
        if (!value) {
            fail(dashed(name) + ": " + notLatin1Problem(what));
            return std::nullopt;
        }
        if (value->size() > maxLength) {
            fail(dashed(name) + ": the " + what + " is longer than " + std::to_string(maxLength) +
                 " characters");
            return std::nullopt;
        }
        return value;
    }

    std::optional<std::string> address(const char *name) {
        std::optional<std::string> value = text(name);
        if (!value)
            return std::nullopt;
        std::optional<std::string> canonical = canonicalIpv4(*value);
        if (!canonical)
            fail(dashed(name) + ": '" + *value + "' is not an IPv4 address");
        return canonical;
    }

    std::optional<std::uint64_t> number(const char *name, std::uint64_t low, std::uint64_t high) {
        std::optional<std::string> value = text(name);
        if (!value)
            return std::nullopt;
        const std::string range = std::to_string(low) + " to " + std::to_string(high);
        bool digits = !value->empty() && value->size() <= 10;
        for (char c : *value)
            digits = digits && std::isdigit(static_cast<unsigned char>(c));
        const std::uint64_t n = digits ? std::stoull(*value) : 0;
        if (!digits || n < low || n > high) {
            fail(dashed(name) + ": '" + *value + "' is not a number from " + range);
            return std::nullopt;
        }
        return n;
    }

    // One of the given words; the index of the word.
    std::optional<int> choice(const char *name, const std::vector<const char *> &words) {
        std::optional<std::string> value = text(name);
        if (!value)
            return std::nullopt;
        std::string list;
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (*value == words[i])
                return static_cast<int>(i);
            list += (i == 0 ? "" : (i + 1 == words.size() ? " or " : ", "));
            list += words[i];
        }
        fail(dashed(name) + ": '" + *value + "' is not " + list);
        return std::nullopt;
    }

private:
    const QCommandLineParser &parser_;
    std::string error_;
};

void addOptions(QCommandLineParser &parser, const std::vector<OptionDef> &defs,
                std::vector<const char *> &names) {
    for (const OptionDef &fields : defs) {
        QCommandLineOption option(QString::fromLatin1(fields.name));
        if (fields.valueName != nullptr)
            option.setValueName(QString::fromLatin1(fields.valueName));
        parser.addOption(option);
        names.push_back(fields.name);
    }
}

void readNetworkChanges(Reader &reader, NetworkChanges &changes) {
    if (std::optional<int> mode = reader.choice("mode", {"dhcp", "static", "pppoe"}))
        changes.mode = *mode == 0   ? KOVA_MODE_DHCP
                       : *mode == 1 ? KOVA_MODE_STATIC
                                    : KOVA_MODE_PPPOE;
    changes.ipAddress = reader.address("ip");
    changes.netMask = reader.address("netmask");
    changes.gateway = reader.address("gateway");
    changes.dnsServer = reader.address("dns");
    changes.pppoeUserName = reader.bounded("pppoe-user", kMaxPppoeUser, "PPPoE user name");
    changes.pppoeServiceName =
        reader.bounded("pppoe-service", kMaxPppoeService, "PPPoE service name");
    if (std::optional<std::uint64_t> mtu = reader.number("mtu", 0, kMaxMtu))
        changes.mtu = static_cast<std::uint32_t>(*mtu);
    if (std::optional<int> dnsMode = reader.choice("dns-mode", {"auto", "manual"}))
        changes.dnsMode = static_cast<std::uint8_t>(*dnsMode);
    changes.pppoeDnsServer = reader.address("pppoe-dns");
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
    ParseOutcome outcome;
    if (arguments.isEmpty()) {
        outcome.error = "no command given (try --help)";
        return outcome;
    }
    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        outcome.commandLine = CommandLine{};
        return outcome;
    }
    const std::optional<Command> command = commandNamed(first);
    if (!command) {
        outcome.error = first.startsWith(QLatin1Char('-'))
                            ? "no command given before '" + bytesOf(first) + "' (try --help)"
                            : "unknown command '" + bytesOf(first) + "' (try --help)";
        return outcome;
    }
    if (*command == Command::Help) {
        CommandLine help;
        if (arguments.size() > 1) {
            const std::optional<Command> about = commandNamed(arguments.at(1));
            if (!about || arguments.size() > 2) {
                outcome.error = "help: expected one command name";
                return outcome;
            }
            help.helpFor = *about;
        }
        outcome.commandLine = help;
        return outcome;
    }

    QCommandLineParser parser;
    std::vector<const char *> names;
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    addOptions(parser, kCommonOptions, names);
    if (*command == Command::Scan) {
        addOptions(parser, kScanOptions, names);
    } else if (*command == Command::Doctor) {
        addOptions(parser, kDoctorOptions, names);
    } else {
        addOptions(parser, kConfigOptions, names);
        if (*command == Command::SetNetwork)
            addOptions(parser, kNetworkOptions, names);
        else if (*command == Command::SetHostName)
            addOptions(parser, kHostNameOptions, names);
        else
            addOptions(parser, kAccountOptions, names);
    }

    QStringList withProgram = arguments;
    withProgram.first() = QStringLiteral("veltrona-cli");
    if (!parser.parse(withProgram)) {
        outcome.error = bytesOf(first) + ": " + bytesOf(parser.errorText());
        return outcome;
    }
    CommandLine line;
    if (parser.isSet(QStringLiteral("help"))) {
        line.command = Command::Help;
        line.helpFor = *command;
        outcome.commandLine = line;
        return outcome;
    }
    if (!parser.positionalArguments().isEmpty()) {
        outcome.error = bytesOf(first) + ": unexpected argument '" +
                        bytesOf(parser.positionalArguments().first()) + "'";
        return outcome;
    }
    for (const char *name : names) {
        if (parser.optionNames().count(QString::fromLatin1(name)) > 1) {
            outcome.error = dashed(name) + ": given more than once";
            return outcome;
        }
    }

    line.command = *command;
    Reader reader(parser);
    if (reader.isSet("bind"))
        line.bindAddress = reader.address("bind").value_or("");
    if (std::optional<std::uint64_t> seconds = reader.number("seconds", 1, kMaxSeconds))
        line.seconds = static_cast<int>(*seconds);

    if (*command == Command::Scan) {
        if (std::optional<int> format = reader.choice("format", {"table", "csv", "json"}))
            line.format = static_cast<Format>(*format);
        line.showSecrets = reader.isSet("show-secrets");
    } else if (*command == Command::Doctor) {
        if (std::optional<int> format = reader.choice("format", {"table", "json"}))
            line.format = *format == 0 ? Format::Table : Format::Json;
        line.probe = reader.isSet("probe");
    } else {
        if (std::optional<std::string> mac = reader.text("mac")) {
            if (std::optional<MacAddress> parsed = parseMac(*mac))
                line.mac = *parsed;
            else
                reader.fail("--mac: '" + *mac +
                            "' is not a MAC address (six hexadecimal pairs joined by - or :)");
        } else {
            reader.fail("--mac: the device's MAC address is required");
        }
        if (std::optional<std::string> user = reader.bounded("user", kMaxUserId, "ID")) {
            if (user->empty())
                reader.fail("--user: the ID must not be empty");
            line.userId = *user;
        }
        line.passwordFile = reader.text("password-file");
        line.reportPath = reader.text("report");

        if (*command == Command::SetNetwork) {
            readNetworkChanges(reader, line.network);
            line.pppoePasswordFile = reader.text("pppoe-password-file");
            line.askPppoePassword = reader.isSet("ask-pppoe-password");
            if (line.pppoePasswordFile && line.askPppoePassword)
                reader.fail("--ask-pppoe-password: not together with --pppoe-password-file");
        } else if (*command == Command::SetHostName) {
            line.hostName = reader.bounded("host", kMaxHostName, "host name");
            line.domainName = reader.bounded("domain", kMaxDomainName, "domain name");
            if (!reader.failed() && !line.hostName && !line.domainName)
                reader.fail("set-hostname: nothing to change (give --host or --domain)");
        } else {
            if (std::optional<int> guest = reader.choice("guest", {"yes", "no"}))
                line.guest = *guest == 0;
            line.newPasswordFile = reader.text("new-password-file");
        }
    }
    if (reader.failed()) {
        outcome.error = reader.error();
        return outcome;
    }
    outcome.commandLine = line;
    return outcome;
}

std::string usageText(Command command) {
    const std::string common =
        "  --bind ADDR            local IPv4 address to use (default: any)\n"
        "  --seconds N            how long to wait, 1 to 3600 (default: 5)\n";
    const std::string config =
        "  --mac MAC              the device, e.g. 00-1A-2B-3C-4D-5E or 00:1a:2b:3c:4d:5e\n"
        "  --user ID              administrator ID, 1 to 8 characters (default: root)\n"
        "  --password-file FILE   administrator password (else $VELTRONA_PASSWORD, else a "
        "prompt)\n"
        "  --report FILE          write the outcome to FILE as apply does (JSON when it ends\n"
        "                         in .json, else CSV)\n"
        "The change is confirmed by a new scan. Exit codes: 0 applied and confirmed,\n"
        "1 authentication failed, 2 no device or no answer, 3 refused by the library,\n"
        "4 the device refused or does not show the change, 64 usage or checks (nothing\n"
        "was sent).\n";
    switch (command) {
    case Command::Scan:
        return "usage: veltrona-cli scan [options]\n"
               "Lists the devices that answer a discovery.\n" +
               common +
               "  --format FORMAT        table (default), csv or json\n"
               "  --show-secrets         include the PPPoE password\n";
    case Command::SetNetwork:
        return "usage: veltrona-cli set-network --mac MAC [options]\n"
               "Changes a device's network settings; settings not given keep their values.\n" +
               common + config +
               "  --mode MODE            dhcp, static or pppoe\n"
               "  --ip A, --netmask A, --gateway A, --dns A     static settings\n"
               "  --pppoe-user U         PPPoE user name, at most 16 characters\n"
               "  --pppoe-service S      PPPoE service name, at most 32 characters\n"
               "  --mtu N                MTU, 0 to 65535\n"
               "  --dns-mode MODE        auto or manual\n"
               "  --pppoe-dns A          PPPoE DNS server\n"
               "  --pppoe-password-file FILE   new PPPoE password (else "
               "$VELTRONA_PPPOE_PASSWORD)\n"
               "  --ask-pppoe-password   prompt for the new PPPoE password\n";
    case Command::SetHostName:
        return "usage: veltrona-cli set-hostname --mac MAC [--host H] [--domain D] [options]\n"
               "Changes a device's host and domain name; a name not given keeps its value.\n" +
               common + config +
               "  --host H               host name, at most 32 characters\n"
               "  --domain D             domain name, at most 64 characters\n";
    case Command::SetAccount:
        return "usage: veltrona-cli set-account --mac MAC [--guest yes|no] [options]\n"
               "Sets a device's administrator password and guest access.\n" +
               common + config +
               "  --guest yes|no         allow the guest account (default: keep)\n"
               "  --new-password-file FILE   new password (else $VELTRONA_NEW_PASSWORD, else a "
               "prompt)\n";
    case Command::Doctor:
        return "usage: veltrona-cli doctor [options]\n"
               "Checks why a scan may find no device: the interfaces a scan uses, reverse-path\n"
               "filtering, the local port, the receive buffer and the firewall. Nothing is sent\n"
               "unless --probe is given.\n" +
               common +
               "  --format FORMAT        table (default) or json\n"
               "  --probe                send one discovery per interface and count the answers\n"
               "Exit codes: 0 nothing found, 1 a problem or warning found, 64 usage error.\n";
    case Command::Help:
        break;
    }
    return "usage: veltrona-cli COMMAND [options]\n"
           "Finds KOVA video devices on the local network and changes their settings.\n"
           "Commands:\n"
           "  scan           list the devices that answer\n"
           "  set-network    change a device's network settings\n"
           "  set-hostname   change a device's host and domain name\n"
           "  set-account    change a device's administrator password and guest access\n"
           "  plan           scan and write a plan of changes for many devices\n"
           "  apply PLAN     check a plan, send its changes and confirm them\n"
           "  doctor         check why a scan may find no device\n"
           "  help COMMAND   the options of a command (or COMMAND --help)\n"
           "  --version      print the version\n"
           "Exit codes: 0 success, 1 authentication failed, 2 device not found or no answer,\n"
           "3 refused by the library, 4 the device did not confirm the change, 5 apply: some\n"
           "rows were not applied and confirmed, 64 usage error (or a wrong plan),\n"
           "74 standard output could not be written.\n";
}

} // namespace veltrona::cli
