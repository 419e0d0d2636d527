// End to end through the KOVA library, in the lab: scripts/lab starts kova-devsim
// with lab-test-devices.json and runs this program in the tool's namespace. The
// device file is read here with code of this test's own, and the simulator's
// JSON log shows what reached each device.
#include "kova.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// ---- the device file ---------------------------------------------------

QJsonArray deviceFile() {
    QFile file(LAB_TEST_DEVICES);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array();
}

QJsonObject deviceByMac(const std::string &mac) {
    for (const QJsonValue &v : deviceFile())
        if (v.toObject().value("mac").toString().toStdString() == mac)
            return v.toObject();
    return {};
}

std::string str(const QJsonObject &o, const char *key) {
    return o.value(key).toString().toLatin1().toStdString();
}

int num(const QJsonObject &o, const char *key) {
    return o.value(key).toInt(-1);
}

std::string macText(const uint8_t *mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string bounded(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}

// ---- the library's callbacks -----------------------------------------------

struct Event {
    HKOVAITEM item;
    int32_t event;
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<Event> g_events;

void onReply(HKOVAITEM item, int32_t event, int32_t) {
    std::lock_guard lock(g_mutex);
    g_events.push_back({item, event});
    g_changed.notify_all();
}

void clearEvents() {
    std::lock_guard lock(g_mutex);
    g_events.clear();
}

std::vector<Event> events() {
    std::lock_guard lock(g_mutex);
    return g_events;
}

const KOVA_CONFIG kConfig{onReply, nullptr, KOVA_CLASS_ID};

// A scan as the front end runs it; returns each device's handle by MAC text and
// how many device-information events came from it.
struct ScanResult {
    std::map<std::string, HKOVAITEM> items;
    std::map<std::string, int> replies;
    std::set<HKOVAITEM> handles;
};

ScanResult scan(std::chrono::milliseconds collect = 1500ms) {
    clearEvents();
    EXPECT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    kova_SetProtocolType(4);
    EXPECT_EQ(kova_SendDiscovery(), KOVA_OK);
    std::this_thread::sleep_for(100ms);
    kova_SetProtocolType(2);
    EXPECT_EQ(kova_SendDiscovery(), KOVA_OK);
    std::this_thread::sleep_for(collect);
    kova_Close();
    ScanResult result;
    for (const Event &e : events()) {
        EXPECT_EQ(e.event, KOVA_EVENT_DEVICE_INFO);
        KOVA_DEVICE_INFO info;
        EXPECT_EQ(kova_GetDeviceInfo(e.item, &info), KOVA_OK);
        const std::string mac = macText(info.mac);
        EXPECT_TRUE(!result.items.count(mac) || result.items[mac] == e.item) << mac;
        result.items[mac] = e.item;
        result.replies[mac]++;
        result.handles.insert(e.item);
    }
    return result;
}

// Sends one configuration request on a fresh connection, as the setting page
// does, and waits for the device's answer: the event, or -1 for none.
template <typename Send> int32_t request(Send send, std::chrono::milliseconds wait = 1500ms) {
    clearEvents();
    EXPECT_EQ(kova_Initialise(&kConfig), KOVA_OK);
    const int32_t sent = send();
    EXPECT_EQ(sent, KOVA_OK);
    int32_t result = -1;
    {
        std::unique_lock lock(g_mutex);
        g_changed.wait_for(lock, wait, [] { return !g_events.empty(); });
        if (!g_events.empty())
            result = g_events.front().event;
    }
    kova_Close();
    return result;
}

// ---- the simulator's log ---------------------------------------------------

// The last request the simulator received for this device.
QJsonObject lastRequestTo(const std::string &mac) {
    QFile file(qEnvironmentVariable("VELTRONA_LAB_LOG"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << "VELTRONA_LAB_LOG";
    QJsonObject last;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value("dir") == "in" && o.value("device").toString().toStdString() == mac)
            last = o;
    }
    return last;
}

std::vector<QJsonObject> logLines() {
    QFile file(qEnvironmentVariable("VELTRONA_LAB_LOG"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    std::vector<QJsonObject> lines;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.isEmpty())
            lines.push_back(QJsonDocument::fromJson(line).object());
    return lines;
}

// The request a device should have received: header, device byte and key from
// its reply, selector, ID; bytes 24 to 45 (masked password and random bytes)
// are compared through the simulator's decoding instead.
void expectRequestBytes(const QJsonObject &logged, const QJsonObject &device, int command,
                        int selector, const std::string &id, const std::vector<uint8_t> &body) {
    const int version = num(device, "version");
    std::vector<uint8_t> expected = {'A',
                                     'D',
                                     'C',
                                     'T',
                                     uint8_t(version),
                                     0,
                                     0,
                                     uint8_t(command),
                                     uint8_t(num(device, "deviceByte"))};
    unsigned m[6];
    std::sscanf(str(device, "mac").c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4],
                &m[5]);
    for (unsigned byte : m)
        expected.push_back(uint8_t(byte));
    expected.push_back(uint8_t(selector));
    for (size_t i = 0; i < 8; ++i)
        expected.push_back(i < id.size() ? uint8_t(id[i]) : 0);
    expected.resize(46, 0);
    expected.insert(expected.end(), body.begin(), body.end());
    if (version >= 4)
        expected.insert(expected.end(), {0xE0, 0x00, 0x00});
    expected[5] = uint8_t(expected.size());
    expected[6] = uint8_t(expected.size() >> 8);

    const QByteArray got = QByteArray::fromHex(logged.value("hex").toString().toLatin1());
    ASSERT_EQ(size_t(got.size()), expected.size()) << logged.value("hex").toString().toStdString();
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i >= 24 && i < 46)
            continue;
        EXPECT_EQ(uint8_t(got[qsizetype(i)]), expected[i]) << "byte " << i;
    }
    EXPECT_TRUE(logged.value("maskLess1Ok").toBool());
    EXPECT_TRUE(logged.value("byte8Ok").toBool());
    EXPECT_TRUE(logged.value("versionOk").toBool());
}

