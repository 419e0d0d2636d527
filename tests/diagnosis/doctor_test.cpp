// The host's checks without a network: their readers on samples recorded from
// /proc and nft in a private namespace (samples/), and their judging.

#include "doctor.h"
#include "json.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using namespace veltrona::diagnosis;

std::string sample(const char *name) {
    std::ifstream file(std::string(DOCTOR_SAMPLES "/") + name, std::ios::binary);
    EXPECT_TRUE(file) << name;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(Doctor, ReadersOfProcAndSysctl) {
    // Recorded with a socket of user nobody on 0.0.0.0:32153 and one of root on 127.0.0.1:5353.
    const std::vector<UdpSocket> sockets = parseProcNetUdp(sample("proc-net-udp.txt"));
    ASSERT_EQ(sockets.size(), 2u);
    EXPECT_EQ(sockets[0].localAddress, "0.0.0.0");
    EXPECT_EQ(sockets[0].localPort, 32153);
    EXPECT_EQ(sockets[0].uid, 65534u);
    EXPECT_EQ(sockets[0].inode, 50466u);
    EXPECT_EQ(sockets[1].localAddress, "127.0.0.1");
    EXPECT_EQ(sockets[1].localPort, 5353);
    EXPECT_EQ(sockets[1].uid, 0u);
    EXPECT_TRUE(parseProcNetUdp(" 12: 0100007F:14E9 00000000:0000 07 00000000:00000000\n"
                                " 13: 0100007F:14E 00000000:0000 07 0:0 00:0 0 0 0 77 2\n")
                    .empty());

    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> links = {
        {"socket:[50466]", 50466},
        {"pipe:[50466]", std::nullopt},
        {"socket:[]", std::nullopt},
        {"socket:[12a]", std::nullopt},
        {"", std::nullopt}};
    for (const auto &[link, inode] : links)
        EXPECT_EQ(socketInode(link), inode) << link;

    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> values = {
        {"2\n", 2},
        {" 4194304 \n", 4194304},
        {"-1", -1},
        {"", std::nullopt},
        {"1 2", std::nullopt}};
    for (const auto &[text, value] : values)
        EXPECT_EQ(sysctlValue(text), value) << text;

    EXPECT_EQ(effectiveCapabilities("Name:\tx\nCapPrm:\t0\nCapEff:\t000001fffeffffff\n"),
              0x1fffeffffffu);
    EXPECT_EQ(effectiveCapabilities("CapEff:\tzz\n"), std::nullopt);

    // Another program's command line is untrusted: no escape reaches the terminal.
    EXPECT_EQ(commandText(std::string("nc\0-lu\0\x1b]0;x\x07\0", 14)), "nc -lu ?]0;x?");
}

std::string blockText(const FirewallBlock &b) {
    return b.family + " " + b.table + " " + b.chain + " " +
           (b.handle ? std::to_string(*b.handle) : "policy") + ": " + b.what +
           (b.partly ? " (partly)" : "");
}

TEST(Doctor, FirewallBlocksOfRecordedRuleSets) {
    const std::vector<std::pair<const char *, std::vector<std::string>>> rows = {
        {"nft-empty.json", {}},
        // Output and forward chains, the ip6 family and rules for other ports
        // do not count; a source condition makes a partial block that names
        // it; a reply accepted by its source port never reaches a later drop.
        {"nft-rules.json",
         {"inet filter some 8: drops UDP to port 32153 under further conditions not judged here "
          "(ip saddr) (partly)",
          "inet filter some 10: rejects UDP to a set of ports that holds 32153",
          "inet filter range 12: drops UDP to port 32153"}},
        // A drop policy counts unless a rule accepts the port before it; the
        // connection state never covers a broadcast reply.
        {"nft-policies.json",
         {"ip filter input policy: drops by its policy what no rule accepts, UDP to port 32153 "
          "included",
          "inet blanket input 3: drops all UDP", "inet blanket input2 4: rejects all input"}},
        // Chains reached by jump and goto: a return for the device port ends
        // one before its reject; a bare drop reached under the port's match
        // drops that port; a chain nothing reaches does not count.
        {"nft-jumps.json",
         {"inet filter guard 11: drops UDP to port 32153 under further conditions not judged "
          "here (ip saddr) (partly)",
          "inet filter last 15: drops UDP to port 32153"}},
        // Verdict maps and named sets are looked up; sets of other ports and a
        // map keyed by TCP ports do not count; prerouting and ingress chains
        // are judged like input chains, bridge chains are named as not read.
        {"nft-sets.json",
         {"inet filter vmapped 10: drops UDP to port 32153 by a verdict map",
          "inet filter anonset 12: drops UDP to a set of ports that holds 32153",
          "inet filter namedset 13: rejects UDP to the set of ports @kova_ports, which holds 32153",
          "inet filter namedmap 14: drops UDP to port 32153 by the verdict map @port_verdicts",
          "inet filter pre 19: drops UDP to port 32153",
          "netdev edge ingress 2: drops UDP to port 32153", "not looked at: bridge br in"}},
    };
    for (const auto &[file, expected] : rows) {
        const auto ruleSet = readRuleSet(sample(file));
        ASSERT_TRUE(ruleSet) << file;
        std::vector<std::string> got;
        for (const FirewallBlock &b : ruleSet->blocks)
            got.push_back(blockText(b));
        for (const std::string &chain : ruleSet->unread)
            got.push_back("not looked at: " + chain);
        EXPECT_EQ(got, expected) << file;
    }
    EXPECT_FALSE(readRuleSet("Error: Could not process rule"));

    const std::vector<Check> checks = firewallChecks(*readRuleSet(sample("nft-rules.json")));
    ASSERT_EQ(checks.size(), 3u);
    EXPECT_EQ(checks[0].status, Status::Warning);
    EXPECT_EQ(checks[1].status, Status::Problem);
    EXPECT_EQ(checks[1].fix, "let the replies in: sudo nft insert rule inet filter some udp dport "
                             "32153 accept");
    EXPECT_EQ(exitCode(firewallChecks({})), 0);
}

HostInterface host(const char *name, const char *address, const char *mask, unsigned flags,
                   bool scanned) {
    HostInterface h;
    std::strncpy(h.entry.name, name, sizeof h.entry.name - 1);
    std::strncpy(h.entry.address, address, sizeof h.entry.address - 1);
    std::strncpy(h.entry.netMask, mask, sizeof h.entry.netMask - 1);
    h.entry.flags = flags;
    h.entry.scanned = scanned ? 1 : 0;
    return h;
}

constexpr unsigned kUp = IFF_UP | IFF_RUNNING | IFF_BROADCAST;

TEST(Doctor, InterfacesAndReversePathFilter) {
    HostInterface docker = host("docker0", "172.17.0.1", "255.255.0.0", kUp, true);
    docker.bridge = true;
    const std::vector<HostInterface> hosts = {
        host("lo", "127.0.0.1", "255.0.0.0", IFF_UP | IFF_LOOPBACK, false),
        host("eth0", "192.168.1.5", "255.255.255.0", kUp, true),
        host("eth1", "10.78.0.1", "255.255.0.0", IFF_UP | IFF_BROADCAST, true),
        docker,
        host("wg0", "10.8.0.2", "255.255.255.0", IFF_UP | IFF_POINTOPOINT, false),
        host("eth2", "10.9.0.1", "255.255.0.0", IFF_BROADCAST, false)};
    const std::vector<Check> checks = interfaceChecks(hosts, "");
    const std::vector<std::pair<Status, std::string>> expected = {
        {Status::Ok, "loopback, 127.0.0.1/8, up: skipped: loopback"},
        {Status::Ok, "192.168.1.5/24, up: a scan uses it"},
        {Status::Warning, "10.78.0.1/16, up: a scan uses it, but it has no link"},
        {Status::Ok, "container bridge, 172.17.0.1/16, up: a scan uses it (devices are seldom on a "
                     "container bridge)"},
        {Status::Ok, "tunnel, 10.8.0.2/24, up: skipped: cannot broadcast (devices behind a tunnel "
                     "or VPN cannot be found by broadcast)"},
        {Status::Ok, "10.9.0.1/16, down: skipped: down"}};
    ASSERT_EQ(checks.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(checks[i].status, expected[i].first) << i;
        EXPECT_EQ(checks[i].finding, expected[i].second) << i;
    }
    const std::vector<Check> bound = interfaceChecks(hosts, "10.78.0.1");
    EXPECT_EQ(bound[1].finding, "192.168.1.5/24, up: skipped: --bind 10.78.0.1 chooses another "
                                "interface");
    EXPECT_EQ(interfaceChecks(hosts, "10.99.0.1").back().status, Status::Problem);
    EXPECT_EQ(interfaceChecks({hosts[0]}, "").back().status, Status::Problem);
    EXPECT_EQ(scannedInterfaces(hosts, ""), (std::vector<std::string>{"eth0", "eth1", "docker0"}));

    // The effective value is the larger of all and the interface's own.
    struct Row {
        std::int64_t all, own;
        Status status;
        const char *word;
    };
    for (const Row &row :
         {Row{0, 0, Status::Ok, "off"}, Row{0, 2, Status::Ok, "loose"},
          Row{1, 2, Status::Ok, "loose"}, Row{2, 1, Status::Ok, "loose"},
          Row{1, 0, Status::Problem, "strict"}, Row{0, 1, Status::Problem, "strict"}}) {
        HostInterface eth1 = hosts[2];
        eth1.rpFilter = row.own;
        const std::vector<Check> rp = rpFilterChecks({eth1}, "", row.all);
        ASSERT_EQ(rp.size(), 1u);
        EXPECT_EQ(rp[0].status, row.status) << row.all << " " << row.own;
        EXPECT_EQ(rp[0].finding.rfind(row.word, 0), 0u) << rp[0].finding;
        if (row.status == Status::Problem) {
            EXPECT_NE(rp[0].finding.find("outside 10.78.0.0/16 (factory defaults)"),
                      std::string::npos);
            EXPECT_EQ(rp[0].fix, "sudo sysctl -w net.ipv4.conf.eth1.rp_filter=2");
        }
    }
    EXPECT_EQ(rpFilterChecks({hosts[2]}, "", 0)[0].status, Status::Skipped);

    // Strict filtering on the interface of the default route drops nothing.
    // (The table as a lab namespace shows it; wg0's default route is down.)
    const std::vector<std::string> routed = defaultRouteInterfaces(
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth1\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
        "eth1\t00004E0A\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
        "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "wg0\t00000000\t0100080A\t0002\t0\t0\t0\t00000000\t0\t0\t0\n");
    EXPECT_EQ(routed, std::vector<std::string>{"eth1"});
    HostInterface eth1 = hosts[2];
    eth1.rpFilter = 1;
    eth1.defaultRoute = true;
    const Check strictRouted = rpFilterChecks({eth1}, "", 0)[0];
    EXPECT_EQ(strictRouted.status, Status::Ok) << strictRouted.finding;
    EXPECT_EQ(strictRouted.finding, "strict (rp_filter: all 0, eth1 1), but the default route "
                                    "leaves through eth1, so replies from any address pass");
}

TEST(Doctor, PortReceiveBufferAndProbe) {
    EXPECT_EQ(portCheck(true, "", {}).status, Status::Ok);
    const Check held = portCheck(false, "Socket error", {{0, 42, "nc -lu 32153", "root"}});
    EXPECT_EQ(held.status, Status::Problem);
    EXPECT_EQ(held.finding, "cannot be opened: held by PID 42 (nc -lu 32153)");
    EXPECT_EQ(portCheck(false, "Socket error", {{1000, std::nullopt, "", "alice"}}).finding,
              "cannot be opened: held by another user's program (alice)");
    EXPECT_EQ(portCheck(false, "Socket error", {}).finding, "cannot be opened: Socket error");

    // A stock desktop's rmem_max, this lab machine's, and CAP_NET_ADMIN past the cap.
    struct Row {
        std::int64_t rmemMax;
        bool privileged;
        std::int64_t bytes, devices;
    };
    for (const Row &row : {Row{212992, false, 425984, 166}, Row{4194304, false, 8388608, 3276},
                           Row{212992, true, 8388608, 3276}}) {
        const ReceiveBudget budget =
            receiveBudget(row.rmemMax, KOVA_RECEIVE_BUFFER, row.privileged);
        EXPECT_EQ(budget.bytes, row.bytes) << row.rmemMax;
        EXPECT_EQ(budget.devices, row.devices) << row.rmemMax;
    }
    const Check small = receiveBufferCheck(212992, false);
    EXPECT_EQ(small.status, Status::Warning);
    EXPECT_EQ(small.fix, "sudo sysctl -w net.core.rmem_max=4194304");
    // A privileged scan passes the cap and asks for more.
    const Check privileged = receiveBufferCheck(212992, true);
    EXPECT_EQ(privileged.status, Status::Ok);
    EXPECT_NE(privileged.finding.find("asks for 16384 KiB"), std::string::npos)
        << privileged.finding;

    // One aligned line per check; a name cannot drive the terminal.
    EXPECT_EQ(formatTable({{"port", "32153/udp", Status::Ok, "can be opened", "", {}},
                           {"interface", "e\x1b[2Jx", Status::Problem, "down", "bring it up", {}}}),
              "ok       port 32153/udp    can be opened\n"
              "problem  interface e?[2Jx  down; fix: bring it up\n");

    const std::vector<Check> probe = probeChecks({"eth0", "eth1"}, {{"eth1", 1}}, 5);
    ASSERT_EQ(probe.size(), 2u);
    EXPECT_EQ(probe[0].finding, "0 devices answered within 5 s");
    EXPECT_EQ(probe[1].finding, "1 device answered within 5 s");
    // An interface where no device answered is a warning of its own.
    EXPECT_EQ(probe[0].status, Status::Warning);
    EXPECT_EQ(probe[1].status, Status::Ok);
    EXPECT_EQ(exitCode(probeChecks({"eth0"}, {}, 5)), 1);
}

} // namespace
