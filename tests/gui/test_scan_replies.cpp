// The scan with the real library over an in-memory transport: replies become
// rows on the user-interface thread, in arrival order and once per device; a
// reply after the scan end is not listed; closing, re-scanning and ending the
// window while replies pour in never deadlock, and no row of a closed
// connection is ever listed.
#include "gui_test_support.h"

#include "library.h"
#include "protocol.h"
#include "replybridge.h"
#include "transport.h"
#include "veltronadlg.h"

#include <QPushButton>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

using namespace guitest;

namespace {

// One connection's socket: datagrams pushed by the test, sends recorded.
struct Endpoint {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::pair<kovasim::Bytes, kovasim::Ipv4>> inbox;
    std::vector<kovasim::Bytes> sent;
    bool woken = false;
    int label = 0; // which connection, counted from 1
};

class MemoryTransport final : public kova::Transport {
public:
    explicit MemoryTransport(std::shared_ptr<Endpoint> endpoint) : m_e(std::move(endpoint)) {}
    bool Broadcast(std::span<const uint8_t> datagram) override {
        std::lock_guard lock(m_e->mutex);
        m_e->sent.emplace_back(datagram.begin(), datagram.end());
        return true;
    }
    kova::Received Receive(std::span<uint8_t> buffer) override {
        std::unique_lock lock(m_e->mutex);
        m_e->cv.wait(lock, [&] { return m_e->woken || !m_e->inbox.empty(); });
        kova::Received received;
        if (m_e->woken) {
            received.status = kova::Received::Status::Woken;
            return received;
        }
        auto [bytes, sender] = std::move(m_e->inbox.front());
        m_e->inbox.pop_front();
        received.status = kova::Received::Status::Datagram;
        received.length = bytes.size();
        std::memcpy(buffer.data(), bytes.data(), std::min(buffer.size(), bytes.size()));
        std::memcpy(received.sender, sender.data(), 4);
        return received;
    }
    void Wake() override {
        std::lock_guard lock(m_e->mutex);
        m_e->woken = true;
        m_e->cv.notify_all();
    }

private:
    std::shared_ptr<Endpoint> m_e;
};

kovasim::Device device(uint8_t last, uint8_t version, const std::string &model) {
    kovasim::Device d;
    d.mac = {0x02, 0x4B, 0x56, 0x00, 0x01, last};
    d.version = version;
    d.model = model;
    d.hostName = "host" + std::to_string(last);
    d.networkMode = kovasim::kWireDhcp;
    d.webPort = 80;
    d.av1Port = 554;
    d.av2Port = 555;
    d.confPort = 7001;
    d.firmware = {2, 4, 17, 0};
    d.serialNumber = "SN" + std::to_string(last);
    return d;
}

} // namespace

class ScanRepliesTest : public QObject {
    Q_OBJECT

    std::mutex m_lock;
    std::shared_ptr<Endpoint> m_current;
    int m_connections = 0;
    std::unique_ptr<CVeltronaDlg> m_dlg;

    std::shared_ptr<Endpoint> current() {
        std::lock_guard lock(m_lock);
        return m_current;
    }
    void push(const kovasim::Device &d, kovasim::Ipv4 from) {
        auto e = current();
        QVERIFY(e != nullptr);
        std::lock_guard lock(e->mutex);
        e->inbox.emplace_back(kovasim::encodeDeviceInfo(d), from);
        e->cv.notify_all();
    }
    QPushButton *button(int id) { return m_dlg->pushButton(id); }

private slots:
    void init() {
        kova::internal::SetTransportFactory([this](const std::string &, int32_t &) {
            auto endpoint = std::make_shared<Endpoint>();
            {
                std::lock_guard lock(m_lock);
                endpoint->label = ++m_connections;
                m_current = endpoint;
            }
            return std::make_unique<MemoryTransport>(endpoint);
        });
        m_dlg = std::make_unique<CVeltronaDlg>(nullptr, veltrona::KovaLibrary::real());
        m_dlg->show();
    }
    void cleanup() {
        m_dlg.reset();
        kova_Close();
        kova::internal::SetTransportFactory({});
        std::lock_guard lock(m_lock);
        m_current.reset();
    }