KOVA_NETWORK_SETTINGS settingsOf(HKOVAITEM item) {
    KOVA_NETWORK_SETTINGS s;
    EXPECT_EQ(kova_GetNetworkSettings(item, &s), KOVA_OK);
    return s;
}

} // namespace

TEST(LabScan, FindsEveryDeviceOnceWithItsFields) {
    const QJsonArray devices = deviceFile();
    ASSERT_FALSE(devices.isEmpty()) << LAB_TEST_DEVICES;
    const ScanResult result = scan();
    EXPECT_EQ(result.items.size(), size_t(devices.size()));
    EXPECT_EQ(result.handles.size(), size_t(devices.size())); // one record per device

    for (const QJsonValue &value : devices) {
        const QJsonObject d = value.toObject();
        const std::string mac = str(d, "mac");
        SCOPED_TRACE(mac);
        ASSERT_TRUE(result.items.count(mac));
        EXPECT_EQ(result.replies.at(mac), 2); // one answer to each discovery
        const HKOVAITEM item = result.items.at(mac);
        const int version = num(d, "version");

        KOVA_DEVICE_INFO info;
        ASSERT_EQ(kova_GetDeviceInfo(item, &info), KOVA_OK);
        EXPECT_STREQ(info.ipAddress, str(d, "address").c_str()); // the source, not the body
        EXPECT_STREQ(info.modelName, str(d, "model").c_str());
        EXPECT_STREQ(info.hostName, str(d, "hostName").c_str());
        EXPECT_STREQ(info.domainName, str(d, "domainName").c_str());
        int32_t replyVersion = 0;
        EXPECT_EQ(kova_GetReplyVersion(item, &replyVersion), KOVA_OK);
        EXPECT_EQ(replyVersion, version);

        const KOVA_NETWORK_SETTINGS s = settingsOf(item);
        const std::map<std::string, int> modes = {
            {"static", KOVA_MODE_STATIC}, {"dhcp", KOVA_MODE_DHCP}, {"pppoe", KOVA_MODE_PPPOE}};
        EXPECT_EQ(s.mode, modes.at(str(d, "networkMode")));
        EXPECT_STREQ(s.ipAddress, str(d, "ipAddress").c_str());
        EXPECT_STREQ(s.netMask, str(d, "netMask").c_str());
        EXPECT_STREQ(s.gateway, str(d, "gateway").c_str());
        EXPECT_STREQ(s.dnsServer, str(d, "dnsServer").c_str());
        EXPECT_EQ(bounded(s.pppoeUserName, 16), str(d, "pppoeUserName"));
        EXPECT_EQ(bounded(s.pppoePassword, 32), str(d, "pppoePassword"));
        EXPECT_EQ(bounded(s.pppoeServiceName, 32), str(d, "pppoeServiceName"));
        EXPECT_EQ(s.mtu, num(d, "mtu"));
        EXPECT_EQ(s.dnsMode, num(d, "dnsMode"));
        EXPECT_STREQ(s.pppoeDnsServer, str(d, "pppoeDnsServer").c_str());

        int32_t guest = -1;
        EXPECT_EQ(kova_GetGuestAccount(item, &guest), KOVA_OK);
        EXPECT_EQ(guest != 0, d.value("guest").toBool());

        KOVA_SERVICE_PORTS ports;
        KOVA_FIRMWARE_INFO firmware;
        if (version < 3) {
            EXPECT_EQ(kova_GetServicePorts(item, &ports), KOVA_ERR_NOT_IMPLEMENTED);
            EXPECT_EQ(kova_GetFirmwareInfo(item, &firmware), KOVA_ERR_NOT_IMPLEMENTED);
            continue;
        }
        ASSERT_EQ(kova_GetServicePorts(item, &ports), KOVA_OK);
        EXPECT_EQ(ports.av1Port, num(d, "av1Port"));
        EXPECT_EQ(ports.webPort, num(d, "webPort"));
        const bool v5 = version >= 5;
        EXPECT_EQ(ports.av2Port, v5 ? num(d, "av2Port") : 0);
        EXPECT_EQ(ports.conf, v5 ? num(d, "confPort") : 0);
        EXPECT_EQ(ports.av1Protocol, v5 ? num(d, "av1Protocol") : 0);
        EXPECT_EQ(ports.av2Protocol, v5 ? num(d, "av2Protocol") : 0);
        EXPECT_EQ(ports.av1Flag, v5 ? num(d, "av1Flag") : 0);
        EXPECT_EQ(ports.av2Flag, v5 ? num(d, "av2Flag") : 0);
        ASSERT_EQ(kova_GetFirmwareInfo(item, &firmware), KOVA_OK);
        char fw[20];
        std::snprintf(fw, sizeof fw, "%u.%u.%u.%u", firmware.fwMajor, firmware.fwMinor,
                      firmware.fwPatch, firmware.fwReserved);
        EXPECT_EQ(std::string(fw), str(d, "firmware"));
        EXPECT_EQ(bounded(firmware.serialNumber, 16), str(d, "serialNumber"));
    }

    // The simulator saw both discoveries byte for byte, and every reply left
    // from the device's own address.
    std::map<std::string, std::string> addresses;
    for (const QJsonValue &value : devices)
        addresses[str(value.toObject(), "mac")] = str(value.toObject(), "address");
    std::set<std::string> discoveries;
    int out = 0;
    for (const QJsonObject &line : logLines()) {
        if (line.value("dir") == "in" && line.value("command") == 3)
            discoveries.insert(line.value("hex").toString().toStdString());
        if (line.value("dir") == "out") {
            ++out;
            const std::string mac = line.value("device").toString().toStdString();
            EXPECT_EQ(line.value("from").toString().toStdString(), addresses[mac]) << mac;
            EXPECT_FALSE(line.contains("error")) << mac;
        }
    }
    EXPECT_EQ(discoveries,
              (std::set<std::string>{"41444354050c0003ffe00000", "4144435403090003ff"}));
    EXPECT_GE(out, 2 * devices.size());
}

