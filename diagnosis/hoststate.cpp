// Gathers what the checks judge: the host's interfaces through the library,
// files of /proc and /sys, the holders of the reply port and the nftables
// rule set.
#include "hoststate.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace veltrona::diagnosis {

std::optional<std::string> readFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::optional<std::int64_t> readSysctl(const std::string &path) {
    const std::optional<std::string> text = readFile(path);
    return text ? sysctlValue(*text) : std::nullopt;
}

std::vector<HostInterface> hostInterfaces() {
    std::vector<KOVA_INTERFACE> list(16);
    std::int32_t count = 0;
    while (kova_GetInterfaces(list.data(), static_cast<std::int32_t>(list.size()), &count) ==
               KOVA_OK &&
           static_cast<std::size_t>(count) > list.size())
        list.resize(static_cast<std::size_t>(count));
    list.resize(std::min(list.size(), static_cast<std::size_t>(count)));
    const std::vector<std::string> defaultRoutes =
        defaultRouteInterfaces(readFile("/proc/net/route").value_or(""));
    std::vector<HostInterface> hosts;
    for (const KOVA_INTERFACE &entry : list) {
        HostInterface host;
        host.entry = entry;
        const std::string sys = std::string("/sys/class/net/") + entry.name;
        std::error_code ignored;
        host.bridge = std::filesystem::exists(sys + "/bridge", ignored);
        host.tunTap = std::filesystem::exists(sys + "/tun_flags", ignored);
        host.hardwareType = static_cast<int>(readSysctl(sys + "/type").value_or(-1));
        host.rpFilter =
            readSysctl(std::string("/proc/sys/net/ipv4/conf/") + entry.name + "/rp_filter");
        host.defaultRoute = std::find(defaultRoutes.begin(), defaultRoutes.end(), entry.name) !=
                            defaultRoutes.end();
        hosts.push_back(host);
    }
    return hosts;
}

namespace {

// The process that holds each of the given socket inodes, as far as this
// process may read the others' descriptors.
std::map<std::uint64_t, int> socketOwners(const std::set<std::uint64_t> &inodes) {
    std::map<std::uint64_t, int> owners;
    std::error_code error;
    for (const auto &process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code denied;
        for (const auto &fd : std::filesystem::directory_iterator(process.path() / "fd", denied)) {
            std::error_code gone;
            const auto inode = socketInode(std::filesystem::read_symlink(fd.path(), gone));
            if (inode && inodes.count(*inode))
                owners.emplace(*inode, std::stoi(pid));
        }
    }
    return owners;
}

std::string userName(unsigned uid) {
    passwd entry{};
    passwd *found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    return found->pw_name;
}

// Where the shell would find `program`, then the system folders: root's PATH
// holds /usr/sbin, but sudo's or a script's may not.
std::string findProgram(const std::string &program) {
    const char *path = std::getenv("PATH");
    std::vector<std::string> folders;
    std::istringstream list(path ? path : "");
    for (std::string folder; std::getline(list, folder, ':');)
        if (!folder.empty())
            folders.push_back(folder);
    folders.insert(folders.end(), {"/usr/sbin", "/sbin"});
    for (const std::string &folder : folders) {
        const std::string candidate = folder + "/" + program;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

} // namespace

std::vector<PortHolder> portHolders() {
    std::vector<UdpSocket> sockets;
    for (const UdpSocket &s : parseProcNetUdp(readFile("/proc/net/udp").value_or("")))
        if (s.localPort == KOVA_LOCAL_PORT)
            sockets.push_back(s);
    std::set<std::uint64_t> inodes;
    for (const UdpSocket &s : sockets)
        inodes.insert(s.inode);
    const std::map<std::uint64_t, int> owners = socketOwners(inodes);
    std::vector<PortHolder> holders;
    std::set<int> listed{static_cast<int>(::getpid())};
    for (const UdpSocket &s : sockets) {
        PortHolder holder;
        holder.uid = s.uid;
        holder.userName = userName(s.uid);
        const auto owner = owners.find(s.inode);
        if (owner != owners.end()) {
            if (!listed.insert(owner->second).second)
                continue;
            holder.pid = owner->second;
            holder.command = commandText(
                readFile("/proc/" + std::to_string(owner->second) + "/cmdline").value_or(""));
        }
        holders.push_back(holder);
    }
    return holders;
}

// A plain fork and exec: QProcess starts its child with clone(CLONE_VM |
// CLONE_VFORK), which the thread sanitizer does not follow, so that it reports
// races after it that do not exist.
std::optional<std::string> commandOutput(const std::string &program,
                                         const std::vector<std::string> &arguments,
                                         std::chrono::milliseconds timeout) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return std::nullopt;
    }
    if (pid == 0) { // only async-signal-safe calls from here to exec
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(out[1], STDOUT_FILENO) < 0 ||
            ::dup2(null, STDERR_FILENO) < 0)
            ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    constexpr std::size_t kLimit = 16u << 20;
    std::string text;
    bool complete = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{out[0], POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[65536];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            complete = true;
        if (n <= 0 || text.size() + static_cast<std::size_t>(n) > kLimit)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (!complete)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}

bool holdsNetAdmin() {
    const std::optional<std::uint64_t> caps =
        effectiveCapabilities(readFile("/proc/self/status").value_or(""));
    return caps && (*caps & (std::uint64_t{1} << CAP_NET_ADMIN)) != 0;
}

std::vector<Check> firewall(std::chrono::milliseconds timeout) {
    Check skipped{"firewall", "nftables", Status::Skipped, "", "", HostFinding{}};
    skipped.fact->kind = HostFinding::Kind::NotChecked;
    skipped.fact->status = Status::Skipped;
    if (::geteuid() != 0) {
        skipped.finding = "could not be checked without root";
        skipped.fix = "sudo veltrona-cli doctor";
        skipped.fact->unchecked = HostFinding::Unchecked::FirewallNeedsRoot;
        return {skipped};
    }
    const std::string nft = findProgram("nft");
    if (nft.empty()) {
        skipped.finding = "could not be checked: nft is not installed";
        skipped.fix = "sudo apt install nftables";
        skipped.fact->unchecked = HostFinding::Unchecked::FirewallNoNft;
        return {skipped};
    }
    const std::optional<std::string> output =
        commandOutput(nft, {"-j", "list", "ruleset"}, timeout);
    const std::optional<RuleSet> ruleSet = output ? readRuleSet(*output) : std::nullopt;
    if (!ruleSet) {
        skipped.finding = "could not be checked: nft -j list ruleset gave no rule set";
        skipped.fact->unchecked = HostFinding::Unchecked::FirewallUnreadable;
        return {skipped};
    }
    return firewallChecks(*ruleSet);
}

} // namespace veltrona::diagnosis
