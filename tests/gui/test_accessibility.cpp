// What a screen reader finds in each window: every widget of the main window,
// the setting page with all its pages (hidden ones too), the authentication,
// Bind IP and about dialogs is asked through QAccessible, and every control a
// user can work has a name; the names a user hears for the picture buttons,
// the list and the address fields are the expected ones.

#include "aboutdlg.h"
#include "authenticationdlg.h"
#include "bindipdlg.h"
#include "dialogbuilder.h"
#include "networkpagedlg.h"
#include "settingpagedlg.h"
#include "test_settings_support.h"
#include "veltronadlg.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace testsupport;

namespace {

bool interactive(QAccessible::Role role) {
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::List:
    case QAccessible::Tree:
    case QAccessible::Table:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::PageTab:
    case QAccessible::Link:
        return true;
    default:
        return false;
    }
}

// The names of the window's interactive controls, and the texts of the labels
// that name them; the unnamed ones are listed in `unnamed` by class and
// template id.
QStringList controlNames(QWidget *window, QStringList &unnamed) {
    QStringList names;
    QList<QWidget *> widgets = window->findChildren<QWidget *>();
    widgets.prepend(window);
    for (QWidget *widget : widgets) {
        // Popups (a combo box's list) are windows of their own.
        if (widget->window() != window)
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible == nullptr || !interactive(accessible->role()))
            continue;
        const QString name = accessible->text(QAccessible::Name).trimmed();
        if (name.isEmpty()) {
            // A part of a control (an address field) is named by its control's id.
            QWidget *control = widget;
            while (control != window && !control->property("veltronaControlId").isValid())
                control = control->parentWidget();
            unnamed << QStringLiteral("%1 of %2")
                           .arg(QString::fromLatin1(widget->metaObject()->className()),
                                control->property("veltronaControlId").toString());
        } else {
            names << name;
        }
        for (const auto &[label, relation] : accessible->relations(QAccessible::Label))
            names << label->text(QAccessible::Name);
    }
    return names;
}

struct Windows {
    guitest::FakeItems items;
    guitest::MessageRecorder platform;
    FakeLibrary pageLibrary;

