// The authentication dialog: the preset ID, the Ctrl+Shift gesture that
// enables the ID field, the empty-ID message and the dialog's results.

#include "authenticationdlg.h"
#include "dialogbuilder.h"
#include "gui_test_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

void showActive(QWidget &w) {
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

} // namespace

class TestAuthDialog : public QObject {
    Q_OBJECT

private slots:
    void opensWithRootInADisabledField() {
        CAuthenticationDlg dlg;
        QCOMPARE(dlg.windowTitle(), "Authentication");
        QCOMPARE(dlg.idEdit()->text(), "root");
        QVERIFY(!dlg.idEdit()->isEnabled());
        QCOMPARE(dlg.passwordEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(dlg.passwordEdit()->text().isEmpty());
        QVERIFY(dlg.GetID().isEmpty());
    }

    // Clicks through the window system, so that the press reaches the widget
    // under the pointer and is handed on from the disabled edit.
    void gesture_data() {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QPoint>("point"); // in the edit's coordinates; -1 = far end
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("enabled");
        const int both = int(Qt::ControlModifier | Qt::ShiftModifier);
        const int left = int(Qt::LeftButton);
        QTest::newRow("inside") << both << QPoint(10, 5) << left << true;
        QTest::newRow("one in from the left edge") << both << QPoint(1, 1) << left << true;
        QTest::newRow("last pixel inside") << both << QPoint(-2, -2) << left << true;
        QTest::newRow("on the left edge") << both << QPoint(0, 5) << left << false;
        QTest::newRow("on the top edge") << both << QPoint(10, 0) << left << false;
        QTest::newRow("on the right edge") << both << QPoint(-1, 5) << left << false;
        QTest::newRow("on the bottom edge") << both << QPoint(10, -1) << left << false;
        QTest::newRow("outside") << both << QPoint(10, 40) << left << false;
        QTest::newRow("only Ctrl") << int(Qt::ControlModifier) << QPoint(10, 5) << left << false;
        QTest::newRow("only Shift") << int(Qt::ShiftModifier) << QPoint(10, 5) << left << false;
        QTest::newRow("no keys") << 0 << QPoint(10, 5) << left << false;
        QTest::newRow("right button") << both << QPoint(10, 5) << int(Qt::RightButton) << false;
        QTest::newRow("with Alt too")
            << int(Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier) << QPoint(10, 5)
            << left << true;
    }
    void gesture() {
        QFETCH(int, modifiers);
        QFETCH(QPoint, point);
        QFETCH(int, button);
        QFETCH(bool, enabled);
        CAuthenticationDlg dlg;
        showActive(dlg);
        QLineEdit *edit = dlg.idEdit();
        // Negative coordinates count from the far end: -1 is one past the last
        // pixel, which is the edge line of the edit's rectangle.
        QPoint p = point;
        if (p.x() < 0)
            p.setX(edit->width() + p.x() + 1);
        if (p.y() < 0)
            p.setY(edit->height() + p.y() + 1);
        QTest::mouseClick(&dlg, Qt::MouseButton(button), Qt::KeyboardModifiers(modifiers),
                          edit->mapTo(&dlg, p));
        QCOMPARE(edit->isEnabled(), enabled);
    }

    void enabledFieldTakesAnotherId() {
        CAuthenticationDlg dlg;
        showActive(dlg);
        QTest::mouseClick(&dlg, Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier,
                          dlg.idEdit()->mapTo(&dlg, QPoint(5, 5)));
        QVERIFY(dlg.idEdit()->isEnabled());
        dlg.idEdit()->selectAll();
        // Neither field takes more than the library accepts (8 and 16).
        QTest::keyClicks(dlg.idEdit(), QStringLiteral("operator9"));
        QTest::keyClicks(dlg.passwordEdit(), QStringLiteral("pw34567890123456x"));
        QTest::mouseClick(veltrona::ui::controlAs<QPushButton>(&dlg, 1), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.GetID(), "operator");
        QCOMPARE(dlg.GetPassword(), "pw34567890123456");
    }

    void okAtOnceGivesRootAndAnEmptyPassword() {
        CAuthenticationDlg dlg;
        QTimer::singleShot(0, &dlg, [&dlg] { QTest::keyClick(&dlg, Qt::Key_Return); });
        QCOMPARE(dlg.DoModal(), int(QDialog::Accepted));
        QCOMPARE(dlg.GetID(), "root");
        QCOMPARE(dlg.GetPassword(), "");
    }

    void emptyIdIsRefusedUntilOneIsTyped() {
        guitest::MessageRecorder messages;
        CAuthenticationDlg dlg(nullptr, messages);
        showActive(dlg);
        dlg.idEdit()->setEnabled(true);
        dlg.idEdit()->clear();
        QTest::keyClicks(dlg.passwordEdit(), QStringLiteral("pw"));
        dlg.passwordEdit()->setFocus();
        auto *ok = veltrona::ui::controlAs<QPushButton>(&dlg, 1);
        ok->click();
        QCOMPARE(messages.texts, QStringList{"Admin ID is required"});
        QVERIFY(dlg.isVisible());
        QCOMPARE(QApplication::focusWidget(), dlg.idEdit());
        QVERIFY(dlg.GetPassword().isEmpty()); // not read on refusal

        QTest::keyClicks(dlg.idEdit(), QStringLiteral("x"));
        ok->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.GetID(), "x");
        QCOMPARE(dlg.GetPassword(), "pw");
        QCOMPARE(messages.texts.size(), 1);
    }

    void cancelAndEscapeReject_data() {
        QTest::addColumn<int>("key"); // 0: a click on Cancel
        QTest::newRow("Cancel") << 0;
        QTest::newRow("Esc") << int(Qt::Key_Escape);
        QTest::newRow("Enter on a focused Cancel") << int(Qt::Key_Return);
    }
    void cancelAndEscapeReject() {
        QFETCH(int, key);
        CAuthenticationDlg dlg;
        QTimer::singleShot(0, &dlg, [&dlg, key] {
            auto *cancel = veltrona::ui::controlAs<QPushButton>(&dlg, 2);
            if (key == 0)
                cancel->click();
            else
                QTest::keyClick(key == Qt::Key_Return ? static_cast<QWidget *>(cancel) : &dlg,
                                Qt::Key(key));
        });
        QCOMPARE(dlg.DoModal(), int(QDialog::Rejected));
        QVERIFY(dlg.GetID().isEmpty());
    }
};

QTEST_MAIN(TestAuthDialog)
#include "test_auth_dialog.moc"
