#pragma once
// `veltrona-cli plan` and `veltrona-cli apply`: batch configuration of many
// devices from one reviewable plan (see plan.h for its format).

#include "kovalibrary.h"

#include <QStringList>

#include <string>

namespace veltrona::cli {

// Some rows of a plan were not applied and confirmed.
inline constexpr int kExitSomeFailed = 5;

// Whether `command` is one of the batch commands.
bool isBatchCommand(const QString &command);

// Runs `plan ...` or `apply ...` (arguments without the program name) on the
// given library; `sentRequests`, when given, tells whether any request went
// out to a device.
int runBatch(const QStringList &arguments, bool interactive, bool progress, KovaLibrary &library,
             bool *sentRequests = nullptr);

std::string batchUsage(const QString &command);

} // namespace veltrona::cli
