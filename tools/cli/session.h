#pragma once
// veltrona-cli's side of the scan session (model/scansession): the countdown
// on standard error, the stop signals, and the words for what a scan found.

#include "commandline.h"
#include "report.h"
#include "scansession.h"

#include <functional>
#include <string>
#include <vector>

namespace veltrona::cli {

using veltrona::Answers;
using veltrona::Connection;
using veltrona::Place;
using veltrona::ScanResult;

// Why a change to `mac` cannot be sent without --bind (it answered from two
// places), or empty.
std::string heardTwiceProblem(const ScanResult &result, const std::uint8_t *mac);

// Why the scan's list may be incomplete (replies were lost), for standard
// error; empty when nothing was lost.
std::string lostRepliesWarning(const ScanResult &result);

// Scans and listens for `seconds`, or only until every device in
// `stopOnceHeard` (when not empty; distinct MACs) has answered; a stop signal
// ends it. `progress`: a countdown on standard error. `lastSecond`: see
// ScanOptions.
ScanResult scan(KovaLibrary &library, const std::string &bindAddress, int seconds,
                const std::vector<MacAddress> &stopOnceHeard, bool progress,
                const std::function<void()> &lastSecond = {});

} // namespace veltrona::cli
