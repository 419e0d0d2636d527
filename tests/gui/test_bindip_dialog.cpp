// The Bind IP dialog: the address list, the preselected item and what OK and
// Cancel leave in the binding text.

#include "bindipdlg.h"
#include "dialogbuilder.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using Address = CBindIpDlg::Address;
using Addresses = std::vector<Address>;
Q_DECLARE_METATYPE(Addresses)

namespace {

// The real platform with these host addresses.
struct AddressSource : veltrona::ui::Platform {
    Addresses list;
    explicit AddressSource(Addresses addresses) : list(std::move(addresses)) {}
    Addresses hostAddresses() override { return list; }
};

QStringList items(const QComboBox *box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

class TestBindIpDialog : public QObject {
    Q_OBJECT

private slots:
    void listAndPreselection_data() {
        QTest::addColumn<Addresses>("addresses");
        QTest::addColumn<QByteArray>("binding");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("selected");
        const Addresses two{{192, 168, 1, 20}, {10, 0, 0, 5}};
        QTest::newRow("ANY") << two << QByteArray("ANY")
                             << QStringList{"ANY", "192.168.1.20", "10.0.0.5"} << 0;
        QTest::newRow("second address")
            << two << QByteArray("10.0.0.5") << QStringList{"ANY", "192.168.1.20", "10.0.0.5"} << 2;
        QTest::newRow("address gone") << two << QByteArray("172.16.0.1")
                                      << QStringList{"ANY", "192.168.1.20", "10.0.0.5"} << 0;
        QTest::newRow("same address twice: the later wins")
            << Addresses{{10, 0, 0, 5}, {127, 0, 0, 1}, {10, 0, 0, 5}} << QByteArray("10.0.0.5")
            << QStringList{"ANY", "10.0.0.5", "127.0.0.1", "10.0.0.5"} << 3;
        QTest::newRow("one address") << Addresses{{127, 0, 0, 1}} << QByteArray("127.0.0.1")
                                     << QStringList{"ANY", "127.0.0.1"} << 1;
        QTest::newRow("no address")
            << Addresses{} << QByteArray("127.0.0.1") << QStringList{"ANY"} << 0;
        QTest::newRow("no leading zeros, full bytes")
            << Addresses{{0, 0, 0, 0}, {255, 255, 255, 255}} << QByteArray("255.255.255.255")
            << QStringList{"ANY", "0.0.0.0", "255.255.255.255"} << 2;
        QTest::newRow("prefix is not a match")
            << Addresses{{10, 0, 0, 50}} << QByteArray("10.0.0.5")
            << QStringList{"ANY", "10.0.0.50"} << 0;
    }
    void listAndPreselection() {
        QFETCH(Addresses, addresses);
        QFETCH(QByteArray, binding);
        QFETCH(QStringList, list);
        QFETCH(int, selected);
        AddressSource source(addresses);
        CBindIpDlg dlg(nullptr, source);
        dlg.SetBindingText(binding);
        dlg.show();
        QCOMPARE(items(dlg.AddressList()), list);
        QCOMPARE(dlg.AddressList()->currentIndex(), selected);
        QVERIFY(!dlg.AddressList()->isEditable());
        // OK at once keeps the preselected text (or falls back to ANY).
        dlg.accept();
        QCOMPARE(dlg.BindingText(), list[selected].toLatin1());
    }

    void okCopiesTheChosenItemAndCancelKeepsTheText() {
        AddressSource source({{192, 168, 1, 20}, {10, 0, 0, 5}});
        {
            CBindIpDlg dlg(nullptr, source);
            dlg.SetBindingText("ANY");
            QTimer::singleShot(0, &dlg, [&dlg] {
                dlg.AddressList()->setCurrentIndex(2);
                veltrona::ui::controlAs<QPushButton>(&dlg, 1)->click();
            });
            QCOMPARE(dlg.exec(), int(QDialog::Accepted));
            QCOMPARE(dlg.BindingText(), QByteArray("10.0.0.5"));
        }
        {
            CBindIpDlg dlg(nullptr, source);
            dlg.SetBindingText("192.168.1.20");
            QTimer::singleShot(0, &dlg, [&dlg] {
                dlg.AddressList()->setCurrentIndex(0);
                veltrona::ui::controlAs<QPushButton>(&dlg, 2)->click();
            });
            QCOMPARE(dlg.exec(), int(QDialog::Rejected));
            QCOMPARE(dlg.BindingText(), QByteArray("192.168.1.20"));
        }
    }

    void reopeningRebuildsTheList() {
        AddressSource source({{10, 0, 0, 5}});
        Addresses *list = &source.list;
        CBindIpDlg dlg(nullptr, source);
        dlg.SetBindingText("10.0.0.5");
        dlg.show();
        QCOMPARE(dlg.AddressList()->count(), 2);
        dlg.hide();
        *list = {{10, 0, 0, 6}, {10, 0, 0, 5}};
        dlg.show();
        QCOMPARE(items(dlg.AddressList()), (QStringList{"ANY", "10.0.0.6", "10.0.0.5"}));
        QCOMPARE(dlg.AddressList()->currentIndex(), 2);
    }

    // The host's own list: IPv4 only, loopback among them.
    void hostAddressesHoldLoopback() {
        const Addresses addresses = veltrona::ui::Platform::real().hostAddresses();
        QVERIFY(std::find(addresses.begin(), addresses.end(), Address{127, 0, 0, 1}) !=
                addresses.end());
    }
};

QTEST_MAIN(TestBindIpDialog)
#include "test_bindip_dialog.moc"
