#pragma once
// How a scan starts, for the window and the command-line client alike: the
// connection opened on the chosen binding, then two discovery requests (version
// bytes 5 and 3) 100 ms apart, and the protocol type set back to 1.

#include "kovalibrary.h"

#include <cstdint>
#include <string_view>

namespace veltrona {

// Opens the library's connection: on every interface for "ANY" or an empty
// binding, else on the local address the binding names.
int32_t initialiseForBinding(KovaLibrary &library, const KOVA_CONFIG &config,
                             std::string_view binding);

// The discovery steps of a scan start, run one at a time so that a caller can
// wait between them on its own clock (a timer of the window, a sleep of the
// client).
class DiscoverySequence {
public:
    static constexpr int kGapMs = 100;

    explicit DiscoverySequence(KovaLibrary &library) : m_library(&library) {}

    // Runs the next step and returns how many milliseconds to wait before the
    // one after it, or -1 once the last step has run.
    int next();

    // What each discovery request returned (KOVA_OK until it has run).
    int32_t firstResult() const { return m_first; }
    int32_t secondResult() const { return m_second; }

private:
    KovaLibrary *m_library;
    int m_step = 0;
    int32_t m_first = KOVA_OK;
    int32_t m_second = KOVA_OK;
};

} // namespace veltrona