class LabConfig : public testing::Test {
protected:
    static void SetUpTestSuite() { items_ = scan(800ms).items; }

    static HKOVAITEM item(const char *mac) {
        const auto found = items_.find(mac);
        return found == items_.end() ? nullptr : found->second;
    }

    static std::map<std::string, HKOVAITEM> items_;
};

std::map<std::string, HKOVAITEM> LabConfig::items_;

TEST_F(LabConfig, SetNetworkStaticAndPppoeChangeTheDevices) {
    const char *staticMac = "02:4c:00:00:00:01"; // version 5, static
    const char *pppoeMac = "02:4c:00:00:00:08";  // version 5, DHCP, ID "op"
    ASSERT_TRUE(item(staticMac) && item(pppoeMac));

    KOVA_NETWORK_SETTINGS s{};
    s.mode = KOVA_MODE_STATIC;
    std::strcpy(s.ipAddress, "10.1.2.3");
    std::strcpy(s.netMask, "255.0.0.0");
    std::strcpy(s.gateway, "10.1.2.254");
    std::strcpy(s.dnsServer, "1.1.1.1");
    EXPECT_EQ(
        request([&] { return kova_SetNetworkSettings(item(staticMac), "admin", "admin", &s); }),
        KOVA_EVENT_SUCCESS);
    QJsonObject logged = lastRequestTo(staticMac);
    EXPECT_EQ(logged.value("password").toString(), "admin");
    EXPECT_TRUE(logged.value("applied").toBool());
    expectRequestBytes(logged, deviceByMac(staticMac), 4, 1, "admin",
                       {10, 1, 2, 3, 255, 0, 0, 0, 10, 1, 2, 254, 1, 1, 1, 1});

    KOVA_NETWORK_SETTINGS p{};
    p.mode = KOVA_MODE_PPPOE;
    std::strcpy(p.pppoeUserName, "u");
    std::strcpy(p.pppoeServiceName, "isp");
    p.mtu = 1400;
    p.dnsMode = 1;
    std::strcpy(p.pppoeDnsServer, "9.9.9.9");
    EXPECT_EQ(request([&] {
                  return kova_SetNetworkSettings(item(pppoeMac), "op", "0123456789abcdef", &p);
              }),
              KOVA_EVENT_SUCCESS);
    logged = lastRequestTo(pppoeMac);
    EXPECT_EQ(logged.value("password").toString(), "0123456789abcdef");
    expectRequestBytes(logged, deviceByMac(pppoeMac), 4, 2, "op",
                       {1, 'u', 0, 3, 'i', 's', 'p', 0x78, 0x05, 0, 0, 1, 9, 9, 9, 9});

    const ScanResult again = scan(600ms);
    ASSERT_TRUE(again.items.count(staticMac) && again.items.count(pppoeMac));
    const KOVA_NETWORK_SETTINGS now = settingsOf(again.items.at(staticMac));
    EXPECT_EQ(now.mode, KOVA_MODE_STATIC);
    EXPECT_STREQ(now.ipAddress, "10.1.2.3");
    EXPECT_STREQ(now.netMask, "255.0.0.0");
    EXPECT_STREQ(now.gateway, "10.1.2.254");
    EXPECT_STREQ(now.dnsServer, "1.1.1.1");
    const KOVA_NETWORK_SETTINGS nowPppoe = settingsOf(again.items.at(pppoeMac));
    EXPECT_EQ(nowPppoe.mode, KOVA_MODE_PPPOE);
    EXPECT_EQ(bounded(nowPppoe.pppoeUserName, 16), "u");
    EXPECT_EQ(bounded(nowPppoe.pppoePassword, 32), "");
    EXPECT_EQ(bounded(nowPppoe.pppoeServiceName, 32), "isp");
    EXPECT_EQ(nowPppoe.mtu, 1400);
    EXPECT_EQ(nowPppoe.dnsMode, 1);
    EXPECT_STREQ(nowPppoe.pppoeDnsServer, "9.9.9.9");
}

