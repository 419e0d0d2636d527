// The setting page: opening and page selection, the apply dispatcher with its
// library calls, the update-result report, closing and reopening, and the
// host name and account pages.

#include "accountpagedlg.h"
#include "authenticationdlg.h"
#include "dialogbuilder.h"
#include "hostnamepagedlg.h"
#include "ipaddressctrl.h"
#include "networkpagedlg.h"
#include "replybridge.h"
#include "settingpagedlg.h"
#include "test_settings_support.h"
#include "translations.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstring>

using namespace testsupport;
using veltrona::ui::controlAs;
using veltrona::ui::controlById;
using P = CNetworkPageDlg;

namespace {

DeviceRecords device(const char *host, const char *domain, int32_t guest) {
    return testsupport::device(KOVA_MODE_STATIC, 0, host, domain, guest);
}

} // namespace

class TestSettingPage : public QObject, SettingPageFixture {
    Q_OBJECT

    CSettingPageDlg &open(const DeviceRecords &records, std::uintptr_t n = 1) {
        openPage(records, n).show();
        return *m_dlg;
    }

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void opensOnTheNetworkPageWithHiddenSelectors() {
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        QCOMPARE(dlg.windowTitle(), "Setting Page");
        QCOMPARE(m_lib->calls,
                 (QStringList{"getNetworkSettings", "getDeviceInfo", "getGuestAccount"}));
        QVERIFY(dlg.NetworkPage()->isVisible());
        QVERIFY(!dlg.HostNamePage()->isVisible());
        QVERIFY(!dlg.AccountPage()->isVisible());
        QVERIFY(dlg.Selector(1020)->isChecked());
        QVERIFY(!dlg.Selector(1010)->isChecked());
        QVERIFY(!dlg.Selector(1011)->isChecked());
        for (int id : {1020, 1010, 1011})
            QVERIFY(!dlg.Selector(id)->isVisible());
        QWidget *frame = controlById(&dlg, 1016);
        QVERIFY(!frame->isVisible());
        for (QWidget *page : std::initializer_list<QWidget *>{dlg.NetworkPage(), dlg.HostNamePage(),
                                                              dlg.AccountPage()})
            QCOMPARE(page->geometry(), frame->geometry());
        QVERIFY(!(dlg.windowFlags() & Qt::WindowCloseButtonHint));
    }

    void selectorClicksSwitchPages() {
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        dlg.Selector(1010)->click();
        QVERIFY(dlg.HostNamePage()->isVisible());
        QVERIFY(!dlg.NetworkPage()->isVisible());
        QVERIFY(!dlg.AccountPage()->isVisible());
        QVERIFY(dlg.Selector(1010)->isChecked());
        QVERIFY(!dlg.Selector(1020)->isChecked());
        dlg.Selector(1011)->click();
        QVERIFY(dlg.AccountPage()->isVisible());
        QVERIFY(!dlg.HostNamePage()->isVisible());
        QVERIFY(dlg.Selector(1011)->isChecked());
        QVERIFY(!dlg.Selector(1010)->isChecked());
        // Clicking the checked selector keeps it checked.
        dlg.Selector(1011)->click();
        QVERIFY(dlg.Selector(1011)->isChecked());
        dlg.Selector(1020)->click();
        QVERIFY(dlg.NetworkPage()->isVisible());
        QVERIFY(!dlg.AccountPage()->isVisible());
    }

