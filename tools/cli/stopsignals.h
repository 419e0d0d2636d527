#pragma once
// INT, TERM and HUP while changes are being sent: noted instead of ending the
// process at once, so that the run can stop sending, wait for the answers in
// flight and write down what it did. A signal the process was started with
// ignored stays ignored.

namespace veltrona::cli {

void catchStopSignals();

// The signal caught since catchStopSignals(), 0 when none.
int caughtStopSignal();

// Whether a second stop signal came: the run then ends at once.
bool caughtSecondStopSignal();

} // namespace veltrona::cli
