// kova-devsim: plays one or many KOVA devices on a private lab network.
// One UDP socket on 0.0.0.0:32154 receives every request; each device's replies
// leave with the device's own source address through the interface the request
// came in on, from this one thread, waiting in one bucket per millisecond they
// are due in and sent in batches of one sendmmsg call: broadcasts to an
// Ethernet interface as whole frames through a packet socket (frames.h), the
// others through the UDP socket (IP_PKTINFO). A device's information reply is
// built once and sent again until the device changes. Every datagram in and
// out is logged as one JSON line, the replies sent only unless --no-reply-log.

#include "devices.h"
#include "frames.h"
#include "netns_guard.h"
#include "protocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <span>

using namespace kovasim;

namespace {

using Clock = std::chrono::steady_clock;

using Datagram = std::shared_ptr<const Bytes>;

struct Pending {
    std::size_t device = 0;
    Datagram datagram;
    sockaddr_in to{};
    int interfaceIndex = 0; // the request's arrival interface, 0 when unknown
    bool clipped = false;
};

// Milliseconds of the steady clock: the replies wait in one bucket per
// millisecond they are due in.
std::int64_t tickOf(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

QString endpointText(const sockaddr_in &address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return QStringLiteral("%1:%2").arg(text).arg(ntohs(address.sin_port));
}

class Simulator {
public:
    Simulator(std::vector<Device> devices, std::FILE *log, std::uint32_t seed, bool replyLog)
        : devices_(std::move(devices)), info_(devices_.size()), log_(log), replyLog_(replyLog),
          rng_(seed) {
        for (std::size_t i = 0; i < devices_.size(); ++i)
            byMac_[devices_[i].mac] = i;
    }

    int run() {
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        sigaddset(&stopSignals, SIGHUP);
        sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
        const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
        if (signalFd < 0 || !openSocket())
            return 1;

        QJsonObject ready{{"event", "ready"},
                          {"devices", static_cast<qint64>(devices_.size())},
                          {"port", kDevicePort},
                          {"pid", static_cast<qint64>(getpid())}};
        write(ready);

        for (;;) {
            int timeout = -1;
            if (!due_.empty())
                timeout = static_cast<int>(
                    std::max<std::int64_t>(0, due_.begin()->first - tickOf(Clock::now())));
            pollfd fds[2] = {{socket_, POLLIN, 0}, {signalFd, POLLIN, 0}};
            if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
                logError("poll", errno);
                return 1;
            }
            if (fds[1].revents & POLLIN) {
                signalfd_siginfo info{};
                if (read(signalFd, &info, sizeof info) < 0)
                    info.ssi_signo = 0;
                writeRate();
                write(QJsonObject{{"event", "stopped"},
                                  {"signal", static_cast<int>(info.ssi_signo)}});
                return 0;
            }
            if (fds[0].revents & POLLIN) {
                // Read a bounded batch so that due replies are not starved.
                for (int i = 0; i < 256 && receiveOne(); ++i) {
                }
            }
            sendDue();
        }
    }

private:
    bool openSocket() {
        socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (socket_ < 0) {
            logError("socket", errno);
            return false;
        }
        const int on = 1;
        const int buffer = 4 << 20;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        // Each request tells its arrival interface, where its answers leave.
        setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        if (setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
            setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        if (setsockopt(socket_, SOL_SOCKET, SO_SNDBUFFORCE, &buffer, sizeof buffer) != 0)
            setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kDevicePort);
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(socket_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
            logError("bind", errno);
            return false;
        }
        frames_.open(kDevicePort, buffer); // without it, every reply takes the UDP socket
        return true;
    }

    // Returns false when nothing more is waiting.
    bool receiveOne() {
        std::uint8_t buffer[2048];
        sockaddr_in from{};
        iovec iov{buffer, sizeof buffer};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(socket_, &msg, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                logError("recvmsg", errno);
            return false;
        }
        int arrival = 0;
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                arrival = info.ipi_ifindex;
            }
        }
        const std::size_t size = static_cast<std::size_t>(n);
        QJsonObject line{{"time", now()},
                         {"dir", "in"},
                         {"from", endpointText(from)},
                         {"length", static_cast<qint64>(size)}};
        if (size > sizeof buffer) {
            line["ignored"] = "datagram larger than any request";
            write(line);
            return true;
        }
        line["hex"] = QString::fromStdString(hexText(buffer, size));
        const ParseResult parsed = parseRequest(buffer, size);
        if (!parsed.request) {
            line["ignored"] = QString::fromStdString(parsed.error);
            write(line);
            return true;
        }
        const Request &request = *parsed.request;
        const QJsonObject fields = describeRequest(request);
        for (auto it = fields.begin(); it != fields.end(); ++it)
            line[it.key()] = it.value();

