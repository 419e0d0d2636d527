#include "replybridge.h"

#include "settingpagedlg.h"
#include "veltronadlg.h"

#include <QThread>

ReplyBridge::ReplyBridge(QObject *parent) : QObject(parent) {
    // One queued connection, made here on the user-interface thread: waking it
    // from the receive thread allocates nothing in this program, whereas a
    // queued call per request would make its call object there and leave its
    // ordering to Qt's own locking, which ThreadSanitizer cannot see.
    connect(this, &ReplyBridge::wake, this, &ReplyBridge::serve, Qt::QueuedConnection);
}

ReplyBridge &ReplyBridge::instance() {
    // Deliberately never destroyed: a receive thread may still be on its way in
    // when the process ends.
    static ReplyBridge *bridge = new ReplyBridge();
    return *bridge;
}

void ReplyBridge::attach(CVeltronaDlg *window) {
    m_window = window;
    m_open.store(true);
}

void ReplyBridge::detach(CVeltronaDlg *window) {
    if (m_window != window && !m_window.isNull())
        return;
    m_window = nullptr;
    m_open.store(false);
    if (m_serving > 0)
        return;
    // A reply that entered before the bridge closed is either still being
    // decoded or waiting for this thread: serve it (to no window) so that it
    // can finish.
    while (m_inFlight.load() > 0) {
        serve();
        QThread::msleep(1);
    }
}

void ReplyBridge::startNewConnection() {
    m_connection.fetch_add(1);
}

void ReplyBridge::OnKovaReply(HKOVAITEM item, int32_t event, int32_t reserved) {
    m_inFlight.fetch_add(1);
    if (!m_open.load()) {
        m_inFlight.fetch_sub(1);
        return;
    }
    Request request;
    // The library starts no callback of a connection after closing it, so a
    // callback that reads the count after it went up belongs to a newer one.
    request.connection = m_connection.load();
    request.item = item;
    request.event = event;
    request.reserved = reserved;
    if (event == KOVA_EVENT_DEVICE_INFO) {
        // Decoded here, on the receive thread; only the row work is handed over.
        request.isRow = veltrona::assembleDeviceRow(item, request.row);
        if (request.isRow)
            handOver(request);
    } else {
        // A configuration result for the setting page: wait while it still
        // shows an earlier one.
        for (;;) {
            handOver(request);
            if (request.outcome != Outcome::Busy || !m_open.load())
                break;
            QThread::msleep(kBusyPollMs);
        }
    }
    m_inFlight.fetch_sub(1);
}

void ReplyBridge::handOver(Request &request) {
    if (QThread::currentThread() == thread()) {
        ++m_serving;
        request.outcome = run(request);
        --m_serving;
        return;
    }
    {
        std::lock_guard lock(m_requestLock);
        request.done = false;
        m_pending.push_back(&request);
    }
    // The request itself travels through the locked queue; the signal only
    // wakes the user-interface thread to serve it.
    emit wake();
    std::unique_lock lock(m_requestLock);
    m_requestDone.wait(lock, [&request] { return request.done; });
}

void ReplyBridge::serve() {
    for (;;) {
        Request *request = nullptr;
        {
            std::lock_guard lock(m_requestLock);
            if (m_pending.empty())
                return;
            request = m_pending.front();
            m_pending.pop_front();
        }
        // The receive thread leaves its request alone until it is marked done,
        // and the queue's lock orders its writes before these reads: no copy.
        ++m_serving;
        const Outcome outcome = run(*request);
        --m_serving;
        {
            std::lock_guard lock(m_requestLock);
            request->outcome = outcome;
            request->done = true;
        }
        m_requestDone.notify_all();
    }
}

ReplyBridge::Outcome ReplyBridge::run(const Request &request) {
    CVeltronaDlg *window = m_window.data();
    if (window == nullptr)
        return Outcome::Ignored;
    if (request.isRow) {
        if (request.connection != m_connection.load())
            return Outcome::Ignored;
        window->OnDeviceRow(request.row, request.item);
        return Outcome::Done;
    }
    CSettingPageDlg &page = window->settingPage();
    if (!page.isVisible())
        return Outcome::Ignored;
    if (page.IsReportingResult())
        return Outcome::Busy;
    page.ReportUpdateResult(request.item, request.event, request.reserved);
    return Outcome::Done;
}
