#include "commandline.h"

#include "printable.h"

#include <array>
#include <string_view>

namespace veltrona::ui {

namespace {

// Qt's own options (QGuiApplication, QApplication and the X11 platform), by
// name without the leading dash.
constexpr std::array<std::string_view, 14> kQtOptionsWithValue = {"platform",
                                                                  "platformpluginpath",
                                                                  "platformtheme",
                                                                  "plugin",
                                                                  "qwindowgeometry",
                                                                  "geometry",
                                                                  "qwindowicon",
                                                                  "icon",
                                                                  "qwindowtitle",
                                                                  "title",
                                                                  "session",
                                                                  "display",
                                                                  "name",
                                                                  "style"};
constexpr std::array<std::string_view, 2> kQtOptionsWithValueAfterEquals = {"stylesheet",
                                                                            "qmljsdebugger"};
constexpr std::array<std::string_view, 6> kQtFlags = {"reverse", "widgetcount", "nograb",
                                                      "dograb",  "sync",        "testability"};

template <size_t N>
bool contains(const std::array<std::string_view, N> &names, std::string_view n) {
    for (std::string_view name : names)
        if (name == n)
            return true;
    return false;
}

} // namespace

CommandLine readCommandLine(int argc, const char *const *argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        }
        if (arg == "--version") {
            line.action = CommandLine::Action::Version;
            return line;
        }
        std::string_view name = arg;
        if (name.starts_with("--"))
            name.remove_prefix(2);
        else if (name.starts_with("-") && name.size() > 1)
            name.remove_prefix(1);
        else
            name = {};
        const size_t equals = name.find('=');
        const std::string_view bare = name.substr(0, equals);
        if (!name.empty() && equals == std::string_view::npos) {
            if (contains(kQtFlags, name))
                continue;
            if (contains(kQtOptionsWithValue, name) ||
                contains(kQtOptionsWithValueAfterEquals, name)) {
                if (i + 1 < argc) {
                    ++i;
                    continue;
                }
            }
        } else if (!name.empty() &&
                   (bare == "style" || contains(kQtOptionsWithValueAfterEquals, bare))) {
            continue;
        }
        line.action = CommandLine::Action::UsageError;
        line.offending = std::string(arg);
        return line;
    }
    return line;
}

std::string helpText() {
    return "Usage: veltrona [QT-OPTION...]\n"
           "       veltrona --help | --version\n"
           "\n"
           "Opens the window that finds the KOVA video devices (network cameras and video\n"
           "servers) on the local network and changes their settings. The window takes\n"
           "no options of its own and stores nothing between runs; Qt's own options\n"
           "(-platform NAME, -style NAME, -reverse, ...) are passed on to Qt.\n"
           "\n"
           "  -h, --help     print this help and exit\n"
           "  --version      print the version and exit\n"
           "\n"
           "For scripts use veltrona-cli. When a scan lists no device, run\n"
           "'veltrona-cli doctor' to check this host. See veltrona(1).\n";
}

std::string versionText() {
    return "veltrona " VELTRONA_VERSION "\n";
}

std::string usageErrorText(const std::string &offending) {
    return "veltrona: unknown argument '" + veltrona::printable(offending) +
           "' (see 'veltrona --help')\n";
}

} // namespace veltrona::ui
