#pragma once
// Passwords for the command-line client: never taken from its command line, but
// from a file, from the environment, or from a prompt without echo.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace veltrona {

// Shows the prompt and reads one line; nothing when no line could be read.
using PromptFunction = std::function<std::optional<std::string>(const std::string &prompt)>;

struct SecretSource {
    std::string fileOption;          // e.g. "--password-file", named in messages
    std::optional<std::string> file; // the file given with that option
    std::string environmentName;     // e.g. "VELTRONA_PASSWORD"
    std::string prompt;              // e.g. "Password: "
    std::string what;                // e.g. "password", named in messages
    std::size_t maxLength = 16;      // in bytes
    bool mayPrompt = true;           // whether a prompt may be used at all
    bool confirm = false;            // ask twice at the prompt
    bool required = true;            // an error when no source gives it
};

struct SecretOutcome {
    std::optional<std::string> value; // nothing: not given (and not required), or error
    std::string error;                // what went wrong, naming the option or variable
};

// Makes the process non-dumpable (no core file, no ptrace by the same user)
// for the rest of its run; called before any password is read.
void keepSecretsOutOfCoreFiles();

// Takes the secret from the file when one is named, else from the environment
// variable when it is set (even to an empty text; its value is then overwritten
// in place), else from the prompt when `interactive` and prompting is allowed.
// The value is decoded and checked by veltrona::passwordFromLocale.
SecretOutcome readSecret(const SecretSource &source, bool interactive,
                         const PromptFunction &prompt);

// Opens a file that holds secrets for reading: without blocking (a FIFO or a
// device cannot hold the open), then checked before anything is read: a
// regular file, owned by the user running the client (root too) and private
// to that user (no access for group or others). The descriptor, or -1 with
// `error` naming the file.
int openPrivateFile(const std::string &path, std::string &error);

// The first line of a file without its line end; at most 4096 bytes are read.
// The file is opened with openPrivateFile.
std::optional<std::string> readSecretFile(const std::string &path, std::string &error);

// Prompts on standard error and reads a line from standard input with echo
// turned off (standard input must be a terminal).
std::optional<std::string> promptWithoutEcho(const std::string &prompt);

// Overwrites every byte the string holds, then empties it.
void wipe(std::string &secret);

} // namespace veltrona
