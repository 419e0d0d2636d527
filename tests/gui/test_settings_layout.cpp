// Layout of the main window and the settings and shell dialogs as built from
// their templates, in English and in German: every visible text fits its
// control and every control lies inside its window. With
// VELTRONA_SCREENSHOT_DIR set, each dialog is also saved there as a PNG, the
// German ones with the suffix -de (scripts/screenshot-dialogs).

#include "aboutdlg.h"
#include "authenticationdlg.h"
#include "bindipdlg.h"
#include "settingpagedlg.h"
#include "test_settings_support.h"
#include "translations.h"
#include "veltronadlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
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

// The language of the current row: English needs no translation, German
// loads the program's and Qt's from the build.
class Language {
public:
    Language() {
        QFETCH_GLOBAL(QString, language);
        m_suffix = language == QLatin1String("en") ? QString() : QLatin1Char('-') + language;
        if (!m_suffix.isEmpty())
            m_loaded =
                m_translations.load(QLocale(language), QStringLiteral(VELTRONA_TRANSLATIONS_DIR));
    }
    bool ready() const { return m_suffix.isEmpty() || m_loaded; }
    void save(QWidget *window, const char *name) const {
        const QString dir = qEnvironmentVariable("VELTRONA_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        QDir().mkpath(dir);
        window->grab().save(
            QDir(dir).filePath(QString::fromLatin1(name) + m_suffix + QStringLiteral(".png")));
    }

private:
    veltrona::ui::Translations m_translations;
    QString m_suffix;
    bool m_loaded = false;
};

#define CHECK_LAYOUT(window)                                                                       \
    do {                                                                                           \
        const QStringList faults = layoutFaults(window);                                           \
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));                 \
    } while (false)

} // namespace

class TestSettingsLayout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(veltrona); }

    // Every test runs once in each language.
    void initTestCase_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("en") << QStringLiteral("en");
        QTest::newRow("de") << QStringLiteral("de");
    }

    // The locale chooses the program's translation and Qt's for its standard
    // texts; a language without one stays English.
    void languageChoice_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("translated");
        QTest::addColumn<QString>("apply");
        QTest::addColumn<QString>("qtCancel");
        QTest::newRow("German") << "de_DE" << true << "Übernehmen"
                                << "Abbrechen";
        QTest::newRow("German, Austria") << "de_AT" << true << "Übernehmen"
                                         << "Abbrechen";
        QTest::newRow("English") << "en_US" << false << "Apply"
                                 << "Cancel";
        QTest::newRow("C") << "C" << false << "Apply"
                           << "Cancel";
        QTest::newRow("Finnish: Qt's only") << "fi_FI" << false << "Apply"
                                            << "Peru";
    }
    void languageChoice() {
        QFETCH_GLOBAL(QString, language);
        if (language != QLatin1String("en"))
            QSKIP("once is enough");
        QFETCH(QString, locale);
        QFETCH(bool, translated);
        QFETCH(QString, apply);
        QFETCH(QString, qtCancel);
        veltrona::ui::Translations translations;
        QCOMPARE(translations.load(QLocale(locale), QStringLiteral(VELTRONA_TRANSLATIONS_DIR)),
                 translated);
        QCOMPARE(veltrona::ui::templateText("Apply"), apply);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), qtCancel);
    }

    void aboutBox() {
        const Language language;
        QVERIFY(language.ready());
        CAboutDlg dlg;
        dlg.show();
        language.save(&dlg, "about");
        CHECK_LAYOUT(&dlg);
    }

    void mainWindow() {
        const Language language;
        QVERIFY(language.ready());
        FakeLibrary lib;
        guitest::MessageRecorder platform;
        CVeltronaDlg dlg(nullptr, lib, platform);
        dlg.show();
        CHECK_LAYOUT(&dlg);
    }

    void bindIp() {
        struct : veltrona::ui::Platform {
            std::vector<Address> hostAddresses() override {
                return {{192, 168, 100, 200}, {10, 0, 0, 5}};
            }
        } addresses;
        const Language language;
        QVERIFY(language.ready());
        CBindIpDlg dlg(nullptr, addresses);
        dlg.SetBindingText("192.168.100.200");
        dlg.show();
        language.save(&dlg, "bindip");
        CHECK_LAYOUT(&dlg);
    }

    void authentication() {
        const Language language;
        QVERIFY(language.ready());
        CAuthenticationDlg dlg;
        dlg.passwordEdit()->setText(QStringLiteral("secret"));
        dlg.show();
        language.save(&dlg, "authentication");
        CHECK_LAYOUT(&dlg);
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
        const Language language;
        QVERIFY(language.ready());
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
        language.save(&dlg, name.toLatin1().constData());
        CHECK_LAYOUT(&dlg);
    }
};

QTEST_MAIN(TestSettingsLayout)
#include "test_settings_layout.moc"
