#include "secrets.h"

#include "commandline.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

namespace veltrona::cli {

namespace {

constexpr std::size_t kMaxFileBytes = 4096;

// Terminal state to restore if the prompt is interrupted.
struct termios g_savedTerminal;
volatile std::sig_atomic_t g_echoOff = 0;

extern "C" void restoreTerminalAndRaise(int signal) {
    if (g_echoOff != 0)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The text up to the first line end.
std::string firstLine(const std::string &text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

std::optional<std::string> readSecretFile(const std::string &path, std::string &error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string content(kMaxFileBytes + 1, '\0');
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (file.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    content.resize(static_cast<std::size_t>(file.gcount()));
    const std::string line = firstLine(content);
    if (line.size() > kMaxFileBytes) {
        error = path + " is too long";
        return std::nullopt;
    }
    if (line.find('\0') != std::string::npos) {
        error = path + " holds a zero byte";
        return std::nullopt;
    }
    return line;
}

std::optional<std::string> promptWithoutEcho(const std::string &prompt) {
    std::cerr << prompt << std::flush;
    struct termios terminal {};
    const bool haveTerminal = tcgetattr(STDIN_FILENO, &terminal) == 0;
    void (*previous)(int) = SIG_DFL;
    if (haveTerminal) {
        g_savedTerminal = terminal;
        previous = std::signal(SIGINT, restoreTerminalAndRaise);
        terminal.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        terminal.c_lflag |= ECHONL;
        g_echoOff = tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminal) == 0 ? 1 : 0;
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (haveTerminal) {
        if (g_echoOff != 0)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
        g_echoOff = 0;
        std::signal(SIGINT, previous);
    }
    if (!read) {
        std::cerr << '\n';
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

SecretOutcome readSecret(const SecretSource &source, bool interactive,
                         const PromptFunction &prompt) {
    SecretOutcome outcome;
    std::string origin;
    std::optional<std::string> value;
    if (source.file) {
        origin = source.fileOption;
        std::string error;
        value = readSecretFile(*source.file, error);
        if (!value) {
            outcome.error = origin + ": " + error;
            return outcome;
        }
    } else if (const char *environment = std::getenv(source.environmentName.c_str())) {
        origin = source.environmentName;
        value = std::string(environment);
    } else if (source.mayPrompt && interactive) {
        origin = "the " + source.what;
        value = prompt(source.prompt);
        if (!value) {
            outcome.error = "no " + source.what + " was entered";
            return outcome;
        }
        if (source.confirm) {
            const std::optional<std::string> again = prompt("Retype " + source.prompt);
            if (!again || *again != *value) {
                outcome.error = "the two " + source.what + "s differ";
                return outcome;
            }
        }
    } else {
        if (source.required) {
            outcome.error = "no " + source.what + ": give " + source.fileOption + " FILE or set " +
                            source.environmentName;
            if (source.mayPrompt)
                outcome.error += " (or run it on a terminal to be asked)";
        }
        return outcome;
    }
    if (std::optional<std::string> latin1 = toLatin1(fromLocale(*value))) {
        value = std::move(latin1);
    } else {
        outcome.error = origin + ": " + notLatin1Problem(source.what);
        return outcome;
    }
    if (value->size() > source.maxLength) {
        outcome.error = origin + ": the " + source.what + " is longer than " +
                        std::to_string(source.maxLength) + " characters";
        return outcome;
    }
    outcome.value = value;
    return outcome;
}

} // namespace veltrona::cli
