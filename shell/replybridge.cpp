#include "replybridge.h"

#include "kovalibrary.h"

#include <QThread>

ReplyBridge::ReplyBridge(QObject *parent) : QObject(parent) {
    // One queued connection, made here on the user-interface thread: each wake
    // only schedules serve(); what it serves travels through the locked queues.
    connect(this, &ReplyBridge::wake, this, &ReplyBridge::serve, Qt::QueuedConnection);
    m_rowTimer.setSingleShot(true);
    connect(&m_rowTimer, &QTimer::timeout, this, &ReplyBridge::serveRows);
}

ReplyBridge &ReplyBridge::instance() {
    // Deliberately never destroyed: a receive thread may still be on its way in
    // when the process ends.
    static ReplyBridge *bridge = new ReplyBridge();
    return *bridge;
}

template <size_t N>
void ReplyBridge::replyCallback(HKOVAITEM item, int32_t event, int32_t reserved) {
    instance().onReply(N, item, event, reserved);
}

template <size_t... N>
std::array<KOVA_REPLY_CALLBACK, sizeof...(N)>
ReplyBridge::makeCallbacks(std::index_sequence<N...>) {
    return {&ReplyBridge::replyCallback<N>...};
}

const std::array<KOVA_REPLY_CALLBACK, ReplyBridge::kCallbackCount> &ReplyBridge::callbacks() {
    static const auto all = makeCallbacks(std::make_index_sequence<kCallbackCount>());
    return all;
}

// ---- receivers and connections (user-interface thread) ----------------------

void ReplyBridge::setRowReceiver(const QObject *owner, RowReceiver receiver) {
    m_rowOwner = owner;
    m_rowReceiver = std::move(receiver);
}

void ReplyBridge::setResultReceiver(const QObject *owner, ResultReceiver receiver) {
    m_resultOwner = owner;
    m_resultReceiver = std::move(receiver);
    m_resultsWanted.store(true);
}

void ReplyBridge::removeReceivers(const QObject *owner) {
    if (owner == m_rowOwner) {
        m_rowOwner = nullptr;
        m_rowReceiver = {};
    }
    if (owner != m_resultOwner)
        return;
    m_resultOwner = nullptr;
    m_resultReceiver = {};
    m_resultsWanted.store(false);
    if (m_serving > 0)
        return;
    // A result that entered before is either on its way here or waiting for
    // this thread: serve it (to no receiver) so that it can finish.
    while (m_resultsInFlight.load() > 0) {
        serve();
        QThread::msleep(1);
    }
}

KOVA_REPLY_CALLBACK ReplyBridge::openConnection() {
    m_lastSlot = (m_lastSlot + 1) % kCallbackCount;
    const uint64_t connection = ++m_connectionCount;
    m_slotConnection[m_lastSlot].store(connection);
    m_openConnection.store(connection);
    std::lock_guard lock(m_rowLock);
    m_rows.clear();
    return callbacks()[m_lastSlot];
}

void ReplyBridge::closeConnection() {
    m_openConnection.store(0);
    std::lock_guard lock(m_rowLock);
    m_rows.clear();
}

KOVA_REPLY_CALLBACK ReplyBridge::currentCallback() const {
    return m_openConnection.load() == 0 ? nullptr : callbacks()[m_lastSlot];
}

// ---- receive thread -------------------------------------------------------------

void ReplyBridge::onReply(size_t slot, HKOVAITEM item, int32_t event, int32_t reserved) {
    if (event != KOVA_EVENT_DEVICE_INFO) {
        handOverResult(item, event, reserved);
        return;
    }
    // The callback says which connection the reply came from. A row of any
    // other than the open one is dropped here already when it can be told;
    // the user-interface thread checks again when it takes the row.
    const uint64_t connection = m_slotConnection[slot].load();
    if (connection != 0 && connection == m_openConnection.load())
        queueRow(connection, item);
}

void ReplyBridge::queueRow(uint64_t connection, HKOVAITEM item) {
    QueuedRow queued{connection, {}};
    // Decoded here, on the receive thread, with the interface this reply came
    // in on; only the list work is left to the user-interface thread.
    if (!veltrona::assembleDeviceRow(veltrona::KovaLibrary::real(), item, queued.row))
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

void ReplyBridge::handOverResult(HKOVAITEM item, int32_t event, int32_t reserved) {
    m_resultsInFlight.fetch_add(1);
    ResultRequest request{item, event, reserved};
    while (m_resultsWanted.load()) {
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
            m_resultDone.wait(lock, [&request] { return request.done; });
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
    const uint64_t open = m_openConnection.load();
    for (const QueuedRow &queued : m_taken) {
        if (queued.connection == open)
            m_batch.push_back(queued.row);
    }
    m_taken.clear();
    if (!m_batch.empty() && m_rowReceiver) {
        ++m_serving;
        m_rowReceiver(m_batch);
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
    const ResultReceiver &receiver = m_resultReceiver;
    if (!receiver.report || !receiver.isOpen())
        return Outcome::Ignored;
    if (receiver.isBusy())
        return Outcome::Busy;
    receiver.report(request.item, request.event, request.reserved);
    return Outcome::Done;
}
