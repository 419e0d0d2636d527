// kova-devsim: plays one or many KOVA devices on a private lab network.
// One UDP socket on 0.0.0.0:32154 receives every request; each device's replies
// leave with the device's own source address (IP_PKTINFO), on a timer queue run
// by this one thread. Every datagram in and out is logged as one JSON line.

#include "devices.h"
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
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <queue>
#include <random>

using namespace kovasim;

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    Clock::time_point due;
    std::uint64_t order = 0;
    std::size_t device = 0;
    Bytes datagram;
    sockaddr_in to{};
    bool clipped = false;
    bool operator>(const Pending &other) const {
        return due != other.due ? due > other.due : order > other.order;
    }
};

QString endpointText(const sockaddr_in &address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return QStringLiteral("%1:%2").arg(text).arg(ntohs(address.sin_port));
}

class Simulator {
public:
    Simulator(std::vector<Device> devices, std::FILE *log, std::uint32_t seed)
        : devices_(std::move(devices)), log_(log), rng_(seed) {
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
            if (!queue_.empty()) {
                const auto wait =
                    std::chrono::ceil<std::chrono::milliseconds>(queue_.top().due - Clock::now());
                timeout = static_cast<int>(std::max<long long>(0, wait.count()));
            }
            pollfd fds[2] = {{socket_, POLLIN, 0}, {signalFd, POLLIN, 0}};
            if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
                logError("poll", errno);
                return 1;
            }
            if (fds[1].revents & POLLIN) {
                signalfd_siginfo info{};
                if (read(signalFd, &info, sizeof info) < 0)
                    info.ssi_signo = 0;
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
        return true;
    }

    // Returns false when nothing more is waiting.
    bool receiveOne() {
        std::uint8_t buffer[2048];
        sockaddr_in from{};
        iovec iov{buffer, sizeof buffer};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = recvmsg(socket_, &msg, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                logError("recvmsg", errno);
            return false;
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
            int answering = 0;
            for (std::size_t i = 0; i < devices_.size(); ++i) {
                if (!answersDiscovery(devices_[i], request))
                    continue;
                bool clipped = false;
                Bytes reply = deviceInfoDatagram(devices_[i], &clipped);
                schedule(i, std::move(reply), from, clipped);
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
            schedule(found->second, encodeResult(device, *decision.kind), from, false);
        return true;
    }

    // From now on the device answers from its new static address, which the
    // lab did not give to the device side: the socket may send from any
    // address (IP_TRANSPARENT), out of the interface of the device's old one.
    void moveDevice(std::size_t index) {
        Device &device = devices_[index];
        const int on = 1;
        if (setsockopt(socket_, SOL_IP, IP_TRANSPARENT, &on, sizeof on) != 0) {
            logError("setsockopt IP_TRANSPARENT", errno);
            return;
        }
        if (moved_.count(index) == 0)
            moved_[index] = interfaceOf(device.address);
        device.address = device.ipAddress;
    }

    static unsigned interfaceOf(const Ipv4 &address) {
        unsigned index = 0;
        ifaddrs *list = nullptr;
        if (getifaddrs(&list) != 0)
            return 0;
        for (const ifaddrs *a = list; a != nullptr && index == 0; a = a->ifa_next) {
            if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET &&
                std::memcmp(&reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr,
                            address.data(), 4) == 0)
                index = if_nametoindex(a->ifa_name);
        }
        freeifaddrs(list);
        return index;
    }

    void schedule(std::size_t index, Bytes datagram, const sockaddr_in &sender, bool clipped) {
        const Device &device = devices_[index];
        int delay = device.delayMs;
        if (device.jitterMs > 0)
            delay += std::uniform_int_distribution<int>(0, device.jitterMs)(rng_);
        Pending pending;
        pending.due = Clock::now() + std::chrono::milliseconds(delay);
        pending.order = order_++;
        pending.device = index;
        pending.datagram = std::move(datagram);
        pending.clipped = clipped;
        if (device.route == ReplyRoute::Unicast) {
            pending.to = sender;
        } else {
            pending.to.sin_family = AF_INET;
            pending.to.sin_port = htons(kToolPort);
            pending.to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        }
        queue_.push(std::move(pending));
    }

    void sendDue() {
        const auto now = Clock::now();
        while (!queue_.empty() && queue_.top().due <= now) {
            const Pending &p = queue_.top();
            send(p);
            queue_.pop();
        }
    }

    void send(const Pending &p) {
        const Device &device = devices_[p.device];
        iovec iov{const_cast<std::uint8_t *>(p.datagram.data()), p.datagram.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr msg{};
        sockaddr_in to = p.to;
        msg.msg_name = &to;
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr *cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = IPPROTO_IP;
        cmsg->cmsg_type = IP_PKTINFO;
        cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        std::memcpy(&info.ipi_spec_dst.s_addr, device.address.data(), 4);
        if (const auto moved = moved_.find(p.device); moved != moved_.end())
            info.ipi_ifindex = static_cast<int>(moved->second);
        std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);

        QJsonObject line{
            {"time", now()},
            {"dir", "out"},
            {"device", QString::fromStdString(macText(device.mac))},
            {"from", QString::fromStdString(ipv4Text(device.address))},
            {"to", endpointText(p.to)},
            {"length", static_cast<qint64>(p.datagram.size())},
            {"hex", QString::fromStdString(hexText(p.datagram.data(), p.datagram.size()))}};
        // A faulty reply may be cut short of its header.
        if (p.datagram.size() > 7) {
            line["version"] = p.datagram[4];
            line["kind"] = p.datagram[7];
        }
        if (p.clipped)
            line["clipped"] = true;
        if (sendmsg(socket_, &msg, 0) < 0) {
            line["error"] = QString::fromLocal8Bit(std::strerror(errno));
        }
        write(line);
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

    std::vector<Device> devices_;
    std::map<Mac, std::size_t> byMac_;
    std::map<std::size_t, unsigned> moved_; // device -> interface of its first address
    std::FILE *log_;
    std::mt19937 rng_;
    int socket_ = -1;
    std::uint64_t order_ = 0;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> queue_;
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
    const QCommandLineOption logOption("log", "Write the JSON log here instead of stdout.", "FILE");
    const QCommandLineOption listOption("list-addresses",
                                        "Print each device's address, one a line, and exit.");
    parser.addOptions(
        {devicesOption, countOption, seedOption, jitterOption, baseOption, logOption, listOption});
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
    if (!ok || count < 0 || count > 60000)
        return fail("--count takes a number from 0 to 60000");
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
    QString error;
    if (!finishDevices(devices, base, error))
        return fail(error);

    if (parser.isSet(listOption)) {
        for (const Device &d : devices)
            std::printf("%s\n", ipv4Text(d.address).c_str());
        return 0;
    }

    std::FILE *log = stdout;
    if (parser.isSet(logOption)) {
        log = std::fopen(qPrintable(parser.value(logOption)), "a");
        if (log == nullptr)
            return fail(QStringLiteral("cannot write %1").arg(parser.value(logOption)));
    }
    Simulator simulator(std::move(devices), log, seed);
    const int status = simulator.run();
    if (log != stdout)
        std::fclose(log);
    return status;
}
