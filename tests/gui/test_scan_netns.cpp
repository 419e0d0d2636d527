// The real five-second scan over a real UDP socket, inside a private network
// namespace (scripts/netns-run), with one simulated device on loopback.
#include "gui_test_support.h"

#include "bindipdlg.h"
#include "netns_guard.h"
#include "protocol.h"
#include "veltronadlg.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace guitest;

namespace {

// A device that answers every discovery with its device-information reply,
// broadcast to the tool's port; it can also send one reply on request.
class LoopbackDevice {
public:
    explicit LoopbackDevice(kovasim::Device device) : m_device(std::move(device)) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kovasim::kDevicePort);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
        m_thread = std::thread([this] { run(); });
    }
    ~LoopbackDevice() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    bool bound() const { return m_bound; }
    int discoveries() const { return m_discoveries.load(); }
    void sendReply(const kovasim::Device &device) {
        const kovasim::Bytes reply = kovasim::encodeDeviceInfo(device);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kovasim::kToolPort);
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        ::sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }

private:
    void run() {
        uint8_t buffer[1500];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                continue;
            const auto parsed = kovasim::parseRequest(buffer, size_t(n));
            if (parsed.request && parsed.request->command == kovasim::kCmdDiscover) {
                ++m_discoveries;
                sendReply(m_device);
            }
        }
    }

    kovasim::Device m_device;
    int m_fd = -1;
    bool m_bound = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_discoveries{0};
    std::thread m_thread;
};

kovasim::Device camera(uint8_t last) {
    kovasim::Device d;
    d.mac = {0x02, 0x4B, 0x56, 0x00, 0x09, last};
    d.model = "KV-2100";
    d.hostName = "loopcam";
    d.webPort = 8080;
    d.firmware = {3, 1, 4, 0};
    d.serialNumber = "LOOP1";
    return d;
}

} // namespace

class ScanNetnsTest : public QObject {
    Q_OBJECT

private slots:
    void realFiveSecondScan() {
        LoopbackDevice device(camera(1));
        QVERIFY(device.bound());
        CVeltronaDlg dlg(nullptr, veltrona::KovaLibrary::real());
        dlg.show();
        QPushButton *scan = dlg.pushButton(CVeltronaDlg::IDC_SCAN);
        QPushButton *clear = dlg.pushButton(CVeltronaDlg::IDC_CLEAR_TABLE);
        CDeviceListCtrl *list = dlg.deviceList();

        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(scan, Qt::LeftButton);
        // The handler returns at once, before the second discovery, with both
        // buttons disabled.
        QVERIFY(device.discoveries() < 2);
        QVERIFY(!scan->isEnabled());
        QVERIFY(!clear->isEnabled());
        QCOMPARE(scan->text(), QString("Scan"));

        QStringList captions;
        QString last = scan->text();
        while (!scan->isEnabled() && clock.elapsed() < 8000) {
            QTest::qWait(20);
            if (scan->text() != last)
                captions << (last = scan->text());
        }
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= 4900 && took < 6500, qPrintable(QString::number(took)));
        // "0" may show for a moment when the countdown tick comes first.
        captions.removeAll("0");
        QCOMPARE(captions, (QStringList{"4", "3", "2", "1", "Scan"}));
        QVERIFY(clear->isEnabled());

        // The device answered both discoveries and is listed once.
        QCOMPARE(device.discoveries(), 2);
        QCOMPARE(list->GetItemCount(), 1);
        // On loopback an unbound sender shows as 0.0.0.0.
        QVERIFY((QStringList{"0.0.0.0", "127.0.0.1"}).contains(list->GetItemText(0, 1)));
        QCOMPARE(list->GetItemText(0, 2), QString("02-4B-56-00-09-01"));
        QCOMPARE(list->GetItemText(0, 5), QString("3.1.4"));
        QCOMPARE(list->GetItemText(0, 6), QString("8080"));

        // The connection is closed: a reply now is not listed.
        device.sendReply(camera(2));
        QTest::qWait(300);
        QCOMPARE(list->GetItemCount(), 1);

        // A second scan counts from 4 again.
        QTest::mouseClick(scan, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(scan->text(), QString("4"), 2000);
        dlg.OnTimer(CVeltronaDlg::kScanEndTimer);
        QCOMPARE(list->GetItemCount(), 1);
    }

    void bindingToAnAddressThatIsNotOurs() {
        LoopbackDevice device(camera(3));
        struct : MessageRecorder {
            std::vector<Address> hostAddresses() override { return {{10, 99, 0, 1}}; }
        } messages;
        CVeltronaDlg dlg(nullptr, veltrona::KovaLibrary::real(), messages);
        dlg.show();
        QTimer::singleShot(50, [] {
            if (auto *bind = qobject_cast<CBindIpDlg *>(QApplication::activeModalWidget())) {
                bind->AddressList()->setCurrentIndex(1);
                bind->accept();
            }
        });
        dlg.OnBindIp();
        QCOMPARE(messages.texts, QStringList{"Bind to 10.99.0.1"});

        QTest::mouseClick(dlg.pushButton(CVeltronaDlg::IDC_SCAN), Qt::LeftButton);
        QCOMPARE(messages.texts,
                 (QStringList{"Bind to 10.99.0.1", "Error : initialising kova..."}));
        QTRY_VERIFY(dlg.pushButton(CVeltronaDlg::IDC_SCAN)->isEnabled());
        QVERIFY(dlg.pushButton(CVeltronaDlg::IDC_CLEAR_TABLE)->isEnabled());
        QCOMPARE(dlg.pushButton(CVeltronaDlg::IDC_SCAN)->text(), QString("Scan"));
        QVERIFY(!dlg.isTimerRunning(CVeltronaDlg::kScanEndTimer));
        QTest::qWait(200);
        QCOMPARE(device.discoveries(), 0);
        QCOMPARE(dlg.deviceList()->GetItemCount(), 0);
    }
};

int main(int argc, char **argv) {
    veltrona::test::requirePrivateNetns();
    QApplication app(argc, argv);
    ScanNetnsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_scan_netns.moc"
