#pragma once
// The one table of veltrona-cli's commands and their options. The parser, the
// range and choice checks, the usage texts, `help COMMAND` and the bash
// completion all read it; a test holds the manual page and docs/cli.md to it.

#include "changeengine.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrona::cli {

// How long a command listens (--seconds), and the largest MTU (--mtu).
inline constexpr int kDefaultSeconds = 5;
inline constexpr int kMaxSeconds = 3600;
using change::kMaxMtu;

// Decodes `bytes` from the character set of the locale (LC_CTYPE, as set by
// setlocale). A byte that does not decode is kept apart (as a lone surrogate),
// so that toLocale gives back the same bytes and toLatin1 refuses it.
QString fromLocale(const std::string &bytes);
std::string toLocale(const QString &text);

using change::canonicalIpv4;

enum class Command { Help, Scan, SetNetwork, SetHostName, SetAccount, Plan, Apply, Doctor };

// What an option's value is, and so how it is checked and completed.
enum class ValueKind {
    Switch,  // no value
    Text,    // any text; the command checks it further
    Number,  // digits only, from low to high
    Choice,  // one of words
    Address, // a dotted IPv4 address, kept in canonical form
    Bind,    // an IPv4 address or the name of an interface with one
    File,    // a file name; completed as one
};

struct OptionEntry {
    OptionEntry(const char *name, const char *valueName, ValueKind kind, const char *help,
                std::uint64_t low = 0, std::uint64_t high = 0, std::vector<const char *> words = {})
        : name(name), valueName(valueName), kind(kind), help(help), low(low), high(high),
          words(std::move(words)) {}

    const char *name;      // without the leading "--"
    const char *valueName; // nullptr for a switch
    ValueKind kind;
    const char *help;                // one line for the usage text ('\n' continues it)
    std::uint64_t low, high;         // Number: the range
    std::vector<const char *> words; // Choice: the words, in the order of their index
};

struct CommandEntry {
    Command command;
    const char *name;
    const char *arguments; // what follows the name in the usage line
    const char *summary;   // one line for the list of commands
    const char *description;
    std::vector<OptionEntry> options;
    const char *footer;         // exit codes and notes after the options
    std::size_t positionals;    // words that are not options (apply: the plan)
    const char *positionalName; // what they are, for messages
};

// Every command but help, in the order the usage lists them.
const std::vector<CommandEntry> &commandTable();
const CommandEntry *findCommand(std::string_view name);
const OptionEntry *findOption(const CommandEntry &command, std::string_view name);

// The candidate closest to `word` when it is close enough to be a likely
// typing slip, else empty.
std::string closestWord(std::string_view word, const std::vector<std::string> &candidates);

// The host's interfaces with their IPv4 addresses (dotted), by name; an
// interface without one is listed with none.
using Interfaces = std::map<std::string, std::vector<std::string>>;
Interfaces interfaceAddresses();

// --bind's value: an IPv4 address, or an interface with exactly one. The
// address in canonical form, or an error naming the option.
struct BindOutcome {
    std::string address;
    std::string error;
};
BindOutcome resolveBind(const std::string &text, const Interfaces &interfaces);

// A command's words after its name, checked against its table: every value is
// of its kind and in its range (numbers, choices), addresses canonical, --bind
// resolved.
class Arguments {
public:
    const CommandEntry *command = nullptr; // the command whose table it was checked against
    bool help = false;
    std::vector<QString> positionals;

    bool isSet(const char *name) const { return values_.count(name) != 0; }
    // The value as typed (Address and Bind: the canonical address).
    QString value(const char *name) const;
    // The value's bytes in the locale, e.g. a file name.
    std::string text(const char *name) const;
    std::uint64_t number(const char *name, std::uint64_t fallback) const;
    // Choice: the index of the word given, or -1 when not given.
    int choice(const char *name) const;

    void set(const std::string &name, const QString &value) { values_[name] = value; }

private:
    std::map<std::string, QString, std::less<>> values_;
};

// Parses the words that follow the command's name; an error text (naming the
// option, with a suggestion for an unknown one) when they are wrong.
std::string parseArguments(const CommandEntry &command, const QStringList &words, Arguments &out,
                           const Interfaces &interfaces);

// The usage text of a command (Command::Help: of the whole program).
std::string usageText(Command command);

// What bash may offer for the word `current` after `words` (the words after
// the program's name). The one line "<file>" asks for file names.
std::vector<std::string> completions(const std::vector<std::string> &words,
                                     const std::string &current, const Interfaces &interfaces);

} // namespace veltrona::cli
