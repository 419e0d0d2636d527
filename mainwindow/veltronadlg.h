#pragma once
// The main window: a captionless fixed-size window drawn by its background
// picture, with the device list, the five push buttons and the three title
// buttons. It runs the scan (two discovery requests, five seconds of replies
// turned into rows), opens a device's setting page or web page, and chooses
// the local address of the next scan.

#include "devicerow.h"
#include "kovalibrary.h"
#include "platform.h"
#include "replybridge.h"
#include "scansequence.h"
#include "settingpagedlg.h"

#include <QByteArray>
#include <QDialog>
#include <QPixmap>
#include <QPoint>
#include <QTimer>

#include <functional>
#include <vector>

class CDeviceListCtrl;
class QMenu;
class QPushButton;

namespace veltrona::ui {
class CSkinButton;
}

class CVeltronaDlg : public QDialog, private ReplyBridge::RowReceiver {
    Q_OBJECT
public:
    // Control ids.
    static constexpr int IDC_EXIT = 2;
    static constexpr int IDC_DEVICE_LIST = 1001;
    static constexpr int IDC_SCAN = 1002;
    static constexpr int IDC_CHANGE_SETTING = 1003;
    static constexpr int IDC_CLEAR_TABLE = 1004;
    static constexpr int IDC_BIND_IP = 1043;
    static constexpr int IDC_TITLE_INFO = 141;
    static constexpr int IDC_TITLE_MINIMISE = 142;
    static constexpr int IDC_TITLE_CLOSE = 143;

    // System commands.
    static constexpr unsigned IDM_ABOUTBOX = 0x0010;
    static constexpr unsigned SC_MOVE = 0xF010;
    static constexpr unsigned SC_MINIMIZE = 0xF020;
    static constexpr unsigned SC_CLOSE = 0xF060;

    // Timers.
    static constexpr int kScanEndTimer = 0;
    static constexpr int kCountdownTimer = 1;
    static constexpr int kScanEndMs = 5000;
    static constexpr int kCountdownMs = 1000;
    static constexpr int kDiscoveryGapMs = veltrona::DiscoverySequence::kGapMs;

    static constexpr int kWindowWidth = 646;
    static constexpr int kWindowHeight = 532;
    // The title band of the background picture (rows 0 to 54).
    static constexpr int kTitleBandHeight = 55;

    // Every library call of the window, its device list and its setting page
    // goes to `library`; message boxes, dialogs, the browser, the host's
    // addresses and the waits of the scan start go through `platform`.
    CVeltronaDlg(QWidget *parent, veltrona::KovaLibrary &library,
                 veltrona::ui::Platform &platform = veltrona::ui::Platform::real());
    ~CVeltronaDlg() override;

    // Handlers.
    void OnScan();
    void OnTimer(int id);
    void OnClearTable();
    void OnBindIp();
    void OnChangeSetting();
    void OnOpenWebPage();
    void OnItemChanged();
    void OnSysCommand(unsigned id);
    // A title button's command (flags = its control id) or a left-button
    // release on the background (flags = the buttons still held).
    void OnLButtonUp(unsigned flags, const QPoint &point);

    CDeviceListCtrl *deviceList() const { return m_pDeviceList; }
    QPushButton *pushButton(int id) const;
    veltrona::ui::CSkinButton *titleButton(int id) const;
    CSettingPageDlg &settingPage() { return m_settingPage; }
    QMenu *systemMenu() const { return m_pSystemMenu; }
    const QByteArray &bindingText() const { return m_strBinding; }
    int scanCountdown() const { return m_nScanCountdown; }
    bool isTimerRunning(int id) const;
    int timerInterval(int id) const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Rows come in batches, in arrival order, from the open connection only.
    // A batch larger than kRowsPerTurn (the user-interface thread was held up
    // while a burst came in) is listed in turns of about kTurnMs, the event
    // loop running in between, so that the window never stalls on it.
    void addRows(std::span<const DeviceListRow> rows) override;
    void addPendingRows();

    void OnInitDialog();
    void buildSystemMenu();
    void showSystemMenu(const QPoint &globalPos);
    void runAboutBox();
    // Hands the move to the platform, or else follows the pointer: while the
    // button is held, or (followUntilClick, the system menu's Move) until the
    // next click. Under Wayland the system menu's Move waits for the next
    // left-button press on the window instead: a compositor moves a window
    // only while a button that went down on it is held.
    void startMove(const QPoint &globalPos, bool followUntilClick);
    void stopWaitingForPress();
    const QTimer *timer(int id) const;
    // Steps of the scan start after the first discovery request. A new scan
    // start drops the step its predecessor still waits for.
    void waitThen(int ms, std::function<void()> then);
    void continueScanStart();
    void finishScanStart(int32_t sent);
    void closeLibrary();
    // After a scan that listed nothing: what this host's checks found, or
    // where to look, shown in the empty list.
    void explainEmptyScan();

    veltrona::KovaLibrary &m_library;
    veltrona::ui::Platform &m_platform;
    CDeviceListCtrl *m_pDeviceList = nullptr;
    veltrona::ui::CSkinButton *m_pInfoButton = nullptr;
    veltrona::ui::CSkinButton *m_pMinimiseButton = nullptr;
    veltrona::ui::CSkinButton *m_pCloseButton = nullptr;
    // A window of its own, owned by this one like every dialog and message
    // box the window opens: it is transient for it and opens centred over it.
    CSettingPageDlg m_settingPage;
    QByteArray m_strBinding;
    qint8 m_nScanCountdown = 5;
    // The Scan button's own text, which the countdown replaces while a scan runs.
    QString m_strScanText;
    QPixmap m_background;
    QMenu *m_pSystemMenu = nullptr;
    QTimer m_scanEndTimer;
    QTimer m_countdownTimer;
    veltrona::DiscoverySequence m_discovery;
    unsigned m_startStep = 0;
    static constexpr size_t kRowsPerTurn = 2048;
    static constexpr size_t kRowsPerSlice = 512;
    static constexpr qint64 kTurnMs = 20;
    std::vector<DeviceListRow> m_pendingRows; // from m_pendingDone on, still to be listed
    size_t m_pendingDone = 0;
    // A left-button press on the background, not yet dragged beyond the
    // platform's drag distance: a click moves nothing.
    bool m_bDragPending = false;
    QPoint m_dragStart;
    // The system menu's Move under Wayland, waiting for the press that starts it.
    bool m_bMoveOnPress = false;
    // Manual window move (when the platform cannot move the window itself).
    bool m_bMoving = false;
    bool m_bMoveUntilClick = false;
    bool m_bHadMouseTracking = false;
    QPoint m_moveOffset;
};
