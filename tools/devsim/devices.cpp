#include "devices.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace kovasim {

namespace {

// Reads one device object; every member is checked for type and range.
class FieldReader {
public:
    explicit FieldReader(QString &error) : error_(error) {}

    bool text(const QJsonValue &value, std::string &out) {
        if (!value.isString())
            return fail("a text");
        out = value.toString().toLatin1().toStdString();
        return true;
    }

    template <typename T> bool number(const QJsonValue &value, T &out, double low, double high) {
        if (!value.isDouble())
            return fail("a number");
        const double d = value.toDouble();
        if (d != static_cast<double>(static_cast<long long>(d)) || d < low || d > high)
            return fail(QStringLiteral("a whole number from %1 to %2").arg(low).arg(high));
        out = static_cast<T>(d);
        return true;
    }

    bool ipv4(const QJsonValue &value, Ipv4 &out) {
        if (!value.isString() || !parseIpv4(value.toString().toStdString(), out))
            return fail("a dotted IPv4 address");
        return true;
    }

    bool flag(const QJsonValue &value, bool &out) {
        if (value.isBool()) {
            out = value.toBool();
            return true;
        }
        int n = 0;
        if (!number(value, n, 0, 1))
            return false;
        out = n != 0;
        return true;
    }

    template <typename T>
    bool choice(const QJsonValue &value, T &out, const std::map<QString, T> &names) {
        const auto it = names.find(value.toString());
        if (!value.isString() || it == names.end())
            return fail(QStringLiteral("one of ") + QStringList(keys(names)).join(", "));
        out = it->second;
        return true;
    }

    void setKey(const QString &key) { key_ = key; }

    bool fail(const QString &what) {
        error_ = QStringLiteral("field \"%1\" must be %2").arg(key_, what);
        return false;
    }

private:
    template <typename T> static QList<QString> keys(const std::map<QString, T> &names) {
        QList<QString> list;
        for (const auto &entry : names)
            list.append(entry.first);
        return list;
    }

