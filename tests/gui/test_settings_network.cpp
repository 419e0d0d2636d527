// The network page: its layout state machine, Apply and Restore enabling and
// what CollectSettings reads from it.

#include "dialogbuilder.h"
#include "ipaddressctrl.h"
#include "networkpagedlg.h"
#include "settingpagedlg.h"
#include "test_settings_support.h"

#include <QApplication>
#include <QButtonGroup>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace testsupport;
using veltrona::ui::controlAs;
using veltrona::ui::controlById;
using P = CNetworkPageDlg;

Q_DECLARE_METATYPE(QList<int>)

namespace {

enum Group { StaticGroup, PppoeGroup };

bool allVisible(const QWidget *page, std::initializer_list<int> ids, bool visible) {
    for (int id : ids) {
        if (controlById(page, id)->isVisibleTo(page) != visible)
            return false;
    }
    return true;
}

bool allEnabled(const QWidget *page, std::initializer_list<int> ids, bool enabled) {
    for (int id : ids) {
        if (controlById(page, id)->isEnabled() != enabled)
            return false;
    }
    return true;
}

bool shows(const QWidget *page, Group group) {
    const bool pppoe = group == PppoeGroup;
    return allVisible(page, {1028, 1034, 1036, 1035, 1019, 1020, 1021, 1024}, !pppoe) &&
           allVisible(page,
                      {1003, 1004, 1005, 1006, 1008, 1037, 1038, 1009, 1010, 1011, 1014, 1015},
                      pppoe);
}

bool staticEnabled(const QWidget *page, bool enabled) {
    return allEnabled(page, {1028, 1034, 1036, 1035}, enabled);
}

bool pppoeEnabled(const QWidget *page, bool enabled) {
    return allEnabled(page, {1003, 1004, 1005, 1006, 1037, 1038}, enabled);
}

bool sameSettings(const KOVA_NETWORK_SETTINGS &a, const KOVA_NETWORK_SETTINGS &b) {
    auto same = [](const char *x, const char *y, std::size_t n) {
        return std::memcmp(x, y, n) == 0;
    };
    return a.mode == b.mode && same(a.ipAddress, b.ipAddress, 16) &&
           same(a.netMask, b.netMask, 16) && same(a.gateway, b.gateway, 16) &&
           same(a.dnsServer, b.dnsServer, 16) && same(a.pppoeUserName, b.pppoeUserName, 16) &&
           same(a.pppoePassword, b.pppoePassword, 32) &&
           same(a.pppoeServiceName, b.pppoeServiceName, 32) && a.mtu == b.mtu &&
           a.dnsMode == b.dnsMode && same(a.pppoeDnsServer, b.pppoeDnsServer, 16);
}

} // namespace

class TestNetworkPage : public QObject, SettingPageFixture {
    Q_OBJECT

    P *open(const DeviceRecords &records) { return openPage(records).NetworkPage(); }
    void click(P *page, int id) { controlAs<QAbstractButton>(page, id)->click(); }

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Every transition of the layout table, reached from a decoded mode by
    // clicking network types.
    void layoutTransitions_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("dnsMode");
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("group");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("dnsAddressEnabled");
        QTest::addColumn<int>("shownType");

