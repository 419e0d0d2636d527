#pragma once
// Carries the library's reply events from its receive thread to the main
// window on the user-interface thread, one at a time and in arrival order; the
// receive thread waits until each is done. Requests wait in a queue guarded by
// a mutex; a queued signal wakes the user-interface thread to serve them, and a
// condition variable tells the receive thread that its request is done, so
// every hand-over of data is ordered by that mutex. The bridge lives for the whole
// process, so the receive thread never reaches an object that is gone; the
// main window it serves is held weakly and only read on the user-interface
// thread.

#include "devicerow.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

class CVeltronaDlg;

class ReplyBridge : public QObject {
    Q_OBJECT
public:
    // The process-wide bridge; made on first use, which must be on the
    // user-interface thread (the main window's construction).
    static ReplyBridge &instance();

    // The window that receives rows and configuration results.
    void attach(CVeltronaDlg *window);
    // Forgets the window (if it is the attached one) and, unless a hand-over
    // is running further up the user-interface thread's stack, waits until no
    // reply is on its way: after this, no reply reaches that window.
    void detach(CVeltronaDlg *window);

    // User-interface thread, right after the library was closed or
    // initialised: rows of replies that began before are dropped, so that a
    // reply of a closed connection never lists a device.
    void startNewConnection();

    // Receive thread: one reply event of the library.
    void OnKovaReply(HKOVAITEM item, int32_t event, int32_t reserved);

    // How long the receive thread waits between two looks at a setting page
    // that is still showing an earlier result.
    static constexpr int kBusyPollMs = 10;

signals:
    // Receive thread: a request is waiting (queued to serve()).
    void wake();

private:
    explicit ReplyBridge(QObject *parent = nullptr);

    enum class Outcome { Ignored, Busy, Done };
    struct Request {
        bool isRow = false;
        HKOVAITEM item = nullptr;
        int32_t event = 0;
        int32_t reserved = 0;
        uint64_t connection = 0;
        DEVICE_ROW row{};
        Outcome outcome = Outcome::Ignored;
        bool done = false;
    };

    // Runs the request on the user-interface thread and waits for it.
    void handOver(Request &request);
    // User-interface thread: runs every waiting request, oldest first.
    void serve();
    Outcome run(const Request &request);

    // User-interface thread only.
    QPointer<CVeltronaDlg> m_window;
    int m_serving = 0;

    // The queue and each request's outcome are guarded by this lock, never
    // held while a request runs.
    std::mutex m_requestLock;
    std::condition_variable m_requestDone;
    std::deque<Request *> m_pending;
    std::atomic<int> m_inFlight{0};
    std::atomic<bool> m_open{false};
    std::atomic<uint64_t> m_connection{0};
};