    void repliesBecomeRowsInArrivalOrder() {
        QTest::mouseClick(button(1002), Qt::LeftButton);
        QVERIFY(!button(1002)->isEnabled());
        QTRY_VERIFY(m_dlg->isTimerRunning(CVeltronaDlg::kScanEndTimer));
        auto e = current();
        QVERIFY(e != nullptr);
        {
            std::lock_guard lock(e->mutex);
            QCOMPARE(e->sent.size(), size_t(2));
            QCOMPARE(int(e->sent[0][4]), 5); // version bytes of the two discoveries
            QCOMPARE(int(e->sent[1][4]), 3);
        }
        QVERIFY(!button(1002)->isEnabled());

        const auto a = device(1, 5, "KV-2100");
        const auto old = device(2, 2, "KV-10");
        auto again = a;
        again.model = "renamed";
        const auto c = device(3, 4, "KV-400");
        push(a, {10, 77, 1, 1});
        push(old, {10, 77, 1, 2});
        push(again, {10, 77, 1, 9}); // the same device answering the second discovery
        push(c, {10, 77, 1, 3});
        CDeviceListCtrl *list = m_dlg->deviceList();
        QTRY_COMPARE(list->GetItemCount(), 3);
        QTest::qWait(50);
        QCOMPARE(list->GetItemCount(), 3);
        QCOMPARE(columnTexts(*list, 3), (QStringList{"KV-2100", "KV-10", "KV-400"}));
        QCOMPARE(columnTexts(*list, 1), (QStringList{"10.77.1.1", "10.77.1.2", "10.77.1.3"}));
        QCOMPARE(list->GetItemText(0, 2), QString("02-4B-56-00-01-01"));
        QCOMPARE(list->GetItemText(0, 0), QString("dhcp"));
        QCOMPARE(list->GetItemText(0, 5), QString("2.4.17"));
        QCOMPARE(list->GetItemText(0, 7), QString("554/rtp(O)"));
        QCOMPARE(list->GetItemText(0, 8), QString("555/vsm(X)"));
        QCOMPARE(list->GetItemText(0, 9), QString("7001"));
        QCOMPARE(list->GetItemText(0, 10), QString("host1"));
        for (int column = 4; column <= 9; ++column) // below version 3: no ports, no firmware
            QCOMPARE(list->GetItemText(1, column), QString("N/A"));

        // The row's item is the library's record of that device: it now holds
        // the later reply, while the row keeps the texts of the first.
        KOVA_DEVICE_INFO info{};
        QCOMPARE(kova_GetDeviceInfo(list->GetItemData(0), &info), KOVA_OK);
        QCOMPARE(QString::fromLatin1(info.modelName), QString("renamed"));

        // A header click sorts through the library's records.
        list->OnColumnClick(3);
        QCOMPARE(columnTexts(*list, 3), (QStringList{"KV-400", "KV-2100", "KV-10"}));

        // After the scan end the connection is closed: a late reply is not listed.
        m_dlg->OnTimer(CVeltronaDlg::kScanEndTimer);
        QVERIFY(button(1002)->isEnabled());
        push(device(4, 5, "late"), {10, 77, 1, 4});
        QTest::qWait(200);
        QCOMPARE(list->GetItemCount(), 3);
    }