        const int S = KOVA_MODE_STATIC, D = KOVA_MODE_DHCP, O = KOVA_MODE_PPPOE;
        QTest::newRow("new -> DHCP")
            << D << 0 << QList<int>{} << int(StaticGroup) << false << false << 0;
        QTest::newRow("new -> Static IP")
            << S << 0 << QList<int>{} << int(StaticGroup) << true << false << 1;
        QTest::newRow("new -> PPPOE, automatic DNS")
            << O << 0 << QList<int>{} << int(PppoeGroup) << true << false << 2;
        QTest::newRow("new -> PPPOE, manual DNS")
            << O << 1 << QList<int>{} << int(PppoeGroup) << true << true << 2;
        QTest::newRow("Static IP -> DHCP")
            << S << 1 << QList<int>{P::IDC_DHCP} << int(StaticGroup) << false << true << 0;
        QTest::newRow("PPPOE -> DHCP")
            << O << 1 << QList<int>{P::IDC_DHCP} << int(PppoeGroup) << false << false << 0;
        QTest::newRow("DHCP -> Static IP")
            << D << 0 << QList<int>{P::IDC_STATIC_IP} << int(StaticGroup) << true << false << 1;
        QTest::newRow("PPPOE -> Static IP")
            << O << 1 << QList<int>{P::IDC_STATIC_IP} << int(StaticGroup) << true << true << 1;
        QTest::newRow("DHCP -> PPPOE, manual DNS")
            << D << 1 << QList<int>{P::IDC_PPPOE} << int(PppoeGroup) << true << true << 2;
        QTest::newRow("DHCP -> PPPOE, automatic DNS")
            << D << 0 << QList<int>{P::IDC_PPPOE} << int(PppoeGroup) << true << false << 2;
        QTest::newRow("Static IP -> PPPOE")
            << S << 1 << QList<int>{P::IDC_PPPOE} << int(PppoeGroup) << true << true << 2;
        QTest::newRow("PPPOE -> DHCP -> PPPOE") << O << 1 << QList<int>{P::IDC_DHCP, P::IDC_PPPOE}
                                                << int(PppoeGroup) << true << true << 2;
        QTest::newRow("PPPOE -> DHCP -> Static IP")
            << O << 0 << QList<int>{P::IDC_DHCP, P::IDC_STATIC_IP} << int(StaticGroup) << true
            << false << 1;
        QTest::newRow("DHCP -> PPPOE -> DHCP") << D << 1 << QList<int>{P::IDC_PPPOE, P::IDC_DHCP}
                                               << int(PppoeGroup) << false << false << 0;
        QTest::newRow("Static IP -> DHCP -> Static IP")
            << S << 0 << QList<int>{P::IDC_DHCP, P::IDC_STATIC_IP} << int(StaticGroup) << true
            << false << 1;
    }
    void layoutTransitions() {
        QFETCH(int, mode);
        QFETCH(int, dnsMode);
        QFETCH(QList<int>, clicks);
        QFETCH(int, group);
        QFETCH(bool, enabled);
        QFETCH(bool, dnsAddressEnabled);
        QFETCH(int, shownType);

        P *page = open(device(mode, static_cast<uint8_t>(dnsMode)));
        QVERIFY(applyRestore(page, false, false));
        for (int id : clicks)
            click(page, id);
        QVERIFY(shows(page, Group(group)));
        if (group == StaticGroup)
            QVERIFY(staticEnabled(page, enabled));
        else
            QVERIFY(pppoeEnabled(page, enabled));
        if (group == PppoeGroup)
            QCOMPARE(controlById(page, P::IDC_PPPOE_DNS)->isEnabled(), dnsAddressEnabled);
        QCOMPARE(page->ShownType(), shownType);
        // A type change enables both buttons; the opening state has them off.
        QVERIFY(applyRestore(page, !clicks.isEmpty(), !clicks.isEmpty()));
    }

    void clickingTheShownTypeChangesNothing() {
        P *page = open(device(KOVA_MODE_PPPOE, 1));
        click(page, P::IDC_PPPOE);
        QVERIFY(shows(page, PppoeGroup));
        QVERIFY(pppoeEnabled(page, true));
        QVERIFY(applyRestore(page, false, false));
    }

    void dnsRadiosAloneSwitchTheAddressButNotApply() {
        P *page = open(device(KOVA_MODE_PPPOE, 0));
        QWidget *dns = controlById(page, P::IDC_PPPOE_DNS);
        QVERIFY(!dns->isEnabled());
        click(page, P::IDC_MANUAL_DNS);
        QVERIFY(dns->isEnabled());
        click(page, P::IDC_AUTO_DNS);
        QVERIFY(!dns->isEnabled());
        QVERIFY(applyRestore(page, false, false));
    }

    // After PPPOE -> DHCP the visible PPPoE group is disabled; a Restore back
    // to a DHCP device must not enable its DNS address alone.
    void restoreKeepsDisabledPppoeGroupWhole() {
        P *page = open(device(KOVA_MODE_DHCP, 1));
        click(page, P::IDC_PPPOE);
        QVERIFY(controlById(page, P::IDC_PPPOE_DNS)->isEnabled());
        click(page, P::IDC_DHCP);
        page->OnRestore();
        QVERIFY(shows(page, PppoeGroup));
        QVERIFY(pppoeEnabled(page, false));
        QVERIFY(!controlById(page, P::IDC_PPPOE_DNS)->isEnabled());
        QVERIFY(applyRestore(page, false, false));
    }

    // Tab and Shift+Tab pass each address control as one stop, from any field.
    void addressControlIsOneTabStop() {
        P *page = open(device(KOVA_MODE_STATIC, 0));
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
        auto field = [page](int id, int i) {
            return controlAs<CIPAddressCtrl>(page, id)->field(i);
        };
        field(P::IDC_IP_ADDRESS, 0)->setFocus();
        for (int key : {Qt::Key_Tab, Qt::Key_1, Qt::Key_Period, Qt::Key_Tab})
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(QApplication::focusWidget(), field(P::IDC_NET_MASK, 0));
        field(P::IDC_GATEWAY, 2)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), field(P::IDC_IP_ADDRESS, 0));
    }

    void openingShowsTheDecodedValues() {
        P *page = open(device(KOVA_MODE_PPPOE, 1));
        QCOMPARE(controlAs<QRadioButton>(page, P::IDC_PPPOE)->isChecked(), true);
        QCOMPARE(controlAs<QRadioButton>(page, P::IDC_MANUAL_DNS)->isChecked(), true);
        QCOMPARE(controlAs<CIPAddressCtrl>(page, P::IDC_IP_ADDRESS)->text(), "192.168.1.20");
        QCOMPARE(controlAs<CIPAddressCtrl>(page, P::IDC_GATEWAY)->text(), "192.168.1.1");
        QCOMPARE(controlAs<CIPAddressCtrl>(page, P::IDC_NET_MASK)->text(), "255.255.255.0");
        QCOMPARE(controlAs<CIPAddressCtrl>(page, P::IDC_DNS_SERVER)->text(), "192.168.1.2");
        QCOMPARE(controlAs<CIPAddressCtrl>(page, P::IDC_PPPOE_DNS)->text(), "10.0.0.5");
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_USER_NAME)->text(), "alice");
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_PPPOE_PASSWORD)->text(), "pw");
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_PPPOE_PASSWORD)->echoMode(),
                 QLineEdit::Password);
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_SERVICE_NAME)->text(), "isp");
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_MTU)->text(), "1492");
    }

    void editsEnableApplyAndRestore_data() {
        QTest::addColumn<int>("id");
        for (int id : {P::IDC_USER_NAME, P::IDC_PPPOE_PASSWORD, P::IDC_SERVICE_NAME, P::IDC_MTU})
            QTest::addRow("edit %d", id) << id;
    }
    void editsEnableApplyAndRestore() {
        QFETCH(int, id);
        P *page = open(device(KOVA_MODE_PPPOE, 1));
        QTest::keyClicks(controlAs<QLineEdit>(page, id), QStringLiteral("7"));
        QVERIFY(applyRestore(page, true, true));
    }

    void addressEditsEnableApplyAndRestore_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("mode");
        for (int id : {P::IDC_IP_ADDRESS, P::IDC_GATEWAY, P::IDC_NET_MASK, P::IDC_DNS_SERVER})
            QTest::addRow("address %d", id) << id << int(KOVA_MODE_STATIC);
        QTest::addRow("PPPoE DNS address") << int(P::IDC_PPPOE_DNS) << int(KOVA_MODE_PPPOE);
    }
    void addressEditsEnableApplyAndRestore() {
        QFETCH(int, id);
        QFETCH(int, mode);
        P *page = open(device(mode, 1));
        auto *address = controlAs<CIPAddressCtrl>(page, id);
        address->field(3)->clear();
        QTest::keyClicks(address->field(3), QStringLiteral("9"));
        QVERIFY(applyRestore(page, true, true));
    }

    void restoreBringsBackTheDecodedValuesAndDisablesBoth() {
        P *page = open(device(KOVA_MODE_STATIC, 0));
        click(page, P::IDC_PPPOE);
        QTest::keyClicks(controlAs<QLineEdit>(page, P::IDC_USER_NAME), QStringLiteral("bob"));
        controlAs<QPushButton>(page, P::IDC_RESTORE)->click();
        QVERIFY(controlAs<QRadioButton>(page, P::IDC_STATIC_IP)->isChecked());
        QVERIFY(shows(page, StaticGroup));
        QVERIFY(staticEnabled(page, true));
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_USER_NAME)->text(), "alice");
        QVERIFY(applyRestore(page, false, false));
    }

    void applySendsThePageAndRestoreShowsTheAppliedValues() {
        Credentials credentials(*m_messages);
        credentials.id = QStringLiteral("admin");
        credentials.password = QStringLiteral("pass");
        P *page = open(device(KOVA_MODE_DHCP, 0));
        click(page, P::IDC_STATIC_IP);
        // An address in the device's subnet: the checks before sending find nothing.
        controlAs<CIPAddressCtrl>(page, P::IDC_IP_ADDRESS)->setText(QStringLiteral("192.168.1.3"));
        controlAs<QPushButton>(page, P::IDC_APPLY)->click();

        QCOMPARE(credentials.asked, 1);
        QVERIFY(applyRestore(page, false, true));
        QCOMPARE(m_lib->calls,
                 (QStringList{"getNetworkSettings", "getDeviceInfo", "getGuestAccount",
                              "initialise", "setNetworkSettings"}));
        QCOMPARE(m_lib->network.size(), 1u);
        const auto &sent = m_lib->network[0];
        QCOMPARE(sent.item, fakeItem(1));
        QCOMPARE(sent.id, std::string("admin"));
        QCOMPARE(sent.password, std::string("pass"));
        QCOMPARE(sent.settings.mode, KOVA_MODE_STATIC);
        QCOMPARE(QByteArray(sent.settings.ipAddress), QByteArray("192.168.1.3"));
        QCOMPARE(QByteArray(sent.settings.gateway), QByteArray("192.168.1.1"));
        QCOMPARE(sent.settings.mtu, 1492);

        // Change the page again; Restore returns to what was applied.
        click(page, P::IDC_PPPOE);
        controlAs<CIPAddressCtrl>(page, P::IDC_IP_ADDRESS)->setText(QStringLiteral("1.1.1.1"));
        page->OnRestore();
        QVERIFY(controlAs<QRadioButton>(page, P::IDC_STATIC_IP)->isChecked());
        QVERIFY(shows(page, StaticGroup));
        QCOMPARE(controlAs<CIPAddressCtrl>(page, P::IDC_IP_ADDRESS)->text(), "192.168.1.3");
        QVERIFY(applyRestore(page, false, false));
    }

    void collectReadsEveryField() {
        P *page = open(device(KOVA_MODE_PPPOE, 1));
        KOVA_NETWORK_SETTINGS s{};
        page->CollectSettings(&s);
        const KOVA_NETWORK_SETTINGS &d = m_dlg->NetworkSettings();
        QCOMPARE(s.mode, KOVA_MODE_PPPOE);
        QCOMPARE(s.dnsMode, uint8_t{1});
        QCOMPARE(s.mtu, 1492);
        // Every text field comes back as decoded, whatever the mode.
        QVERIFY(sameSettings(s, d));

        click(page, P::IDC_DHCP);
        click(page, P::IDC_AUTO_DNS); // disabled under DHCP: no effect
        page->CollectSettings(&s);
        QCOMPARE(s.mode, KOVA_MODE_DHCP);
        QCOMPARE(s.dnsMode, uint8_t{1});
    }

    // Longer texts are cut to their field; the PPPoE texts may fill it whole.
    void collectCutsLongTexts() {
        P *page = open(device(KOVA_MODE_PPPOE, 0));
        controlAs<QLineEdit>(page, P::IDC_PPPOE_PASSWORD)->setText(QString(40, QLatin1Char('p')));
        controlAs<QLineEdit>(page, P::IDC_SERVICE_NAME)->setText(QString(33, QLatin1Char('s')));
        controlAs<QLineEdit>(page, P::IDC_USER_NAME)->setText(QString(20, QLatin1Char('u')));
        KOVA_NETWORK_SETTINGS s;
        std::memset(&s, 0x7f, sizeof s);
        page->CollectSettings(&s);
        QCOMPARE(QByteArray(s.pppoePassword, 32), QByteArray(32, 'p'));
        QCOMPARE(QByteArray(s.pppoeServiceName, 32), QByteArray(32, 's'));
        QCOMPARE(QByteArray(s.pppoeUserName, 16), QByteArray(16, 'u'));
        QCOMPARE(QByteArray(s.pppoeDnsServer), QByteArray("10.0.0.5"));

        controlAs<QLineEdit>(page, P::IDC_USER_NAME)->setText(QStringLiteral("bob"));
        page->CollectSettings(&s);
        QCOMPARE(QByteArray(s.pppoeUserName, 16), QByteArray("bob").leftJustified(16, '\0'));
    }

    void collectReadsBlankAddressFieldsAsZero() {
        P *page = open(device(KOVA_MODE_STATIC, 0));
        auto *gateway = controlAs<CIPAddressCtrl>(page, P::IDC_GATEWAY);
        gateway->field(2)->clear();
        controlAs<CIPAddressCtrl>(page, P::IDC_NET_MASK)->clear();
        KOVA_NETWORK_SETTINGS s{};
        page->CollectSettings(&s);
        QCOMPARE(QByteArray(s.gateway), QByteArray("192.168.0.1"));
        QCOMPARE(QByteArray(s.netMask), QByteArray("0.0.0.0"));
    }

    void collectWithoutCheckedTypeLeavesRecordUntouched() {
        P *page = open(device(KOVA_MODE_STATIC, 0));
        QButtonGroup *group = controlAs<QRadioButton>(page, P::IDC_STATIC_IP)->group();
        group->setExclusive(false);
        controlAs<QRadioButton>(page, P::IDC_STATIC_IP)->setChecked(false);
        KOVA_NETWORK_SETTINGS s, before;
        std::memset(&s, 0x5a, sizeof s);
        std::memcpy(&before, &s, sizeof s);
        page->CollectSettings(&s);
        QCOMPARE(std::memcmp(&s, &before, sizeof s), 0);
        page->CollectSettings(nullptr);
    }

    void mtuText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mtu");
        QTest::newRow("number") << "1400" << 1400;
        QTest::newRow("letters") << "abc" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("negative") << "-20" << -20;
        QTest::newRow("leading blanks") << "  576" << 576;
        QTest::newRow("trailing letters") << "12x" << 0;
        QTest::newRow("lone minus") << "-" << 0;
        QTest::newRow("too large") << "99999999999" << 0;
        QTest::newRow("largest") << "2147483647" << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << int(-2147483647 - 1);
    }
    void mtuText() {
        QFETCH(QString, text);
        QFETCH(int, mtu);
        P *page = open(device(KOVA_MODE_PPPOE, 0));
        controlAs<QLineEdit>(page, P::IDC_MTU)->setText(text);
        KOVA_NETWORK_SETTINGS s{};
        page->CollectSettings(&s);
        QCOMPARE(s.mtu, mtu);
    }

    // Texts that fill their whole field are shown whole and sent back unchanged.
    void fullFieldTextsRoundTrip() {
        DeviceRecords d = device(KOVA_MODE_PPPOE, 0);
        std::memset(d.network.pppoeUserName, 'n', sizeof d.network.pppoeUserName);
        std::memset(d.network.pppoePassword, 'x', sizeof d.network.pppoePassword);
        std::memset(d.network.pppoeServiceName, 'y', sizeof d.network.pppoeServiceName);
        P *page = open(d);
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_USER_NAME)->text(), QString(16, 'n'));
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_PPPOE_PASSWORD)->text(), QString(32, 'x'));
        QCOMPARE(controlAs<QLineEdit>(page, P::IDC_SERVICE_NAME)->text(), QString(32, 'y'));
        KOVA_NETWORK_SETTINGS s{};
        page->CollectSettings(&s);
        QVERIFY(sameSettings(s, d.network));
    }
};

QTEST_MAIN(TestNetworkPage)
#include "test_settings_network.moc"
