#include "protocol.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kovasim {

namespace {

constexpr std::uint8_t kTrailer[3] = {0xE0, 0x00, 0x00};

void putLe16(Bytes &out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putLe32(Bytes &out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putCounted(Bytes &out, const std::string &text) {
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void putIpv4(Bytes &out, const Ipv4 &address) {
    out.insert(out.end(), address.begin(), address.end());
}

// Reads request fields strictly inside [0, end).
class Reader {
public:
    Reader(const std::uint8_t *data, std::size_t end, std::size_t pos)
        : data_(data), end_(end), pos_(pos) {}

    bool counted(std::string &text) {
        if (pos_ >= end_)
            return false;
        const std::size_t n = data_[pos_];
        if (n > end_ - pos_ - 1)
            return false;
        text.assign(reinterpret_cast<const char *>(data_ + pos_ + 1), n);
        pos_ += 1 + n;
        return true;
    }

    bool ipv4(Ipv4 &address) {
        if (end_ - pos_ < 4)
            return false;
        std::memcpy(address.data(), data_ + pos_, 4);
        pos_ += 4;
        return true;
    }

    bool le32(std::uint32_t &value) {
        if (end_ - pos_ < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(data_[pos_ + i]) << (8 * i);
        pos_ += 4;
        return true;
    }

    bool byte(std::uint8_t &value) {
        if (pos_ >= end_)
            return false;
        value = data_[pos_++];
        return true;
    }

    bool atEnd() const { return pos_ == end_; }

private:
    const std::uint8_t *data_;
    std::size_t end_;
    std::size_t pos_;
};

std::string lengthProblem(const char *what, std::size_t got, std::size_t want) {
    char text[128];
    std::snprintf(text, sizeof text, "%s body ends at %zu, expected %zu", what, got, want);
    return text;
}

void parseSetConfigBody(const std::uint8_t *data, Request &request) {
    const std::size_t end = request.end;
    switch (request.selector) {
    case kWireDhcp: {
        if (end != 46) {
            request.bodyProblem = lengthProblem("DHCP", end, 46);
            return;
        }
        NetworkBody body;
        body.mode = kWireDhcp;
        request.network = body;
        return;
    }
    case kWireStatic: {
        if (end != 62) {
            request.bodyProblem = lengthProblem("static IP", end, 62);
            return;
        }
        NetworkBody body;
        body.mode = kWireStatic;
        Reader reader(data, end, 46);
        reader.ipv4(body.ipAddress);
        reader.ipv4(body.netMask);
        reader.ipv4(body.gateway);
        reader.ipv4(body.dnsServer);
        request.network = body;
        return;
    }
    case kWirePppoe: {
        NetworkBody body;
        body.mode = kWirePppoe;
        Reader reader(data, end, 46);
        if (!reader.counted(body.pppoeUserName) || !reader.counted(body.pppoePassword) ||
            !reader.counted(body.pppoeServiceName) || !reader.le32(body.mtu) ||
            !reader.byte(body.dnsMode) || !reader.ipv4(body.pppoeDnsServer)) {
            request.bodyProblem = "PPPoE body runs past the end of the request";
            return;
        }
        if (!reader.atEnd()) {
            request.bodyProblem = "PPPoE body is followed by extra bytes";
            return;
        }
        request.network = body;
        return;
    }
    case kSelectorHostName: {
        HostBody body;
        Reader reader(data, end, 46);
        if (!reader.counted(body.hostName) || !reader.counted(body.domainName)) {
            request.bodyProblem = "host name body runs past the end of the request";
            return;
        }
        if (!reader.atEnd()) {
            request.bodyProblem = "host name body is followed by extra bytes";
            return;
        }
        request.host = body;
        return;
    }
    default:
        request.bodyProblem = "unknown selector " + std::to_string(request.selector);
        return;
    }
}

void parseSetAccountBody(const std::uint8_t *data, Request &request) {
    if (request.selector != kSelectorAccount) {
        request.bodyProblem = "unknown selector " + std::to_string(request.selector);
        return;
    }
    if (request.end != 69) {
        request.bodyProblem = lengthProblem("account", request.end, 69);
        return;
    }
    AccountBody body;
    body.guestByte = data[46];
    body.mask = data[68];
    body.newPassword = recoverSecret(data + 47, body.mask);
    body.maskLess1Ok = data[63] == static_cast<std::uint8_t>(body.mask - 1);
    request.account = body;
}

} // namespace

std::size_t tailSize(std::uint8_t version) {
    return version >= 5 ? 39 : 31;
}

Bytes encodeDeviceInfo(const Device &device, bool *clipped) {
    bool cut = false;
    auto clip255 = [&cut](std::string text) {
        if (text.size() > 255) {
            text.resize(255);
            cut = true;
        }
        return text;
    };
    std::string model = clip255(device.model);
    std::string host = clip255(device.hostName);
    std::string domain = clip255(device.domainName);
    std::string user = clip255(device.pppoeUserName);
    std::string password = clip255(device.pppoePassword);
    std::string service = clip255(device.pppoeServiceName);
    std::size_t filler = device.filler;
    const std::size_t tail = tailSize(device.version);

    // Fixed part: 15 header and key, mode, byte 16, three name lengths, four
    // addresses, three PPPoE lengths, MTU, DNS mode, PPPoE DNS server.
    auto total = [&] {
        return 20 + model.size() + host.size() + domain.size() + 16 + 3 + user.size() +
               password.size() + service.size() + 9 + filler + tail;
    };
    if (total() > kMaxReply) {
        filler = 0;
        for (std::string *text : {&service, &password, &user, &domain, &model, &host}) {
            if (total() <= kMaxReply)
                break;
            const std::size_t over = total() - kMaxReply;
            text->resize(text->size() > over ? text->size() - over : 0);
            cut = true;
        }
    }

    Bytes out;
    out.reserve(total());
    out.insert(out.end(), {'K', 'O', 'V', 'A'});
    out.push_back(device.version);
    putLe16(out, static_cast<std::uint16_t>(total()));
    out.push_back(kKindDeviceInfo);
    out.push_back(device.deviceByte);
    out.insert(out.end(), device.mac.begin(), device.mac.end());
    out.push_back(device.networkMode);
    out.push_back(device.byte16);
    putCounted(out, model);
    putCounted(out, host);
    putCounted(out, domain);
    putIpv4(out, device.ipAddress);
    putIpv4(out, device.netMask);
    putIpv4(out, device.gateway);
    putIpv4(out, device.dnsServer);
    putCounted(out, user);
    putCounted(out, password);
    putCounted(out, service);
    putLe32(out, device.mtu);
    out.push_back(device.dnsMode);
    putIpv4(out, device.pppoeDnsServer);
    out.insert(out.end(), filler, 0);

    out.push_back(device.guest ? 1 : 0);
    out.insert(out.end(), 6, 0);
    putLe16(out, device.av1Port);
    putLe16(out, device.webPort);
    out.insert(out.end(), device.firmware.begin(), device.firmware.end());
    std::uint8_t serial[16] = {};
    std::memcpy(serial, device.serialNumber.data(),
                std::min<std::size_t>(16, device.serialNumber.size()));
    out.insert(out.end(), serial, serial + 16);
    if (device.version >= 5) {
        putLe16(out, device.av2Port);
        putLe16(out, device.confPort);
        out.push_back(device.av1Protocol);
        out.push_back(device.av2Protocol);
        out.push_back(device.av1Flag);
        out.push_back(device.av2Flag);
    }
    if (clipped != nullptr)
        *clipped = cut;
    return out;
}

Bytes deviceInfoDatagram(const Device &device, bool *clipped) {
    Bytes out = encodeDeviceInfo(device, clipped);
    if (device.lengthField) {
        out[5] = static_cast<std::uint8_t>(*device.lengthField & 0xFF);
        out[6] = static_cast<std::uint8_t>(*device.lengthField >> 8);
    }
    if (device.sendBytes)
        out.resize(*device.sendBytes, 0);
    return out;
}

Bytes encodeResult(const Device &device, std::uint8_t kind) {
    Bytes out{'K', 'O', 'V', 'A', device.version};
    putLe16(out, static_cast<std::uint16_t>(kResultReplySize));
    out.push_back(kind);
    out.push_back(device.deviceByte);
    out.insert(out.end(), device.mac.begin(), device.mac.end());
    return out;
}

std::string recoverSecret(const std::uint8_t *masked16, std::uint8_t mask) {
    std::string secret;
    for (int i = 15; i >= 0; --i) {
        const std::uint8_t c = masked16[i] ^ mask;
        if (c == 0)
            break;
        secret.push_back(static_cast<char>(c));
    }
    return secret;
}

ParseResult parseRequest(const std::uint8_t *data, std::size_t size) {
    ParseResult result;
    if (data == nullptr || size < 9) {
        result.error = "shorter than a request header";
        return result;
    }
    if (std::memcmp(data, "ADCT", 4) != 0) {
        result.error = "does not begin with ADCT";
        return result;
    }
    Request request;
    request.version = data[4];
    request.length = static_cast<std::uint16_t>(data[5] | (data[6] << 8));
    request.command = data[7];
    request.deviceByte = data[8];
    if (request.length != size) {
        result.error = "length field " + std::to_string(request.length) + " but " +
                       std::to_string(size) + " bytes received";
        return result;
    }
    request.end = size;
    if (request.version >= 4) {
        if (size < 12 || std::memcmp(data + size - 3, kTrailer, 3) != 0) {
            result.error = "version " + std::to_string(request.version) +
                           " request without the E0 00 00 trailer";
            return result;
        }
        request.trailer = true;
        request.end = size - 3;
    }

    switch (request.command) {
    case kCmdDiscover:
        if (request.end != 9) {
            result.error = "discovery of " + std::to_string(request.end) + " bytes before trailer";
            return result;
        }
        if (request.deviceByte != 0xFF) {
            result.error = "discovery with byte 8 not FF";
            return result;
        }
        break;
    case kCmdSetConfig:
    case kCmdSetAccount: {
        if (request.end < 46) {
            result.error = "configuration request of " + std::to_string(request.end) +
                           " bytes, shorter than its credential block";
            return result;
        }
        std::memcpy(request.key.data(), data + 9, 6);
        request.selector = data[15];
        const char *id = reinterpret_cast<const char *>(data + 16);
        request.userId.assign(id, strnlen(id, 8));
        request.mask = data[45];
        request.password = recoverSecret(data + 24, request.mask);
        request.maskLess1Ok = data[40] == static_cast<std::uint8_t>(request.mask - 1);
        if (request.command == kCmdSetConfig)
            parseSetConfigBody(data, request);
        else
            parseSetAccountBody(data, request);
        break;
    }
    default:
        result.error = "unknown command " + std::to_string(request.command);
        return result;
    }
    result.request = std::move(request);
    return result;
}

Decision handleConfigRequest(Device &device, const Request &request) {
    Decision decision;
    if (device.configAnswer == ConfigAnswer::None) {
        decision.note = "device stays silent on configuration requests";
        return decision;
    }
    if (request.userId != device.adminId || request.password != device.adminPassword) {
        decision.kind = kKindAuthFailed;
        decision.note = "credentials rejected";
        return decision;
    }
    if (device.configAnswer == ConfigAnswer::Ignore) {
        decision.kind = kKindSuccess;
        decision.note = "device answers success without applying";
        return decision;
    }
    decision.kind = kKindStatus1;
    if (device.configAnswer == ConfigAnswer::Status1) {
        decision.note = "device answers status 1 without applying";
        return decision;
    }
    if (!request.bodyProblem.empty()) {
        decision.note = request.bodyProblem;
        return decision;
    }
    if (request.network) {
        const NetworkBody &body = *request.network;
        if (body.mode == kWirePppoe && (body.pppoeUserName.size() > kMaxPppoeUser ||
                                        body.pppoePassword.size() > kMaxPppoePassword ||
                                        body.pppoeServiceName.size() > kMaxPppoeService)) {
            decision.note = "PPPoE text too long";
            return decision;
        }
        device.networkMode = body.mode;
        if (body.mode == kWireStatic) {
            device.ipAddress = body.ipAddress;
            device.netMask = body.netMask;
            device.gateway = body.gateway;
            device.dnsServer = body.dnsServer;
        } else if (body.mode == kWirePppoe) {
            device.pppoeUserName = body.pppoeUserName;
            device.pppoePassword = body.pppoePassword;
            device.pppoeServiceName = body.pppoeServiceName;
            device.mtu = body.mtu;
            device.dnsMode = body.dnsMode;
            device.pppoeDnsServer = body.pppoeDnsServer;
        }
    } else if (request.host) {
        if (request.host->hostName.size() > kMaxHostName ||
            request.host->domainName.size() > kMaxDomainName) {
            decision.note = "host or domain name too long";
            return decision;
        }
        device.hostName = request.host->hostName;
        device.domainName = request.host->domainName;
    } else if (request.account) {
        device.guest = request.account->guestByte != 0;
        device.adminPassword = request.account->newPassword;
    } else {
        decision.note = "nothing to apply";
        return decision;
    }
    decision.kind = kKindSuccess;
    decision.applied = true;
    decision.note = "applied";
    return decision;
}

bool answersDiscovery(const Device &device, const Request &request) {
    return request.command == kCmdDiscover && device.answersVersions.test(request.version);
}

std::string macText(const Mac &mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string ipv4Text(const Ipv4 &address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return text;
}

std::string hexText(const std::uint8_t *data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

bool parseMac(const std::string &text, Mac &mac) {
    unsigned v[6];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%c", &v[0],
                    &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6)
        return false;
    if (text.size() != 17)
        return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<std::uint8_t>(v[i]);
    return true;
}

bool parseIpv4(const std::string &text, Ipv4 &address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    std::memcpy(address.data(), &parsed.s_addr, 4);
    return true;
}

} // namespace kovasim