        if (request.command == kCmdDiscover) {
            const Clock::time_point received = Clock::now();
            int answering = 0;
            for (std::size_t i = 0; i < devices_.size(); ++i) {
                if (!answersDiscovery(devices_[i], request))
                    continue;
                Info &info = info_[i];
                if (!info.datagram) {
                    bool clipped = false;
                    info.datagram =
                        std::make_shared<const Bytes>(deviceInfoDatagram(devices_[i], &clipped));
                    info.clipped = clipped;
                }
                schedule(i, info.datagram, from, arrival, info.clipped, received);
                ++answering;
            }
            line["answering"] = answering;
            write(line);
            return true;
        }

        const auto found = byMac_.find(request.key);
        if (found == byMac_.end()) {
            line["ignored"] = "no such device here";
            write(line);
            return true;
        }
        Device &device = devices_[found->second];
        line["byte8Ok"] = request.deviceByte == device.deviceByte;
        line["versionOk"] = request.version == device.version;
        const Ipv4 before = device.ipAddress;
        const Decision decision = handleConfigRequest(device, request);
        if (decision.applied)
            info_[found->second].datagram.reset(); // built again at the next discovery
        if (decision.applied && device.movesToNewAddress && device.ipAddress != before)
            moveDevice(found->second);
        line["applied"] = decision.applied;
        line["note"] = QString::fromStdString(decision.note);
        if (decision.kind)
            line["answer"] = *decision.kind;
        else
            line["answer"] = QJsonValue();
        write(line);
        if (decision.kind)
            schedule(found->second,
                     std::make_shared<const Bytes>(encodeResult(device, *decision.kind)), from,
                     arrival, false, Clock::now());
        return true;
    }

    // From now on the device answers from its new static address, which the
    // lab did not make local on the device side: the socket may send from any
    // address (IP_TRANSPARENT), still out of the interface of the request.
    void moveDevice(std::size_t index) {
        Device &device = devices_[index];
        const int on = 1;
        if (setsockopt(socket_, SOL_IP, IP_TRANSPARENT, &on, sizeof on) != 0) {
            logError("setsockopt IP_TRANSPARENT", errno);
            return;
        }
        device.address = device.ipAddress;
    }

    // Queues a reply in the bucket of the millisecond it is due in (the first
    // whole millisecond at or after `received` plus the device's delay):
    // replies due in the same millisecond leave in the order they were queued.
    void schedule(std::size_t index, const Datagram &datagram, const sockaddr_in &sender,
                  int arrival, bool clipped, Clock::time_point received) {
        const Device &device = devices_[index];
        int delay = device.delayMs;
        if (device.jitterMs > 0)
            delay += std::uniform_int_distribution<int>(0, device.jitterMs)(rng_);
        const std::int64_t tick =
            std::chrono::ceil<std::chrono::milliseconds>(received.time_since_epoch()).count() +
            delay;
        auto [bucket, fresh] = due_.try_emplace(tick);
        if (fresh && !spare_.empty()) {
            bucket->second = std::move(spare_.back()); // empty, its room kept
            spare_.pop_back();
        }
        Pending &pending = bucket->second.emplace_back();
        pending.device = index;
        pending.datagram = datagram;
        pending.interfaceIndex = arrival;
        pending.clipped = clipped;
        if (device.route == ReplyRoute::Unicast) {
            pending.to = sender;
        } else {
            pending.to.sin_family = AF_INET;
            pending.to.sin_port = htons(kToolPort);
            pending.to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        }
    }

    // Sends every reply that is due, in batches of one sendmmsg call each. The
    // time spent here while replies were due is the sending time of the rate.
    void sendDue() {
        const auto start = Clock::now();
        const std::int64_t now = tickOf(start);
        if (due_.empty() || due_.begin()->first > now)
            return;
        const double cpuStart = cpuSeconds();
        std::size_t sent = 0;
        while (!due_.empty() && due_.begin()->first <= now) {
            std::vector<Pending> bucket = std::move(due_.begin()->second);
            due_.erase(due_.begin());
            for (std::size_t first = 0; first < bucket.size(); first += kBatch)
                sent += sendBatch(std::span<const Pending>(bucket).subspan(
                    first, std::min(kBatch, bucket.size() - first)));
            bucket.clear();
            if (spare_.size() < kSpareBuckets)
                spare_.push_back(std::move(bucket));
        }
        const auto end = Clock::now();
        if (burstSent_ == 0)
            burstStart_ = start;
        burstSent_ += sent;
        burstBusy_ += end - start;
        burstCpu_ += cpuSeconds() - cpuStart;
        if (due_.empty()) {
            // The end of a burst: every scheduled reply is out.
            const double busy = seconds(burstBusy_);
            write(QJsonObject{
                {"event", "burst"},
                {"replies", static_cast<qint64>(burstSent_)},
                {"seconds", seconds(end - burstStart_)},
                {"sendingSeconds", busy},
                {"perSecond", busy > 0 ? double(burstSent_) / busy : 0.0},
                {"cpuSeconds", burstCpu_},
                {"perCpuSecond", burstCpu_ > 0 ? double(burstSent_) / burstCpu_ : 0.0}});
            totalSent_ += burstSent_;
            totalBusy_ += burstBusy_;
            totalCpu_ += burstCpu_;
            bestRate_ = std::max(bestRate_, busy > 0 ? double(burstSent_) / busy : 0.0);
            burstSent_ = 0;
            burstBusy_ = {};
            burstCpu_ = 0;
        }
    }

    // The processor time this thread used so far: on a busy machine the
    // sending time holds waits for the processor too.
    static double cpuSeconds() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    }

    // Sends up to kBatch replies; returns how many left. Broadcast replies
    // to an Ethernet interface leave as whole frames through the packet
    // socket; the others through the UDP socket, each from its device's
    // address (IP_PKTINFO).
    std::size_t sendBatch(std::span<const Pending> batch) {
        const std::size_t count = batch.size();
        std::size_t datagrams = 0;
        std::size_t frames = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const Pending &p = batch[i];
            const Device &device = devices_[p.device];
            errors_[i] = 0;
            if (frames_.build(frames, device.address, p.to, p.interfaceIndex, *p.datagram)) {
                frameOf_[frames++] = i;
                continue;
            }
            const std::size_t m = datagrams++;
            datagramOf_[m] = i;
            iov_[m] = {const_cast<std::uint8_t *>(p.datagram->data()), p.datagram->size()};
            to_[m] = p.to;
            msghdr &msg = messages_[m].msg_hdr;
            msg = msghdr{};
            msg.msg_name = &to_[m];
            msg.msg_namelen = sizeof to_[m];
            msg.msg_iov = &iov_[m];
            msg.msg_iovlen = 1;
            msg.msg_control = control_[m].bytes;
            msg.msg_controllen = sizeof control_[m].bytes;
            cmsghdr *cmsg = CMSG_FIRSTHDR(&msg);
            cmsg->cmsg_level = IPPROTO_IP;
            cmsg->cmsg_type = IP_PKTINFO;
            cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            std::memcpy(&info.ipi_spec_dst.s_addr, device.address.data(), 4);
            info.ipi_ifindex = p.interfaceIndex;
            std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);
        }
        const std::size_t sent = sendAll(socket_, messages_, datagrams, datagramOf_) +
                                 sendAll(frames_.socket(), frames_.messages(), frames, frameOf_);
        // A failed send is logged even without the log of every reply.
        for (std::size_t i = 0; i < count; ++i)
            if (replyLog_ || errors_[i] != 0)
                logReply(batch[i], errors_[i]);
        return sent;
    }

    // Sends `count` messages with as few sendmmsg calls as may be; a message
    // that fails has its error noted at errors_[batchIndex[i]] and is skipped.
    std::size_t sendAll(int socket, mmsghdr *messages, std::size_t count,
                        const std::size_t *batchIndex) {
        std::size_t done = 0;
        std::size_t sent = 0;
        while (done < count) {
            const int n = sendmmsg(socket, messages + done, static_cast<unsigned>(count - done), 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                errors_[batchIndex[done++]] = errno; // that one failed; go on with the next
                continue;
            }
            done += static_cast<std::size_t>(n);
            sent += static_cast<std::size_t>(n);
        }
        return sent;
    }

    void logReply(const Pending &p, int error) {
        const Device &device = devices_[p.device];
        const Bytes &datagram = *p.datagram;
        QJsonObject line{
            {"time", now()},
            {"dir", "out"},
            {"device", QString::fromStdString(macText(device.mac))},
            {"from", QString::fromStdString(ipv4Text(device.address))},
            {"to", endpointText(p.to)},
            {"length", static_cast<qint64>(datagram.size())},
            {"hex", QString::fromStdString(hexText(datagram.data(), datagram.size()))}};
        // A faulty reply may be cut short of its header.
        if (datagram.size() > 7) {
            line["version"] = datagram[4];
            line["kind"] = datagram[7];
        }
        if (p.clipped)
            line["clipped"] = true;
        if (error != 0)
            line["error"] = QString::fromLocal8Bit(std::strerror(error));
        write(line);
    }

    static double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    // The replies sent in all and the rate while sending, on standard error
    // and in the log.
    void writeRate() {
        const std::size_t replies = totalSent_ + burstSent_;
        const double busy = seconds(totalBusy_ + burstBusy_);
        const double cpu = totalCpu_ + burstCpu_;
        const double rate = busy > 0 ? double(replies) / busy : 0.0;
        const double perCpu = cpu > 0 ? double(replies) / cpu : 0.0;
        write(QJsonObject{{"event", "rate"},
                          {"replies", static_cast<qint64>(replies)},
                          {"sendingSeconds", busy},
                          {"perSecond", rate},
                          {"bestBurstPerSecond", bestRate_},
                          {"cpuSeconds", cpu},
                          {"perCpuSecond", perCpu}});
        if (!replyLog_ && replies > 0) // a big run: the figure people look for
            std::fprintf(stderr,
                         "kova-devsim: sent %zu replies in %.3f s of sending: %.0f replies/s (best "
                         "burst %.0f/s); %.3f s of processor time: %.0f replies per processor "
                         "second\n",
                         replies, busy, rate, bestRate_, cpu, perCpu);
    }

    static QString now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

    void logError(const char *what, int error) {
        write(QJsonObject{{"event", "error"},
                          {"call", what},
                          {"error", QString::fromLocal8Bit(std::strerror(error))}});
        std::fprintf(stderr, "kova-devsim: %s: %s\n", what, std::strerror(error));
    }

    void write(const QJsonObject &object) {
        const QByteArray line = jsonLine(object);
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), log_);
        std::fflush(log_);
    }

    // A device's information reply as last built; reset when the device changes.
    struct Info {
        Datagram datagram;
        bool clipped = false;
    };
    static constexpr std::size_t kBatch = 256;

    std::vector<Device> devices_;
    std::vector<Info> info_;
    std::map<Mac, std::size_t> byMac_;
    std::FILE *log_;
    bool replyLog_;
    std::mt19937 rng_;
    int socket_ = -1;
    // The replies waiting, by the steady clock's millisecond they are due in,
    // and emptied buckets kept with their room for the next ones.
    static constexpr std::size_t kSpareBuckets = 4096;
    std::map<std::int64_t, std::vector<Pending>> due_;
    std::vector<std::vector<Pending>> spare_;
    // The messages of the batch being sent.
    mmsghdr messages_[kBatch] = {};
    iovec iov_[kBatch] = {};
    sockaddr_in to_[kBatch] = {};
    struct Control {
        alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
    };
    Control control_[kBatch] = {};
    std::size_t datagramOf_[kBatch] = {}; // the batch index of each message
    FrameSender frames_{kBatch};
    std::size_t frameOf_[kBatch] = {};
    int errors_[kBatch] = {};
    // Send rate: the current burst (until the queue is empty) and all before it.
    Clock::time_point burstStart_;
    std::size_t burstSent_ = 0;
    Clock::duration burstBusy_{};
    std::size_t totalSent_ = 0;
    Clock::duration totalBusy_{};
    double burstCpu_ = 0;
    double totalCpu_ = 0;
    double bestRate_ = 0;
};

