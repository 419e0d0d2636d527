#pragma once
// The library's reply callback, and the road of its events to the
// user-interface thread.
//
// Device-information replies are decoded into rows on the receive thread and
// appended to a queue; the receive thread never waits for them. It wakes the
// user-interface thread only when the queue goes from empty to non-empty, and
// that thread takes everything queued in one go (at most every kRowIntervalMs)
// and hands it to the row receiver (the main window) as one batch, in arrival
// order.
//
// Configuration results go one at a time to the result receiver (the setting
// page): the receive thread waits until each is done and, while the receiver
// is still showing an earlier result, asks again every kBusyPollMs.
//
// Every connection gets a reply callback of its own (openConnection), so each
// row knows the connection it came from; only rows of the connection opened
// last, and not closed since, are listed. The library may still start one
// callback it had decided on just before closing a connection; its row lists
// no device, whether it is still queued or arrives later (it would have to
// arrive after kCallbackCount - 1 further connections to be taken for a newer
// one).
//
// The bridge lives for the whole process, so the receive thread never reaches
// an object that is gone; the receivers are called on the user-interface
// thread only.

#include "devicerow.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

class ReplyBridge : public QObject {
    Q_OBJECT
public:
    // The process-wide bridge; made on first use, which must be on the
    // user-interface thread.
    static ReplyBridge &instance();

    // Receivers, set and removed on the user-interface thread by their owner;
    // setting one replaces the one in place.
    using RowReceiver = std::function<void(std::span<const DeviceListRow> rows)>;
    struct ResultReceiver {
        std::function<bool()> isOpen; // results are ignored while it is not
        std::function<bool()> isBusy; // still showing an earlier result
        std::function<void(HKOVAITEM item, int32_t event, int32_t reserved)> report;
    };
    void setRowReceiver(const QObject *owner, RowReceiver receiver);
    void setResultReceiver(const QObject *owner, ResultReceiver receiver);
    // Forgets the owner's receivers. Unless a hand-over is running further up
    // the user-interface thread's stack, it also waits until no result is on
    // its way: afterwards nothing reaches that owner.
    void removeReceivers(const QObject *owner);

    // User-interface thread, just before the library is initialised: the reply
    // callback to give it. From now on only this connection's rows are listed.
    KOVA_REPLY_CALLBACK openConnection();
    // User-interface thread, when the library is closed: no row of the closed
    // connection is listed any more, whether it is queued or comes later.
    void closeConnection();
    // The callback of the open connection; null when none is open.
    KOVA_REPLY_CALLBACK currentCallback() const;

    // How long the receive thread waits between two looks at a result
    // receiver that is still busy.
    static constexpr int kBusyPollMs = 10;
    // The least time between two batches of rows: each batch costs the list
    // a new layout and a repaint, so a burst is listed in a few dozen steps a
    // second rather than as many as the queue would allow.
    static constexpr int kRowIntervalMs = 25;
    // Reply callbacks in rotation. A callback is given to a new connection
    // again only after kCallbackCount - 1 other connections were opened, long
    // after the library can have started the last callback of the old one.
    static constexpr size_t kCallbackCount = 64;

signals:
    // Receive thread: something is queued (connected to serve()).
    void wake();

private:
    explicit ReplyBridge(QObject *parent = nullptr);

    template <size_t N> static void replyCallback(HKOVAITEM item, int32_t event, int32_t reserved);
    template <size_t... N>
    static std::array<KOVA_REPLY_CALLBACK, sizeof...(N)> makeCallbacks(std::index_sequence<N...>);
    static const std::array<KOVA_REPLY_CALLBACK, kCallbackCount> &callbacks();

    // Receive thread: one reply of the connection that `slot` was given to.
    void onReply(size_t slot, HKOVAITEM item, int32_t event, int32_t reserved);
    void queueRow(uint64_t connection, HKOVAITEM item);
    void handOverResult(HKOVAITEM item, int32_t event, int32_t reserved);

    // User-interface thread: lists the queued rows (now or after the interval
    // since the last batch) and serves the waiting results.
    void serve();
    void serveRows();

    enum class Outcome { Ignored, Busy, Done };
    struct ResultRequest {
        HKOVAITEM item = nullptr;
        int32_t event = 0;
        int32_t reserved = 0;
        Outcome outcome = Outcome::Ignored;
        bool done = false;
    };
    Outcome runResult(const ResultRequest &request);

    struct QueuedRow {
        uint64_t connection;
        DeviceListRow row;
    };

    // User-interface thread only.
    const QObject *m_rowOwner = nullptr;
    RowReceiver m_rowReceiver;
    const QObject *m_resultOwner = nullptr;
    ResultReceiver m_resultReceiver;
    int m_serving = 0;
    size_t m_lastSlot = kCallbackCount - 1;
    uint64_t m_connectionCount = 0;
    std::vector<QueuedRow> m_taken;
    std::vector<DeviceListRow> m_batch;
    QTimer m_rowTimer;
    QElapsedTimer m_sinceRows;

    // Which connection each callback was last given to, and the open one
    // (0: none). Written on the user-interface thread before the library gets
    // the callback; read by the receive thread.
    std::array<std::atomic<uint64_t>, kCallbackCount> m_slotConnection{};
    std::atomic<uint64_t> m_openConnection{0};

    // Rows waiting for the user-interface thread.
    std::mutex m_rowLock;
    std::vector<QueuedRow> m_rows;

    // Results waiting for the user-interface thread, and their outcomes.
    std::mutex m_resultLock;
    std::condition_variable m_resultDone;
    std::deque<ResultRequest *> m_pendingResults;
    std::atomic<int> m_resultsInFlight{0};
    std::atomic<bool> m_resultsWanted{false};
};