    void applyInitialisesWithTheReplyCallbackAndSends() {
        Credentials credentials(*m_messages);
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        m_lib->calls.clear();
        dlg.NetworkPage()->OnApply();
        QCOMPARE(m_lib->calls, (QStringList{"initialise", "setNetworkSettings"}));
        QVERIFY(m_lib->lastConfig.replyCallback != nullptr);
        QVERIFY(m_lib->lastConfig.replyCallback == ReplyBridge::instance().currentCallback());
        QVERIFY(m_lib->lastConfig.errorCallback == nullptr);
        QCOMPARE(m_lib->lastConfig.classId, 2);
        QCOMPARE(dlg.ID(), "root");
        QCOMPARE(dlg.Password(), "secret");
        QVERIFY(m_messages->texts.isEmpty());
        dlg.ReportUpdateResult(fakeItem(1), KOVA_EVENT_SUCCESS, 0);
        QVERIFY(dlg.ID().isEmpty() && dlg.Password().isEmpty());
        // The main window's binding: the request leaves where the scan listened.
        dlg.SetBindingText("10.0.0.5");
        m_lib->calls.clear();
        dlg.NetworkPage()->OnApply();
        dlg.SetBindingText("ANY");
        QCOMPARE(m_lib->calls, (QStringList{"initialiseEx 10.0.0.5", "setNetworkSettings"}));
    }

    void unsentRequestIsReportedAndApplyEnabledAgain() {
        Credentials credentials(*m_messages);
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        m_lib->initialiseResult = KOVA_ERR_SOCKET;
        m_lib->calls.clear();
        dlg.Selector(1010)->click();
        controlAs<QLineEdit>(dlg.HostNamePage(), 1030)->setText(QStringLiteral("cam2"));
        dlg.HostNamePage()->OnApply();
        QCOMPARE(m_messages->texts, QStringList{"Error : initialising kova..."});
        // The request is still made; the closed library refuses it, and Apply
        // can be tried again.
        QCOMPARE(m_lib->calls, (QStringList{"initialise", "close", "setHostName"}));
        QVERIFY(applyRestore(dlg.HostNamePage(), true, true));
        // A refused request shows the library's text.
        m_lib->initialiseResult = KOVA_OK;
        m_lib->requestResult = KOVA_ERR_INVALID_ARG;
        QTest::mouseClick(controlAs<QPushButton>(dlg.HostNamePage(), 1025), Qt::LeftButton);
        QCOMPARE(m_messages->texts, (QStringList{"Error : initialising kova...",
                                                 "One or more arguments are invalid"}));
        QCOMPARE(m_lib->calls.last(), "close");
        QVERIFY(applyRestore(dlg.HostNamePage(), true, true));
    }

    // Enter presses the focused push button, else the page's Apply; Escape in
    // the network page leaves the setting page open.
    void networkPageKeys() {
        Credentials credentials(*m_messages);
        credentials.result = 0; // cancelled: nothing is sent
        CNetworkPageDlg *page = open(device("cam1", "lan", 0)).NetworkPage();
        QWidget *field = controlAs<CIPAddressCtrl>(page, 1028)->field(3);
        QTest::keyClicks(field, QStringLiteral("9"));
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(controlAs<QPushButton>(page, 1026), Qt::Key_Return);
        QCOMPARE(credentials.asked, 1);
        QVERIFY(applyRestore(page, false, false)); // Restore was pressed
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(m_dlg->isVisible() && page->isVisible());
    }

    void hostNamePage() {
        Credentials credentials(*m_messages);
        CSettingPageDlg &dlg = open(device("cam1", "example.net", 0));
        CHostNamePageDlg *page = dlg.HostNamePage();
        auto *host = controlAs<QLineEdit>(page, 1030);
        auto *domain = controlAs<QLineEdit>(page, 1029);
        QCOMPARE(host->text(), "cam1");
        QCOMPARE(domain->text(), "example.net");
        QCOMPARE(controlAs<QLabel>(page, 1031)->text(), "VX-100");
        QVERIFY(applyRestore(page, false, false));

        QTest::keyClicks(domain, QStringLiteral(".x"));
        QVERIFY(applyRestore(page, true, true));
        host->clear();
        controlAs<QPushButton>(page, 1025)->click();
        QVERIFY(applyRestore(page, false, true));
        QCOMPARE(m_lib->hostNames.size(), 1u);
        QCOMPARE(m_lib->hostNames[0].item, fakeItem(1));
        QCOMPARE(m_lib->hostNames[0].hostName, std::string(""));
        QCOMPARE(m_lib->hostNames[0].domainName, std::string("example.net.x"));
        QCOMPARE(m_lib->hostNames[0].id, std::string("root"));
        QCOMPARE(m_lib->hostNames[0].password, std::string("secret"));

        // Restore shows the names decoded at opening, also after an Apply.
        controlAs<QPushButton>(page, 1026)->click();
        QCOMPARE(host->text(), "cam1");
        QCOMPARE(domain->text(), "example.net");
        QVERIFY(applyRestore(page, false, false));
    }