TEST_F(LabConfig, SetHostNameAndSetAccountChangeTheDevices) {
    const char *hostMac = "02:4c:00:00:00:02";    // version 4: requests carry the trailer
    const char *accountMac = "02:4c:00:00:00:03"; // version 3, root / r00t
    ASSERT_TRUE(item(hostMac) && item(accountMac));

    EXPECT_EQ(request([&] {
                  return kova_SetHostName(item(hostMac), "admin", "admin", "renamed",
                                          "new.example");
              }),
              KOVA_EVENT_SUCCESS);
    std::vector<uint8_t> body = {7, 'r', 'e', 'n', 'a', 'm', 'e', 'd', 11};
    for (char c : std::string("new.example"))
        body.push_back(uint8_t(c));
    expectRequestBytes(lastRequestTo(hostMac), deviceByMac(hostMac), 4, 3, "admin", body);

    const int32_t guestOn = 7;
    EXPECT_EQ(
        request([&] { return kova_SetAccount(item(accountMac), "root", "r00t", "n3w", &guestOn); }),
        KOVA_EVENT_SUCCESS);
    const QJsonObject logged = lastRequestTo(accountMac);
    EXPECT_EQ(logged.value("command").toInt(), 5);
    EXPECT_EQ(logged.value("selector").toInt(), 1);
    EXPECT_EQ(logged.value("guest").toInt(), 1);
    EXPECT_EQ(logged.value("newPassword").toString(), "n3w");
    EXPECT_TRUE(logged.value("newMaskLess1Ok").toBool());
    EXPECT_EQ(logged.value("length").toInt(), 69);
    EXPECT_EQ(logged.value("trailer").toBool(), false);

    // The old password is now refused and the new one accepted.
    EXPECT_EQ(request([&] { return kova_SetHostName(item(accountMac), "root", "r00t", "x", ""); }),
              KOVA_EVENT_AUTH_FAILED);
    EXPECT_EQ(
        request([&] { return kova_SetHostName(item(accountMac), "root", "n3w", "vs-three", ""); }),
        KOVA_EVENT_SUCCESS);

    const ScanResult again = scan(600ms);
    ASSERT_TRUE(again.items.count(hostMac) && again.items.count(accountMac));
    KOVA_DEVICE_INFO info;
    ASSERT_EQ(kova_GetDeviceInfo(again.items.at(hostMac), &info), KOVA_OK);
    EXPECT_STREQ(info.hostName, "renamed");
    EXPECT_STREQ(info.domainName, "new.example");
    ASSERT_EQ(kova_GetDeviceInfo(again.items.at(accountMac), &info), KOVA_OK);
    EXPECT_STREQ(info.hostName, "vs-three");
    EXPECT_STREQ(info.domainName, "");
    int32_t guest = 0;
    EXPECT_EQ(kova_GetGuestAccount(again.items.at(accountMac), &guest), KOVA_OK);
    EXPECT_NE(guest, 0);
}

