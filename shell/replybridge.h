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
// is still showing an earlier result, asks again every kBusyPollMs. A result
// of a connection that a newer one replaced is dropped, also while it waits.
//
// The library's callbacks come from the process-wide rotation of
// veltrona::ReplyCallbacks, one pair per connection (openConnection), so each
// reply knows the connection it came from. Rows are listed only from the
// connection opened last, and not closed since (closeConnection ends the
// listing only: that connection's results still reach the setting page, whose
// request may still be answered on it).
//
// The bridge lives for the whole process, so the receive thread never reaches
// an object that is gone; the receivers are called on the user-interface
// thread only.

#include "devicerow.h"
#include "kovalibrary.h"
#include "replycallbacks.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
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

    // Where batches of rows go: the main window.
    class RowReceiver {
    public:
        virtual void addRows(std::span<const DeviceListRow> rows) = 0;

    protected:
        ~RowReceiver() = default;
    };
    // Where configuration results go: the setting page.
    class ResultReceiver {
    public:
        // Results are ignored while this is false.
        virtual bool takesResults() const = 0;
        // Still showing an earlier result: the next one waits.
        virtual bool showsResult() const = 0;
        virtual void reportResult(HKOVAITEM item, int32_t event, int32_t reserved) = 0;

    protected:
        ~ResultReceiver() = default;
    };

    // User-interface thread, by the receivers' owners; setting one replaces
    // the one in place.
    void setRowReceiver(RowReceiver *receiver);
    void setResultReceiver(ResultReceiver *receiver);
    // Forgets the receiver. For a result receiver, unless a hand-over is
    // running further up the user-interface thread's stack, it also waits
    // until no result is on its way: afterwards nothing reaches it.
    void removeReceiver(const RowReceiver *receiver);
    void removeReceiver(const ResultReceiver *receiver);

    // User-interface thread, just before the library is initialised: the
    // reply callback to give it. Replies are decoded through `library`. From
    // now on only this connection's rows are listed and its results reported.
    KOVA_REPLY_CALLBACK openConnection(veltrona::KovaLibrary &library);
    // User-interface thread, when the library is closed: no row of the closed
    // connection is listed any more, whether it is queued or comes later.
    void closeConnection();
    // The callback of the connection whose rows are listed; null when none.
    KOVA_REPLY_CALLBACK currentCallback() const;

    // How long the receive thread waits between two looks at a result
    // receiver that is still busy.
    static constexpr int kBusyPollMs = 10;
    // The least time between two batches of rows: each batch costs the list
    // a new layout and a repaint, so a burst is listed in a few dozen steps a
    // second rather than as many as the queue would allow.
    static constexpr int kRowIntervalMs = 25;

signals:
    // Receive thread: something is queued (connected to serve()).
    void wake();

private:
    explicit ReplyBridge(QObject *parent = nullptr);

    // The receiver of one connection's callbacks; one per slot of the
    // rotation, given again with it.
    class Connection : public veltrona::ReplyReceiver {
    public:
        void reply(HKOVAITEM item, int32_t event) override;

        ReplyBridge *bridge = nullptr;
        veltrona::KovaLibrary *library = nullptr;
        uint64_t number = 0;
    };

    // Receive thread: one reply of `connection`.
    void queueRow(const Connection &connection, HKOVAITEM item);
    void handOverResult(uint64_t connection, HKOVAITEM item, int32_t event);
    bool resultsWantedFrom(uint64_t connection) const;

    // User-interface thread: lists the queued rows (now or after the interval
    // since the last batch) and serves the waiting results.
    void serve();
    void serveRows();

    enum class Outcome { Ignored, Busy, Done };
    struct ResultRequest {
        uint64_t connection = 0;
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
    RowReceiver *m_rowReceiver = nullptr;
    ResultReceiver *m_resultReceiver = nullptr;
    int m_serving = 0;
    std::array<Connection, veltrona::ReplyCallbacks::kSlotCount> m_connections;
    size_t m_lastSlot = veltrona::ReplyCallbacks::kSlotCount - 1;
    uint64_t m_connectionCount = 0;
    KOVA_REPLY_CALLBACK m_callback = nullptr;
    std::vector<QueuedRow> m_taken;
    std::vector<DeviceListRow> m_batch;
    QTimer m_rowTimer;
    QElapsedTimer m_sinceRows;

    // The connection opened last (whose results are reported) and the one
    // whose rows are listed (0: none). Written on the user-interface thread,
    // read by the receive thread.
    std::atomic<uint64_t> m_resultConnection{0};
    std::atomic<uint64_t> m_rowConnection{0};

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
