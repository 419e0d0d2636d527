#include "changes.h"

#include "devicerow.h"
#include "report.h"

#include <cstring>

namespace veltrona::cli {

namespace {

template <std::size_t N> void setField(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

std::string modeName(std::int32_t mode) {
    const std::string text = veltrona::modeText(mode);
    return text.empty() ? "mode " + std::to_string(mode) : text;
}

} // namespace

std::string checkModeOptions(const NetworkChanges &changes, bool pppoePasswordGiven,
                             std::int32_t deviceMode) {
    const std::int32_t mode = changes.mode.value_or(deviceMode);
    const std::string hint =
        changes.mode ? "" : " (the device is in " + modeName(mode) + "; give --mode)";
    struct Given {
        const char *option;
        bool given;
        std::int32_t sentIn;
    };
    const Given given[] = {
        {"--ip", changes.ipAddress.has_value(), KOVA_MODE_STATIC},
        {"--netmask", changes.netMask.has_value(), KOVA_MODE_STATIC},
        {"--gateway", changes.gateway.has_value(), KOVA_MODE_STATIC},
        {"--dns", changes.dnsServer.has_value(), KOVA_MODE_STATIC},
        {"--pppoe-user", changes.pppoeUserName.has_value(), KOVA_MODE_PPPOE},
        {"--pppoe-service", changes.pppoeServiceName.has_value(), KOVA_MODE_PPPOE},
        {"--mtu", changes.mtu.has_value(), KOVA_MODE_PPPOE},
        {"--dns-mode", changes.dnsMode.has_value(), KOVA_MODE_PPPOE},
        {"--pppoe-dns", changes.pppoeDnsServer.has_value(), KOVA_MODE_PPPOE},
        {"the PPPoE password", pppoePasswordGiven, KOVA_MODE_PPPOE},
    };
    for (const Given &option : given) {
        if (option.given && option.sentIn != mode)
            return std::string(option.option) + ": not sent in " + modeName(mode) + hint;
    }
    return {};
}

std::string applyNetworkChanges(const NetworkChanges &changes,
                                const std::optional<std::string> &pppoePassword,
                                KOVA_NETWORK_SETTINGS &settings) {
    if (std::string problem = checkModeOptions(changes, pppoePassword.has_value(), settings.mode);
        !problem.empty())
        return problem;
    if (changes.mode)
        settings.mode = *changes.mode;
    if (changes.ipAddress)
        setField(settings.ipAddress, *changes.ipAddress);
    if (changes.netMask)
        setField(settings.netMask, *changes.netMask);
    if (changes.gateway)
        setField(settings.gateway, *changes.gateway);
    if (changes.dnsServer)
        setField(settings.dnsServer, *changes.dnsServer);
    if (changes.pppoeUserName)
        setField(settings.pppoeUserName, *changes.pppoeUserName);
    if (changes.pppoeServiceName)
        setField(settings.pppoeServiceName, *changes.pppoeServiceName);
    if (pppoePassword)
        setField(settings.pppoePassword, *pppoePassword);
    if (changes.mtu)
        settings.mtu = static_cast<std::int32_t>(*changes.mtu);
    if (changes.dnsMode)
        settings.dnsMode = *changes.dnsMode;
    if (changes.pppoeDnsServer)
        setField(settings.pppoeDnsServer, *changes.pppoeDnsServer);

    if (settings.mode == KOVA_MODE_STATIC) {
        const std::pair<const char *, std::string_view> addresses[] = {
            {"--ip", fieldView(settings.ipAddress)},
            {"--netmask", fieldView(settings.netMask)},
            {"--gateway", fieldView(settings.gateway)},
            {"--dns", fieldView(settings.dnsServer)}};
        for (const auto &[option, text] : addresses) {
            if (!canonicalIpv4(std::string(text)))
                return std::string(option) + ": the device's current value is not an address; "
                                             "give a new one";
        }
    }
    return {};
}

std::string resolveHostNames(const std::optional<std::string> &hostName,
                             const std::optional<std::string> &domainName,
                             const KOVA_DEVICE_INFO &info, std::string &hostOut,
                             std::string &domainOut) {
    hostOut = hostName ? *hostName : fieldText(info.hostName);
    domainOut = domainName ? *domainName : fieldText(info.domainName);
    if (hostOut.size() > kMaxHostName)
        return "--host: the device's current host name is longer than " +
               std::to_string(kMaxHostName) + " characters; give a new one";
    if (domainOut.size() > kMaxDomainName)
        return "--domain: the device's current domain name is longer than " +
               std::to_string(kMaxDomainName) + " characters; give a new one";
    return {};
}

int exitCodeForEvent(std::int32_t event) {
    switch (event) {
    case KOVA_EVENT_SUCCESS:
        return kExitOk;
    case KOVA_EVENT_AUTH_FAILED:
        return kExitAuthFailed;
    default:
        return kExitNotConfirmed;
    }
}

} // namespace veltrona::cli
