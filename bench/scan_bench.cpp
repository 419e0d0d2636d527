// The scan of a lab of simulated devices (scripts/lab --count N --jitter J),
// measured three times in one run: first with a bare receive loop (a socket
// with the library's receive buffer, two discovery requests 100 ms apart and a
// poll/recv loop: the limit of what the network delivers), then with the real
// main window (offscreen), pressing Scan, then with the command-line client's
// scan (its own code, in this process, five seconds). For each it prints the
// devices listed of N, the time of the last row (the bare loop: of its last
// new device; the client: of its last new device decoded), the longest gap
// between two 5 ms timer ticks of the user-interface thread (with the event
// that took longest and the one that used the most processor time), the growth
// of the resident memory per listed device, and the ratios; then the time of a
// header click that sorts all rows. Run it through scripts/bench-scan.
//
//   scan_bench [--jitter MS] [--unprivileged]
//
// --unprivileged: after the namespace check (which reads process 1's network
// namespace and so needs root), the program gives up root as setpriv
// --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all would, so the
// library cannot force its receive buffer size.
#include "devicelistctrl.h"
#include "kovalibrary.h"
#include "netns_guard.h"
#include "session.h"
#include "veltronadlg.h"
#include "wire.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <grp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>

namespace {

constexpr int kListenMs = 5200; // the window's 200 ms start and five seconds
constexpr int kTickMs = 5;

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

std::string statusLine(const char *key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return line;
    return {};
}

bool dropPrivileges() {
    const uid_t nobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
        ::setresuid(nobody, nobody, nobody) != 0)
        return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capset, &header, data) != 0)
        return false;
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    return ::geteuid() == nobody;
}

// Processor time of the calling thread: how much of a stall was its own work
// rather than a wait for a processor on a busy machine.
qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double ms(qint64 ns) {
    return double(ns) / 1e6;
}

struct Run {
    int listed = 0;
    long replies = 0;
    double lastMs = -1;      // last row (window) or last reply (bare loop)
    double lastNewMs = -1;   // bare loop: first reply of the last new device
    double stallMs = -1;     // longest gap between two ticks
    double stallEndMs = -1;  // when it ended, from the click
    double stallCpuMs = -1;  // processor time of the user-interface thread in it
    double bytesPerRow = -1; // resident memory growth per listed device
    int receiveBuffer = 0;
    uint32_t lostBufferFull = 0; // datagrams the system dropped, receive buffer full
};

// The library's count of datagrams the system dropped, its receive buffer full.
uint32_t bufferDrops() {
    uint32_t tableFull = 0, bufferFull = 0;
    veltrona::KovaLibrary::real().getLostReplies(&tableFull, &bufferFull);
    return bufferFull;
}

// ---- the bare receive loop ------------------------------------------------------

Run bareLoop() {
    Run run;
    const long before = residentBytes();
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(KOVA_LOCAL_PORT);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    // The library's receive buffer, asked for the library's way.
    int size = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    socklen_t length = sizeof run.receiveBuffer;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &run.receiveBuffer, &length);
    if (run.receiveBuffer < size) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &run.receiveBuffer, &length);
    }

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(KOVA_DEVICE_PORT);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    auto discover = [&](uint8_t version) {
        const auto request = kova::wire::BuildDiscovery(version);
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                 sizeof to);
    };

    std::unordered_set<uint64_t> devices;
    uint8_t buffer[2048];
    QElapsedTimer clock;
    clock.start();
    discover(5);
    bool second = false;
    for (;;) {
        const qint64 now = clock.elapsed();
        if (now >= kListenMs)
            break;
        if (!second && now >= 100) {
            discover(3);
            second = true;
        }
        pollfd p{fd, POLLIN, 0};
        const qint64 until = second ? kListenMs : 100;
        if (::poll(&p, 1, int(std::max<qint64>(1, until - now))) <= 0)
            continue;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0)
                break;
            const auto event = kova::wire::EventForReply({buffer, size_t(n)});
            if (!event || *event != KOVA_EVENT_DEVICE_INFO)
                continue;
            const qint64 at = clock.nsecsElapsed();
            ++run.replies;
            run.lastMs = ms(at);
            uint64_t key = 0;
            for (size_t i = 0; i < kova::wire::kKeySize; ++i)
                key = (key << 8) | buffer[kova::wire::kKeyOffset + i];
            if (devices.insert(key).second)
                run.lastNewMs = ms(at);
        }
    }
    ::close(fd);
    run.listed = int(devices.size());
    run.bytesPerRow = run.listed ? double(residentBytes() - before) / run.listed : 0;
    return run;
}

// ---- the window ------------------------------------------------------------------

