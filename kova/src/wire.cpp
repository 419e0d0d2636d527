#include "wire.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

namespace kova::wire {

namespace {

void PutU16(uint8_t *p, size_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void PutU32(uint8_t *p, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

// Bounded reads over the stored bytes of a reply. Offsets are signed because
// tail fields are located backwards from the reply's own length field.
// "a.b.c.d" of four address bytes, as "%d.%d.%d.%d" writes it; every reply's
// decoding writes a few of them, so without the formatting machinery.
void DottedText(const uint8_t (&address)[4], char (&out)[16]) {
    char *at = out;
    for (size_t i = 0; i < 4; ++i) {
        const unsigned v = address[i];
        if (v >= 100)
            *at++ = static_cast<char>('0' + v / 100);
        if (v >= 10)
            *at++ = static_cast<char>('0' + v / 10 % 10);
        *at++ = static_cast<char>('0' + v % 10);
        *at++ = i < 3 ? '.' : '\0';
    }
}

class Reader {
public:
    explicit Reader(std::span<const uint8_t> data) : data_(data) {}

    bool Has(long offset, size_t width) const {
        return offset >= 0 && static_cast<size_t>(offset) <= data_.size() &&
               width <= data_.size() - static_cast<size_t>(offset);
    }
    uint8_t U8(long offset) const { return Has(offset, 1) ? data_[offset] : 0; }
    uint16_t U16(long offset) const {
        if (!Has(offset, 2))
            return 0;
        return static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
    }
    uint32_t U32(long offset) const {
        if (!Has(offset, 4))
            return 0;
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | data_[offset + i];
        return v;
    }
    // Copies `width` bytes when they are all present, else zeroes `out`.
    void Bytes(long offset, size_t width, uint8_t *out) const {
        if (Has(offset, width))
            std::memcpy(out, data_.data() + offset, width);
        else
            std::memset(out, 0, width);
    }
    // Dotted text of the 4 address bytes at `offset` ("0.0.0.0" when absent).
    void Address(long offset, char (&out)[16]) const {
        uint8_t a[kAddressSize];
        Bytes(offset, kAddressSize, a);
        DottedText(a, out);
    }
    // Reads the counted string at `offset` into `out` (at most `capacity` bytes,
    // no terminator written) and returns the offset just past it. A string whose
    // text is not wholly present reads as empty; a missing length byte counts as 0.
    long Counted(long offset, char *out, size_t capacity) const {
        const size_t n = U8(offset);
        if (Has(offset + 1, n))
            std::memcpy(out, data_.data() + offset + 1, std::min(n, capacity));
        return offset + 1 + static_cast<long>(n);
    }

    uint16_t Length() const { return U16(kLengthOffset); }
    int EffectiveVersion() const {
        const uint8_t v = U8(kVersionOffset);
        return v >= kServiceVersion ? v : kBaseVersion;
    }

private:
    std::span<const uint8_t> data_;
};

// How far the long tail moves the fields the shorter tail has too.
long TailShift(const Reader &r) {
    return r.EffectiveVersion() >= kLongTailVersion ? kLongTailExtra : 0;
}

// The network mode codes of the public header and of the wire differ only in
// that static and DHCP are swapped; the mapping is its own inverse.
int32_t SwapStaticAndDhcp(int32_t mode) {
    return mode == 0 ? 1 : mode == 1 ? 0 : mode;
}

// Length of a text argument that lives in a fixed-size field and may fill it.
template <size_t N> size_t FieldLength(const char (&field)[N]) {
    return strnlen(field, N);
}

// inet_addr over a fixed-size field that may lack its terminator.
template <size_t N> void PutAddress(uint8_t *p, const char (&field)[N]) {
    char text[N + 1] = {};
    std::memcpy(text, field, FieldLength(field));
    const in_addr_t a = inet_addr(text); // network order; unparsable text gives FF FF FF FF
    static_assert(sizeof a == kAddressSize);
    std::memcpy(p, &a, kAddressSize);
}

size_t PutCounted(uint8_t *p, const char *text, size_t length) {
    p[0] = static_cast<uint8_t>(length);
    std::memcpy(p + 1, text, length);
    return length + 1;
}

// The common frame of a configuration request from a copy of the item.
std::vector<uint8_t> Frame(const KOVA_ITEM &item, uint8_t command) {
    std::vector<uint8_t> request(item.datagram, item.datagram + KOVA_MAX_DATAGRAM);
    std::copy(kRequestMagic.begin(), kRequestMagic.end(), request.begin() + kMagicOffset);
    request[kCommandOffset] = command;
    return request;
}

void Close(std::vector<uint8_t> &request, size_t length) {
    PutU16(&request[kLengthOffset], length);
    request.resize(length);
}

} // namespace

uint8_t ProtocolVersionForType(int32_t type) {
    switch (type) {
    case 1:
        return 2;
    case 2:
        return 3;
    case 3:
        return 4;
    default:
        return kDefaultVersion;
    }
}

std::vector<uint8_t> Finish(std::span<const uint8_t> request, uint8_t version,
                            std::span<const uint8_t, kTrailerSize> trailer) {
    std::vector<uint8_t> out(request.begin(), request.end());
    if (out.size() < kHeaderSize)
        out.resize(kHeaderSize);
    out[kVersionOffset] = version;
    if (version >= kTrailerVersion)
        out.insert(out.end(), trailer.begin(), trailer.end());
    PutU16(&out[kLengthOffset], out.size());
    return out;
}

std::vector<uint8_t> BuildDiscovery(uint8_t version) {
    std::array<uint8_t, kHeaderSize> request{};
    std::copy(kRequestMagic.begin(), kRequestMagic.end(), request.begin() + kMagicOffset);
    PutU16(&request[kLengthOffset], kHeaderSize);
    request[kCommandOffset] = KOVA_CMD_DISCOVER;
    request[kDeviceByteOffset] = kAnyDevice;
    return Finish(request, version, kTrailer);
}

std::array<uint8_t, 1 + kBlockNoiseSize> ClockSeededDraws() {
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    std::array<uint8_t, 1 + kBlockNoiseSize> draws{};
    for (auto &d : draws)
        d = static_cast<uint8_t>(generator() & 0xFF);
    return draws;
}

int32_t FillCredential(std::span<uint8_t, kCredentialSize> block, const char *userId,
                       const char *password, const BlockRandom &random) {
    if (userId == nullptr || password == nullptr)
        return KOVA_ERR_INVALID_ARG;
    const size_t idLength = std::strlen(userId);
    const size_t passwordLength = std::strlen(password);
    if (idLength > kBlockUserIdSize || passwordLength > kBlockPasswordSize)
        return KOVA_ERR_INVALID_ARG;

    uint8_t *const id = block.data() + kBlockUserIdOffset;
    std::fill(id, id + kBlockUserIdSize, uint8_t{0});
    std::memcpy(id, userId, idLength);

    uint8_t work[kBlockPasswordSize] = {};
    std::memcpy(work, password, passwordLength);
    // The mask is drawn first, then the noise bytes.
    const std::array<uint8_t, 1 + kBlockNoiseSize> draws = random ? random() : ClockSeededDraws();
    const uint8_t mask = draws[0];
    for (auto &b : work)
        b ^= mask;
    std::reverse(std::begin(work), std::end(work));
    std::memcpy(block.data() + kBlockPasswordOffset, work, sizeof work);
    block[kBlockMaskCheckOffset] = static_cast<uint8_t>(mask - 1);
    std::copy(draws.begin() + 1, draws.end(), block.begin() + kBlockNoiseOffset);
    block[kBlockMaskOffset] = mask;
    return KOVA_OK;
}

int32_t BuildSetNetwork(const KOVA_ITEM &item, const char *userId, const char *password,
                        const KOVA_NETWORK_SETTINGS *settings, const BlockRandom &random,
                        std::vector<uint8_t> &request) {
    if (userId == nullptr || password == nullptr || settings == nullptr)
        return KOVA_ERR_INVALID_ARG;
    const size_t idLength = std::strlen(userId);
    if (idLength == 0 || idLength > kBlockUserIdSize)
        return KOVA_ERR_INVALID_ARG;
    if (std::strlen(password) > kBlockPasswordSize)
        return KOVA_ERR_INVALID_ARG;
    if (!std::equal(kReplyMagic.begin(), kReplyMagic.end(), item.datagram + kMagicOffset))
        return KOVA_ERR_BAD_HANDLE;
    const size_t lu = FieldLength(settings->pppoeUserName);
    const size_t lp = FieldLength(settings->pppoePassword);
    const size_t ls = FieldLength(settings->pppoeServiceName);
    if (settings->mode == KOVA_MODE_PPPOE &&
        (lu > kPppoeUserNameMax || lp > kPppoePasswordMax || ls > kPppoeServiceNameMax))
        return KOVA_ERR_INVALID_ARG;

    std::vector<uint8_t> out = Frame(item, KOVA_CMD_SET_CONFIG);
    uint8_t *p = out.data();
    FillCredential(std::span<uint8_t, kCredentialSize>(p + kCredentialOffset, kCredentialSize),
                   userId, password, random);
    const int32_t mode = settings->mode;
    p[kCredentialOffset + kBlockSelectorOffset] = static_cast<uint8_t>(SwapStaticAndDhcp(mode));

    size_t length = kBodyOffset;
    if (mode == KOVA_MODE_STATIC) {
        uint8_t *const block = p + kBodyOffset;
        PutAddress(block + kIpAddressAt, settings->ipAddress);
        PutAddress(block + kNetMaskAt, settings->netMask);
        PutAddress(block + kGatewayAt, settings->gateway);
        PutAddress(block + kDnsServerAt, settings->dnsServer);
        length = kBodyOffset + kAddressBlockSize;
    } else if (mode == KOVA_MODE_PPPOE) {
        size_t at = kBodyOffset;
        at += PutCounted(p + at, settings->pppoeUserName, lu);
        at += PutCounted(p + at, settings->pppoePassword, lp);
        at += PutCounted(p + at, settings->pppoeServiceName, ls);
        PutU32(p + at + kMtuAt, static_cast<uint32_t>(settings->mtu));
        p[at + kDnsModeAt] = settings->dnsMode;
        PutAddress(p + at + kPppoeDnsServerAt, settings->pppoeDnsServer);
        length = at + kPppoeFixedSize;
    }
    Close(out, length);
    request = std::move(out);
    return KOVA_OK;
}

int32_t BuildSetHostName(const KOVA_ITEM &item, const char *userId, const char *password,
                         const char *hostName, const char *domainName, const BlockRandom &random,
                         std::vector<uint8_t> &request) {
    std::vector<uint8_t> out = Frame(item, KOVA_CMD_SET_CONFIG);
    uint8_t *p = out.data();
    const int32_t code =
        FillCredential(std::span<uint8_t, kCredentialSize>(p + kCredentialOffset, kCredentialSize),
                       userId, password, random);
    if (code != KOVA_OK)
        return code;
    if (hostName == nullptr || domainName == nullptr)
        return KOVA_ERR_INVALID_ARG;
    const size_t hl = std::strlen(hostName);
    if (hl > kHostNameMax)
        return KOVA_ERR_INVALID_ARG;
    const size_t dl = std::strlen(domainName);
    if (dl > kDomainNameMax)
        return KOVA_ERR_INVALID_ARG;
    p[kCredentialOffset + kBlockSelectorOffset] = kSelectorHostName;
    size_t at = kBodyOffset;
    at += PutCounted(p + at, hostName, hl);
    at += PutCounted(p + at, domainName, dl);
    Close(out, at);
    request = std::move(out);
    return KOVA_OK;
}

int32_t BuildSetAccount(const KOVA_ITEM &item, const char *userId, const char *password,
                        const char *newPassword, const int32_t *guestAllowed,
                        const BlockRandom &random, std::vector<uint8_t> &request) {
    std::vector<uint8_t> out = Frame(item, KOVA_CMD_SET_ACCOUNT);
    uint8_t *p = out.data();
    int32_t code =
        FillCredential(std::span<uint8_t, kCredentialSize>(p + kCredentialOffset, kCredentialSize),
                       userId, password, random);
    if (code != KOVA_OK)
        return code;
    std::array<uint8_t, kCredentialSize> second{};
    code = FillCredential(second, userId, newPassword, random);
    if (code != KOVA_OK)
        return code;
    if (guestAllowed == nullptr)
        return KOVA_ERR_INVALID_ARG;
    p[kCredentialOffset + kBlockSelectorOffset] = kSelectorAccount;
    p[kGuestOffset] = *guestAllowed != 0 ? 1 : 0;
    std::copy(second.begin() + kBlockPasswordOffset, second.end(), p + kNewPasswordOffset);
    Close(out, kAccountRequestSize);
    request = std::move(out);
    return KOVA_OK;
}

std::optional<int32_t> EventForReply(std::span<const uint8_t> datagram) {
    if (datagram.size() < kMinReply ||
        !std::equal(kReplyMagic.begin(), kReplyMagic.end(), datagram.begin() + kMagicOffset))
        return std::nullopt;
    switch (datagram[kCommandOffset]) {
    case kReplyDeviceInfo:
        return KOVA_EVENT_DEVICE_INFO;
    case kReplySuccess:
        return KOVA_EVENT_SUCCESS;
    case kReplyStatus1:
        return KOVA_EVENT_STATUS_1;
    case kReplyAuthFailed:
        return KOVA_EVENT_AUTH_FAILED;
    default:
        return std::nullopt;
    }
}

void DecodeDeviceInfo(std::span<const uint8_t> stored, const uint8_t (&source)[4],
                      KOVA_DEVICE_INFO &info) {
    std::memset(&info, 0, sizeof info);
    const Reader r(stored);
    static_assert(sizeof info.mac == kKeySize);
    r.Bytes(kKeyOffset, kKeySize, info.mac);
    DottedText(source, info.ipAddress);
    long at = kModelNameOffset;
    at = r.Counted(at, info.modelName, sizeof info.modelName - 1);
    at = r.Counted(at, info.hostName, sizeof info.hostName - 1);
    r.Counted(at, info.domainName, sizeof info.domainName - 1);
}

void DecodeNetworkSettings(std::span<const uint8_t> stored, KOVA_NETWORK_SETTINGS &settings) {
    std::memset(&settings, 0, sizeof settings);
    const Reader r(stored);
    settings.mode = SwapStaticAndDhcp(r.U8(kWireModeOffset));
    long at = kModelNameOffset;
    for (int i = 0; i < 3; ++i) // model, host and domain names
        at = 1 + at + r.U8(at);
    r.Address(at + kIpAddressAt, settings.ipAddress);
    r.Address(at + kNetMaskAt, settings.netMask);
    r.Address(at + kGatewayAt, settings.gateway);
    r.Address(at + kDnsServerAt, settings.dnsServer);
    at += kAddressBlockSize;
    at = r.Counted(at, settings.pppoeUserName, sizeof settings.pppoeUserName);
    at = r.Counted(at, settings.pppoePassword, sizeof settings.pppoePassword);
    at = r.Counted(at, settings.pppoeServiceName, sizeof settings.pppoeServiceName);
    settings.mtu = static_cast<int32_t>(r.U32(at + kMtuAt));
    settings.dnsMode = r.U8(at + kDnsModeAt);
    r.Address(at + kPppoeDnsServerAt, settings.pppoeDnsServer);
}

int32_t DecodeGuestAccount(std::span<const uint8_t> stored) {
    const Reader r(stored);
    return r.U8(static_cast<long>(r.Length()) - kGuestFromEnd - TailShift(r));
}

int32_t DecodeServicePorts(std::span<const uint8_t> stored, KOVA_SERVICE_PORTS &ports) {
    const Reader r(stored);
    const int v = r.EffectiveVersion();
    if (v < kServiceVersion)
        return KOVA_ERR_NOT_IMPLEMENTED;
    std::memset(&ports, 0, sizeof ports);
    const long L = r.Length();
    const long shift = TailShift(r);
    ports.av1Port = r.U16(L - kAv1PortFromEnd - shift);
    ports.webPort = r.U16(L - kWebPortFromEnd - shift);
    if (v < kLongTailVersion)
        return KOVA_OK;
    ports.av2Port = r.U16(L - kAv2PortFromEnd);
    ports.conf = r.U16(L - kConfPortFromEnd);
    ports.av1Protocol = r.U8(L - kAv1ProtocolFromEnd);
    ports.av2Protocol = r.U8(L - kAv2ProtocolFromEnd);
    ports.av1Flag = r.U8(L - kAv1FlagFromEnd);
    ports.av2Flag = r.U8(L - kAv2FlagFromEnd);
    return KOVA_OK;
}

int32_t DecodeFirmwareInfo(std::span<const uint8_t> stored, KOVA_FIRMWARE_INFO &firmware) {
    const Reader r(stored);
    const int v = r.EffectiveVersion();
    if (v < kServiceVersion)
        return KOVA_ERR_NOT_IMPLEMENTED;
    std::memset(&firmware, 0, sizeof firmware);
    const long at = static_cast<long>(r.Length()) - kFirmwareFromEnd - TailShift(r);
    firmware.fwMajor = r.U8(at);
    firmware.fwMinor = r.U8(at + 1);
    firmware.fwPatch = r.U8(at + 2);
    firmware.fwReserved = r.U8(at + 3);
    r.Bytes(at + kFirmwareVersionSize, sizeof firmware.serialNumber,
            reinterpret_cast<uint8_t *>(firmware.serialNumber));
    return KOVA_OK;
}

int32_t ReplyVersion(std::span<const uint8_t> stored) {
    return Reader(stored).U8(kVersionOffset);
}

} // namespace kova::wire
