#include "replybridge.h"

#include <QThread>

#include <algorithm>

using veltrona::ReplyCallbacks;

ReplyBridge::ReplyBridge(QObject *parent) : QObject(parent) {
    // One queued connection, made here on the user-interface thread: each wake
    // only schedules serve(); what it serves travels through the locked queues.
    connect(this, &ReplyBridge::wake, this, &ReplyBridge::serve, Qt::QueuedConnection);
    m_rowTimer.setSingleShot(true);
    connect(&m_rowTimer, &QTimer::timeout, this, &ReplyBridge::serveRows);
    for (Connection &c : m_connections)
        c.bridge = this;
}

ReplyBridge &ReplyBridge::instance() {
    // Deliberately never destroyed: a receive thread may still be on its way in
    // when the process ends.
    static ReplyBridge *bridge = new ReplyBridge();
    return *bridge;
}

// ---- receivers and connections (user-interface thread) ----------------------

void ReplyBridge::setRowReceiver(RowReceiver *receiver) {
    m_rowReceiver = receiver;
}

void ReplyBridge::setResultReceiver(ResultReceiver *receiver) {
    m_resultReceiver = receiver;
    m_resultsWanted.store(true);
}

void ReplyBridge::removeReceiver(const RowReceiver *receiver) {
    if (receiver == m_rowReceiver)
        m_rowReceiver = nullptr;
}

void ReplyBridge::removeReceiver(const ResultReceiver *receiver) {
    if (receiver != m_resultReceiver)
        return;
    m_resultReceiver = nullptr;
    {
        std::lock_guard lock(m_resultLock);
        m_resultsWanted.store(false);
    }
    m_resultDone.notify_all(); // the waiting results give up
    if (m_serving > 0)
        return;
    // A result that entered before is either on its way here or waiting for
    // this thread: serve it (to no receiver) so that it can finish.
    while (m_resultsInFlight.load() > 0) {
        serve();
        QThread::msleep(1);
    }
}

KOVA_REPLY_CALLBACK ReplyBridge::openConnection(veltrona::KovaLibrary &library) {
    m_lastSlot = (m_lastSlot + 1) % m_connections.size();
    Connection &connection = m_connections[m_lastSlot];
    connection.library = &library;
    connection.number = ++m_connectionCount;
    {
        // Results of the connection this one replaces give up waiting.
        std::lock_guard lock(m_resultLock);
        m_resultConnection.store(connection.number);
    }
    m_resultDone.notify_all();
    {
        std::lock_guard lock(m_rowLock);
        m_rowConnection.store(connection.number);
        m_rows.clear();
    }
    // Waiting for the replaced connection's calls to end is safe unless this
    // runs inside a hand-over, whose receive thread waits for this one.
    m_callback = ReplyCallbacks::instance()
                     .open(connection, m_serving > 0 ? ReplyCallbacks::Wait::No
                                                     : ReplyCallbacks::Wait::ForCalls)
                     .replyCallback;
    return m_callback;
}

void ReplyBridge::closeConnection() {
    std::lock_guard lock(m_rowLock);
    m_rowConnection.store(0);
    m_rows.clear();
}

KOVA_REPLY_CALLBACK ReplyBridge::currentCallback() const {
    return m_rowConnection.load() == 0 ? nullptr : m_callback;
}

// ---- receive thread -------------------------------------------------------------

void ReplyBridge::Connection::reply(HKOVAITEM item, int32_t event) {
    if (event == KOVA_EVENT_DEVICE_INFO)
        bridge->queueRow(*this, item);
    else
        bridge->handOverResult(number, item, event);
}

void ReplyBridge::queueRow(const Connection &connection, HKOVAITEM item) {
    // A row of any other than the listed connection is dropped here already;
    // the user-interface thread checks again when it takes the row.
    if (connection.number != m_rowConnection.load())
        return;
    QueuedRow queued{connection.number, {}};
    // Decoded here, on the receive thread, with the interface this reply came
    // in on; only the list work is left to the user-interface thread.
    if (!veltrona::assembleDeviceRow(*connection.library, item, queued.row))
        return;
    bool wasEmpty = false;
    {
        std::lock_guard lock(m_rowLock);
        wasEmpty = m_rows.empty();
        m_rows.push_back(queued);
    }
    if (wasEmpty)
        emit wake();
}