// The application, timing each event it delivers outside another one while
// `timing` is on: the longest tells which work a stall of the user-interface
// thread was (a paint, a turn of rows, a timer).
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    struct Longest {
        qint64 wallNs = 0;
        qint64 cpuNs = 0;
        int type = 0;
        const char *receiver = "";
    };
    bool notify(QObject *receiver, QEvent *event) override {
        if (!timing || depth > 0)
            return QApplication::notify(receiver, event);
        ++depth;
        const int type = int(event->type());
        const char *name = receiver->metaObject()->className();
        const qint64 cpu = threadCpuNs();
        QElapsedTimer clock;
        clock.start();
        const bool done = QApplication::notify(receiver, event);
        const qint64 wall = clock.nsecsElapsed();
        --depth;
        const qint64 used = threadCpuNs() - cpu;
        if (wall > longest.wallNs)
            longest = {wall, used, type, name};
        if (used > busiest.cpuNs)
            busiest = {wall, used, type, name};
        return done;
    }
    bool timing = false;
    int depth = 0;
    Longest longest; // by wall time
    Longest busiest; // by processor time
};

struct SortTimes {
    double descendingMs = -1;
    double ascendingMs = -1;
    double descendingCpuMs = -1; // processor time of the user-interface thread
    double ascendingCpuMs = -1;
};

Run windowScan(SortTimes &sort, TimedApplication &application) {
    Run run;
    CVeltronaDlg dlg(nullptr, veltrona::KovaLibrary::real());
    dlg.show();
    if (!QTest::qWaitForWindowExposed(&dlg))
        std::fprintf(stderr, "window not exposed\n");
    QPushButton *scan = dlg.pushButton(CVeltronaDlg::IDC_SCAN);
    CDeviceListCtrl *list = dlg.deviceList();

    QElapsedTimer clock;
    qint64 clicked = -1;
    qint64 lastRow = -1;
    qint64 previousTick = -1;
    qint64 previousCpu = 0;
    qint64 longestGap = 0;
    qint64 longestGapEnd = 0;
    qint64 longestGapCpu = 0;
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted,
                     [&] { lastRow = clock.nsecsElapsed(); });
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        if (previousTick >= 0 && now - previousTick > longestGap) {
            longestGap = now - previousTick;
            longestGapEnd = now;
            longestGapCpu = cpu - previousCpu;
        }
        previousTick = now;
        previousCpu = cpu;
    });

    QTest::qWait(200);
    const long before = residentBytes();
    const uint32_t dropsBefore = bufferDrops();
    clock.start();
    tick.start();
    application.timing = true;
    QTimer::singleShot(50, [&] {
        clicked = clock.nsecsElapsed();
        QTest::mouseClick(scan, Qt::LeftButton);
    });
    while (clicked < 0 || !scan->isEnabled())
        QTest::qWait(kTickMs);
    QTest::qWait(100);
    tick.stop();
    application.timing = false;

    run.listed = list->GetItemCount();
    run.lostBufferFull = bufferDrops() - dropsBefore;
    run.lastMs = lastRow >= 0 ? ms(lastRow - clicked) : -1;
    run.stallMs = ms(longestGap);
    run.stallEndMs = ms(longestGapEnd - clicked);
    run.stallCpuMs = ms(longestGapCpu);
    run.bytesPerRow = run.listed ? double(residentBytes() - before) / run.listed : 0;

    // A header click on "IP Address" sorts every row, then one more flips it;
    // each is timed with the repaint that shows it.
    QHeaderView *header = list->header();
    const QPoint at(header->sectionViewportPosition(veltrona::ColIpAddress) + 10, 5);
    for (auto [wall, cpu] : {std::pair{&sort.descendingMs, &sort.descendingCpuMs},
                             std::pair{&sort.ascendingMs, &sort.ascendingCpuMs}}) {
        QElapsedTimer sortClock;
        sortClock.start();
        const qint64 cpuBefore = threadCpuNs();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        list->viewport()->repaint();
        *wall = ms(sortClock.nsecsElapsed());
        *cpu = ms(threadCpuNs() - cpuBefore);
    }
    return run;
}

// ---- the client ------------------------------------------------------------------

// The real library, noting when a MAC address is first decoded: the client's
// scan lists a device as soon as it has decoded its reply.
class TimingLibrary : public veltrona::KovaLibrary {
public:
    int32_t getDeviceInfo(HKOVAITEM item, KOVA_DEVICE_INFO *info) override {
        const int32_t result = KovaLibrary::getDeviceInfo(item, info);
        if (result == KOVA_OK && clock.isValid()) {
            std::lock_guard lock(mutex);
            if (macs.insert(veltrona::macKey(info->mac)).second)
                lastNew = clock.nsecsElapsed();
        }
        return result;
    }
    std::mutex mutex;
    std::unordered_set<uint64_t> macs;
    QElapsedTimer clock;
    qint64 lastNew = -1;
};