TEST_F(LabConfig, RefusalsAndOtherAnswers) {
    const char *plainMac = "02:4c:00:00:00:05";  // version 5, answers by unicast
    const char *statusMac = "02:4c:00:00:00:06"; // answers status 1
    const char *silentMac = "02:4c:00:00:00:09"; // never answers configuration requests
    ASSERT_TRUE(item(plainMac) && item(statusMac) && item(silentMac));

    EXPECT_EQ(request([&] { return kova_SetHostName(item(plainMac), "admin", "wrong", "h", "d"); }),
              KOVA_EVENT_AUTH_FAILED);
    QJsonObject logged = lastRequestTo(plainMac);
    EXPECT_EQ(logged.value("password").toString(), "wrong");
    EXPECT_FALSE(logged.value("applied").toBool());
    EXPECT_EQ(request([&] { return kova_SetHostName(item(plainMac), "boss", "admin", "h", "d"); }),
              KOVA_EVENT_AUTH_FAILED);

    KOVA_NETWORK_SETTINGS s{};
    s.mode = KOVA_MODE_DHCP;
    EXPECT_EQ(
        request([&] { return kova_SetNetworkSettings(item(statusMac), "admin", "admin", &s); }),
        KOVA_EVENT_STATUS_1);
    logged = lastRequestTo(statusMac);
    expectRequestBytes(logged, deviceByMac(statusMac), 4, 0, "admin", {});
    EXPECT_FALSE(logged.value("applied").toBool());

    EXPECT_EQ(request([&] { return kova_SetHostName(item(silentMac), "admin", "admin", "h", "d"); },
                      500ms),
              -1);
    EXPECT_EQ(lastRequestTo(silentMac).value("selector").toInt(), 3);

    // Nothing of this changed the devices.
    const ScanResult again = scan(600ms);
    ASSERT_TRUE(again.items.count(plainMac));
    KOVA_DEVICE_INFO info;
    ASSERT_EQ(kova_GetDeviceInfo(again.items.at(plainMac), &info), KOVA_OK);
    EXPECT_STREQ(info.hostName, "");
    ASSERT_EQ(kova_GetDeviceInfo(again.items.at(silentMac), &info), KOVA_OK);
    EXPECT_STREQ(info.hostName, "mute");
}