    QString &error_;
    QString key_;
};

Device defaultDevice(std::size_t index) {
    Device device;
    device.mac = {0x02,
                  0x46,
                  0x00,
                  static_cast<std::uint8_t>(index >> 16),
                  static_cast<std::uint8_t>(index >> 8),
                  static_cast<std::uint8_t>(index)};
    device.model = "KV-2000";
    device.hostName = "kova-dev-" + std::to_string(index + 1);
    device.domainName = "lab.example";
    device.netMask = {255, 255, 0, 0};
    device.gateway = {10, 77, 0, 1};
    device.dnsServer = {10, 77, 0, 1};
    char serial[17];
    std::snprintf(serial, sizeof serial, "SN%08zu", index + 1);
    device.serialNumber = serial;
    return device;
}

bool readDevice(const QJsonObject &object, Device &device, QString &error) {
    FieldReader r(error);
    using Handler = std::function<bool(const QJsonValue &)>;
    const std::map<QString, Handler> handlers = {
        {"mac",
         [&](const QJsonValue &v) {
             return (v.isString() && parseMac(v.toString().toStdString(), device.mac)) ||
                    r.fail("a MAC address like 02:46:00:00:00:01");
         }},
        {"address", [&](const QJsonValue &v) { return r.ipv4(v, device.address); }},
        {"version", [&](const QJsonValue &v) { return r.number(v, device.version, 2, 5); }},
        {"deviceByte", [&](const QJsonValue &v) { return r.number(v, device.deviceByte, 0, 255); }},
        {"byte16", [&](const QJsonValue &v) { return r.number(v, device.byte16, 0, 255); }},
        {"model", [&](const QJsonValue &v) { return r.text(v, device.model); }},
        {"hostName", [&](const QJsonValue &v) { return r.text(v, device.hostName); }},
        {"domainName", [&](const QJsonValue &v) { return r.text(v, device.domainName); }},
        {"networkMode",
         [&](const QJsonValue &v) {
             if (v.isDouble())
                 return r.number(v, device.networkMode, 0, 2);
             return r.choice<std::uint8_t>(
                 v, device.networkMode,
                 {{"dhcp", kWireDhcp}, {"static", kWireStatic}, {"pppoe", kWirePppoe}});
         }},
        {"ipAddress", [&](const QJsonValue &v) { return r.ipv4(v, device.ipAddress); }},
        {"netMask", [&](const QJsonValue &v) { return r.ipv4(v, device.netMask); }},
        {"gateway", [&](const QJsonValue &v) { return r.ipv4(v, device.gateway); }},
        {"dnsServer", [&](const QJsonValue &v) { return r.ipv4(v, device.dnsServer); }},
        {"pppoeUserName", [&](const QJsonValue &v) { return r.text(v, device.pppoeUserName); }},
        {"pppoePassword", [&](const QJsonValue &v) { return r.text(v, device.pppoePassword); }},
        {"pppoeServiceName",
         [&](const QJsonValue &v) { return r.text(v, device.pppoeServiceName); }},
        {"mtu", [&](const QJsonValue &v) { return r.number(v, device.mtu, 0, 4294967295.0); }},
        {"dnsMode", [&](const QJsonValue &v) { return r.number(v, device.dnsMode, 0, 1); }},
        {"pppoeDnsServer", [&](const QJsonValue &v) { return r.ipv4(v, device.pppoeDnsServer); }},
        {"webPort", [&](const QJsonValue &v) { return r.number(v, device.webPort, 0, 65535); }},
        {"av1Port", [&](const QJsonValue &v) { return r.number(v, device.av1Port, 0, 65535); }},
        {"av2Port", [&](const QJsonValue &v) { return r.number(v, device.av2Port, 0, 65535); }},
        {"confPort", [&](const QJsonValue &v) { return r.number(v, device.confPort, 0, 65535); }},
        {"av1Protocol",
         [&](const QJsonValue &v) { return r.number(v, device.av1Protocol, 0, 255); }},
        {"av2Protocol",
         [&](const QJsonValue &v) { return r.number(v, device.av2Protocol, 0, 255); }},
        {"av1Flag", [&](const QJsonValue &v) { return r.number(v, device.av1Flag, 0, 255); }},
        {"av2Flag", [&](const QJsonValue &v) { return r.number(v, device.av2Flag, 0, 255); }},
        {"firmware",
         [&](const QJsonValue &v) {
             if (v.isString()) {
                 const QStringList parts = v.toString().split('.');
                 bool ok = parts.size() == 4;
                 for (int i = 0; ok && i < 4; ++i) {
                     const uint n = parts[i].toUInt(&ok);
                     ok = ok && n <= 255;
                     device.firmware[i] = static_cast<std::uint8_t>(n);
                 }
                 return ok || r.fail("\"a.b.c.d\" or a list of four bytes");
             }
             const QJsonArray list = v.toArray();
             if (!v.isArray() || list.size() != 4)
                 return r.fail("\"a.b.c.d\" or a list of four bytes");
             for (int i = 0; i < 4; ++i)
                 if (!r.number(list[i], device.firmware[i], 0, 255))
                     return false;
             return true;
         }},
        {"serialNumber", [&](const QJsonValue &v) { return r.text(v, device.serialNumber); }},
        {"guest", [&](const QJsonValue &v) { return r.flag(v, device.guest); }},
        {"adminId",
         [&](const QJsonValue &v) {
             return r.text(v, device.adminId) &&
                    (device.adminId.size() <= 8 || r.fail("at most 8 characters"));
         }},
        {"adminPassword",
         [&](const QJsonValue &v) {
             return r.text(v, device.adminPassword) &&
                    (device.adminPassword.size() <= 16 || r.fail("at most 16 characters"));
         }},
        {"filler", [&](const QJsonValue &v) { return r.number(v, device.filler, 0, 64); }},
        {"answersVersions",
         [&](const QJsonValue &v) {
             if (v.isString() && v.toString() == "all") {
                 device.answersVersions.set();
                 return true;
             }
             if (!v.isArray())
                 return r.fail("\"all\" or a list of version bytes");
             device.answersVersions.reset();
             for (const QJsonValue &item : v.toArray()) {
                 int version = 0;
                 if (!r.number(item, version, 0, 255))
                     return false;
                 device.answersVersions.set(version);
             }
             return true;
         }},
        {"lengthField",
         [&](const QJsonValue &v) {
             std::uint16_t n = 0;
             if (!r.number(v, n, 0, 65535))
                 return false;
             device.lengthField = n;
             return true;
         }},
        {"sendBytes",
         [&](const QJsonValue &v) {
             std::uint16_t n = 0;
             if (!r.number(v, n, 0, 1400))
                 return false;
             device.sendBytes = n;
             return true;
         }},
        {"delayMs", [&](const QJsonValue &v) { return r.number(v, device.delayMs, 0, 60000); }},
        {"jitterMs", [&](const QJsonValue &v) { return r.number(v, device.jitterMs, 0, 60000); }},
        {"reply",
         [&](const QJsonValue &v) {
             return r.choice<ReplyRoute>(
                 v, device.route,
                 {{"broadcast", ReplyRoute::Broadcast}, {"unicast", ReplyRoute::Unicast}});
         }},
        {"movesToNewAddress",
         [&](const QJsonValue &v) { return r.flag(v, device.movesToNewAddress); }},
        {"configAnswer",
         [&](const QJsonValue &v) {
             return r.choice<ConfigAnswer>(v, device.configAnswer,
                                           {{"ok", ConfigAnswer::Ok},
                                            {"status1", ConfigAnswer::Status1},
                                            {"ignore", ConfigAnswer::Ignore},
                                            {"none", ConfigAnswer::None}});
         }},
    };
    for (auto it = object.begin(); it != object.end(); ++it) {
        const auto handler = handlers.find(it.key());
        if (handler == handlers.end()) {
            error = QStringLiteral("unknown field \"%1\"").arg(it.key());
            return false;
        }
        r.setKey(it.key());
        if (!handler->second(it.value()))
            return false;
    }
    return true;
}

std::uint32_t addressValue(const Ipv4 &a) {
    return (std::uint32_t(a[0]) << 24) | (std::uint32_t(a[1]) << 16) | (std::uint32_t(a[2]) << 8) |
           a[3];
}

Ipv4 addressFrom(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

} // namespace

bool loadDevices(const QByteArray &json, std::vector<Device> &devices, QString &error) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        error = QStringLiteral("not JSON: %1 at offset %2")
                    .arg(parseError.errorString())
                    .arg(parseError.offset);
        return false;
    }
    QJsonArray list;
    if (document.isArray())
        list = document.array();
    else if (document.object().value("devices").isArray())
        list = document.object().value("devices").toArray();
    else {
        error = QStringLiteral("expected a list of device objects");
        return false;
    }
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!list[i].isObject()) {
            error = QStringLiteral("device %1: not an object").arg(i + 1);
            return false;
        }
        Device device = defaultDevice(devices.size());
        QString why;
        if (!readDevice(list[i].toObject(), device, why)) {
            error = QStringLiteral("device %1: %2").arg(i + 1).arg(why);
            return false;
        }
        devices.push_back(device);
    }
    return true;
}

