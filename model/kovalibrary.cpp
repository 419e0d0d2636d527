#include "kovalibrary.h"

namespace veltrona {

KovaLibrary &KovaLibrary::real() {
    static KovaLibrary library;
    return library;
}

int32_t KovaLibrary::initialise(const KOVA_CONFIG *config) {
    return kova_Initialise(config);
}

int32_t KovaLibrary::initialiseEx(const KOVA_CONFIG *config, const char *bindAddress) {
    return kova_InitialiseEx(config, bindAddress);
}

void KovaLibrary::close() {
    kova_Close();
}

int32_t KovaLibrary::setProtocolType(int32_t type) {
    return kova_SetProtocolType(type);
}

int32_t KovaLibrary::sendDiscovery() {
    return kova_SendDiscovery();
}

int32_t KovaLibrary::getDeviceInfo(HKOVAITEM item, KOVA_DEVICE_INFO *info) {
    return kova_GetDeviceInfo(item, info);
}

int32_t KovaLibrary::getNetworkSettings(HKOVAITEM item, KOVA_NETWORK_SETTINGS *settings) {
    return kova_GetNetworkSettings(item, settings);
}

int32_t KovaLibrary::getGuestAccount(HKOVAITEM item, int32_t *guestAccount) {
    return kova_GetGuestAccount(item, guestAccount);
}

int32_t KovaLibrary::getItemFlag(HKOVAITEM item, int32_t *flag) {
    return kova_GetItemFlag(item, flag);
}

int32_t KovaLibrary::getServicePorts(HKOVAITEM item, KOVA_SERVICE_PORTS *ports) {
    return kova_GetServicePorts(item, ports);
}

int32_t KovaLibrary::getFirmwareInfo(HKOVAITEM item, KOVA_FIRMWARE_INFO *firmware) {
    return kova_GetFirmwareInfo(item, firmware);
}

int32_t KovaLibrary::getReplyVersion(HKOVAITEM item, int32_t *version) {
    return kova_GetReplyVersion(item, version);
}

int32_t KovaLibrary::getReplyInterface(HKOVAITEM item, char *name) {
    return kova_GetReplyInterface(item, name);
}

int32_t KovaLibrary::getLostReplies(uint32_t *tableFull, uint32_t *bufferFull) {
    return kova_GetLostReplies(tableFull, bufferFull);
}

int32_t KovaLibrary::setNetworkSettings(HKOVAITEM item, const char *userId, const char *password,
                                        const KOVA_NETWORK_SETTINGS *settings) {
    return kova_SetNetworkSettings(item, userId, password, settings);
}

int32_t KovaLibrary::setHostName(HKOVAITEM item, const char *userId, const char *password,
                                 const char *hostName, const char *domainName) {
    return kova_SetHostName(item, userId, password, hostName, domainName);
}

int32_t KovaLibrary::setAccount(HKOVAITEM item, const char *userId, const char *password,
                                const char *newPassword, const int32_t *guestAllowed) {
    return kova_SetAccount(item, userId, password, newPassword, guestAllowed);
}

} // namespace veltrona
