// `veltrona-cli doctor`: the host's checks of the diagnosis library, a trial
// opening of the library's socket and, when asked for, a probe. Nothing is
// sent unless a probe is asked for.
#include "doctorrun.h"

#include "doctor.h"
#include "hoststate.h"
#include "json.h"
#include "kovalibrary.h"
#include "scansequence.h"
#include "session.h"

#include <chrono>
#include <iostream>
#include <map>

namespace veltrona::cli {

namespace {

using namespace diagnosis;

Check portTrial(KovaLibrary &library, const std::string &bindAddress) {
    KOVA_CONFIG config{};
    config.classId = KOVA_CLASS_ID;
    // Opening binds the socket; only a send would start traffic.
    const std::int32_t result = initialiseForBinding(library, config, bindAddress);
    library.close();
    return portCheck(result == KOVA_OK, kova_ErrorText(result), portHolders());
}

// One object per check and the exit code, for scripts.
std::string formatJson(const std::vector<Check> &checks) {
    json::Value list = json::Value::array();
    for (const Check &c : checks) {
        json::Value object = json::Value::object();
        object.insert("area", json::Value::string(c.area));
        object.insert("subject", json::Value::string(c.subject));
        object.insert("status", json::Value::string(statusWord(c.status)));
        object.insert("finding", json::Value::string(c.finding));
        object.insert("fix", json::Value::string(c.fix));
        list.append(std::move(object));
    }
    json::Value root = json::Value::object();
    root.insert("checks", std::move(list));
    root.insert("exitCode", json::Value::number(exitCode(checks)));
    return root.write();
}

std::vector<Check> probe(KovaLibrary &library, const CommandLine &line,
                         const std::vector<HostInterface> &hosts, bool progress) {
    const ScanResult result = scan(library, line.bindAddress, line.seconds, {}, progress);
    if (result.error != KOVA_OK)
        return {{"probe",
                 "",
                 Status::Problem,
                 std::string("the discovery could not be sent: ") + kova_ErrorText(result.error),
                 "",
                 {}}};
    std::map<std::string, int> heard;
    for (const FoundDevice &device : result.devices)
        ++heard[device.interfaceName];
    return probeChecks(scannedInterfaces(hosts, line.bindAddress), heard, line.seconds);
}

} // namespace

int runDoctor(const CommandLine &line, bool progress, KovaLibrary &library) {
    const std::vector<HostInterface> hosts = hostInterfaces();
    std::vector<Check> checks = interfaceChecks(hosts, line.bindAddress);
    for (const Check &c : rpFilterChecks(hosts, line.bindAddress,
                                         readSysctl("/proc/sys/net/ipv4/conf/all/rp_filter")))
        checks.push_back(c);
    // A bind address this host lacks is a finding of its own; the port is tried on any.
    checks.push_back(portTrial(
        library, scannedInterfaces(hosts, line.bindAddress).empty() ? "" : line.bindAddress));
    checks.push_back(
        receiveBufferCheck(readSysctl("/proc/sys/net/core/rmem_max"), holdsNetAdmin()));
    for (const Check &c : firewall(std::chrono::seconds(10)))
        checks.push_back(c);
    if (line.probe)
        for (const Check &c : probe(library, line, hosts, progress))
            checks.push_back(c);
    if (line.format == Format::Json)
        std::cout << formatJson(checks);
    else
        std::cout << formatTable(checks);
    return exitCode(checks);
}

} // namespace veltrona::cli