std::vector<Device> generateDevices(int count, std::uint32_t seed, int jitterMs) {
    static const char *const models[] = {"KV-100", "KV-210 Dome",        "KV-3300",
                                         "VS-4",   "KV-500 Outdoor PTZ", ""};
    static const char *const domains[] = {"lab.example", "", "cams.example.net", "site7.local"};
    static const char alnum[] = "ABCDEFGHJKLMNPQRSTUVWXYZ0123456789";
    std::mt19937 rng(seed);
    auto pick = [&rng](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    auto word = [&](int low, int high) {
        std::string text(pick(low, high), 'a');
        for (char &c : text)
            c = static_cast<char>('a' + pick(0, 25));
        return text;
    };

    std::vector<Device> devices;
    devices.reserve(count);
    for (int i = 0; i < count; ++i) {
        Device d;
        d.mac = {0x02,
                 0x47,
                 static_cast<std::uint8_t>(seed),
                 static_cast<std::uint8_t>(i >> 16),
                 static_cast<std::uint8_t>(i >> 8),
                 static_cast<std::uint8_t>(i)};
        d.version = static_cast<std::uint8_t>(2 + i % 4);
        d.networkMode = static_cast<std::uint8_t>((i / 4) % 3);
        d.deviceByte = static_cast<std::uint8_t>(pick(0, 254));
        d.byte16 = static_cast<std::uint8_t>(pick(0, 255));
        d.model = models[pick(0, 5)];
        char host[16];
        std::snprintf(host, sizeof host, "cam-%05d", i + 1);
        d.hostName = pick(0, 9) == 0 ? "" : host;
        d.domainName = domains[pick(0, 3)];
        d.netMask = {255, 255, 0, 0};
        d.gateway = {10, 77, 0, 1};
        d.dnsServer = {10, 77, 0, static_cast<std::uint8_t>(pick(1, 254))};
        d.pppoeUserName = word(0, 16);
        d.pppoePassword = word(0, 32);
        d.pppoeServiceName = word(0, 20);
        d.mtu = static_cast<std::uint32_t>(pick(576, 1500));
        d.dnsMode = static_cast<std::uint8_t>(pick(0, 1));
        d.pppoeDnsServer = {192, 0, 2, static_cast<std::uint8_t>(pick(1, 254))};
        d.webPort = static_cast<std::uint16_t>(pick(0, 3) == 0 ? 80 : pick(1, 65535));
        d.av1Port = static_cast<std::uint16_t>(pick(1, 65535));
        d.av2Port = static_cast<std::uint16_t>(pick(1, 65535));
        d.confPort = static_cast<std::uint16_t>(pick(0, 65535));
        d.av1Protocol = static_cast<std::uint8_t>(pick(0, 3));
        d.av2Protocol = static_cast<std::uint8_t>(pick(0, 3));
        d.av1Flag = static_cast<std::uint8_t>(pick(0, 1));
        d.av2Flag = static_cast<std::uint8_t>(pick(0, 1));
        for (auto &b : d.firmware)
            b = static_cast<std::uint8_t>(pick(0, 255));
        d.serialNumber.resize(pick(1, 16));
        for (char &c : d.serialNumber)
            c = alnum[pick(0, sizeof alnum - 2)];
        d.guest = pick(0, 1) != 0;
        d.filler = static_cast<std::uint8_t>(pick(0, 6));
        d.jitterMs = jitterMs;
        // As a real device does: it answers from the static address it is given.
        d.movesToNewAddress = true;
        devices.push_back(d);
    }
    return devices;
}

bool finishDevices(std::vector<Device> &devices, const Ipv4 &base, QString &error) {
    std::set<Mac> macs;
    std::set<std::uint32_t> used;
    for (const Device &d : devices) {
        if (!macs.insert(d.mac).second) {
            error = QStringLiteral("MAC address %1 given twice").arg(macText(d.mac).c_str());
            return false;
        }
        if (d.address != Ipv4{} && !used.insert(addressValue(d.address)).second) {
            error = QStringLiteral("address %1 given twice").arg(ipv4Text(d.address).c_str());
            return false;
        }
    }
    std::uint32_t next = addressValue(base);
    for (Device &d : devices) {
        if (d.address == Ipv4{}) {
            for (;; ++next) {
                const std::uint8_t low = next & 0xFF;
                if ((next & 0xFFFF0000u) != (addressValue(base) & 0xFFFF0000u)) {
                    error = QStringLiteral("no free addresses left after %1")
                                .arg(ipv4Text(base).c_str());
                    return false;
                }
                if (low != 0 && low != 255 && ((next >> 8) & 0xFF) != 0 && !used.count(next))
                    break;
            }
            used.insert(next);
            d.address = addressFrom(next);
        }
        if (d.ipAddress == Ipv4{})
            d.ipAddress = d.address;
    }
    return true;
}

QJsonObject describeRequest(const Request &request) {
    QJsonObject o;
    auto latin1 = [](const std::string &s) {
        return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
    };
    o["command"] = request.command;
    o["version"] = request.version;
    o["lengthField"] = request.length;
    o["trailer"] = request.trailer;
    o["byte8"] = request.deviceByte;
    if (request.command == kCmdDiscover)
        return o;
    o["device"] = QString::fromStdString(macText(request.key));
    o["selector"] = request.selector;
    o["userId"] = latin1(request.userId);
    o["password"] = latin1(request.password);
    o["mask"] = request.mask;
    o["maskLess1Ok"] = request.maskLess1Ok;
    if (!request.bodyProblem.empty())
        o["bodyProblem"] = latin1(request.bodyProblem);
    if (request.network) {
        const NetworkBody &b = *request.network;
        static const char *const modes[] = {"dhcp", "static", "pppoe"};
        o["networkMode"] = modes[b.mode];
        if (b.mode == kWireStatic) {
            o["ipAddress"] = QString::fromStdString(ipv4Text(b.ipAddress));
            o["netMask"] = QString::fromStdString(ipv4Text(b.netMask));
            o["gateway"] = QString::fromStdString(ipv4Text(b.gateway));
            o["dnsServer"] = QString::fromStdString(ipv4Text(b.dnsServer));
        } else if (b.mode == kWirePppoe) {
            o["pppoeUserName"] = latin1(b.pppoeUserName);
            o["pppoePassword"] = latin1(b.pppoePassword);
            o["pppoeServiceName"] = latin1(b.pppoeServiceName);
            o["mtu"] = static_cast<double>(b.mtu);
            o["dnsMode"] = b.dnsMode;
            o["pppoeDnsServer"] = QString::fromStdString(ipv4Text(b.pppoeDnsServer));
        }
    }
    if (request.host) {
        o["hostName"] = latin1(request.host->hostName);
        o["domainName"] = latin1(request.host->domainName);
    }
    if (request.account) {
        o["guest"] = request.account->guestByte;
        o["newPassword"] = latin1(request.account->newPassword);
        o["newMask"] = request.account->mask;
        o["newMaskLess1Ok"] = request.account->maskLess1Ok;
    }
    return o;
}

QByteArray jsonLine(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace kovasim
