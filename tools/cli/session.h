#pragma once
// veltrona-cli's use of the KOVA library: the scan and one configuration
// request with its answer. The library has one connection per process, so
// there is one session at a time.

#include "commandline.h"
#include "report.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace veltrona::cli {

struct ScanResult {
    std::int32_t error = KOVA_OK;          // initialisation or discovery refused
    std::vector<FoundDevice> devices;      // one per MAC, in order of arrival
    std::optional<std::int32_t> loopError; // the receive loop stopped on this error
};

// Scans as the main window does and listens for `seconds`; with `wanted`, stops
// as soon as that device has answered. `progress`: a countdown on standard error.
ScanResult scan(const std::string &bindAddress, int seconds,
                const std::optional<MacAddress> &wanted, bool progress);

// The same, stopping as soon as every device in `wanted` (when not empty) has
// answered. The MACs must be distinct.
ScanResult scanFor(const std::string &bindAddress, int seconds,
                   const std::vector<MacAddress> &wanted, bool progress);

struct RequestResult {
    std::int32_t error = KOVA_OK;      // initialisation or the request refused
    std::optional<std::int32_t> event; // the device's answer, none when it gave none in time
};

// Opens a fresh connection, sends one request with `send` (which returns the
// library's result) and waits up to `seconds` for the answer of `target`.
RequestResult request(const std::string &bindAddress, int seconds, const FoundDevice &target,
                      const std::function<std::int32_t(HKOVAITEM)> &send, bool progress);

} // namespace veltrona::cli
