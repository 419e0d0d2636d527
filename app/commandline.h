#pragma once
// The window's command line, read before anything needs a display: --help and
// --version, Qt's own options (passed on to Qt), and nothing else. The window
// takes no settings from its command line.

#include <string>

namespace veltrona::ui {

struct CommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    // For a usage error: the argument that is not understood.
    std::string offending;
};

// Reads argv[1..argc-1]. Qt's options are taken with one dash or two, those
// that take a value with the value as the next argument (or after "=" for
// -style, -stylesheet and -qmljsdebugger). --help or -h, and --version, win
// over everything after them; the first other argument is a usage error.
CommandLine readCommandLine(int argc, const char *const *argv);

// What --help prints.
std::string helpText();
// What --version prints: "veltrona VERSION".
std::string versionText();
// The line a usage error prints on standard error.
std::string usageErrorText(const std::string &offending);

} // namespace veltrona::ui