    void accountPage() {
        Credentials credentials(*m_messages);
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        CAccountPageDlg *page = dlg.AccountPage();
        auto *password = controlAs<QLineEdit>(page, 1027);
        auto *guest = controlAs<QCheckBox>(page, 1028);
        QVERIFY(password->text().isEmpty());
        QCOMPARE(password->echoMode(), QLineEdit::Normal);
        QVERIFY(!guest->isChecked());
        QVERIFY(applyRestore(page, false, false));

        // The check box alone enables Apply; an empty password is sent.
        guest->click();
        QVERIFY(applyRestore(page, true, true));
        controlAs<QPushButton>(page, 1025)->click();
        QCOMPARE(m_lib->accounts.size(), 1u);
        QCOMPARE(m_lib->accounts[0].newPassword, std::string(""));
        QCOMPARE(m_lib->accounts[0].guest, 1);
        QCOMPARE(dlg.GuestAccount(), 1);
        QVERIFY(applyRestore(page, false, true));

        // Restore shows the applied flag and empties the password.
        QTest::keyClicks(password, QStringLiteral("n3w"));
        guest->click();
        controlAs<QPushButton>(page, 1026)->click();
        QVERIFY(guest->isChecked());
        QVERIFY(password->text().isEmpty());
        QVERIFY(applyRestore(page, false, false));

        QTest::keyClicks(password, QStringLiteral("n3w"));
        controlAs<QPushButton>(page, 1025)->click();
        QCOMPARE(m_lib->accounts.size(), 2u);
        QCOMPARE(m_lib->accounts[1].newPassword, std::string("n3w"));
        QCOMPARE(m_lib->accounts[1].guest, 1);
    }

    void cancelledAuthenticationSendsNothing_data() {
        QTest::addColumn<int>("selector");
        QTest::newRow("network") << 1020;
        QTest::newRow("host name") << 1010;
        QTest::newRow("account") << 1011;
    }
    void cancelledAuthenticationSendsNothing() {
        QFETCH(int, selector);
        Credentials credentials(*m_messages);
        credentials.result = 0;
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        m_lib->calls.clear();
        dlg.Selector(selector)->click();
        QWidget *page = nullptr;
        if (selector == 1020) {
            page = dlg.NetworkPage();
            controlAs<QAbstractButton>(page, CNetworkPageDlg::IDC_DHCP)->click();
        } else if (selector == 1010) {
            page = dlg.HostNamePage();
            QTest::keyClicks(controlAs<QLineEdit>(page, 1030), QStringLiteral("z"));
        } else {
            page = dlg.AccountPage();
            controlAs<QCheckBox>(page, 1028)->click();
        }
        controlAs<QPushButton>(page, 1025)->click();
        QCOMPARE(credentials.asked, 1);
        QVERIFY(m_lib->calls.isEmpty());
        QVERIFY(applyRestore(page, true, true));
        // The records keep what was decoded.
        QCOMPARE(dlg.NetworkSettings().mode, KOVA_MODE_STATIC);
        QCOMPARE(dlg.GuestAccount(), 0);
    }

