#include "hostcheck.h"

#include "doctor.h"
#include "hoststate.h"

#include <algorithm>

namespace veltrona::diagnosis {

std::vector<HostFinding> checkHost(const std::string &bindAddress) {
    const std::vector<HostInterface> hosts = hostInterfaces();
    std::vector<Check> checks = interfaceChecks(hosts, bindAddress);
    for (Check &c :
         rpFilterChecks(hosts, bindAddress, readSysctl("/proc/sys/net/ipv4/conf/all/rp_filter")))
        checks.push_back(std::move(c));
    // The scan that just ended opened the port, so only its other holders count.
    checks.push_back(portCheck(true, "", portHolders()));
    for (Check &c : firewall(std::chrono::seconds(2)))
        checks.push_back(std::move(c));
    std::vector<HostFinding> findings;
    for (Check &c : checks) {
        // An unreadable rp_filter of `all` is said once per interface; once is enough here.
        const bool repeated =
            c.fact && std::any_of(findings.begin(), findings.end(), [&](const HostFinding &f) {
                return f.kind == c.fact->kind && f.unchecked == c.fact->unchecked &&
                       f.kind == HostFinding::Kind::NotChecked &&
                       f.interfaceName == c.fact->interfaceName;
            });
        if (c.fact && !repeated)
            findings.push_back(std::move(*c.fact));
    }
    auto rank = [](Status s) {
        return s == Status::Problem ? 0 : s == Status::Warning ? 1 : s == Status::Ok ? 2 : 3;
    };
    std::stable_sort(findings.begin(), findings.end(),
                     [&](const HostFinding &a, const HostFinding &b) {
                         return rank(a.status) < rank(b.status);
                     });
    return findings;
}

} // namespace veltrona::diagnosis
