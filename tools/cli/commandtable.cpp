#include "commandtable.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cwchar>
#include <optional>

namespace veltrona::cli {

namespace {

// A byte that does not decode in the locale is kept as U+DC00 plus the byte (a
// lone surrogate, which no decoded text holds), so that file names pass through
// unchanged and device texts refuse it.
constexpr char32_t kEscapedByte = 0xDC00;

using K = ValueKind;

// Options that several commands share.
OptionEntry bindOption() {
    return {"bind", "ADDR|IFNAME", K::Bind,
            "local IPv4 address, or interface with one, to use (default: any)"};
}
OptionEntry secondsOption(const char *help) {
    return {"seconds", "N", K::Number, help, 1, kMaxSeconds};
}
const char *kScanSeconds = "how long to wait, 1 to 3600 (default: 5)";
const char *kBatchSeconds = "how long each scan listens and each request waits for its\n"
                            "answer, 1 to 3600 (default: 5)";

std::vector<OptionEntry> configOptions(std::vector<OptionEntry> own) {
    std::vector<OptionEntry> options = {
        bindOption(),
        secondsOption(kScanSeconds),
        {"mac", "MAC", K::Text, "the device, e.g. 00-1A-2B-3C-4D-5E or 00:1a:2b:3c:4d:5e"},
        {"user", "ID", K::Text, "administrator ID, 1 to 8 characters (default: root)"},
        {"password-file", "FILE", K::File,
         "administrator password (else $VELTRONA_PASSWORD, else a prompt)"},
        {"report", "FILE", K::File,
         "write the outcome to FILE as apply does (JSON when it ends\nin .json, else CSV)"},
    };
    options.insert(options.end(), own.begin(), own.end());
    return options;
}

const char *kConfigFooter =
    "The change is confirmed by a new scan. Exit codes: 0 applied and confirmed,\n"
    "1 authentication failed, 2 no device or no answer, 3 refused by the library,\n"
    "4 the device refused or does not show the change, 64 usage or checks (nothing\n"
    "was sent).\n";

std::vector<CommandEntry> makeTable() {
    return {
        {Command::Scan,
         "scan",
         "[options]",
         "list the devices that answer",
         "Lists the devices that answer a discovery.\n",
         {bindOption(),
          secondsOption(kScanSeconds),
          {"format",
           "FORMAT",
           K::Choice,
           "table (default), csv or json",
           0,
           0,
           {"table", "csv", "json"}},
          {"show-secrets", nullptr, K::Switch, "include the PPPoE password"}},
         "",
         0,
         nullptr},
        {Command::SetNetwork, "set-network", "--mac MAC [options]",
         "change a device's network settings",
         "Changes a device's network settings; settings not given keep their values.\n",
         configOptions({
             {"mode",
              "MODE",
              K::Choice,
              "dhcp, static or pppoe",
              0,
              0,
              {"dhcp", "static", "pppoe"}},
             {"ip", "A", K::Address, "static IPv4 address"},
             {"netmask", "A", K::Address, "static netmask"},
             {"gateway", "A", K::Address, "static gateway"},
             {"dns", "A", K::Address, "static DNS server"},
             {"pppoe-user", "U", K::Text, "PPPoE user name, at most 16 characters"},
             {"pppoe-service", "S", K::Text, "PPPoE service name, at most 32 characters"},
             {"mtu", "N", K::Number, "MTU, 0 to 65535", 0, kMaxMtu},
             {"dns-mode", "MODE", K::Choice, "auto or manual", 0, 0, {"auto", "manual"}},
             {"pppoe-dns", "A", K::Address, "PPPoE DNS server"},
             {"pppoe-password-file", "FILE", K::File,
              "new PPPoE password (else $VELTRONA_PPPOE_PASSWORD)"},
             {"ask-pppoe-password", nullptr, K::Switch, "prompt for the new PPPoE password"},
         }),
         kConfigFooter, 0, nullptr},
        {Command::SetHostName, "set-hostname", "--mac MAC [--host H] [--domain D] [options]",
         "change a device's host and domain name",
         "Changes a device's host and domain name; a name not given keeps its value.\n",
         configOptions({{"host", "H", K::Text, "host name, at most 32 characters"},
                        {"domain", "D", K::Text, "domain name, at most 64 characters"}}),
         kConfigFooter, 0, nullptr},
        {Command::SetAccount, "set-account", "--mac MAC [--guest yes|no] [options]",
         "change a device's administrator password and guest access",
         "Sets a device's administrator password and guest access.\n",
         configOptions({{"guest",
                         "yes|no",
                         K::Choice,
                         "allow the guest account (default: keep)",
                         0,
                         0,
                         {"yes", "no"}},
                        {"new-password-file", "FILE", K::File,
                         "new password (else $VELTRONA_NEW_PASSWORD, else a prompt)"}}),
         kConfigFooter, 0, nullptr},
        {Command::Plan,
         "plan",
         "[options] > PLAN.csv",
         "scan and write a plan of changes for many devices",
         "Scans and writes a plan: one row per device with its current settings and the\n"
         "new values to give it (blank: keep).\n",
         {bindOption(),
          secondsOption(kBatchSeconds),
          {"format", "FORMAT", K::Choice, "csv (default) or json", 0, 0, {"csv", "json"}},
          {"static-range", "FIRST-LAST", K::Text, "consecutive static addresses, one per device"},
          {"netmask", "A", K::Address, "with --static-range (needed): the netmask"},
          {"gateway", "A", K::Address, "with --static-range (needed): the gateway"},
          {"dns", "A", K::Address, "with --static-range: the DNS server"},
          {"order",
           "COLUMN",
           K::Choice,
           "mac (default), ip, model or serial: the order of the rows",
           0,
           0,
           {"mac", "ip", "model", "serial"}},
          {"hostname-pattern", "PATTERN", K::Text,
           "new host names: {n} counter, {n:03} counter with\n3 digits, {mac} last MAC bytes, "
           "{serial} serial number"},
          {"only-model", "MODEL", K::Text, "only devices of this model"},
          {"only-mode",
           "MODE",
           K::Choice,
           "only devices now in this mode: static, dhcp or pppoe",
           0,
           0,
           {"static", "dhcp", "pppoe"}},
          {"only-macs", "FILE", K::File, "only the devices listed in FILE, one MAC a line"}},
         "",
         0,
         nullptr},
        {Command::Apply,
         "apply",
         "PLAN [options]",
         "check a plan, send its changes and confirm them",
         "Checks every row of a plan, then sends each device its changes (host name and\n"
         "account before network settings) and confirms them with a new scan. A request\n"
         "whose values the device shows already is not sent (a new password always is).\n",
         {bindOption(),
          secondsOption(kBatchSeconds),
          {"user", "ID", K::Text, "administrator ID for every device (default: root)"},
          {"password-file", "FILE", K::File,
           "administrator password for every device (else\n$VELTRONA_PASSWORD, else a prompt)"},
          {"secrets", "FILE", K::File, "CSV with mac,user,password[,new_password] per device"},
          {"dry-run", nullptr, K::Switch,
           "print each change as it is and as it will be; send nothing\n"
           "(with --report: each row as would-change, unchanged or\n"
           "not-found, with its values now and after)"},
          {"parallel", "N", K::Number,
           "requests awaiting their answers at once, 1 to 256 (default: 16)", 1, 256},
          {"report", "FILE", K::File,
           "write the results to FILE (JSON when it ends in .json,\nelse CSV), a journal of each "
           "row's state while running"}},
         "INT, TERM or HUP stop sending; answers in flight are awaited 3 s at most, a\n"
         "second signal ends the run at once.\n"
         "Exit codes: 0 every row applied and confirmed, 5 some rows failed, 64 the plan or\n"
         "the command line is wrong (nothing was sent), 128+N stopped by signal N.\n",
         1,
         "plan file"},
        {Command::Doctor,
         "doctor",
         "[options]",
         "check why a scan may find no device",
         "Checks why a scan may find no device: the interfaces a scan uses, reverse-path\n"
         "filtering, the local port, the receive buffer and the firewall. Nothing is sent\n"
         "unless --probe is given.\n",
         {bindOption(),
          secondsOption(kScanSeconds),
          {"format", "FORMAT", K::Choice, "table (default) or json", 0, 0, {"table", "json"}},
          {"probe", nullptr, K::Switch, "send one discovery per interface and count the answers"}},
         "Exit codes: 0 nothing found, 1 a problem or warning found, 64 usage error.\n",
         0,
         nullptr},
    };
}

std::string dashed(const char *name) {
    return std::string("--") + name;
}

std::string alternatives(const std::vector<const char *> &words) {
    std::string list;
    for (std::size_t i = 0; i < words.size(); ++i)
        list += std::string(i == 0 ? "" : (i + 1 == words.size() ? " or " : ", ")) + words[i];
    return list;
}

std::string didYouMean(const std::string &suggestion) {
    return suggestion.empty() ? "" : " (did you mean " + suggestion + "?)";
}

// Optimal string alignment distance: a swap of two neighbours counts once.
std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// Checks one value against its option's kind; the value to keep, or an error.
std::string checkValue(const OptionEntry &option, QString &value, const Interfaces &interfaces) {
    const std::string typed = toLocale(value);
    const std::string name = dashed(option.name);
    switch (option.kind) {
    case K::Number: {
        bool digits = !typed.empty() && typed.size() <= 10;
        for (char c : typed)
            digits = digits && std::isdigit(static_cast<unsigned char>(c));
        const std::uint64_t n = digits ? std::stoull(typed) : 0;
        if (!digits || n < option.low || n > option.high)
            return name + ": '" + typed + "' is not a number from " + std::to_string(option.low) +
                   " to " + std::to_string(option.high);
        return {};
    }
    case K::Choice: {
        std::vector<std::string> words(option.words.begin(), option.words.end());
        if (std::find(words.begin(), words.end(), typed) != words.end())
            return {};
        return name + ": '" + typed + "' is not " + alternatives(option.words) +
               didYouMean(closestWord(typed, words));
    }
    case K::Address: {
        const std::optional<std::string> canonical = canonicalIpv4(typed);
        if (!canonical)
            return name + ": '" + typed + "' is not an IPv4 address";
        value = QString::fromStdString(*canonical);
        return {};
    }
    case K::Bind: {
        const BindOutcome bind = resolveBind(typed, interfaces);
        value = QString::fromStdString(bind.address);
        return bind.error;
    }
    default:
        return {};
    }
}

std::string columns(const std::string &label, const char *help) {
    constexpr std::size_t kHelpColumn = 25;
    std::string out = label;
    if (out.size() + 2 > kHelpColumn)
        out += '\n' + std::string(kHelpColumn, ' ');
    else
        out += std::string(kHelpColumn - out.size(), ' ');
    for (const char *c = help; *c != '\0'; ++c) {
        out += *c;
        if (*c == '\n')
            out += std::string(kHelpColumn, ' ');
    }
    return out + '\n';
}

std::vector<std::string> commandNames() {
    std::vector<std::string> names;
    for (const CommandEntry &command : commandTable())
        names.push_back(command.name);
    return names;
}

std::vector<std::string> startingWith(const std::vector<std::string> &words,
                                      const std::string &prefix) {
    std::vector<std::string> out;
    for (const std::string &word : words)
        if (word.rfind(prefix, 0) == 0)
            out.push_back(word);
    return out;
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

const std::vector<CommandEntry> &commandTable() {
    static const std::vector<CommandEntry> table = makeTable();
    return table;
}

const CommandEntry *findCommand(std::string_view name) {
    for (const CommandEntry &command : commandTable())
        if (name == command.name)
            return &command;
    return nullptr;
}

const OptionEntry *findOption(const CommandEntry &command, std::string_view name) {
    for (const OptionEntry &option : command.options)
        if (name == option.name)
            return &option;
    return nullptr;
}

std::string closestWord(std::string_view word, const std::vector<std::string> &candidates) {
    std::string best;
    std::size_t bestDistance = 0;
    for (const std::string &candidate : candidates) {
        // A word cut short names what it starts.
        const std::size_t distance =
            word.size() >= 3 && candidate.rfind(word, 0) == 0 ? 1 : editDistance(word, candidate);
        if (best.empty() || distance < bestDistance)
            best = candidate, bestDistance = distance;
    }
    const std::size_t allowed = std::max<std::size_t>(1, std::min<std::size_t>(3, word.size() / 3));
    return !best.empty() && bestDistance <= allowed ? best : std::string();
}

Interfaces interfaceAddresses() {
    Interfaces found;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
        std::vector<std::string> &addresses = found[i->ifa_name];
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto *address = reinterpret_cast<const sockaddr_in *>(i->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr)
            addresses.push_back(text);
    }
    freeifaddrs(list);
    return found;
}

BindOutcome resolveBind(const std::string &text, const Interfaces &interfaces) {
    if (const std::optional<std::string> canonical = canonicalIpv4(text))
        return {*canonical, {}};
    const auto named = interfaces.find(text);
    if (named == interfaces.end()) {
        std::vector<std::string> names;
        for (const auto &[name, addresses] : interfaces)
            names.push_back(name);
        const std::string close = closestWord(text, names);
        return {{},
                "--bind: '" + text + "' is neither an IPv4 address nor an interface of this host" +
                    didYouMean(close)};
    }
    const std::vector<std::string> &addresses = named->second;
    if (addresses.size() == 1)
        return {addresses.front(), {}};
    if (addresses.empty())
        return {{}, "--bind: interface " + text + " has no IPv4 address"};
    std::string list;
    for (const std::string &address : addresses)
        list += (list.empty() ? "" : ", ") + address;
    return {{},
            "--bind: interface " + text + " has several IPv4 addresses (" + list +
                "): give one of them"};
}

QString Arguments::value(const char *name) const {
    const auto found = values_.find(name);
    return found == values_.end() ? QString() : found->second;
}

std::string Arguments::text(const char *name) const {
    return toLocale(value(name));
}

std::uint64_t Arguments::number(const char *name, std::uint64_t fallback) const {
    return isSet(name) ? value(name).toULongLong() : fallback;
}

int Arguments::choice(const char *name) const {
    const OptionEntry *option = command ? findOption(*command, name) : nullptr;
    if (!option || !isSet(name))
        return -1;
    const std::string typed = text(name);
    for (std::size_t i = 0; i < option->words.size(); ++i)
        if (typed == option->words[i])
            return static_cast<int>(i);
    return -1;
}

std::string parseArguments(const CommandEntry &command, const QStringList &words, Arguments &out,
                           const Interfaces &interfaces) {
    out.command = &command;
    const std::string where = std::string(command.name) + ": ";
    bool optionsEnd = false;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words[i];
        if (optionsEnd || !word.startsWith(QLatin1Char('-')) || word == QLatin1String("-")) {
            out.positionals.push_back(word);
            continue;
        }
        if (word == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        if (word == QLatin1String("-h") || word == QLatin1String("--help")) {
            out.help = true;
            continue;
        }
        const qsizetype equals = word.indexOf(QLatin1Char('='));
        const std::string name = toLocale(word.mid(2, equals < 0 ? -1 : equals - 2));
        const OptionEntry *option =
            word.startsWith(QLatin1String("--")) ? findOption(command, name) : nullptr;
        if (!option) {
            std::vector<std::string> names;
            for (const OptionEntry &known : command.options)
                names.push_back(dashed(known.name));
            const std::string typed = toLocale(equals < 0 ? word : word.left(equals));
            const std::string close = closestWord(typed, names);
            return where + "unknown option '" + typed + "'" +
                   (close.empty() ? " (try " + std::string(command.name) + " --help)"
                                  : didYouMean(close));
        }
        if (out.isSet(option->name))
            return dashed(option->name) + ": given more than once";
        QString value;
        if (option->kind == K::Switch) {
            if (equals >= 0)
                return dashed(option->name) + ": takes no value";
        } else if (equals >= 0) {
            value = word.mid(equals + 1);
        } else if (i + 1 < words.size()) {
            value = words[++i];
        } else {
            return dashed(option->name) + ": a value is needed (" + option->valueName + ")";
        }
        if (std::string error = checkValue(*option, value, interfaces); !error.empty())
            return error;
        out.set(option->name, value);
    }
    if (out.help)
        return {};
    if (out.positionals.size() > command.positionals) {
        const std::size_t extra = command.positionals;
        return where + "unexpected argument '" + toLocale(out.positionals[extra]) + "'";
    }
    if (out.positionals.size() < command.positionals)
        return where + "give one " + command.positionalName + " (try " + command.name + " --help)";
    return {};
}

std::string usageText(Command which) {
    for (const CommandEntry &command : commandTable()) {
        if (command.command != which)
            continue;
        std::string text = std::string("usage: veltrona-cli ") + command.name + " " +
                           command.arguments + "\n" + command.description + "Options:\n";
        for (const OptionEntry &option : command.options)
            text += columns("  " + dashed(option.name) +
                                (option.valueName ? std::string(" ") + option.valueName : ""),
                            option.help);
        text += columns("  -h, --help", "this text");
        return text + command.footer;
    }
    std::string text = "usage: veltrona-cli COMMAND [options]\n"
                       "Finds KOVA video devices on the local network and changes their "
                       "settings.\nCommands:\n";
    for (const CommandEntry &command : commandTable()) {
        std::string label = std::string("  ") + command.name;
        if (command.positionals > 0) // apply PLAN: the word it needs
            label += " " + std::string(command.arguments)
                               .substr(0, std::string_view(command.arguments).find(' '));
        text += columns(label, command.summary);
    }
    text += columns("  help COMMAND", "the options of a command (or COMMAND --help)");
    text += columns("  -h, --help", "this text");
    text += columns("  -V, --version", "print the version");
    return text + "Exit codes: 0 success, 1 authentication failed, 2 device not found or no "
                  "answer,\n3 refused by the library, 4 the device did not confirm the change, "
                  "5 apply: some\nrows were not applied and confirmed, 64 usage error (or a "
                  "wrong plan),\n74 standard output could not be written.\n";
}

std::vector<std::string> completions(const std::vector<std::string> &words,
                                     const std::string &current, const Interfaces &interfaces) {
    const CommandEntry *command = nullptr;
    bool help = false;
    std::size_t after = 0; // words after the command's name
    for (const std::string &word : words) {
        if (command || help) {
            ++after;
        } else if (word == "help") {
            help = true;
        } else {
            command = findCommand(word);
        }
    }
    std::vector<std::string> names = commandNames();
    if (help)
        return after == 0 ? startingWith(names, current) : std::vector<std::string>{};
    if (!command) {
        if (current.rfind("-", 0) == 0)
            return startingWith({"--help", "--version"}, current);
        names.push_back("help");
        return startingWith(names, current);
    }
    // The value of the option before, when it takes one.
    if (after > 0 && words.back().rfind("--", 0) == 0 &&
        words.back().find('=') == std::string::npos)
        if (const OptionEntry *option = findOption(*command, words.back().substr(2))) {
            switch (option->kind) {
            case K::Switch:
                break;
            case K::Choice:
                return startingWith({option->words.begin(), option->words.end()}, current);
            case K::File:
                return {"<file>"};
            case K::Bind: {
                std::vector<std::string> ifnames;
                for (const auto &[name, addresses] : interfaces)
                    if (!addresses.empty())
                        ifnames.push_back(name);
                return startingWith(ifnames, current);
            }
            default:
                return {};
            }
        }
    if (command->positionals > 0 && current.rfind("-", 0) != 0)
        return {"<file>"};
    std::vector<std::string> options = {"--help"};
    for (const OptionEntry &option : command->options)
        options.push_back(dashed(option.name));
    return startingWith(options, current);
}

} // namespace veltrona::cli