    // The real authentication dialog, driven while its modal loop runs.
    void askCredentialsRunsTheAuthenticationDialog_data() {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void askCredentialsRunsTheAuthenticationDialog() {
        QFETCH(bool, confirm);
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        bool seen = false;
        QTimer::singleShot(0, this, [&seen, confirm] {
            auto *auth = qobject_cast<CAuthenticationDlg *>(QApplication::activeModalWidget());
            if (auth == nullptr)
                return;
            seen = true;
            auth->passwordEdit()->setText(QStringLiteral("pw1"));
            controlAs<QPushButton>(auth, confirm ? 1 : 2)->click();
        });
        const int result = dlg.AskCredentials();
        QVERIFY(seen);
        QCOMPARE(result, confirm ? 1 : 0);
        QCOMPARE(dlg.ID(), confirm ? QStringLiteral("root") : QString());
        QCOMPARE(dlg.Password(), confirm ? QStringLiteral("pw1") : QString());
    }

    void updateResultTexts_data() {
        QTest::addColumn<int>("event");
        QTest::addColumn<QString>("text");
        QTest::newRow("1") << 1 << "Protocol Type mismatched!";
        QTest::newRow("2 authentication failed") << 2 << "Authentication Failed!";
        QTest::newRow("3") << 3 << "Update failed! Try later...";
        QTest::newRow("4 success") << 4 << "Success";
        QTest::newRow("5") << 5 << "Update failed! Unknown error...";
        QTest::newRow("6 status") << 6 << "";
        QTest::newRow("0") << 0 << "";
        QTest::newRow("negative") << -2 << "";
        QTest::newRow("large") << 0x10004 << "";
    }
    void updateResultTexts() {
        QFETCH(int, event);
        QFETCH(QString, text);
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        m_lib->calls.clear();
        bool busyWhileShown = false;
        m_messages->onMessage = [&](const QString &) { busyWhileShown = dlg.IsReportingResult(); };
        QVERIFY(!dlg.IsReportingResult());
        dlg.ReportUpdateResult(fakeItem(1), event, 0);
        QCOMPARE(m_messages->texts, text.isEmpty() ? QStringList{} : QStringList{text});
        if (!text.isEmpty())
            QVERIFY(busyWhileShown);
        QVERIFY(!dlg.IsReportingResult());
        QCOMPARE(m_lib->calls, QStringList{"close"});
    }

    void closeForgetsTheItemAndReopeningDecodesTheNewDevice() {
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0), 1);
        QTest::keyClicks(controlAs<QLineEdit>(dlg.HostNamePage(), 1030), QStringLiteral("-x"));
        controlAs<QPushButton>(dlg.NetworkPage(), 1032)->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(dlg.DeviceItem(), nullptr);
        dlg.OnDestroy();
        QCOMPARE(dlg.NetworkPage(), nullptr);

