// The main window in a lab of simulated devices (scripts/lab): Scan lists each
// device that answers within five seconds, once, with the texts of its reply;
// a device below version 3 shows "N/A" in columns 4 to 9; a reply after the
// scan end is not listed. The simulator's log shows the two discoveries.
#include "devicelistctrl.h"
#include "netns_guard.h"
#include "veltronadlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>

namespace {

// Each listed device's columns 0 to 10.
const QMap<QString, QStringList> kExpected = {
    {"02-4B-56-10-00-01",
     {"static", "10.77.1.1", "02-4B-56-10-00-01", "KV-2100 Dome", "KV21000001", "200.1.2", "80",
      "554/rtp(O)", "555/vsm(X)", "7001", "lobby"}},
    {"02-4B-56-10-00-02",
     {"dhcp", "10.77.1.2", "02-4B-56-10-00-02", "KV-400", "N/A", "1.9.3", "8080", "5004", "N/A",
      "N/A", "garage"}},
    // Version 3: web and first AV port only.
    {"02-4B-56-10-00-03",
     {"pppoe", "10.77.1.3", "02-4B-56-10-00-03", "VS-4 Video Server", "VS4-3", "N/A", "N/A", "6000",
      "N/A", "N/A", "vs-east"}},
    {"02-4B-56-10-00-04",
     {"static", "10.77.1.4", "02-4B-56-10-00-04", "KV-10", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A",
      "old-cam"}},
    // Listed with the address it answered from, not the one it reports.
    {"02-4B-56-10-00-05",
     {"static", "10.77.1.5", "02-4B-56-10-00-05", "KV-2100", "UNI0005", "2.4.0", "81", "N/A", "N/A",
      "N/A", "unicaster"}},
    {"02-4B-56-10-00-06",
     {"dhcp", "10.77.1.6", "02-4B-56-10-00-06", "KV-3300", "V3ONLY0006", "3.3.0", "80",
      "554/rtp(O)", "8554/vsm(X)", "N/A", "v3-only"}},
};

QList<QJsonObject> logLines() {
    QList<QJsonObject> lines;
    QFile log(qEnvironmentVariable("VELTRONA_LAB_LOG"));
    if (!log.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &line : log.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            lines << QJsonDocument::fromJson(line).object();
    return lines;
}

} // namespace

class LabGuiTest : public QObject {
    Q_OBJECT

private slots:
    void scanListsTheLab() {
        CVeltronaDlg dlg(nullptr, veltrona::KovaLibrary::real());
        dlg.show();
        QPushButton *scan = dlg.pushButton(CVeltronaDlg::IDC_SCAN);
        CDeviceListCtrl *list = dlg.deviceList();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(scan, Qt::LeftButton);
        QVERIFY(!scan->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(scan->isEnabled(), 8000);
        QVERIFY(clock.elapsed() >= 4900);

        QCOMPARE(list->GetItemCount(), kExpected.size());
        QSet<QString> seen;
        for (int row = 0; row < list->GetItemCount(); ++row) {
            const QString mac = list->GetItemText(row, veltrona::ColMacAddress);
            QVERIFY2(kExpected.contains(mac), qPrintable(mac));
            QVERIFY2(!seen.contains(mac), qPrintable(mac));
            seen << mac;
            for (int column = 0; column < veltrona::kColumnCount; ++column)
                QCOMPARE(list->GetItemText(row, column), kExpected[mac][column]);
        }

        // The late device's replies go out after the scan end and are not listed.
        QTRY_VERIFY_WITH_TIMEOUT(
            [] {
                int late = 0;
                for (const QJsonObject &line : logLines())
                    if (line["dir"] == "out" && line["device"] == "02:4b:56:10:00:07")
                        ++late;
                return late >= 2;
            }(),
            5000);
        QTest::qWait(200);
        QCOMPARE(list->GetItemCount(), kExpected.size());

        // Two discoveries, version bytes 5 and 3.
        QList<int> versions;
        for (const QJsonObject &line : logLines())
            if (line.contains("command") && line["command"].toInt() == 3)
                versions << line["version"].toInt();
        QCOMPARE(versions, (QList<int>{5, 3}));
    }
};

int main(int argc, char **argv) {
    veltrona::test::requirePrivateNetns();
    QApplication app(argc, argv);
    LabGuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "lab_gui_test.moc"
