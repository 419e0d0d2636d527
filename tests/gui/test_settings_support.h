#pragma once
// Stand-ins for the setting page's tests: a recording library with prepared
// device records, a message log and a credentials prompt that answers at once.

#include "kova.h"
#include "messagebox.h"
#include "settingpagedlg.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <map>
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

template <std::size_t N> void put(char (&field)[N], const char *text) {
    std::memset(field, 0, N);
    std::memcpy(field, text, std::min(N, std::strlen(text)));
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
        lib.close = [this] { calls << QStringLiteral("close"); };
        lib.setNetworkSettings = [this](HKOVAITEM item, const char *id, const char *pw,
                                        const KOVA_NETWORK_SETTINGS *s) {
            calls << QStringLiteral("setNetworkSettings");
            network.push_back({item, id, pw, *s});
            return KOVA_OK;
        };
        lib.setHostName = [this](HKOVAITEM item, const char *id, const char *pw, const char *host,
                                 const char *domain) {
            calls << QStringLiteral("setHostName");
            hostNames.push_back({item, id, pw, host, domain});
            return KOVA_OK;
        };
        lib.setAccount = [this](HKOVAITEM item, const char *id, const char *pw,
                                const char *newPassword, const int32_t *guest) {
            calls << QStringLiteral("setAccount");
            accounts.push_back({item, id, pw, newPassword, *guest});
            return KOVA_OK;
        };
        previous = CSettingPageDlg::SetLibrary(std::move(lib));
    }
    ~FakeLibrary() { CSettingPageDlg::SetLibrary(std::move(previous)); }
    FakeLibrary(const FakeLibrary &) = delete;
    FakeLibrary &operator=(const FakeLibrary &) = delete;

    int count(const char *name) const { return calls.count(QString::fromLatin1(name)); }
};

// Collects the texts of message boxes instead of showing them.
struct MessageLog {
    QStringList texts;
    std::function<void(const QString &)> onShow;
    veltrona::ui::MessageBoxPresenter previous;
    MessageLog() {
        previous = veltrona::ui::setMessageBoxPresenter([this](QWidget *, const QString &text) {
            texts << text;
            if (onShow)
                onShow(text);
        });
    }
    ~MessageLog() { veltrona::ui::setMessageBoxPresenter(std::move(previous)); }
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;
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

} // namespace testsupport