TEST(LabRobustness, GarbageIsLoggedAndIgnored) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(KOVA_DEVICE_PORT);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);

    // A valid DHCP request to the version 2 device, to mutate.
    std::vector<uint8_t> valid = {'A', 'D', 'C', 'T', 2,   46,  0,   4,   4,   0x02, 0x4c, 0,
                                  0,   0,   4,   0,   'a', 'd', 'm', 'i', 'n', 0,    0,    0};
    for (int i = 0; i < 16; ++i)
        valid.push_back(i < 11 ? 0x33 : uint8_t("nimda"[i - 11] ^ 0x33));
    valid.insert(valid.end(), {0x32, 1, 2, 3, 4, 0x33});
    ASSERT_EQ(valid.size(), 46u);

    std::mt19937 rng(99);
    const int sent = 3000;
    for (int i = 0; i < sent; ++i) {
        std::vector<uint8_t> d;
        if (i % 3 == 0) {
            d.resize(rng() % 1500);
            for (auto &b : d)
                b = uint8_t(rng());
        } else {
            d = valid;
            d.resize(d.size() + rng() % 40);
            for (int k = 0; k < 1 + int(rng() % 4); ++k)
                d[rng() % d.size()] = uint8_t(rng());
            if (i % 3 == 1 && d.size() >= 7) {
                d[5] = uint8_t(d.size());
                d[6] = uint8_t(d.size() >> 8);
            }
        }
        sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        if (i % 200 == 0)
            std::this_thread::sleep_for(5ms); // stay within the receive buffer
    }
    ::close(fd);

    // Let the simulator work through the burst (its answers to mutated requests
    // must not land in the scan below), then check that it still answers.
    size_t seen = 0;
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(200ms);
        const size_t now = logLines().size();
        if (now == seen)
            break;
        seen = now;
    }
    const ScanResult result = scan(700ms);
    EXPECT_EQ(result.items.size(), size_t(deviceFile().size()));
    int ignored = 0, received = 0;
    for (const QJsonObject &line : logLines()) {
        received += line.value("dir") == "in";
        ignored += line.contains("ignored");
    }
    EXPECT_GE(received, sent);
    EXPECT_GT(ignored, sent / 3);
}

// Run with faulty-devices.json: replies with a wrong length field, cut short,
// longer than any reply or empty must not stop a scan, nor break the decoders.
TEST(LabFaultyReplies, OtherDevicesAreStillFound) {
    const ScanResult result = scan(800ms);
    ASSERT_TRUE(result.items.count("02:4d:00:00:00:01"));
    ASSERT_TRUE(result.items.count("02:4d:00:00:00:07")); // answers after all the faulty ones
    KOVA_DEVICE_INFO info;
    ASSERT_EQ(kova_GetDeviceInfo(result.items.at("02:4d:00:00:00:07"), &info), KOVA_OK);
    EXPECT_STREQ(info.hostName, "good-last");
    EXPECT_STREQ(info.ipAddress, "10.77.1.7");
    EXPECT_EQ(result.replies.at("02:4d:00:00:00:07"), 2);

    for (const auto &[mac, item] : result.items) {
        SCOPED_TRACE(mac);
        KOVA_NETWORK_SETTINGS settings;
        KOVA_SERVICE_PORTS ports;
        KOVA_FIRMWARE_INFO firmware;
        int32_t guest = 0;
        EXPECT_EQ(kova_GetDeviceInfo(item, &info), KOVA_OK);
        EXPECT_EQ(kova_GetNetworkSettings(item, &settings), KOVA_OK);
        EXPECT_EQ(kova_GetGuestAccount(item, &guest), KOVA_OK);
        kova_GetServicePorts(item, &ports);
        kova_GetFirmwareInfo(item, &firmware);
        EXPECT_LT(strnlen(info.hostName, sizeof info.hostName), sizeof info.hostName);
        EXPECT_LT(strnlen(info.modelName, sizeof info.modelName), sizeof info.modelName);
    }
}
