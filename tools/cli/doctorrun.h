#pragma once
// `veltrona-cli doctor`: checks this host for what keeps a scan from hearing
// devices and prints one line per check.

#include "commandline.h"
#include "kovalibrary.h"

namespace veltrona::cli {

// Runs every check (and with line.probe, a scan); returns the exit code.
int runDoctor(const CommandLine &line, bool progress, KovaLibrary &library);

} // namespace veltrona::cli