        open(device("cam2", "other", 1), 2);
        QCOMPARE(controlAs<QLineEdit>(dlg.HostNamePage(), 1030)->text(), "cam2");
        QVERIFY(controlAs<QCheckBox>(dlg.AccountPage(), 1028)->isChecked());
        QVERIFY(applyRestore(dlg.HostNamePage(), false, false));
        QVERIFY(dlg.NetworkPage()->isVisible());
        QVERIFY(dlg.Selector(1020)->isChecked());
    }

    void accountPageCloseRequestClosesTheSettingPage() {
        CSettingPageDlg &dlg = open(device("cam1", "lan", 0));
        dlg.Selector(1011)->click();
        dlg.AccountPage()->close();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.DeviceItem(), nullptr);
    }

    // DoModal creates fresh pages each time and destroys them afterwards.
    void doModalRunsAndCleansUp() {
        m_lib->devices[fakeItem(3)] = device("cam3", "lan", 0);
        CSettingPageDlg dlg(nullptr, *m_lib, *m_messages);
        dlg.SetDeviceItem(fakeItem(3));
        QString shownHost;
        QTimer::singleShot(0, &dlg, [&] {
            shownHost = controlAs<QLineEdit>(dlg.HostNamePage(), 1030)->text();
            controlAs<QPushButton>(dlg.NetworkPage(), 1032)->click();
        });
        dlg.DoModal();
        QCOMPARE(shownHost, "cam3");
        QCOMPARE(dlg.NetworkPage(), nullptr);
        QCOMPARE(dlg.HostNamePage(), nullptr);
        QCOMPARE(dlg.AccountPage(), nullptr);
    }
    // Apply with settings the device cannot use, or that would collide with a
    // listed device, shows what is wrong and sends nothing (nor asks for
    // credentials) until the user chooses to send anyway. An empty list of
    // expected texts: nothing is wrong, the request goes out at once.
    void unsafeChangesWaitForTheUsersChoice_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("dnsMode");
        QTest::addColumn<QStringList>("texts"); // IP address, net mask, gateway, PPPoE DNS
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("expected");
        const int S = KOVA_MODE_STATIC, D = KOVA_MODE_DHCP, O = KOVA_MODE_PPPOE;
        const QStringList once{"10.77.0.9 on vt0"};
        QTest::newRow("own address, own subnet")
            << S << 0 << QStringList{"192.168.1.20", "", "", ""} << once << QStringList{};
        QTest::newRow("the address, netmask and gateway seen sent")
            << S << 0 << QStringList{"10.77.1.1", "255.0.255.0", "192.168.99.1", ""} << once
            << QStringList{"10.77.1.1 is held by the device 02-4B-56-00-00-01 (cam-01?[2J).",
                           "255.0.255.0 is not a netmask"};
        QTest::newRow("gateway outside the subnet")
            << S << 0 << QStringList{"", "", "192.168.99.1", ""} << once
            << QStringList{"The gateway 192.168.99.1 is outside the subnet 192.168.1.0/24."};
        QTest::newRow("emptied octet")
            << S << 0 << QStringList{"192.168..20", "", "", ""} << once
            << QStringList{
                   "IP Address has a blank field among filled ones; it would be sent as 0."};
        QTest::newRow("wholly blank gateway is none")
            << S << 0 << QStringList{"", "", "...", ""} << once << QStringList{};
        QTest::newRow("DHCP leaves the static fields alone")
            << D << 0 << QStringList{"10.77.1.1", "255.0.255.0", "1.2..4", ""} << once
            << QStringList{};
        QTest::newRow("PPPoE, manual DNS with an emptied octet")
            << O << 1 << QStringList{"", "", "", "10.0..5"} << once
            << QStringList{"DNS Server has a blank field among filled ones"};
        QTest::newRow("PPPoE, automatic DNS")
            << O << 0 << QStringList{"", "", "", "10.0..5"} << once << QStringList{};
        // Held at an address the list gives for it (where it answers from, or
        // its configured static address), worded in the window's language.
        QTest::newRow("held by a listed device (de)")
            << S << 0 << QStringList{"10.77.1.1", "255.255.0.0", "10.77.0.1", ""} << once
            << QStringList{"10.77.1.1 ist vom Ger\u00e4t 02-4B-56-00-00-01 (cam-01?[2J) belegt."};
        QTest::newRow("answered from two places")
            << S << 0 << QStringList{"", "", "", ""}
            << QStringList{"10.77.0.9 on vt0", "10.78.0.9 on vt1"}
            << QStringList{"02-4B-56-00-00-09 answered from 10.77.0.9 on vt0 and 10.78.0.9 on "
                           "vt1"};
    }
    void unsafeChangesWaitForTheUsersChoice() {
        QFETCH(int, mode);
        QFETCH(int, dnsMode);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, sources);
        QFETCH(QStringList, expected);
        veltrona::ui::Translations german;
        const bool de = QByteArray(QTest::currentDataTag()).endsWith("(de)");
        if (de)
            QVERIFY(german.load(QLocale(QStringLiteral("de")),
                                QStringLiteral(VELTRONA_TRANSLATIONS_DIR)));
        Credentials credentials(*m_messages);
        DeviceRecords records = testsupport::device(mode, uint8_t(dnsMode));
        const guitest::Mac own = guitest::mac(9);
        std::memcpy(records.info.mac, own.data(), 6);
        CSettingPageDlg &dlg = open(records);
        // The window lists this device and one that holds 10.77.1.1 and
        // names itself with a terminal escape.
        connect(&dlg, &CSettingPageDlg::listedDevicesRequested, &dlg,
                [&](const uint8_t *mac, ListedDevices *listed) {
                    QCOMPARE(std::memcmp(mac, own.data(), 6), 0);
                    listed->devices = {{"02-4B-56-00-00-09", "cam1", 0xC0A80114},
                                       {"02-4B-56-00-00-01", "cam-01\x1b[2J", 0x0A4D0101}};
                    for (const QString &source : sources) {
                        const QStringList parts = source.split(QStringLiteral(" on "));
                        listed->places.push_back(
                            {parts[0].toStdString(), parts.value(1).toStdString()});
                    }
                });
        CNetworkPageDlg *page = dlg.NetworkPage();
        const int ids[] = {P::IDC_IP_ADDRESS, P::IDC_NET_MASK, P::IDC_GATEWAY, P::IDC_PPPOE_DNS};
        for (int i = 0; i < 4; ++i) {
            if (!texts[i].isEmpty())
                controlAs<CIPAddressCtrl>(page, ids[i])->setText(texts[i]);
        }
        page->OnModified();
        m_lib->calls.clear();

        page->OnApply();
        if (expected.isEmpty()) {
            QCOMPARE(m_messages->questions, QStringList());
            QCOMPARE(m_lib->calls, (QStringList{"initialise", "setNetworkSettings"}));
            return;
        }
        QCOMPARE(m_messages->questions.size(), 1);
        for (const QString &text : expected)
            QVERIFY2(m_messages->questions[0].contains(text), qPrintable(m_messages->questions[0]));
        QVERIFY(!m_messages->questions[0].contains(QChar(0x1b)));
        const QStringList buttons = de ? QStringList{"Zur\u00fcck", "Trotzdem senden"}
                                       : QStringList{"Go Back", "Send Anyway"};
        QCOMPARE(m_messages->buttons, buttons);
        // Going back: nothing asked, nothing sent, the page as it was.
        QCOMPARE(credentials.asked, 0);
        QCOMPARE(m_lib->calls, QStringList());
        QVERIFY(applyRestore(page, true, true));

        m_messages->proceed = true;
        page->OnApply();
        QCOMPARE(m_messages->questions.size(), 2);
        QCOMPARE(credentials.asked, 1);
        QCOMPARE(m_lib->calls, (QStringList{"initialise", "setNetworkSettings"}));
        // What was shown is what went out, blank fields as 0.
        const KOVA_NETWORK_SETTINGS &sent = m_lib->network.back().settings;
        QCOMPARE(QString::fromLatin1(sent.ipAddress),
                 controlAs<CIPAddressCtrl>(page, P::IDC_IP_ADDRESS)->text());
        QCOMPARE(QString::fromLatin1(sent.pppoeDnsServer),
                 controlAs<CIPAddressCtrl>(page, P::IDC_PPPOE_DNS)->text());
    }

    // The system's warning goes back unless "Send Anyway" is chosen: Enter
    // and Escape go back.
    void unsafeChangeWarningGoesBackByDefault_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("proceeds");
        QTest::newRow("Enter") << int(Qt::Key_Return) << false;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
        QTest::newRow("Send Anyway") << 0 << true;
    }
    void unsafeChangeWarningGoesBackByDefault() {
        QFETCH(int, key);
        QFETCH(bool, proceeds);
        bool answered = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            answered = true;
            if (key != 0) {
                QTest::keyClick(box, Qt::Key(key));
                return;
            }
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == QLatin1String("Send Anyway"))
                    button->click();
            }
        });
        QCOMPARE(veltrona::ui::Platform::real().askToProceed(nullptr, QStringLiteral("Check"),
                                                             QStringLiteral("Go Back"),
                                                             QStringLiteral("Send Anyway")),
                 proceeds);
        QVERIFY(answered);
    }
};

QTEST_MAIN(TestSettingPage)
#include "test_settings_page.moc"