bool ReplyBridge::resultsWantedFrom(uint64_t connection) const {
    return m_resultsWanted.load() && connection == m_resultConnection.load();
}

void ReplyBridge::handOverResult(uint64_t connection, HKOVAITEM item, int32_t event) {
    m_resultsInFlight.fetch_add(1);
    ResultRequest request{connection, item, event, 0};
    while (resultsWantedFrom(connection)) {
        if (QThread::currentThread() == thread()) {
            ++m_serving;
            request.outcome = runResult(request);
            --m_serving;
        } else {
            {
                std::lock_guard lock(m_resultLock);
                request.done = false;
                m_pendingResults.push_back(&request);
            }
            emit wake();
            std::unique_lock lock(m_resultLock);
            m_resultDone.wait(lock, [&] {
                if (request.done)
                    return true;
                if (resultsWantedFrom(connection))
                    return false;
                // Given up: unless the user-interface thread has taken the
                // request already (and marks it done), it is withdrawn.
                const auto queued =
                    std::find(m_pendingResults.begin(), m_pendingResults.end(), &request);
                if (queued == m_pendingResults.end())
                    return false;
                m_pendingResults.erase(queued);
                request.outcome = Outcome::Ignored;
                return true;
            });
        }
        if (request.outcome != Outcome::Busy)
            break;
        // The receiver still shows an earlier result: ask again shortly.
        QThread::msleep(kBusyPollMs);
    }
    m_resultsInFlight.fetch_sub(1);
}

// ---- user-interface thread ---------------------------------------------------------

void ReplyBridge::serve() {
    if (!m_rowTimer.isActive()) {
        const qint64 since = m_sinceRows.isValid() ? m_sinceRows.elapsed() : kRowIntervalMs;
        if (since >= kRowIntervalMs)
            serveRows();
        else
            m_rowTimer.start(int(kRowIntervalMs - since));
    }
    for (;;) {
        ResultRequest *request = nullptr;
        {
            std::lock_guard lock(m_resultLock);
            if (m_pendingResults.empty())
                return;
            request = m_pendingResults.front();
            m_pendingResults.pop_front();
        }
        // The receive thread leaves its request alone until it is marked done,
        // and the queue's lock orders its writes before these reads: no copy.
        ++m_serving;
        const Outcome outcome = runResult(*request);
        --m_serving;
        {
            std::lock_guard lock(m_resultLock);
            request->outcome = outcome;
            request->done = true;
        }
        m_resultDone.notify_all();
    }
}

void ReplyBridge::serveRows() {
    m_sinceRows.start();
    {
        std::lock_guard lock(m_rowLock);
        m_taken.swap(m_rows);
    }
    const uint64_t listed = m_rowConnection.load();
    m_batch.reserve(m_taken.size());
    for (const QueuedRow &queued : m_taken) {
        if (queued.connection == listed)
            m_batch.push_back(queued.row);
    }
    m_taken.clear();
    if (!m_batch.empty() && m_rowReceiver != nullptr) {
        ++m_serving;
        m_rowReceiver->addRows(m_batch);
        --m_serving;
    }
    m_batch.clear();
    // A burst's room is given back; the steady flow between bursts stays small.
    constexpr size_t kKeep = 1024;
    if (m_taken.capacity() > kKeep)
        std::vector<QueuedRow>().swap(m_taken);
    if (m_batch.capacity() > kKeep)
        std::vector<DeviceListRow>().swap(m_batch);
}

ReplyBridge::Outcome ReplyBridge::runResult(const ResultRequest &request) {
    ResultReceiver *receiver = m_resultReceiver;
    if (receiver == nullptr || request.connection != m_resultConnection.load() ||
        !receiver->takesResults())
        return Outcome::Ignored;
    if (receiver->showsResult())
        return Outcome::Busy;
    receiver->reportResult(request.item, request.event, request.reserved);
    return Outcome::Done;
}
