// The about box's three lines and caption.

#include "aboutdlg.h"
#include "dialogbuilder.h"
#include "kova.h"

#include <QLabel>
#include <QTest>

class TestAboutDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(veltrona); }

    void texts() {
        CAboutDlg dlg;
        QCOMPARE(dlg.windowTitle(), "Veltrona");
        QCOMPARE(veltrona::ui::controlAs<QLabel>(&dlg, 1037)->text(),
                 "Veltrona 2.2.0 Build 312062628");
        QCOMPARE(veltrona::ui::controlAs<QLabel>(&dlg, 1039)->text(),
                 "KOVA Library Version: 3. 1. 0. 0");
        const QString legal = veltrona::ui::controlAs<QLabel>(&dlg, 1038)->text();
        QVERIFY(!legal.isEmpty());
        QVERIFY(!legal.contains(QLatin1Char('\n')));
        QVERIFY(!dlg.windowIcon().isNull());
    }

    void productLine_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("line");
        QTest::newRow("four fields") << "2, 2, 0, 1"
                                     << "P 2.2.0 Build 7";
        QTest::newRow("two-digit fields") << "10, 12, 3, 45"
                                          << "P 10.12.3 Build 7";
        QTest::newRow("already dotted") << "1.2.3.4"
                                        << "P 1.2.3 Build 7";
        QTest::newRow("comma without blank stays") << "1,2, 3, 4"
                                                   << "P 1,2.3 Build 7";
        QTest::newRow("no dot at all") << "5"
                                       << "P 5 Build 7";
    }
    void productLine() {
        QFETCH(QString, version);
        QFETCH(QString, line);
        QCOMPARE(CAboutDlg::ProductLine("P", version.toLatin1().constData(), "7"), line);
    }
};

QTEST_MAIN(TestAboutDialog)
#include "test_about_dialog.moc"
