#pragma once
// Stand-ins for the setting page's tests: a recording library with prepared
// device records, a credentials prompt that answers at once and
// a fixture that opens the setting page on a prepared device.

#include "dialogbuilder.h"
#include "gui_test_support.h"
#include "kova.h"
#include "networkpagedlg.h"
#include "settingpagedlg.h"

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct DeviceRecords {
    KOVA_NETWORK_SETTINGS network{};
    KOVA_DEVICE_INFO info{};
    int32_t guest = 0;
};

inline HKOVAITEM fakeItem(std::uintptr_t n) {
    return reinterpret_cast<HKOVAITEM>(n * 64);
}

using guitest::put;

// A device with every network text filled in, the PPPoE ones too.
inline DeviceRecords device(int32_t mode, uint8_t dnsMode = 0, const char *host = "cam1",
                            const char *domain = "example.net", int32_t guest = 0) {
    DeviceRecords d;
    d.network.mode = mode;
    put(d.network.ipAddress, "192.168.1.20");
    put(d.network.netMask, "255.255.255.0");
    put(d.network.gateway, "192.168.1.1");
    put(d.network.dnsServer, "192.168.1.2");
    put(d.network.pppoeUserName, "alice");
    put(d.network.pppoePassword, "pw");
    put(d.network.pppoeServiceName, "isp");
    d.network.mtu = 1492;
    d.network.dnsMode = dnsMode;
    put(d.network.pppoeDnsServer, "10.0.0.5");
    put(d.info.hostName, host);
    put(d.info.domainName, domain);
    put(d.info.modelName, "VX-100");
    d.guest = guest;
    return d;
}

// Whether a page's Apply and Restore buttons (the same IDs on every page) are
// enabled as given.
inline bool applyRestore(const QWidget *page, bool apply, bool restore) {
    using veltrona::ui::controlById;
    return controlById(page, CNetworkPageDlg::IDC_APPLY)->isEnabled() == apply &&
           controlById(page, CNetworkPageDlg::IDC_RESTORE)->isEnabled() == restore;
}

// Replaces the setting page's library for its lifetime. Every call is logged
// by name, in order.
struct FakeLibrary {
    struct NetworkRequest {
        HKOVAITEM item;
        std::string id, password;
        KOVA_NETWORK_SETTINGS settings;
    };
    struct HostNameRequest {
        HKOVAITEM item;
        std::string id, password, hostName, domainName;
    };
    struct AccountRequest {
        HKOVAITEM item;
        std::string id, password, newPassword;
        int32_t guest;
    };

    std::map<HKOVAITEM, DeviceRecords> devices;
    int32_t initialiseResult = KOVA_OK;
    int32_t requestResult = KOVA_OK; // of every configuration request
    KOVA_CONFIG lastConfig{};
    QStringList calls;
    std::vector<NetworkRequest> network;
    std::vector<HostNameRequest> hostNames;
    std::vector<AccountRequest> accounts;
    SettingPageLibrary previous;

    FakeLibrary() {
        SettingPageLibrary lib;
        lib.getNetworkSettings = [this](HKOVAITEM item, KOVA_NETWORK_SETTINGS *out) {
            calls << QStringLiteral("getNetworkSettings");
            *out = devices[item].network;
            return KOVA_OK;
        };
        lib.getDeviceInfo = [this](HKOVAITEM item, KOVA_DEVICE_INFO *out) {
            calls << QStringLiteral("getDeviceInfo");
            *out = devices[item].info;
            return KOVA_OK;
        };
        lib.getGuestAccount = [this](HKOVAITEM item, int32_t *out) {
            calls << QStringLiteral("getGuestAccount");
            *out = devices[item].guest;
            return KOVA_OK;
        };
        lib.initialise = [this](const KOVA_CONFIG *config) {
            calls << QStringLiteral("initialise");
            lastConfig = *config;
            return initialiseResult;
        };
        lib.initialiseEx = [this](const KOVA_CONFIG *config, const char *address) {
            calls << QStringLiteral("initialiseEx ") + QLatin1String(address);
            lastConfig = *config;
            return initialiseResult;
        };
        lib.close = [this] { calls << QStringLiteral("close"); };
        lib.setNetworkSettings = [this](HKOVAITEM item, const char *id, const char *pw,
                                        const KOVA_NETWORK_SETTINGS *s) {
            calls << QStringLiteral("setNetworkSettings");
            network.push_back({item, id, pw, *s});
            return requestResult;
        };
        lib.setHostName = [this](HKOVAITEM item, const char *id, const char *pw, const char *host,
                                 const char *domain) {
            calls << QStringLiteral("setHostName");
            hostNames.push_back({item, id, pw, host, domain});
            return requestResult;
        };
        lib.setAccount = [this](HKOVAITEM item, const char *id, const char *pw,
                                const char *newPassword, const int32_t *guest) {
            calls << QStringLiteral("setAccount");
            accounts.push_back({item, id, pw, newPassword, *guest});
            return requestResult;
        };
        previous = CSettingPageDlg::SetLibrary(std::move(lib));
    }
    ~FakeLibrary() { CSettingPageDlg::SetLibrary(std::move(previous)); }
    FakeLibrary(const FakeLibrary &) = delete;
    FakeLibrary &operator=(const FakeLibrary &) = delete;

    int count(const char *name) const { return calls.count(QString::fromLatin1(name)); }
};

// Answers the authentication with a fixed result, ID and password.
struct Credentials {
    int result = 1;
    QString id = QStringLiteral("root");
    QString password = QStringLiteral("secret");
    int asked = 0;
    CSettingPageDlg::CredentialsPrompt previous;
    Credentials() {
        previous = CSettingPageDlg::SetCredentialsPrompt([this](QWidget *, QString &i, QString &p) {
            ++asked;
            if (result == 1) {
                i = id;
                p = password;
            }
            return result;
        });
    }
    ~Credentials() { CSettingPageDlg::SetCredentialsPrompt(std::move(previous)); }
    Credentials(const Credentials &) = delete;
    Credentials &operator=(const Credentials &) = delete;
};

// A recording library, a message box recorder and a setting page opened on one of the
// library's devices. Call setUp() from init() and tearDown() from cleanup().
struct SettingPageFixture {
    std::unique_ptr<FakeLibrary> m_lib;
    std::unique_ptr<guitest::MessageRecorder> m_messages;
    std::unique_ptr<CSettingPageDlg> m_dlg;

    void setUp() {
        m_lib = std::make_unique<FakeLibrary>();
        m_messages = std::make_unique<guitest::MessageRecorder>();
    }
    void tearDown() {
        m_dlg.reset();
        m_messages.reset();
        m_lib.reset();
    }
    // Opens (or reopens) the page on fake item n holding these records.
    CSettingPageDlg &openPage(const DeviceRecords &records, std::uintptr_t n = 1) {
        m_lib->devices[fakeItem(n)] = records;
        if (!m_dlg)
            m_dlg = std::make_unique<CSettingPageDlg>();
        m_dlg->SetDeviceItem(fakeItem(n));
        m_dlg->OnInitDialog();
        return *m_dlg;
    }
};

} // namespace testsupport