Run clientScan() {
    Run run;
    TimingLibrary library;
    const long before = residentBytes();
    library.clock.start();
    const veltrona::cli::ScanResult result = veltrona::cli::scan(library, "", 5, {}, false);
    run.listed = int(result.devices.size());
    run.lostBufferFull = result.lostBufferFull;
    run.lastMs = library.lastNew >= 0 ? ms(library.lastNew) : -1;
    run.bytesPerRow = run.listed ? double(residentBytes() - before) / run.listed : 0;
    return run;
}

} // namespace

int main(int argc, char **argv) {
    veltrona::test::requirePrivateNetns();
    int jitter = -1;
    bool unprivileged = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--jitter") == 0 && i + 1 < argc)
            jitter = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--unprivileged") == 0)
            unprivileged = true;
    }
    if (unprivileged && !dropPrivileges()) {
        std::fprintf(stderr, "scan_bench: cannot give up root\n");
        return 2;
    }
    const char *countText = std::getenv("VELTRONA_LAB_DEVICE_COUNT");
    const int count = countText ? std::atoi(countText) : 0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication application(argc, argv);

    const Run bare = bareLoop();
    // Let the last replies of the bare loop's discoveries pass.
    QTest::qWait(1500);
    SortTimes sort;
    const Run window = windowScan(sort, application);
    QTest::qWait(1500);
    const Run client = clientScan();

    std::printf("scan of %d simulated devices, jitter %d ms, uid %d (%s), receive buffer %d "
                "bytes\n",
                count, jitter, int(::geteuid()), statusLine("CapEff:").c_str(), bare.receiveBuffer);
    std::printf("  %-18s %13s %14s %16s %14s\n", "", "listed", "last row", "longest stall",
                "RSS per row");
    std::printf("  %-18s %6d of %-5d %11.0f ms %16s %12.0f B   (%ld replies, the last at "
                "%.0f ms)\n",
                "bare receive loop", bare.listed, count, bare.lastNewMs, "-", bare.bytesPerRow,
                bare.replies, bare.lastMs);
    std::printf("  %-18s %6d of %-5d %11.0f ms %13.1f ms %12.0f B   (the longest stall ended "
                "%.0f ms after the click, %.1f ms of it on the processor; %u replies dropped, "
                "receive buffer full)\n",
                "window", window.listed, count, window.lastMs, window.stallMs, window.bytesPerRow,
                window.stallEndMs, window.stallCpuMs, window.lostBufferFull);
    std::printf("  %-18s the longest event: %.1f ms (%.1f ms on the processor), type %d to %s\n",
                "", ms(application.longest.wallNs), ms(application.longest.cpuNs),
                application.longest.type, application.longest.receiver);
    std::printf("  %-18s the busiest event: %.1f ms on the processor (%.1f ms), type %d to %s\n",
                "", ms(application.busiest.cpuNs), ms(application.busiest.wallNs),
                application.busiest.type, application.busiest.receiver);
    std::printf("  %-18s %6d of %-5d %11.0f ms %16s %12.0f B   (%u replies dropped, receive "
                "buffer full)\n",
                "client", client.listed, count, client.lastMs, "-", client.bytesPerRow,
                client.lostBufferFull);
    // The bound of both: 1.1 times the bare loop's last new device, plus 100 ms.
    const double limit = 1.1 * bare.lastNewMs + 100;
    auto ratio = [&](const Run &run) {
        return bare.lastNewMs > 0 ? run.lastMs / bare.lastNewMs : 0.0;
    };
    std::printf("  ratios to bare: window listed %.4f, last row %.2f; client listed %.4f, last "
                "row %.2f (limit 1.1 x %.0f ms + 100 ms = %.0f ms)\n",
                bare.listed ? double(window.listed) / bare.listed : 0.0, ratio(window),
                bare.listed ? double(client.listed) / bare.listed : 0.0, ratio(client),
                bare.lastNewMs, limit);
    std::printf("  header click sort of %d rows: %.1f ms descending, %.1f ms ascending (%.1f and "
                "%.1f ms on the processor)\n",
                window.listed, sort.descendingMs, sort.ascendingMs, sort.descendingCpuMs,
                sort.ascendingCpuMs);
    const bool met = window.listed == count && window.lastMs <= limit && window.stallMs <= 50 &&
                     std::max(sort.descendingMs, sort.ascendingMs) <= 50 &&
                     window.bytesPerRow <= 1024;
    std::printf("  window targets (all listed, last row within limit, stall <= 50 ms, sort <= 50 "
                "ms, <= 1 KiB per row): %s\n",
                met ? "met" : "NOT met");
    std::printf("  client targets (all listed, last row within limit): %s\n",
                client.listed == count && client.lastMs <= limit ? "met" : "NOT met");
    return 0;
}
