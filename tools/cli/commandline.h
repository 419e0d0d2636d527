#pragma once
// The command line of veltrona-cli: commands, options, their checks and the
// exit codes. Everything here is checked before the KOVA library is touched.

#include "changeengine.h"
#include "commandtable.h"
#include "devicerow.h"
#include "password.h"

#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace veltrona::cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitAuthFailed = 1;   // "Authentication Failed!"
inline constexpr int kExitNoDevice = 2;     // device not found, or no answer in time
inline constexpr int kExitRefused = 3;      // the library refused (its error text is printed)
inline constexpr int kExitNotConfirmed = 4; // the device answered, but not with success
inline constexpr int kExitUsage = 64;       // bad command line or input; nothing was sent
inline constexpr int kExitOutput = 74;      // standard output could not be written

// Longest texts a request can carry, in bytes.
using change::kMaxDomainName;
using change::kMaxHostName;
using change::kMaxPppoeService;
using change::kMaxPppoeUser;
inline constexpr std::size_t kMaxPppoePassword = 32;

enum class Format { Table, Csv, Json };

using MacAddress = std::array<std::uint8_t, 6>;

// The six bytes of a MAC address as one number, for maps and sets.
inline std::uint64_t macKey(const std::uint8_t *mac) {
    std::uint64_t key = 0;
    for (int i = 0; i < 6; ++i)
        key = key << 8 | mac[i];
    return key;
}

// Network settings named on the command line; the others keep the device's values.
using NetworkChanges = change::NetworkChanges;
// User, password and optional new password, Latin-1: as the change engine sends them.
using Credentials = change::Credentials;

struct CommandLine {
    Command command = Command::Help;
    Command helpFor = Command::Help; // with Command::Help: the command whose help is wanted
    bool version = false;            // --version or -V: print the version

    // The checked options as the table reads them (plan and apply read them here).
    Arguments arguments;

    // Every command.
    std::string bindAddress; // canonical dotted text, empty for any local address
    int seconds = kDefaultSeconds;

    // scan
    Format format = Format::Table;
    bool showSecrets = false;

    // doctor (and format)
    bool probe = false;

    // Configuration commands.
    MacAddress mac{};
    std::string userId = "root";
    std::optional<std::string> passwordFile;

    // set-network
    NetworkChanges network;
    std::optional<std::string> pppoePasswordFile;
    bool askPppoePassword = false;

    // set-hostname
    std::optional<std::string> hostName;
    std::optional<std::string> domainName;

    // set-account
    std::optional<bool> guest;
    std::optional<std::string> newPasswordFile;

    // set-network, set-hostname, set-account: where the outcome is written.
    std::optional<std::string> reportPath;
};

struct ParseOutcome {
    std::optional<CommandLine> commandLine;
    std::string error; // when there is no command line: what is wrong, naming the option
};

// Texts go to devices as Latin-1, one byte per character, as the window sends
// them: the bytes of `text`, or nothing when it holds a character that Latin-1
// cannot hold.
std::optional<std::string> toLatin1(const QString &text);

// Why a text cannot be sent, for messages: "the <what> holds ...".
std::string notLatin1Problem(const std::string &what);

// Parses the arguments that follow the program name; --bind names one of
// `interfaces` or an address.
ParseOutcome parseCommandLine(const QStringList &arguments, const Interfaces &interfaces);
ParseOutcome parseCommandLine(const QStringList &arguments);

} // namespace veltrona::cli
