#pragma once
// The window that changes one device's settings: it decodes the device's item
// at opening, holds the network, host name and account pages as child widgets
// and sends their configuration requests. The device's answer reaches it
// through the reply bridge, which calls ReportUpdateResult.

#include "addresscheck.h"
#include "changeengine.h"
#include "kova.h"
#include "kovalibrary.h"
#include "platform.h"
#include "replybridge.h"

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

class CConfigPage;
class CNetworkPageDlg;
class CHostNamePageDlg;
class CAccountPageDlg;
class QPushButton;

// What the window lists when a change is about to be sent: the checks compare
// the change with it.
struct ListedDevices {
    // Every listed device, the one being changed among them.
    std::vector<veltrona::change::HeardDevice> devices;
    // Each address and interface the device being changed answered from.
    std::vector<veltrona::Place> places;
};

class CSettingPageDlg : public QDialog, private ReplyBridge::ResultReceiver {
    Q_OBJECT

public:
    // Page selectors and the frame that marks where the pages go.
    static constexpr int IDC_PAGE_FRAME = 1016;
    static constexpr int IDC_SELECT_NETWORK = 1020;
    static constexpr int IDC_SELECT_HOSTNAME = 1010;
    static constexpr int IDC_SELECT_ACCOUNT = 1011;

    // Every library call goes to `library`; message boxes, the authentication
    // dialog and the modal run go through `platform`.
    CSettingPageDlg(QWidget *parent, veltrona::KovaLibrary &library,
                    veltrona::ui::Platform &platform = veltrona::ui::Platform::real());
    ~CSettingPageDlg() override;

    // Called by the main window.
    void SetDeviceItem(HKOVAITEM item);
    // The main window's binding text ("ANY" or a local address): Apply sends
    // through the same network as the scan.
    void SetBindingText(const QByteArray &binding) { m_strBinding = binding; }
    // Opens the pages for the device item, runs the window modally and
    // destroys the pages again.
    int DoModal();
    // Thread-safe: may be polled from the library's receive thread.
    bool IsReportingResult() const { return m_bReporting.load(); }
    // Runs on the user-interface thread: shows the text for the device's
    // answer (none for unknown events) and closes the library in every case.
    void ReportUpdateResult(HKOVAITEM item, int32_t event, int32_t reserved);
    // The text shown for a reply event; empty when none is shown.
    static QString UpdateResultText(int32_t event);

    // Opening and closing steps that DoModal runs around the modal loop;
    // public so that tests can drive a shown window without a modal loop.
    void OnInitDialog();
    void OnDestroy();

    // What the pages ask for.
    // Checks the page's values (and, for every page, that the device answered
    // from one place only) and shows what the checks found with the choice to
    // go back or to send anyway; then calls `checked` with true when nothing
    // was found or the user chose to send. Nothing is asked or sent before.
    // A new static address on a network of this host's is also looked up
    // among the live hosts there: `checked` is then called later, on the
    // user-interface thread (with false when the window has been closed
    // meanwhile), and not at all once the network page is gone.
    void ConfirmPage(int pageId, const std::function<void(bool proceed)> &checked);
    // 1 when the user confirmed the authentication dialog, else its result.
    int AskCredentials();
    // Initialises the library with the reply bridge's callback and sends the request
    // of the page with the given template id (130, 131 or 132). False when
    // nothing was sent; the reason has been shown.
    bool ApplyPage(int pageId);
    // True from a sent request until its answer is reported or the window
    // closes: the connection the request went out on must stay open.
    bool IsAwaitingResult() const { return m_bAwaitingResult; }
    // Forgets the item and ends the window with `result`.
    void CloseSettingPage(int result);
    // Shows the page of a selector id (1020, 1010 or 1011).
    void SelectPage(int selectorId);

    const KOVA_DEVICE_INFO &DeviceInfo() const { return m_deviceInfo; }
    const KOVA_NETWORK_SETTINGS &NetworkSettings() const { return m_networkSettings; }
    int32_t GuestAccount() const { return m_guestAccount; }
    HKOVAITEM DeviceItem() const { return m_item; }
    QString ID() const { return m_strID; }
    QString Password() const { return m_strPassword; }

    CNetworkPageDlg *NetworkPage() const { return m_pNetworkPage; }
    CHostNamePageDlg *HostNamePage() const { return m_pHostNamePage; }
    CAccountPageDlg *AccountPage() const { return m_pAccountPage; }
    QPushButton *Selector(int selectorId) const;

signals:
    // Asks the window what it lists, for the device with this MAC address;
    // nothing listed when no one answers.
    void listedDevicesRequested(const uint8_t *mac, ListedDevices *listed);

private:
    // The device's answers to this page's requests, one at a time: taken
    // while the page is shown, held back while an earlier one is shown.
    bool takesResults() const override { return isVisible(); }
    bool showsResult() const override { return IsReportingResult(); }
    void reportResult(HKOVAITEM item, int32_t event, int32_t reserved) override {
        ReportUpdateResult(item, event, reserved);
    }

    // Lets `page` ask for credentials, its request and the end of the window.
    void ConnectPage(CConfigPage *page);
    // Shows what the checks of the page found, with `listed` as the holders
    // of addresses: true when nothing was found or the user chose to send.
    // A problem of the change engine in the window's language.
    static QString ProblemText(const veltrona::change::Problem &problem);
    bool AskAboutProblems(int pageId, const ListedDevices &listed);

    veltrona::KovaLibrary &m_library;
    veltrona::ui::Platform &m_platform;
    QString m_strID;
    QString m_strPassword;
    int32_t m_guestAccount = 0;
    KOVA_DEVICE_INFO m_deviceInfo{};
    KOVA_NETWORK_SETTINGS m_networkSettings{};
    std::atomic<bool> m_bReporting{false};
    bool m_bAwaitingResult = false;
    HKOVAITEM m_item = nullptr;
    CNetworkPageDlg *m_pNetworkPage = nullptr;
    CHostNamePageDlg *m_pHostNamePage = nullptr;
    CAccountPageDlg *m_pAccountPage = nullptr;
    QByteArray m_strBinding = "ANY";
};
