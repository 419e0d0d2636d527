#include "secrets.h"

#include "password.h"

#include <fcntl.h>
#include <string.h> // explicit_bzero
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>

namespace veltrona {

namespace {

constexpr std::size_t kMaxFileBytes = 4096;

// The prompt's terminal states, and whether echo is off; the signal handler
// reads them.
struct termios g_savedTerminal;
struct termios g_quietTerminal;
volatile std::sig_atomic_t g_echoOff = 0;

// Signals that end or stop the process, and SIGCONT. While the prompt runs they
// restore the terminal first; SIGCONT turns echo off again.
constexpr int kPromptSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGALRM,
                                  SIGUSR1, SIGUSR2, SIGTSTP, SIGCONT};

sigset_t promptSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kPromptSignals)
        sigaddset(&set, signal);
    return set;
}

extern "C" void onPromptSignal(int signal) {
    const int savedErrno = errno;
    if (signal != SIGCONT) {
        if (g_echoOff != 0)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
        // The signal's own action, at once: the process ends, or stops (SIGTSTP).
        struct sigaction ours {};
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        sigaction(signal, &standard, &ours);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        raise(signal);
        sigprocmask(SIG_UNBLOCK, &only, nullptr);
        // Here only after a stop (or a stop that an orphaned process group
        // does not take): back to the prompt.
        sigaction(signal, &ours, nullptr);
    }
    if (g_echoOff != 0)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_quietTerminal);
    errno = savedErrno;
}

// The text up to the first line end.
std::string firstLine(const std::string &text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

void wipe(std::string &secret) {
    secret.resize(secret.capacity());
    explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

int openPrivateFile(const std::string &path, std::string &error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0)
        error = "cannot read " + path + ": " + std::strerror(errno);
    else if (!S_ISREG(status.st_mode))
        error = path + " is not a regular file";
    else if (status.st_uid != geteuid())
        error = path + " belongs to user " + std::to_string(status.st_uid) +
                ", not to the user running veltrona-cli (" + std::to_string(geteuid()) +
                "); a file of secrets must be its own";
    else if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        error = path + " can be read or changed by others than its owner; make it private " +
                "(chmod 600) and give the passwords new values if others may have read them";
    else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = "cannot read " + path + ": " + std::strerror(errno);
    else
        return fd;
    close(fd);
    return -1;
}

std::optional<std::string> readSecretFile(const std::string &path, std::string &error) {
    const int fd = openPrivateFile(path, error);
    if (fd < 0)
        return std::nullopt;
    std::string content(kMaxFileBytes + 1, '\0');
    std::size_t got = 0;
    bool failed = false;
    while (got < content.size()) {
        const ssize_t n = read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        failed = n < 0;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (failed) {
        wipe(content);
        error = "cannot read " + path;
        return std::nullopt;
    }
    content.resize(got);
    std::string line = firstLine(content);
    wipe(content);
    if (line.size() > kMaxFileBytes) {
        wipe(line);
        error = path + " is too long";
        return std::nullopt;
    }
    if (line.find('\0') != std::string::npos) {
        wipe(line);
        error = path + " holds a zero byte";
        return std::nullopt;
    }
    return line;
}

std::optional<std::string> promptWithoutEcho(const std::string &prompt) {
    std::cerr << prompt << std::flush;
    struct termios terminal {};
    const bool haveTerminal = tcgetattr(STDIN_FILENO, &terminal) == 0;
    struct sigaction previous[std::size(kPromptSignals)] = {};
    const sigset_t handled = promptSignalSet();
    sigset_t mask;
    if (haveTerminal) {
        // Signals wait until the handlers and the flag agree with the terminal.
        sigprocmask(SIG_BLOCK, &handled, &mask);
        g_savedTerminal = terminal;
        g_quietTerminal = terminal;
        g_quietTerminal.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        g_quietTerminal.c_lflag |= ECHONL;
        struct sigaction action {};
        action.sa_handler = onPromptSignal;
        action.sa_mask = handled;
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i) {
            sigaction(kPromptSignals[i], nullptr, &previous[i]);
            if (previous[i].sa_handler != SIG_IGN) // an ignored signal stays ignored
                sigaction(kPromptSignals[i], &action, nullptr);
        }
        g_echoOff = tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_quietTerminal) == 0 ? 1 : 0;
        sigprocmask(SIG_SETMASK, &mask, nullptr);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (haveTerminal) {
        sigprocmask(SIG_BLOCK, &handled, &mask);
        if (g_echoOff != 0)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
        g_echoOff = 0;
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i)
            sigaction(kPromptSignals[i], &previous[i], nullptr);
        sigprocmask(SIG_SETMASK, &mask, nullptr);
    }
    if (!read) {
        std::cerr << '\n';
        wipe(line);
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void keepSecretsOutOfCoreFiles() {
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

SecretOutcome readSecret(const SecretSource &source, bool interactive,
                         const PromptFunction &prompt) {
    keepSecretsOutOfCoreFiles();
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
    } else if (char *environment = std::getenv(source.environmentName.c_str())) {
        origin = source.environmentName;
        value = std::string(environment);
        explicit_bzero(environment, std::strlen(environment));
    } else if (source.mayPrompt && interactive) {
        origin = "the " + source.what;
        value = prompt(source.prompt);
        if (!value) {
            outcome.error = "no " + source.what + " was entered";
            return outcome;
        }
        if (source.confirm) {
            std::optional<std::string> again = prompt("Retype " + source.prompt);
            const bool same = again && *again == *value;
            if (again)
                wipe(*again);
            if (!same) {
                wipe(*value);
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
    std::string problem;
    std::optional<std::string> latin1 = passwordFromLocale(*value, source.maxLength, problem);
    wipe(*value);
    if (!latin1) {
        outcome.error = origin + ": the " + source.what + " " + problem;
        return outcome;
    }
    *value = std::move(*latin1);
    wipe(*latin1); // a short text stays in the moved-from string's own buffer
    outcome.value = std::move(value);
    wipe(*value);
    return outcome;
}

} // namespace veltrona
