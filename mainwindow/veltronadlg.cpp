#include "veltronadlg.h"

#include "aboutdlg.h"
#include "bindipdlg.h"
#include "devicelistctrl.h"
#include "dialog_templates.h"
#include "dialogbuilder.h"
#include "pictures.h"
#include "replybridge.h"
#include "skinbutton.h"
#include "version.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QWindow>

using veltrona::ui::CSkinButton;

CVeltronaDlg::CVeltronaDlg(QWidget *parent, veltrona::KovaLibrary &library,
                           veltrona::ui::Platform &platform)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint),
      m_library(library), m_platform(platform), m_settingPage(this, library, platform),
      m_discovery(library) {
    veltrona::res::initResources();
    m_scanEndTimer.setInterval(kScanEndMs);
    m_countdownTimer.setInterval(kCountdownMs);
    connect(&m_scanEndTimer, &QTimer::timeout, this, [this] { OnTimer(kScanEndTimer); });
    connect(&m_countdownTimer, &QTimer::timeout, this, [this] { OnTimer(kCountdownTimer); });
    m_background = veltrona::res::loadBitmap(veltrona::res::IDB_BACKGROUND, devicePixelRatioF());
    OnInitDialog();
    // Rows come in batches, in arrival order, from the open connection only.
    ReplyBridge::instance().setRowReceiver(this);
    // A change is checked against the devices listed when it is sent.
    connect(&m_settingPage, &CSettingPageDlg::listedDevicesRequested, this,
            [this](const uint8_t *mac, ListedDevices *listed) {
                listed->devices = m_pDeviceList->HeardDevices();
                listed->places = m_pDeviceList->ReplyPlaces(mac);
            });
}

CVeltronaDlg::~CVeltronaDlg() {
    // No reply may reach this window once it is gone: close the connection,
    // then let any reply already on its way finish without it.
    m_scanEndTimer.stop();
    m_countdownTimer.stop();
    closeLibrary();
    ReplyBridge::instance().removeReceiver(static_cast<ReplyBridge::RowReceiver *>(this));
}

void CVeltronaDlg::addRows(std::span<const DeviceListRow> rows) {
    if (m_pendingRows.empty() && rows.size() <= kRowsPerTurn) {
        m_pDeviceList->AddDevices(rows);
        return;
    }
    const bool scheduled = !m_pendingRows.empty();
    m_pendingRows.insert(m_pendingRows.end(), rows.begin(), rows.end());
    if (!scheduled)
        addPendingRows();
}

void CVeltronaDlg::addPendingRows() {
    if (m_pendingRows.empty())
        return; // a new scan or a cleared table dropped them
    // Slices of rows until the turn's time is used up: many of a burst's rows
    // repeat a listed device and cost next to nothing, so a count alone would
    // take many turns, each with its repaint, for few new rows.
    QElapsedTimer turn;
    turn.start();
    do {
        const size_t count = std::min(kRowsPerSlice, m_pendingRows.size() - m_pendingDone);
        m_pDeviceList->AddDevices({m_pendingRows.data() + m_pendingDone, count});
        m_pendingDone += count;
    } while (m_pendingDone < m_pendingRows.size() && turn.elapsed() < kTurnMs);
    if (m_pendingDone < m_pendingRows.size()) {
        QTimer::singleShot(0, this, [this] { addPendingRows(); });
        return;
    }
    std::vector<DeviceListRow>().swap(m_pendingRows);
    m_pendingDone = 0;
}

