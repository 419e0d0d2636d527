#pragma once
// Stand-ins for the setting page's tests: a recording library with prepared
// device records, credentials that answer the authentication at once and
// a fixture that opens the setting page on a prepared device.

#include "authenticationdlg.h"
#include "dialogbuilder.h"
#include "gui_test_support.h"
#include "kova.h"
#include "networkpagedlg.h"
#include "settingpagedlg.h"

#include <QLineEdit>
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

// The setting page's library: every call is logged by name, in order, and
// nothing is opened or sent.
struct FakeLibrary : veltrona::KovaLibrary {
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

    int32_t getNetworkSettings(HKOVAITEM item, KOVA_NETWORK_SETTINGS *out) override {
        calls << QStringLiteral("getNetworkSettings");
        *out = devices[item].network;
        return KOVA_OK;
    }
    int32_t getDeviceInfo(HKOVAITEM item, KOVA_DEVICE_INFO *out) override {
        calls << QStringLiteral("getDeviceInfo");
        *out = devices[item].info;
        return KOVA_OK;
    }
    int32_t getGuestAccount(HKOVAITEM item, int32_t *out) override {
        calls << QStringLiteral("getGuestAccount");
        *out = devices[item].guest;
        return KOVA_OK;
    }
    int32_t initialise(const KOVA_CONFIG *config) override {
        calls << QStringLiteral("initialise");
        lastConfig = *config;
        return initialiseResult;
    }
    int32_t initialiseEx(const KOVA_CONFIG *config, const char *address) override {
        calls << QStringLiteral("initialiseEx ") + QLatin1String(address);
        lastConfig = *config;
        return initialiseResult;
    }
    void close() override { calls << QStringLiteral("close"); }
    int32_t setNetworkSettings(HKOVAITEM item, const char *id, const char *pw,
                               const KOVA_NETWORK_SETTINGS *s) override {
        calls << QStringLiteral("setNetworkSettings");
        network.push_back({item, id, pw, *s});
        return requestResult;
    }
    int32_t setHostName(HKOVAITEM item, const char *id, const char *pw, const char *host,
                        const char *domain) override {
        calls << QStringLiteral("setHostName");
        hostNames.push_back({item, id, pw, host, domain});
        return requestResult;
    }
    int32_t setAccount(HKOVAITEM item, const char *id, const char *pw, const char *newPassword,
                       const int32_t *guest) override {
        calls << QStringLiteral("setAccount");
        accounts.push_back({item, id, pw, newPassword, *guest});
        return requestResult;
    }

    int count(const char *name) const { return calls.count(QString::fromLatin1(name)); }
};

struct Credentials;

// Records message boxes; while Credentials are in place, answers the
// authentication dialog with them instead of running it.
struct PagePlatform : guitest::MessageRecorder {
    Credentials *credentials = nullptr;
    int runModal(QDialog &dialog) override;
};

// Answers the authentication with a fixed result, ID and password.
struct Credentials {
    int result = 1;
    QString id = QStringLiteral("root");
    QString password = QStringLiteral("secret");
    int asked = 0;
    PagePlatform &platform;
    explicit Credentials(PagePlatform &p) : platform(p) { platform.credentials = this; }
    ~Credentials() { platform.credentials = nullptr; }
    Credentials(const Credentials &) = delete;
    Credentials &operator=(const Credentials &) = delete;
};

inline int PagePlatform::runModal(QDialog &dialog) {
    auto *auth = qobject_cast<CAuthenticationDlg *>(&dialog);
    if (credentials == nullptr || auth == nullptr)
        return MessageRecorder::runModal(dialog);
    ++credentials->asked;
    if (credentials->result != 1)
        return credentials->result;
    auth->idEdit()->setText(credentials->id);
    auth->passwordEdit()->setText(credentials->password);
    auth->OnOK();
    return auth->result();
}

// A recording library, a recording platform and a setting page opened on one of
// the library's devices. Call setUp() from init() and tearDown() from cleanup().
struct SettingPageFixture {
    std::unique_ptr<FakeLibrary> m_lib;
    std::unique_ptr<PagePlatform> m_messages;
    std::unique_ptr<CSettingPageDlg> m_dlg;

    void setUp() {
        m_lib = std::make_unique<FakeLibrary>();
        m_messages = std::make_unique<PagePlatform>();
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
            m_dlg = std::make_unique<CSettingPageDlg>(nullptr, *m_lib, *m_messages);
        m_dlg->SetDeviceItem(fakeItem(n));
        m_dlg->OnInitDialog();
        return *m_dlg;
    }
};

} // namespace testsupport