    std::unique_ptr<QWidget> make(const QString &which) {
        if (which == QLatin1String("main"))
            return std::make_unique<CVeltronaDlg>(nullptr, items, platform);
        if (which == QLatin1String("setting page")) {
            pageLibrary.devices[fakeItem(1)] = device(KOVA_MODE_PPPOE);
            auto page = std::make_unique<CSettingPageDlg>(nullptr, pageLibrary, platform);
            page->SetDeviceItem(fakeItem(1));
            page->OnInitDialog();
            return page;
        }
        if (which == QLatin1String("authentication"))
            return std::make_unique<CAuthenticationDlg>(nullptr, platform);
        if (which == QLatin1String("bind ip"))
            return std::make_unique<CBindIpDlg>(nullptr, platform);
        return std::make_unique<CAboutDlg>(nullptr);
    }
};

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(veltrona); }

    void everyControlHasAName_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("main window")
            << "main"
            << QStringList{"About", "Minimize", "Close", "Devices", "Scan", "Exit", "Bind IP"};
        QTest::newRow("setting page") << "setting page"
                                      << QStringList{"IP Address, part 1 of 4",
                                                     "Gateway, part 2 of 4",
                                                     "Net Mask, part 4 of 4",
                                                     "DNS Server, part 3 of 4",
                                                     "Username",
                                                     "Password",
                                                     "Service Name",
                                                     "MTU",
                                                     "Host Name",
                                                     "Domain Name",
                                                     "New Password",
                                                     "Allow Guest Account",
                                                     "Automatic DNS"};
        QTest::newRow("authentication") << "authentication" << QStringList{"ID", "Password"};
        QTest::newRow("bind ip") << "bind ip" << QStringList{"IP List", "OK", "Cancel"};
        QTest::newRow("about") << "about" << QStringList{"OK"};
    }
    void everyControlHasAName() {
        QFETCH(QString, window);
        QFETCH(QStringList, expected);
        Windows windows;
        const std::unique_ptr<QWidget> shown = windows.make(window);
        shown->show();
        QStringList unnamed;
        const QStringList names = controlNames(shown.get(), unnamed);
        QVERIFY2(unnamed.isEmpty(), qPrintable("unnamed: " + unnamed.join(QStringLiteral(", "))));
        for (const QString &name : expected)
            QVERIFY2(names.contains(name), qPrintable(name + " not among " + names.join(", ")));
    }

    // The setting page from the keyboard: Tab enters each radio group on its
    // checked button, whichever it is, and every address control is a grouping
    // of four editable parts.
    void settingPageKeyboardAndRoles_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("checked");
        QTest::newRow("static IP") << int(KOVA_MODE_STATIC) << int(CNetworkPageDlg::IDC_STATIC_IP);
        QTest::newRow("DHCP") << int(KOVA_MODE_DHCP) << int(CNetworkPageDlg::IDC_DHCP);
        QTest::newRow("PPPoE") << int(KOVA_MODE_PPPOE) << int(CNetworkPageDlg::IDC_PPPOE);
    }
    void settingPageKeyboardAndRoles() {
        QFETCH(int, mode);
        QFETCH(int, checked);
        Windows windows;
        windows.pageLibrary.devices[fakeItem(1)] = device(mode);
        CSettingPageDlg page(nullptr, windows.pageLibrary, windows.platform);
        page.SetDeviceItem(fakeItem(1));
        page.OnInitDialog();
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QWidget *network = page.NetworkPage();
        auto *radio = veltrona::ui::controlById(network, checked);
        // Tab from the last control (Apply and Restore are disabled at opening)
        // comes round to the group on its checked button.
        veltrona::ui::controlById(network, CNetworkPageDlg::IDC_CLOSE)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), radio);
        // Another choice moves the tab stop with it; Restore comes before it.
        auto *dhcp = veltrona::ui::controlAs<QAbstractButton>(network, CNetworkPageDlg::IDC_DHCP);
        auto *pppoe = veltrona::ui::controlAs<QAbstractButton>(network, CNetworkPageDlg::IDC_PPPOE);
        QAbstractButton *other = checked == CNetworkPageDlg::IDC_DHCP ? pppoe : dhcp;
        other->click();
        veltrona::ui::controlById(network, CNetworkPageDlg::IDC_RESTORE)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), other);

        for (int id : {CNetworkPageDlg::IDC_IP_ADDRESS, CNetworkPageDlg::IDC_GATEWAY,
                       CNetworkPageDlg::IDC_NET_MASK, CNetworkPageDlg::IDC_DNS_SERVER,
                       CNetworkPageDlg::IDC_PPPOE_DNS}) {
            QAccessibleInterface *control =
                QAccessible::queryAccessibleInterface(veltrona::ui::controlById(network, id));
            QCOMPARE(control->role(), QAccessible::Grouping);
            QCOMPARE(control->childCount(), 4);
            for (int part = 0; part < 4; ++part)
                QCOMPARE(control->child(part)->role(), QAccessible::EditableText);
        }
    }

    // The scan button keeps its name while its text counts down.
    void scanKeepsItsNameWhileItCountsDown() {
        Windows windows;
        CVeltronaDlg dlg(nullptr, windows.items, windows.platform);
        dlg.OnTimer(CVeltronaDlg::kCountdownTimer);
        QCOMPARE(dlg.pushButton(CVeltronaDlg::IDC_SCAN)->text(), QString("4"));
        QAccessibleInterface *scan =
            QAccessible::queryAccessibleInterface(dlg.pushButton(CVeltronaDlg::IDC_SCAN));
        QCOMPARE(scan->text(QAccessible::Name), QString("Scan"));
    }
};

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