void CVeltronaDlg::OnInitDialog() {
    namespace res = veltrona::res;
    const res::DialogTemplate &tpl = *res::findDialogTemplate(res::IDD_VELTRONA_DIALOG);
    veltrona::ui::buildDialog(this, tpl, [this](const res::ControlTemplate &c, QWidget *parent) {
        QWidget *widget = nullptr;
        switch (c.id) {
        case IDC_DEVICE_LIST:
            widget = m_pDeviceList = new CDeviceListCtrl(parent, m_library, m_platform);
            break;
        case IDC_TITLE_INFO:
            widget = m_pInfoButton = new CSkinButton(c.id, parent);
            break;
        case IDC_TITLE_MINIMISE:
            widget = m_pMinimiseButton = new CSkinButton(c.id, parent);
            break;
        case IDC_TITLE_CLOSE:
            widget = m_pCloseButton = new CSkinButton(c.id, parent);
            break;
        default:
            break;
        }
        return widget;
    });

    setWindowTitle(QString::fromLatin1(res::kProductName));
    setFixedSize(kWindowWidth, kWindowHeight);
    move(0, 0);
    raise();
    buildSystemMenu();
    setWindowIcon(res::appIcon());

    m_pDeviceList->InitColumns();
    connect(m_pDeviceList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CVeltronaDlg::OnItemChanged);
    connect(m_pDeviceList, &CDeviceListCtrl::leftDoubleClicked, this,
            &CVeltronaDlg::OnChangeSetting);
    connect(m_pDeviceList, &CDeviceListCtrl::rightDoubleClicked, this,
            &CVeltronaDlg::OnOpenWebPage);
    pushButton(IDC_CHANGE_SETTING)->setEnabled(false);
    m_strScanText = pushButton(IDC_SCAN)->text();

    m_pInfoButton->LoadBitmaps(res::IDB_INFO_UP, res::IDB_INFO_DOWN);
    m_pMinimiseButton->LoadBitmaps(res::IDB_MINIMISE_UP, res::IDB_MINIMISE_DOWN);
    m_pCloseButton->LoadBitmaps(res::IDB_CLOSE_UP, res::IDB_CLOSE_DOWN);

    connect(pushButton(IDC_EXIT), &QPushButton::clicked, this, &QDialog::reject);
    connect(pushButton(IDC_SCAN), &QPushButton::clicked, this, &CVeltronaDlg::OnScan);
    connect(pushButton(IDC_CHANGE_SETTING), &QPushButton::clicked, this,
            &CVeltronaDlg::OnChangeSetting);
    connect(pushButton(IDC_CLEAR_TABLE), &QPushButton::clicked, this, &CVeltronaDlg::OnClearTable);
    connect(pushButton(IDC_BIND_IP), &QPushButton::clicked, this, &CVeltronaDlg::OnBindIp);

    // The title buttons show pictures only, and the scan button a countdown
    // while it scans.
    veltrona::ui::nameControls(this, {{IDC_TITLE_INFO, tr("About")},
                                      {IDC_TITLE_MINIMISE, tr("Minimize")},
                                      {IDC_TITLE_CLOSE, tr("Close")},
                                      {IDC_DEVICE_LIST, tr("Devices")},
                                      {IDC_SCAN, tr("Scan")}});
    m_pDeviceList->setAccessibleDescription(
        tr("Devices that answered the last scan. Double-click a row to change its settings, "
           "right double-click it to open its web page."));
    pushButton(IDC_SCAN)->setAccessibleDescription(
        tr("Lists the devices on the local network for five seconds"));
    pushButton(IDC_BIND_IP)
        ->setAccessibleDescription(tr("Chooses the local address that the next scan uses"));

    m_strBinding = "ANY";
    pushButton(IDC_EXIT)->setFocus(Qt::OtherFocusReason);
}

QPushButton *CVeltronaDlg::pushButton(int id) const {
    return veltrona::ui::controlAs<QPushButton>(this, id);
}

CSkinButton *CVeltronaDlg::titleButton(int id) const {
    return veltrona::ui::controlAs<CSkinButton>(this, id);
}

const QTimer *CVeltronaDlg::timer(int id) const {
    if (id == kScanEndTimer)
        return &m_scanEndTimer;
    return id == kCountdownTimer ? &m_countdownTimer : nullptr;
}

bool CVeltronaDlg::isTimerRunning(int id) const {
    const QTimer *t = timer(id);
    return t != nullptr && t->isActive();
}

int CVeltronaDlg::timerInterval(int id) const {
    const QTimer *t = timer(id);
    return t != nullptr ? t->interval() : -1;
}

// ---- system menu, title buttons, painting and moving ------------------------

