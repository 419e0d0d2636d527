#include "stopsignals.h"

#include <csignal>
#include <initializer_list>

namespace veltrona::cli {

namespace {

volatile std::sig_atomic_t caught = 0;
volatile std::sig_atomic_t count = 0;

void note(int signal) {
    if (caught == 0)
        caught = signal;
    if (count < 2)
        count = count + 1;
}

} // namespace

void catchStopSignals() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = note;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

int caughtStopSignal() {
    return caught;
}

bool caughtSecondStopSignal() {
    return count >= 2;
}

} // namespace veltrona::cli
