#include "netns_guard.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace veltrona::test {

namespace {

bool namespaceInode(const char *path, ino_t &inode) {
    struct stat st {};
    if (::stat(path, &st) != 0)
        return false;
    inode = st.st_ino;
    return true;
}

} // namespace

std::string privateNetnsProblem() {
    ino_t own = 0;
    ino_t init = 0;
    if (!namespaceInode("/proc/self/ns/net", own) || !namespaceInode("/proc/1/ns/net", init))
        return "cannot read the network namespaces";
    if (own == init)
        return "this is the machine's own network namespace";
    const char *host = std::getenv("VELTRONA_HOST_NETNS");
    if (host == nullptr || *host == '\0')
        return "not started through scripts/netns-run or scripts/lab";
    if (std::strtoull(host, nullptr, 10) == own)
        return "still in the namespace the scripts started from";
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/sys/class/net", ec)) {
        const std::string name = entry.path().filename().string();
        if (name != "lo" && name.rfind("vt", 0) != 0)
            return "foreign interface " + name + " present";
    }
    if (ec)
        return "cannot list the network interfaces";
    return {};
}

void requirePrivateNetns() {
    const std::string problem = privateNetnsProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "refusing to run a networked test: %s\n", problem.c_str());
        std::exit(2);
    }
}

} // namespace veltrona::test
