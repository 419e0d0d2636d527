// Layout of the settings and shell dialogs as built from their templates:
// every visible text fits its control and every control lies inside its
// window. With VELTRONA_SCREENSHOT_DIR set, each dialog is also saved there as
// a PNG (scripts/screenshot-dialogs).

#include "aboutdlg.h"
#include "authenticationdlg.h"
#include "bindipdlg.h"
#include "settingpagedlg.h"
#include "test_settings_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

using namespace testsupport;

namespace {

// The controls whose text is cut or that stick out of their window.
QStringList layoutFaults(QWidget *window) {
    QStringList faults;
    const QRect inside = window->rect();
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window) || w->parentWidget() == nullptr)
            continue;
        const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
        if (!inside.contains(r) && w->parentWidget() == window)
            faults << QStringLiteral("%1 outside the window").arg(w->metaObject()->className());
        QString text;
        int needed = 0;
        const QFontMetrics fm(w->font());
        if (auto *label = qobject_cast<QLabel *>(w); label && label->pixmap().isNull()) {
            text = label->text();
            needed = fm.horizontalAdvance(text);
        } else if (auto *check = qobject_cast<QCheckBox *>(w)) {
            text = check->text();
            needed = check->sizeHint().width();
        } else if (auto *radio = qobject_cast<QRadioButton *>(w)) {
            text = radio->text();
            needed = radio->sizeHint().width();
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            text = button->text();
            needed = fm.horizontalAdvance(text) + 4;
        }
        if (!text.isEmpty() && needed > w->width())
            faults << QStringLiteral("\"%1\" needs %2 px, has %3")
                          .arg(text)
                          .arg(needed)
                          .arg(w->width());
    }
    return faults;
}

void save(QWidget *window, const char *name) {
    const QString dir = qEnvironmentVariable("VELTRONA_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    window->grab().save(QDir(dir).filePath(QString::fromLatin1(name) + QStringLiteral(".png")));
}

} // namespace

class TestSettingsLayout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(veltrona); }

    void aboutBox() {
        CAboutDlg dlg;
        dlg.show();
        save(&dlg, "about");
        const QStringList faults = layoutFaults(&dlg);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
    }

    void bindIp() {
        struct : veltrona::ui::Platform {
            std::vector<Address> hostAddresses() override {
                return {{192, 168, 100, 200}, {10, 0, 0, 5}};
            }
        } addresses;
        CBindIpDlg dlg(nullptr, addresses);
        dlg.SetBindingText("192.168.100.200");
        dlg.show();
        save(&dlg, "bindip");
        const QStringList faults = layoutFaults(&dlg);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
    }

    void authentication() {
        CAuthenticationDlg dlg;
        dlg.passwordEdit()->setText(QStringLiteral("secret"));
        dlg.show();
        save(&dlg, "authentication");
        const QStringList faults = layoutFaults(&dlg);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
    }

    void settingPages_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("selector");
        QTest::addColumn<QString>("name");
        QTest::newRow("network PPPoE") << int(KOVA_MODE_PPPOE) << 1020 << "setting-network-pppoe";
        QTest::newRow("network static")
            << int(KOVA_MODE_STATIC) << 1020 << "setting-network-static";
        QTest::newRow("network DHCP") << int(KOVA_MODE_DHCP) << 1020 << "setting-network-dhcp";
        QTest::newRow("host name") << int(KOVA_MODE_STATIC) << 1010 << "setting-hostname";
        QTest::newRow("account") << int(KOVA_MODE_STATIC) << 1011 << "setting-account";
    }
    void settingPages() {
        QFETCH(int, mode);
        QFETCH(int, selector);
        QFETCH(QString, name);
        FakeLibrary lib;
        // Longer names than the other tests use, to show what fits.
        DeviceRecords d = device(mode, 1, "camera-lobby", "cams.example.net", 1);
        put(d.info.modelName, "KV-2100 Dome");
        lib.devices[fakeItem(1)] = d;
        CSettingPageDlg dlg(nullptr, lib);
        dlg.SetDeviceItem(fakeItem(1));
        dlg.OnInitDialog();
        dlg.SelectPage(selector);
        dlg.show();
        save(&dlg, name.toLatin1().constData());
        const QStringList faults = layoutFaults(&dlg);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
    }
};

QTEST_MAIN(TestSettingsLayout)
#include "test_settings_layout.moc"