int fail(const QString &message) {
    std::fprintf(stderr, "kova-devsim: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kova-devsim");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Plays KOVA devices on a private lab network (run it through scripts/lab).\n"
        "Device files: a JSON list of device objects with the optional fields mac, address,\n"
        "version, deviceByte, byte16, model, hostName, domainName, networkMode, ipAddress,\n"
        "netMask, gateway, dnsServer, pppoeUserName, pppoePassword, pppoeServiceName, mtu,\n"
        "dnsMode, pppoeDnsServer, webPort, av1Port, av2Port, confPort, av1Protocol,\n"
        "av2Protocol, av1Flag, av2Flag, firmware, serialNumber, guest, adminId,\n"
        "adminPassword, filler, lengthField, sendBytes, answersVersions, delayMs, jitterMs, reply "
        "(broadcast|unicast),\n"
        "configAnswer (ok|status1|none|ignore), movesToNewAddress. See tools/devsim/devices.h for "
        "their meaning.");
    parser.addHelpOption();
    const QCommandLineOption devicesOption("devices", "Devices from a JSON file.", "FILE");
    const QCommandLineOption countOption("count", "Generate N varied devices.", "N", "0");
    const QCommandLineOption seedOption("seed", "Seed of the generated devices and of the jitter.",
                                        "S", "1");
    const QCommandLineOption jitterOption("jitter", "Reply jitter of generated devices (ms).", "MS",
                                          "200");
    const QCommandLineOption baseOption(
        "base-address", "First address given to devices without one.", "IP", "10.77.1.1");
    const QCommandLineOption reserveOption(
        "reserve-address", "An address no device without one is given (the lab's own).", "IP");
    const QCommandLineOption logOption("log", "Write the JSON log here instead of stdout.", "FILE");
    const QCommandLineOption noReplyLogOption(
        "no-reply-log", "Log no line per reply sent (requests, bursts and the rate still are).");
    const QCommandLineOption listOption("list-addresses",
                                        "Print each device's address, one a line, and exit.");
    const QCommandLineOption rangesOption(
        "list-ranges", "Print the fewest address blocks (A.B.C.D/N) that hold exactly the devices' "
                       "addresses, one a line, and exit.");
    parser.addOptions({devicesOption, countOption, seedOption, jitterOption, baseOption,
                       reserveOption, logOption, noReplyLogOption, listOption, rangesOption});
    parser.process(app);

    veltrona::test::requirePrivateNetns();

    std::vector<Device> devices;
    if (parser.isSet(devicesOption)) {
        QFile file(parser.value(devicesOption));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(file.fileName()));
        QString error;
        if (!loadDevices(file.readAll(), devices, error))
            return fail(QStringLiteral("%1: %2").arg(file.fileName(), error));
    }
    bool ok = false;
    const int count = parser.value(countOption).toInt(&ok);
    if (!ok || count < 0 || count > kMaxGenerated)
        return fail(QStringLiteral("--count takes a number from 0 to %1").arg(kMaxGenerated));
    const std::uint32_t seed = parser.value(seedOption).toUInt(&ok);
    if (!ok)
        return fail("--seed takes a non-negative number");
    const int jitter = parser.value(jitterOption).toInt(&ok);
    if (!ok || jitter < 0 || jitter > 60000)
        return fail("--jitter takes milliseconds from 0 to 60000");
    Ipv4 base{};
    if (!parseIpv4(parser.value(baseOption).toStdString(), base))
        return fail("--base-address takes a dotted IPv4 address");
    const std::vector<Device> generated = generateDevices(count, seed, jitter);
    devices.insert(devices.end(), generated.begin(), generated.end());
    if (devices.empty())
        return fail("no devices: give --devices FILE and/or --count N");
    std::vector<Ipv4> reserved;
    for (const QString &text : parser.values(reserveOption)) {
        if (!parseIpv4(text.toStdString(), reserved.emplace_back()))
            return fail("--reserve-address takes a dotted IPv4 address");
    }
    QString error;
    if (!finishDevices(devices, base, error, reserved))
        return fail(error);

    if (parser.isSet(listOption)) {
        for (const Device &d : devices)
            std::printf("%s\n", ipv4Text(d.address).c_str());
        return 0;
    }
    if (parser.isSet(rangesOption)) {
        for (const AddressBlock &block : addressBlocks(devices))
            std::printf("%s/%d\n", ipv4Text(block.first).c_str(), block.prefix);
        return 0;
    }

    std::FILE *log = stdout;
    if (parser.isSet(logOption)) {
        log = std::fopen(qPrintable(parser.value(logOption)), "a");
        if (log == nullptr)
            return fail(QStringLiteral("cannot write %1").arg(parser.value(logOption)));
    }
    Simulator simulator(std::move(devices), log, seed, !parser.isSet(noReplyLogOption));
    const int status = simulator.run();
    if (log != stdout)
        std::fclose(log);
    return status;
}
