// The four-field address control: typing, dots, clamping, blank fields and
// the field-changed signal.

#include "ipaddressctrl.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

class TestIpAddressCtrl : public QObject {
    Q_OBJECT

    // Types into whichever field has the focus, as a user would.
    static void type(const QString &text) {
        for (QChar c : text) {
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus != nullptr);
            if (c == QLatin1Char('\b'))
                QTest::keyClick(focus, Qt::Key_Backspace);
            else
                QTest::keyClick(focus, c.toLatin1());
        }
    }

    // True when every field is blank.
    static bool isBlank(const CIPAddressCtrl &ctrl) {
        for (int i = 0; i < 4; ++i) {
            if (!ctrl.field(i)->text().isEmpty())
                return false;
        }
        return true;
    }

    static void showFocused(CIPAddressCtrl &ctrl) {
        ctrl.show();
        ctrl.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&ctrl));
        ctrl.field(0)->setFocus();
    }

private slots:
    void typing_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::newRow("dots move on") << "10.0.0.5"
                                      << "10.0.0.5";
        QTest::newRow("full fields move on") << "192168001020"
                                             << "192.168.1.20";
        QTest::newRow("mixed") << "172.16.2541"
                               << "172.16.254.1";
        QTest::newRow("value above 255 is clamped") << "300.1.2.3"
                                                    << "255.1.2.3";
        QTest::newRow("dot in an empty field is swallowed") << "1..2.3.4"
                                                            << "1.2.3.4";
        QTest::newRow("blank fields read as 0") << "7"
                                                << "7.0.0.0";
        QTest::newRow("letters are refused") << "1a.b2.3.4"
                                             << "1.2.3.4";
        QTest::newRow("backspace in an empty field goes back") << "12.\b\b5.6.7.8"
                                                               << "15.6.7.8";
        QTest::newRow("a fifth field does not exist") << "1.2.3.4.5"
                                                      << "1.2.3.45";
    }
    void typing() {
        QFETCH(QString, keys);
        QFETCH(QString, text);
        CIPAddressCtrl ctrl;
        showFocused(ctrl);
        type(keys);
        QCOMPARE(ctrl.text(), text);
    }

    void textRoundTrip_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::addColumn<bool>("blank");
        QTest::newRow("address") << "192.168.1.20"
                                 << "192.168.1.20" << false;
        QTest::newRow("leading zeros dropped") << "010.000.000.005"
                                               << "10.0.0.5" << false;
        QTest::newRow("empty") << ""
                               << "0.0.0.0" << true;
        QTest::newRow("not an address") << "abc"
                                        << "0.0.0.0" << true;
        QTest::newRow("field too large") << "1.2.3.256"
                                         << "1.2.3.0" << false;
        QTest::newRow("too few fields") << "1.2"
                                        << "1.2.0.0" << false;
    }
    void textRoundTrip() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QFETCH(bool, blank);
        CIPAddressCtrl ctrl;
        ctrl.setText(in);
        QCOMPARE(ctrl.text(), out);
        QCOMPARE(isBlank(ctrl), blank);
    }

    void fieldChangedOnlyForTheUsersEdits() {
        CIPAddressCtrl ctrl;
        QSignalSpy spy(&ctrl, &CIPAddressCtrl::fieldChanged);
        ctrl.setText(QStringLiteral("1.2.3.4"));
        ctrl.clear();
        QCOMPARE(spy.count(), 0);
        showFocused(ctrl);
        type(QStringLiteral("9.\b"));
        QVERIFY(spy.count() >= 1);
        QCOMPARE(spy.first().at(0).toInt(), 0);
        QCOMPARE(spy.first().at(1).toInt(), 9);
        spy.clear();
        QTest::keyClick(ctrl.field(0), Qt::Key_Backspace);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().at(1).toInt(), -1);
    }
};

QTEST_MAIN(TestIpAddressCtrl)
#include "test_settings_ipaddress.moc"
