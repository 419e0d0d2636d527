#pragma once
// The KOVA library's operations as the window, the setting page and the
// command-line client call them. The base class forwards every call to the
// library itself; a test derives from it and overrides what it records or
// answers, the rest still reaching the library.

#include "kova.h"

namespace veltrona {

class KovaLibrary {
public:
    virtual ~KovaLibrary() = default;

    // The library itself; lives for the whole process.
    static KovaLibrary &real();

    virtual int32_t initialise(const KOVA_CONFIG *config);
    virtual int32_t initialiseEx(const KOVA_CONFIG *config, const char *bindAddress);
    virtual void close();
    virtual int32_t setProtocolType(int32_t type);
    virtual int32_t sendDiscovery();

    virtual int32_t getDeviceInfo(HKOVAITEM item, KOVA_DEVICE_INFO *info);
    virtual int32_t getNetworkSettings(HKOVAITEM item, KOVA_NETWORK_SETTINGS *settings);
    virtual int32_t getGuestAccount(HKOVAITEM item, int32_t *guestAccount);
    virtual int32_t getItemFlag(HKOVAITEM item, int32_t *flag);
    virtual int32_t getServicePorts(HKOVAITEM item, KOVA_SERVICE_PORTS *ports);
    virtual int32_t getFirmwareInfo(HKOVAITEM item, KOVA_FIRMWARE_INFO *firmware);
    virtual int32_t getReplyVersion(HKOVAITEM item, int32_t *version);
    virtual int32_t getReplyInterface(HKOVAITEM item, char *name);
    virtual int32_t getLostReplies(uint32_t *tableFull, uint32_t *bufferFull);

    virtual int32_t setNetworkSettings(HKOVAITEM item, const char *userId, const char *password,
                                       const KOVA_NETWORK_SETTINGS *settings);
    virtual int32_t setHostName(HKOVAITEM item, const char *userId, const char *password,
                                const char *hostName, const char *domainName);
    virtual int32_t setAccount(HKOVAITEM item, const char *userId, const char *password,
                               const char *newPassword, const int32_t *guestAllowed);
};

} // namespace veltrona