    // A burst that piles up while the user-interface thread is busy is listed
    // in turns, the event loop running in between: every device once, in
    // arrival order; a new scan drops what the old one had left to list.
    void heldUpBurstIsListedWholeAndInOrder() {
        constexpr int kDevices = 6000;
        auto burst = [&](const std::string &model) {
            for (int n = 0; n < kDevices; ++n) {
                auto d = device(uint8_t(n), 5, model);
                d.mac[3] = uint8_t(n >> 8);
                push(d, {10, 77, 4, 1});
                push(d, {10, 77, 4, 1}); // the answer to the second discovery
            }
            // Held up: the receive thread hands the whole burst over at once.
            for (auto e = current();; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
                std::lock_guard lock(e->mutex);
                if (e->inbox.empty())
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        };
        CDeviceListCtrl *list = m_dlg->deviceList();
        m_dlg->OnScan();
        burst("first");
        QCoreApplication::processEvents(); // a turn or two of the first burst
        m_dlg->OnScan();
        burst("second");
        QTRY_COMPARE_WITH_TIMEOUT(list->GetItemCount(), kDevices, 20000);
        QTest::qWait(50);
        QCOMPARE(list->GetItemCount(), kDevices);
        for (int row = 0; row < kDevices; ++row) {
            QCOMPARE(list->GetItemText(row, 3), QString("second"));
            QCOMPARE(list->GetItemText(row, 2),
                     QString::asprintf("02-4B-56-%02X-01-%02X", row >> 8, row & 0xff));
        }
    }

    void floodThroughCloseRescanAndWindowEnd() {
        m_dlg->OnScan();
        for (int i = 0; i < 600; ++i)
            push(device(uint8_t(i), 5, "flood"), {10, 77, 2, uint8_t(i)});
        CDeviceListCtrl *list = m_dlg->deviceList();
        QTRY_VERIFY(list->GetItemCount() > 20);
        // A new scan re-initialises while the old receive thread waits for us.
        m_dlg->OnScan();
        QCOMPARE(list->GetItemCount(), 0);
        for (int i = 0; i < 600; ++i)
            push(device(uint8_t(i), 4, "second"), {10, 77, 3, uint8_t(i)});
        QTRY_VERIFY(list->GetItemCount() > 20);
        QVERIFY(list->GetItemCount() <= 256);
        QTRY_VERIFY(m_dlg->isTimerRunning(CVeltronaDlg::kScanEndTimer));
        m_dlg->OnTimer(CVeltronaDlg::kScanEndTimer);
        QTest::qWait(20);
        const int rows = list->GetItemCount();
        QTest::qWait(100);
        QCOMPARE(list->GetItemCount(), rows); // nothing after the close
        for (int row = 0; row < rows; ++row)
            QCOMPARE(list->GetItemText(row, 3), QString("second"));

        // Ending the window mid-flood.
        m_dlg->OnScan();
        for (int i = 0; i < 600; ++i)
            push(device(uint8_t(i), 5, "third"), {10, 77, 4, uint8_t(i)});
        QTRY_VERIFY(list->GetItemCount() > 5);
        m_dlg.reset();
        QVERIFY(kova::internal::ReapReceiveThreads(std::chrono::milliseconds(2000)) == 0);
    }

    void noRowOfAClosedConnectionIsListed() {
        // Connections follow each other fast: the scan start without its pauses.
        struct : veltrona::ui::Platform {
            void wait(QObject *, int, std::function<void()> then) override { then(); }
        } quick;
        m_dlg = std::make_unique<CVeltronaDlg>(nullptr, veltrona::KovaLibrary::real(), quick);
        m_dlg->show();
        // Every connection is flooded with devices named after it.
        std::atomic<bool> stop{false};
        std::thread feeder([&] {
            for (uint32_t n = 0; !stop.load(); ++n) {
                auto e = current();
                if (e == nullptr)
                    continue;
                auto d = device(uint8_t(n), 5, "c" + std::to_string(e->label));
                d.mac[3] = uint8_t(n >> 16);
                d.mac[4] = uint8_t(n >> 8);
                std::lock_guard lock(e->mutex);
                if (e->inbox.size() < 64)
                    e->inbox.emplace_back(kovasim::encodeDeviceInfo(d),
                                          kovasim::Ipv4{10, 77, 5, 1});
                e->cv.notify_all();
            }
        });
        CDeviceListCtrl *list = m_dlg->deviceList();
        int listed = 0;
        for (int cycle = 0; cycle < 400; ++cycle) {
            m_dlg->OnScan();
            const QString open = "c" + QString::number(current()->label);
            // Rows are listed at most once per row interval: now and then a
            // connection stays open long enough for a batch of its own.
            QTest::qWait(cycle % 10 == 0 ? 2 * ReplyBridge::kRowIntervalMs : 2);
            listed += list->GetItemCount();
            for (int row = 0; row < list->GetItemCount(); ++row)
                QCOMPARE(list->GetItemText(row, 3), open);
            if (cycle % 2 == 1) {
                m_dlg->OnClearTable();
                QTest::qWait(1);
                QCOMPARE(list->GetItemCount(), 0);
            }
        }
        stop = true;
        feeder.join();
        m_dlg.reset(); // before the platform it was given
        QVERIFY(listed > 0);
    }
};

QTEST_MAIN(ScanRepliesTest)
#include "test_scan_replies.moc"
