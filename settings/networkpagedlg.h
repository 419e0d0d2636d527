#pragma once
// The network page: network type (DHCP, static IP, PPPoE), the static
// addresses and the PPPoE parameters of the setting page's network settings.
// The static address group and the PPPoE group share one area; only one is
// visible at a time, and DHCP keeps the visible one, disabled.

#include "addresscheck.h"
#include "configpage.h"
#include "kova.h"

#include <QStringList>

#include <string_view>
#include <vector>

class CIPAddressCtrl;
class QLineEdit;

class CNetworkPageDlg : public CConfigPage {
    Q_OBJECT

public:
    static constexpr int IDD = 130;
    static constexpr int IDC_DHCP = 1000;
    static constexpr int IDC_STATIC_IP = 1001;
    static constexpr int IDC_PPPOE = 1002;
    static constexpr int IDC_IP_ADDRESS = 1028;
    static constexpr int IDC_GATEWAY = 1034;
    static constexpr int IDC_NET_MASK = 1036;
    static constexpr int IDC_DNS_SERVER = 1035;
    static constexpr int IDC_USER_NAME = 1003;
    static constexpr int IDC_PPPOE_PASSWORD = 1004;
    static constexpr int IDC_SERVICE_NAME = 1005;
    static constexpr int IDC_MTU = 1006;
    static constexpr int IDC_PPPOE_DNS = 1008;
    static constexpr int IDC_AUTO_DNS = 1037;
    static constexpr int IDC_MANUAL_DNS = 1038;

    // Builds the page as a child of the setting page and fills it from
    // `settings`, the setting page's network settings, which Restore shows
    // again as they are then.
    CNetworkPageDlg(QWidget *parent, const KOVA_NETWORK_SETTINGS &settings);

    // Writes the page into `settings`; nothing for a null pointer or when no
    // network type is checked.
    void CollectSettings(KOVA_NETWORK_SETTINGS *settings) const;
    // Shows the setting page's network settings.
    void FillFromSettings();
    // Address fields in use (with Static IP, and with PPPOE and Manual DNS)
    // with blank fields among filled ones; the change engine judges the rest.
    QStringList BlankFieldProblems() const;

    // The addresses the page would give the device that a host other than a
    // listed device might hold: the IP address when Static IP is checked and
    // the address has no blank field; none otherwise.
    std::vector<uint32_t> NewAddresses() const;

    // Handlers, public for tests.
    void OnNetworkType();
    void OnDnsMode();

    // The network type whose layout is shown (-1 none yet, 0 DHCP, 1 static,
    // 2 PPPoE).
    int ShownType() const { return m_nShownType; }

protected:
    // Escape inside the page does nothing.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Fill() override { FillFromSettings(); }
    void UpdateData();
    void ShowStaticGroup(bool show);
    void ShowPppoeGroup(bool show);
    void EnableStaticGroup(int enable);
    void EnablePppoeGroup(int enable);

    QLineEdit *m_editServiceName = nullptr;
    QLineEdit *m_editPppoePassword = nullptr;
    QLineEdit *m_editMtu = nullptr;
    QLineEdit *m_editUserName = nullptr;
    CIPAddressCtrl *m_ipAddress = nullptr;
    CIPAddressCtrl *m_ipDnsServer = nullptr;
    CIPAddressCtrl *m_ipNetMask = nullptr;
    CIPAddressCtrl *m_ipGateway = nullptr;
    CIPAddressCtrl *m_ipPppoeDns = nullptr;
    int m_nNetworkType = 0;
    int m_nDnsMode = -1;
    int m_nPppoeEnabled = 100;
    int m_nStaticEnabled = 100;
    int m_nShownType = -1;
    const KOVA_NETWORK_SETTINGS &m_settings;
};

// The signed number of an edit's text as the page reads it: leading blanks,
// an optional minus and digits only; anything else (or an overflow) is 0.
int32_t ParseSignedNumber(const QString &text);