void CVeltronaDlg::buildSystemMenu() {
    m_pSystemMenu = new QMenu(this);
    m_pSystemMenu->addAction(tr("&Move"), this, [this] { OnSysCommand(SC_MOVE); });
    m_pSystemMenu->addAction(tr("Mi&nimize"), this, [this] { OnSysCommand(SC_MINIMIZE); });
    m_pSystemMenu->addAction(tr("&Close"), this, [this] { OnSysCommand(SC_CLOSE); });
    // Alt+Space opens the menu whatever has the focus: a window shortcut is
    // matched before the focused widget sees the key (a push button would
    // take the Space as a click).
    auto *key = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    key->setContext(Qt::WindowShortcut);
    connect(key, &QShortcut::activated, this,
            [this] { showSystemMenu(mapToGlobal(QPoint(0, 0))); });
    const QString about = tr(veltrona::res::kAboutMenuText);
    if (!about.isEmpty()) {
        m_pSystemMenu->addSeparator();
        m_pSystemMenu->addAction(about, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }
}

void CVeltronaDlg::showSystemMenu(const QPoint &globalPos) {
    m_pSystemMenu->popup(globalPos);
}

void CVeltronaDlg::OnSysCommand(unsigned id) {
    switch (id & 0xFFF0) {
    case IDM_ABOUTBOX:
        runAboutBox();
        break;
    case SC_MOVE:
        startMove(QCursor::pos(), true);
        break;
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_CLOSE:
        close();
        break;
    default:
        break;
    }
}

void CVeltronaDlg::runAboutBox() {
    CAboutDlg about(this);
    m_platform.runModal(about);
}

void CVeltronaDlg::OnLButtonUp(unsigned flags, const QPoint &) {
    switch (flags) {
    case IDC_TITLE_INFO:
        runAboutBox();
        break;
    case IDC_TITLE_MINIMISE:
        OnSysCommand(SC_MINIMIZE);
        break;
    case IDC_TITLE_CLOSE:
        OnSysCommand(SC_CLOSE);
        break;
    default:
        break;
    }
}

bool CVeltronaDlg::event(QEvent *event) {
    if (event->type() == veltrona::ui::TitleCommandEvent::eventType()) {
        const auto *command = static_cast<veltrona::ui::TitleCommandEvent *>(event);
        OnLButtonUp(static_cast<unsigned>(command->controlId()), QPoint());
        return true;
    }
    return QDialog::event(event);
}

void CVeltronaDlg::paintEvent(QPaintEvent *) {
    // The window may have moved to a screen of another pixel ratio.
    const qreal ratio = devicePixelRatioF();
    if (m_background.devicePixelRatio() != veltrona::res::bitmapRatio(ratio))
        m_background = veltrona::res::loadBitmap(veltrona::res::IDB_BACKGROUND, ratio);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The picture is 640 pixels wide; the six columns beyond it get its
    // surround colour.
    painter.fillRect(rect(), QColor(0x6E, 0x69, 0x69));
    painter.drawPixmap(0, 0, m_background);
}

void CVeltronaDlg::startMove(const QPoint &globalPos, bool followUntilClick) {
    if (followUntilClick && QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // No button is held now, so the compositor would not take the move:
        // the next press on the window starts it. The press is taken where it
        // enters the window, before the control under the pointer sees it: a
        // Wayland client can grab the pointer only for its popups.
        if (windowHandle() == nullptr)
            return;
        m_bMoveOnPress = true;
        windowHandle()->installEventFilter(this);
        QGuiApplication::setOverrideCursor(Qt::SizeAllCursor);
        return;
    }
    // The platform moves the window where it can: a Wayland compositor lets
    // no client place its own window. Where it refuses (no window manager),
    // the window moves itself.
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_bMoving = true;
    m_bMoveUntilClick = followUntilClick;
    m_moveOffset = globalPos - pos();
    if (followUntilClick) {
        // No button is held while it follows the pointer: moves arrive only
        // with mouse tracking on.
        m_bHadMouseTracking = hasMouseTracking();
        setMouseTracking(true);
        grabMouse(Qt::SizeAllCursor);
    }
}

void CVeltronaDlg::stopWaitingForPress() {
    if (!m_bMoveOnPress)
        return;
    m_bMoveOnPress = false;
    if (windowHandle() != nullptr)
        windowHandle()->removeEventFilter(this);
    QGuiApplication::restoreOverrideCursor();
}

bool CVeltronaDlg::eventFilter(QObject *watched, QEvent *event) {
    if (m_bMoveOnPress && watched == windowHandle() && event->type() == QEvent::MouseButtonPress) {
        // The press that the system menu's Move waited for: the compositor
        // moves the window while it is held. Any other button cancels.
        const auto *press = static_cast<QMouseEvent *>(event);
        stopWaitingForPress();
        if (press->button() == Qt::LeftButton)
            startMove(press->globalPosition().toPoint(), false);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CVeltronaDlg::hideEvent(QHideEvent *event) {
    stopWaitingForPress();
    QDialog::hideEvent(event);
}

void CVeltronaDlg::mousePressEvent(QMouseEvent *event) {
    if (m_bMoving && m_bMoveUntilClick) {
        m_bMoving = m_bMoveUntilClick = false;
        releaseMouse();
        setMouseTracking(m_bHadMouseTracking);
        event->accept();
        return;
    }
    const QPoint at = event->position().toPoint();
    const bool onBackground = childAt(at) == nullptr;
    if (onBackground && event->button() == Qt::LeftButton) {
        // The move starts once the pointer has gone beyond the drag distance
        // with the button held. Started on the press, a click whose release
        // comes before the window manager takes the move (a tap, a quick
        // click) would leave the window stuck to the pointer.
        m_bDragPending = true;
        m_dragStart = event->globalPosition().toPoint();
        event->accept();
        return;
    }
    if (onBackground && event->button() == Qt::RightButton && at.y() < kTitleBandHeight) {
        showSystemMenu(event->globalPosition().toPoint());
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CVeltronaDlg::mouseMoveEvent(QMouseEvent *event) {
    if (m_bDragPending) {
        const QPoint global = event->globalPosition().toPoint();
        if (!(event->buttons() & Qt::LeftButton)) {
            m_bDragPending = false;
        } else if ((global - m_dragStart).manhattanLength() >= QApplication::startDragDistance()) {
            m_bDragPending = false;
            startMove(m_dragStart, false);
            if (m_bMoving)
                move(global - m_moveOffset);
        }
        event->accept();
        return;
    }
    if (m_bMoving) {
        move(event->globalPosition().toPoint() - m_moveOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CVeltronaDlg::mouseReleaseEvent(QMouseEvent *event) {
    m_bDragPending = false;
    if (m_bMoving && !m_bMoveUntilClick)
        m_bMoving = false;
    if (event->button() == Qt::LeftButton)
        OnLButtonUp(static_cast<unsigned>(event->buttons().toInt()), event->position().toPoint());
    QDialog::mouseReleaseEvent(event);
}

void CVeltronaDlg::keyPressEvent(QKeyEvent *event) {
    if (m_bMoveOnPress && event->key() == Qt::Key_Escape) {
        // Escape gives up a Move that waits for its press, as it would a
        // move in progress; the window stays.
        stopWaitingForPress();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // The dialog builder lets a focused push button take Enter itself;
        // anywhere else Enter is the OK command, which ends the window.
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- list notifications ------------------------------------------------------

void CVeltronaDlg::OnItemChanged() {
    pushButton(IDC_CHANGE_SETTING)->setEnabled(m_pDeviceList->GetSelectedCount() != 0);
}

void CVeltronaDlg::OnChangeSetting() {
    const int row = m_pDeviceList->GetFirstSelectedItem();
    if (row < 0)
        return;
    HKOVAITEM item = m_pDeviceList->GetItemData(row);
    if (item == nullptr)
        return;
    m_settingPage.SetBindingText(m_strBinding);
    m_settingPage.SetDeviceItem(item);
    m_settingPage.DoModal();
}

void CVeltronaDlg::OnOpenWebPage() {
    const int row = m_pDeviceList->GetFirstSelectedItem();
    if (row < 0)
        return;
    const QString ip = m_pDeviceList->GetItemText(row, veltrona::ColIpAddress);
    const QString web = m_pDeviceList->GetItemText(row, veltrona::ColWeb);
    const QString url = web == QLatin1String("N/A") ? QStringLiteral("http://%1/").arg(ip)
                                                    : QStringLiteral("http://%1:%2/").arg(ip, web);
    m_platform.openUrl(this, url, [this, url](bool opened) {
        if (!opened)
            m_platform.messageBox(
                this, tr("The web page %1 could not be opened: no web browser took it.").arg(url));
    });
}

// ---- scan cycle ---------------------------------------------------------------

void CVeltronaDlg::closeLibrary() {
    m_library.close();
    ReplyBridge::instance().closeConnection();
}

void CVeltronaDlg::waitThen(int ms, std::function<void()> then) {
    m_platform.wait(this, ms, [this, step = ++m_startStep, then = std::move(then)] {
        if (step == m_startStep)
            then();
    });
}

void CVeltronaDlg::OnScan() {
    m_pDeviceList->DeleteAllItems();
    std::vector<DeviceListRow>().swap(m_pendingRows);
    m_pendingDone = 0;

    KOVA_CONFIG config{};
    config.replyCallback = ReplyBridge::instance().openConnection(m_library);
    config.errorCallback = nullptr;
    config.classId = KOVA_CLASS_ID;
    const int32_t initialised = veltrona::initialiseForBinding(
        m_library, config, std::string_view(m_strBinding.constData(), size_t(m_strBinding.size())));
    if (initialised != KOVA_OK) {
        m_platform.messageBox(this, tr("Error : initialising kova..."));
        closeLibrary();
    }

    m_discovery = veltrona::DiscoverySequence(m_library);
    const int gap = m_discovery.next();
    // The rest of the start runs on the platform's clock; nothing can start it
    // again or clear the table meanwhile.
    pushButton(IDC_SCAN)->setEnabled(false);
    pushButton(IDC_CLEAR_TABLE)->setEnabled(false);
    waitThen(gap, [this] { continueScanStart(); });
}

void CVeltronaDlg::continueScanStart() {
    const int gap = m_discovery.next();
    if (gap >= 0) {
        waitThen(gap, [this] { continueScanStart(); });
        return;
    }
    // The second request decides whether the scan goes on.
    finishScanStart(m_discovery.secondResult());
}

void CVeltronaDlg::finishScanStart(int32_t sent) {
    if (sent != KOVA_OK) {
        pushButton(IDC_SCAN)->setEnabled(true);
        pushButton(IDC_CLEAR_TABLE)->setEnabled(true);
        return;
    }
    m_scanEndTimer.start();
    m_countdownTimer.start();
}

void CVeltronaDlg::OnTimer(int id) {
    if (id == kCountdownTimer) {
        --m_nScanCountdown;
        pushButton(IDC_SCAN)->setText(QString::number(m_nScanCountdown));
    } else if (id == kScanEndTimer) {
        m_scanEndTimer.stop();
        pushButton(IDC_SCAN)->setText(m_strScanText);
        pushButton(IDC_SCAN)->setEnabled(true);
        pushButton(IDC_CLEAR_TABLE)->setEnabled(true);
        m_countdownTimer.stop();
        // A change applied during the scan has replaced the scan's connection
        // with its own; that one stays open for the device's answer, and the
        // setting page closes it once the answer is reported. No row is listed
        // from it after the scan end either way.
        if (!m_settingPage.IsAwaitingResult())
            m_library.close();
        ReplyBridge::instance().closeConnection();
        m_nScanCountdown = 5;
        if (m_pDeviceList->GetItemCount() == 0)
            explainEmptyScan();
    }
}

void CVeltronaDlg::explainEmptyScan() {
    const unsigned scan = m_startStep;
    m_platform.checkHost(this, m_strBinding, [this, scan](const QStringList &findings) {
        // Only for the scan that asked, while its list is still empty.
        if (scan != m_startStep || m_pDeviceList->GetItemCount() != 0 || m_scanEndTimer.isActive())
            return;
        QString text = tr("No device answered the scan.");
        if (findings.isEmpty()) {
            text += QLatin1Char('\n') + tr("To check this host's network, run "
                                           "\"veltrona-cli doctor\" in a terminal.");
        } else {
            text += QLatin1Char('\n') + tr("This host's checks found:");
            for (const QString &finding : findings)
                text += QLatin1Char('\n') + finding;
            text += QLatin1Char('\n') + tr("Details: \"veltrona-cli doctor\" in a terminal.");
        }
        m_pDeviceList->ShowEmptyText(text);
    });
}

void CVeltronaDlg::OnClearTable() {
    m_pDeviceList->DeleteAllItems();
    std::vector<DeviceListRow>().swap(m_pendingRows);
    m_pendingDone = 0;
    closeLibrary();
}

void CVeltronaDlg::OnBindIp() {
    CBindIpDlg dialog(this, m_platform);
    dialog.SetBindingText(m_strBinding);
    QString text;
    if (m_platform.runModal(dialog) == QDialog::Accepted) {
        // At most 17 characters, as the binding text holds.
        m_strBinding = dialog.BindingText().left(17);
        text = tr("Bind to %1").arg(QString::fromLatin1(m_strBinding));
    } else {
        text = tr("Use original setting: %1").arg(QString::fromLatin1(m_strBinding));
    }
    m_platform.messageBox(this, text);
}
