// The main window without a network: initial state, selection, the setting
// and web pages, the scan cycle over a recorded library, Bind IP, the title
// buttons, keys, system menu and moving, and configuration results arriving
// from another thread.
#include "gui_test_support.h"

#include "aboutdlg.h"
#include "bindipdlg.h"
#include "dialog_templates.h"
#include "dialogbuilder.h"
#include "replybridge.h"
#include "settingpagedlg.h"
#include "skinbutton.h"
#include "veltronadlg.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <optional>
#include <thread>

using namespace guitest;
using veltrona::ui::CSkinButton;

namespace {

class ScanRecorder;

// The window's library: stand-in items, and the scan's calls recorded while a
// ScanRecorder is in place (the library itself otherwise).
struct WindowLibrary : FakeItems {
    ScanRecorder *recorder = nullptr;
    int32_t initialise(const KOVA_CONFIG *config) override;
    int32_t initialiseEx(const KOVA_CONFIG *config, const char *address) override;
    void close() override;
    int32_t setProtocolType(int32_t type) override;
    int32_t sendDiscovery() override;
};

// The window's platform: message boxes recorded, the setting page's item and
// web addresses recorded instead of opened, the host addresses a test sets,
// and the waits of the scan start recorded while a ScanRecorder is in place.
struct WindowPlatform : MessageRecorder {
    ScanRecorder *recorder = nullptr;
    QList<HKOVAITEM> *opened = nullptr;
    QStringList *urls = nullptr;
    std::optional<std::vector<Address>> addresses;
    // When set, every modal run goes here instead.
    std::function<int(QDialog &)> modal;
    int runModal(QDialog &dialog) override {
        if (modal)
            return modal(dialog);
        auto *page = qobject_cast<CSettingPageDlg *>(&dialog);
        if (page == nullptr)
            return MessageRecorder::runModal(dialog);
        *opened << page->DeviceItem();
        return QDialog::Rejected;
    }
    void openUrl(const QString &url) override { *urls << url; }
    std::vector<Address> hostAddresses() override {
        return addresses ? *addresses : MessageRecorder::hostAddresses();
    }
    void wait(QObject *context, int ms, std::function<void()> then) override;
};

// The library calls of the scan, as text, with the sleeps between them, while
// it lives.
class ScanRecorder {
public:
    ScanRecorder(WindowLibrary &library, WindowPlatform &platform)
        : m_library(library), m_platform(platform), m_previous(library.recorder) {
        m_library.recorder = m_platform.recorder = this;
    }
    ~ScanRecorder() { m_library.recorder = m_platform.recorder = m_previous; }

    int32_t initialise(const KOVA_CONFIG *config) {
        calls << "init";
        this->config = *config;
        return initResult;
    }
    int32_t initialiseEx(const KOVA_CONFIG *config, const char *address) {
        calls << QStringLiteral("initEx:%1").arg(QString::fromLatin1(address));
        this->config = *config;
        return initResult;
    }
    void close() {
        calls << "close";
        ++closes;
    }
    int32_t setProtocolType(int32_t type) {
        calls << QStringLiteral("proto:%1").arg(type);
        return KOVA_OK;
    }
    int32_t sendDiscovery() {
        calls << "send";
        ++sends;
        return sends == 1 ? firstSendResult : secondSendResult;
    }
    void wait(int ms, std::function<void()> then) {
        calls << QStringLiteral("sleep:%1").arg(ms);
        if (holdWaits)
            held.push_back(std::move(then));
        else
            then();
    }

    QStringList calls;
    KOVA_CONFIG config{};
    int32_t initResult = KOVA_OK;
    int32_t firstSendResult = KOVA_OK;
    int32_t secondSendResult = KOVA_OK;
    int sends = 0;
    int closes = 0;
    // When set, each wait's continuation is kept for the test to run.
    bool holdWaits = false;
    std::vector<std::function<void()>> held;

private:
    WindowLibrary &m_library;
    WindowPlatform &m_platform;
    ScanRecorder *m_previous;
};

int32_t WindowLibrary::initialise(const KOVA_CONFIG *config) {
    return recorder ? recorder->initialise(config) : FakeItems::initialise(config);
}
int32_t WindowLibrary::initialiseEx(const KOVA_CONFIG *config, const char *address) {
    return recorder ? recorder->initialiseEx(config, address)
                    : FakeItems::initialiseEx(config, address);
}
void WindowLibrary::close() {
    recorder ? recorder->close() : FakeItems::close();
}
int32_t WindowLibrary::setProtocolType(int32_t type) {
    return recorder ? recorder->setProtocolType(type) : FakeItems::setProtocolType(type);
}
int32_t WindowLibrary::sendDiscovery() {
    return recorder ? recorder->sendDiscovery() : FakeItems::sendDiscovery();
}
void WindowPlatform::wait(QObject *context, int ms, std::function<void()> then) {
    if (recorder)
        recorder->wait(ms, std::move(then));
    else
        MessageRecorder::wait(context, ms, std::move(then));
}

const QStringList kDiscoveries = {"proto:4", "send",      "sleep:100", "proto:2",
                                  "send",    "sleep:100", "proto:1"};

// Closes the next modal dialog of type T once it is up, after `act` has run
// on it; counts how many were seen.
template <typename T> struct ModalCloser {
    int seen = 0;
    std::function<void(T *)> act;
    void arm() {
        QTimer::singleShot(10, [this] {
            auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                arm();
                return;
            }
            ++seen;
            if (act)
                act(dialog);
            else
                dialog->reject();
        });
    }
};

void sendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QRect rowRect(CDeviceListCtrl *list, int row) {
    return list->visualRect(list->model()->index(row, 0));
}

// A receiver of title commands standing in for the main window.
class CommandSink : public QWidget {
public:
    QList<int> commands;
    bool event(QEvent *event) override {
        if (event->type() == veltrona::ui::TitleCommandEvent::eventType()) {
            commands << static_cast<veltrona::ui::TitleCommandEvent *>(event)->controlId();
            return true;
        }
        return QWidget::event(event);
    }
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CVeltronaDlg> m_dlg;
    std::unique_ptr<WindowLibrary> m_items;
    std::unique_ptr<WindowPlatform> m_platform;
    QList<HKOVAITEM> m_opened;
    QStringList m_urls;

    void addRows(int count) {
        for (int i = 0; i < count; ++i) {
            RowFields fields;
            fields.mac = mac(uint8_t(i + 1));
            fields.ip = "10.0.0." + std::to_string(i + 1);
            fields.web = i % 2 == 0 ? 8080 : 0;
            const DEVICE_ROW row = makeRow(fields);
            m_dlg->deviceList()->AddDevice(&row, m_items->make(fields.mac));
        }
    }
    QPushButton *button(int id) { return m_dlg->pushButton(id); }

private slots:
    void init() {
        m_items = std::make_unique<WindowLibrary>();
        m_platform = std::make_unique<WindowPlatform>();
        m_opened.clear();
        m_urls.clear();
        m_platform->opened = &m_opened;
        m_platform->urls = &m_urls;
        m_dlg = std::make_unique<CVeltronaDlg>(nullptr, *m_items, *m_platform);
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    void cleanup() {
        m_dlg.reset();
        m_platform.reset();
        m_items.reset();
    }

    void initialState() {
        QCOMPARE(m_dlg->geometry(), QRect(0, 0, 646, 532));
        QVERIFY(m_dlg->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(m_dlg->windowTitle(), QString("Veltrona"));
        QVERIFY(!m_dlg->windowIcon().isNull());
        QCOMPARE(m_dlg->focusWidget(), button(CVeltronaDlg::IDC_EXIT));

        // Every control of the template, by id, with its text and place in the
        // dialog font's units.
        const auto *tpl = veltrona::res::findDialogTemplate(veltrona::res::IDD_VELTRONA_DIALOG);
        const veltrona::ui::DialogUnits units(veltrona::ui::dialogFont(*tpl));
        QCOMPARE(tpl->controls.size(), size_t(9));
        for (const auto &c : tpl->controls) {
            QWidget *control = veltrona::ui::controlById(m_dlg.get(), c.id);
            QVERIFY2(control != nullptr, qPrintable(QString::number(c.id)));
            QCOMPARE(control->geometry(), units.rect(c.x, c.y, c.cx, c.cy));
            QVERIFY(control->isVisible());
        }
        const std::pair<int, const char *> pushButtons[] = {{2, "Exit"},
                                                            {1002, "Scan"},
                                                            {1003, "Change Setting..."},
                                                            {1004, "Clear Table"},
                                                            {1043, "Bind IP"}};
        for (const auto &[id, text] : pushButtons) {
            QCOMPARE(button(id)->text(), QString(text));
            QCOMPARE(button(id)->isEnabled(), id != 1003);
            QVERIFY(!button(id)->isDefault());
            QVERIFY(!button(id)->autoDefault());
        }
        for (int id : {141, 142, 143}) {
            CSkinButton *title = m_dlg->titleButton(id);
            QVERIFY(title != nullptr);
            QCOMPARE(title->focusPolicy(), Qt::NoFocus);
            QCOMPARE(title->size(), QSize(units.x(12), units.y(11)));
        }
        QCOMPARE(m_dlg->deviceList()->header()->count(), 11);
        QCOMPARE(m_dlg->deviceList()->GetItemCount(), 0);
        QCOMPARE(m_dlg->bindingText(), QByteArray("ANY"));
        QCOMPARE(m_dlg->scanCountdown(), 5);

        // The background: surround, bands and white panel where the picture has them.
        const QImage face = m_dlg->grab().toImage();
        QCOMPARE(face.pixelColor(2, 300), QColor(0x6E, 0x69, 0x69));
        QCOMPARE(face.pixelColor(643, 300), QColor(0x6E, 0x69, 0x69));
        QCOMPARE(face.pixelColor(300, 58), QColor(0xE6, 0xE6, 0xE6));
        QCOMPARE(face.pixelColor(300, 511), QColor(0xFF, 0xFF, 0xFF));
    }

    void selectionEnablesChangeSetting() {
        addRows(3);
        CDeviceListCtrl *list = m_dlg->deviceList();
        QVERIFY(!button(1003)->isEnabled());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowRect(list, 1).center());
        QCOMPARE(list->GetFirstSelectedItem(), 1);
        QVERIFY(button(1003)->isEnabled());
        QTest::mouseClick(button(1003), Qt::LeftButton);
        QCOMPARE(m_opened, QList<HKOVAITEM>{list->GetItemData(1)});

        // A double-click on a row opens that row's device, as the button does.
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowRect(list, 2).center());
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_opened.last(), list->GetItemData(2));

        // The setting page checks a change against the rows listed then.
        ListedDevices listed;
        emit m_dlg->settingPage().listedDevicesRequested(mac(2).data(), &listed);
        QCOMPARE(listed.devices.size(), size_t(3));
        QCOMPARE(listed.devices[1].mac, std::string("02-4B-56-00-00-02"));
        QCOMPARE(listed.devices[1].address, 0x0A000002u);
        QCOMPARE(listed.places, (std::vector<veltrona::Place>{{"10.0.0.2", ""}}));
        // A static device holds its configured address too, as the client counts it.
        RowFields fields;
        fields.mac = mac(4);
        fields.ip = "10.0.0.4";
        DeviceListRow configured{makeRow(fields), m_items->make(fields.mac)};
        std::strcpy(configured.configuredAddress, "10.0.0.40");
        m_dlg->deviceList()->AddDevices({&configured, 1});
        emit m_dlg->settingPage().listedDevicesRequested(mac(2).data(), &listed);
        QCOMPARE(listed.devices.size(), size_t(5));
        QCOMPARE(listed.devices[4].mac, std::string("02-4B-56-00-00-04"));
        QCOMPARE(listed.devices[4].address, 0x0A000028u);

        // With the rows gone there is nothing to open.
        list->DeleteAllItems();
        m_dlg->OnChangeSetting();
        QCOMPARE(m_opened.size(), 2);
    }

    void rightDoubleClickOpensTheWebPage() {
        addRows(2); // row 0 has web port 8080, row 1 "N/A"
        CDeviceListCtrl *list = m_dlg->deviceList();
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, rowRect(list, 0).center());
        QVERIFY(m_urls.isEmpty());
        QVERIFY(m_opened.isEmpty());
        QTest::mouseDClick(list->viewport(), Qt::RightButton, {}, rowRect(list, 0).center());
        QCOMPARE(m_urls, QStringList{"http://10.0.0.1:8080/"});
        QTest::mouseDClick(list->viewport(), Qt::RightButton, {}, rowRect(list, 1).center());
        QCOMPARE(m_urls.last(), QString("http://10.0.0.2/"));
        QVERIFY(m_opened.isEmpty());
        list->clearSelection();
        m_dlg->OnOpenWebPage();
        QCOMPARE(m_urls.size(), 2);
    }

    void scanCountsDownAndEnds() {
        ScanRecorder library(*m_items, *m_platform);
        library.holdWaits = true;
        addRows(2);
        QTest::mouseClick(button(1002), Qt::LeftButton);
        // The start goes on from timers; from the first discovery on nothing
        // can start it again or clear the table.
        QCOMPARE(library.calls, QStringList{"init"} + kDiscoveries.mid(0, 3));
        QVERIFY(!button(1002)->isEnabled());
        QVERIFY(!button(1004)->isEnabled());
        QVERIFY(!m_dlg->isTimerRunning(0));
        for (size_t step = 0; step < 2; ++step) {
            const auto next = library.held.at(step); // running it adds the next step
            next();
        }
        QCOMPARE(library.calls, QStringList{"init"} + kDiscoveries);
        QVERIFY(library.config.replyCallback != nullptr);
        QVERIFY(library.config.replyCallback == ReplyBridge::instance().currentCallback());
        QVERIFY(library.config.errorCallback == nullptr);
        QCOMPARE(library.config.classId, 2);
        QCOMPARE(m_dlg->deviceList()->GetItemCount(), 0);
        QVERIFY(!button(1002)->isEnabled());
        QVERIFY(!button(1004)->isEnabled());
        QVERIFY(button(2)->isEnabled());
        QVERIFY(button(1043)->isEnabled());
        QCOMPARE(button(1002)->text(), QString("Scan"));
        QVERIFY(m_dlg->isTimerRunning(0));
        QVERIFY(m_dlg->isTimerRunning(1));
        QCOMPARE(m_dlg->timerInterval(0), 5000);
        QCOMPARE(m_dlg->timerInterval(1), 1000);

        for (const char *caption : {"4", "3", "2", "1"}) {
            m_dlg->OnTimer(1);
            QCOMPARE(button(1002)->text(), QString(caption));
        }
        library.calls.clear();
        m_dlg->OnTimer(0);
        QCOMPARE(library.calls, QStringList{"close"});
        QCOMPARE(button(1002)->text(), QString("Scan"));
        QVERIFY(button(1002)->isEnabled());
        QVERIFY(button(1004)->isEnabled());
        QVERIFY(!m_dlg->isTimerRunning(0));
        QVERIFY(!m_dlg->isTimerRunning(1));
        QCOMPARE(m_dlg->scanCountdown(), 5);

        // The next scan counts from 4 again, and the countdown may reach 0 when
        // its tick comes before the scan end.
        m_dlg->OnScan();
        m_dlg->OnTimer(1);
        QCOMPARE(button(1002)->text(), QString("4"));
        for (int i = 0; i < 4; ++i)
            m_dlg->OnTimer(1);
        QCOMPARE(button(1002)->text(), QString("0"));
        m_dlg->OnTimer(0);
        QCOMPARE(button(1002)->text(), QString("Scan"));
    }

    void scanWhenTheLibraryCannotStart() {
        ScanRecorder library(*m_items, *m_platform);
        MessageRecorder &messages = *m_platform;
        messages.onMessage = [&](const QString &) { library.calls << "message"; };
        library.initResult = KOVA_ERR_SOCKET;
        library.firstSendResult = library.secondSendResult = KOVA_ERR_NOT_INITIALISED;
        m_dlg->OnScan();
        QCOMPARE(messages.texts, QStringList{"Error : initialising kova..."});
        QCOMPARE(library.calls, QStringList({"init", "message", "close"}) + kDiscoveries);
        QVERIFY(button(1002)->isEnabled());
        QVERIFY(button(1004)->isEnabled());
        QCOMPARE(button(1002)->text(), QString("Scan"));
        QVERIFY(!m_dlg->isTimerRunning(0));
        QVERIFY(!m_dlg->isTimerRunning(1));
    }

    void scanWhenOnlyTheSecondSendFails() {
        ScanRecorder library(*m_items, *m_platform);
        library.secondSendResult = KOVA_ERR_SOCKET;
        m_dlg->OnScan();
        QCOMPARE(library.calls, QStringList{"init"} + kDiscoveries); // the library stays open
        QVERIFY(button(1002)->isEnabled());
        QVERIFY(!m_dlg->isTimerRunning(0));

        // The first send failing alone does not stop the scan.
        ScanRecorder again(*m_items, *m_platform);
        again.firstSendResult = KOVA_ERR_SOCKET;
        m_dlg->OnScan();
        QVERIFY(m_dlg->isTimerRunning(0));
        m_dlg->OnTimer(0);
    }

    void clearTable() {
        ScanRecorder library(*m_items, *m_platform);
        addRows(3);
        QTest::mouseClick(button(1004), Qt::LeftButton);
        QCOMPARE(m_dlg->deviceList()->GetItemCount(), 0);
        QTest::mouseClick(button(1004), Qt::LeftButton);
        QCOMPARE(library.calls, QStringList({"close", "close"}));
        QVERIFY(button(1002)->isEnabled());
    }

    void bindIpChoosesTheNextScansAddress() {
        ScanRecorder library(*m_items, *m_platform);
        MessageRecorder &messages = *m_platform;
        m_platform->addresses = {{10, 0, 0, 5}, {192, 168, 7, 9}};
        ModalCloser<CBindIpDlg> cancel;
        cancel.arm();
        QTest::mouseClick(button(1043), Qt::LeftButton);
        QCOMPARE(cancel.seen, 1);
        QCOMPARE(messages.texts.last(), QString("Use original setting: ANY"));

        ModalCloser<CBindIpDlg> choose;
        choose.act = [](CBindIpDlg *dialog) {
            dialog->AddressList()->setCurrentIndex(2);
            dialog->accept();
        };
        choose.arm();
        m_dlg->OnBindIp();
        QCOMPARE(messages.texts.last(), QString("Bind to 192.168.7.9"));
        QCOMPARE(m_dlg->bindingText(), QByteArray("192.168.7.9"));
        QVERIFY(library.calls.isEmpty()); // the library is not touched here

        m_dlg->OnScan();
        QCOMPARE(library.calls.first(), QString("initEx:192.168.7.9"));
        m_dlg->OnTimer(0);

        ModalCloser<CBindIpDlg> cancelAgain;
        cancelAgain.arm();
        m_dlg->OnBindIp();
        QCOMPARE(messages.texts.last(), QString("Use original setting: 192.168.7.9"));
        QCOMPARE(messages.texts.size(), 3);
    }

    void titleButtons() {
        const veltrona::ui::MainWindowRegistration registration(m_dlg.get());
        CSkinButton *info = m_dlg->titleButton(141);
        CSkinButton *minimise = m_dlg->titleButton(142);
        CSkinButton *close = m_dlg->titleButton(143);
        const QPoint inside(10, 9);
        const QColor red(0xED, 0x1B, 0x23);

        // "i": red while held, dark again before the about box opens.
        ModalCloser<CAboutDlg> about;
        QColor colourWhenOpened;
        about.act = [&](CAboutDlg *dialog) {
            colourWhenOpened = info->grab().toImage().pixelColor(10, 11);
            dialog->reject();
        };
        about.arm();
        sendMouse(info, QEvent::MouseButtonPress, inside, Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(info->grab().toImage().pixelColor(10, 11), red);
        sendMouse(info, QEvent::MouseButtonRelease, inside, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(about.seen, 1);
        QVERIFY(colourWhenOpened != red);

        // "X": sliding off cancels; off and back on closes.
        sendMouse(close, QEvent::MouseButtonPress, inside, Qt::LeftButton, Qt::LeftButton);
        sendMouse(close, QEvent::MouseMove, QPoint(40, 9), Qt::NoButton, Qt::LeftButton);
        QVERIFY(close->grab().toImage().pixelColor(10, 9) != red);
        sendMouse(close, QEvent::MouseButtonRelease, QPoint(40, 9), Qt::LeftButton, Qt::NoButton);
        QVERIFY(m_dlg->isVisible());
        QCOMPARE(about.seen, 1);

        // "_": a release on the corner (x = width, y = height) still counts.
        sendMouse(minimise, QEvent::MouseButtonPress, inside, Qt::LeftButton, Qt::LeftButton);
        const QPoint corner(minimise->width(), minimise->height());
        sendMouse(minimise, QEvent::MouseButtonRelease, corner, Qt::LeftButton, Qt::NoButton);
        QVERIFY(m_dlg->isMinimized());
        m_dlg->showNormal();
        // One pixel further is outside.
        sendMouse(minimise, QEvent::MouseButtonPress, inside, Qt::LeftButton, Qt::LeftButton);
        sendMouse(minimise, QEvent::MouseButtonRelease, corner + QPoint(1, 0), Qt::LeftButton,
                  Qt::NoButton);
        QVERIFY(!m_dlg->isMinimized());

        sendMouse(close, QEvent::MouseButtonPress, inside, Qt::LeftButton, Qt::LeftButton);
        sendMouse(close, QEvent::MouseMove, QPoint(40, 9), Qt::NoButton, Qt::LeftButton);
        sendMouse(close, QEvent::MouseMove, inside, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(close->grab().toImage().pixelColor(10, 9), red);
        sendMouse(close, QEvent::MouseButtonRelease, inside, Qt::LeftButton, Qt::NoButton);
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
    }

    void titleCommandsGoToTheRegisteredWindowOnly() {
        CommandSink sink;
        QWidget elsewhere;
        CSkinButton button(142, &elsewhere);
        button.resize(21, 20);
        button.LoadBitmaps(145, 144);
        auto click = [&] {
            sendMouse(&button, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton,
                      Qt::LeftButton);
            sendMouse(&button, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::LeftButton,
                      Qt::NoButton);
        };
        click(); // nothing registered: nothing sent
        QVERIFY(sink.commands.isEmpty());
        {
            const veltrona::ui::MainWindowRegistration registration(&sink);
            click();
            QCOMPARE(sink.commands, QList<int>{142});
            // A release whose press began elsewhere (no press on the button).
            sendMouse(&button, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::LeftButton,
                      Qt::NoButton);
            QCOMPARE(sink.commands.size(), 2);
            // A double-click is two clicks: a command at each release inside,
            // none at the second press (sliding off after it still cancels).
            click();
            sendMouse(&button, QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::LeftButton,
                      Qt::LeftButton);
            QCOMPARE(sink.commands.size(), 3);
            QVERIFY(button.isDown());
            sendMouse(&button, QEvent::MouseMove, QPoint(40, 5), Qt::NoButton, Qt::LeftButton);
            sendMouse(&button, QEvent::MouseButtonRelease, QPoint(40, 5), Qt::LeftButton,
                      Qt::NoButton);
            QCOMPARE(sink.commands.size(), 3);
        }
        QCOMPARE(veltrona::ui::mainWindow(), nullptr);
        click();
        QCOMPARE(sink.commands.size(), 3);
        // A background release's key-state flags are never a command.
        m_dlg->OnLButtonUp(Qt::LeftButton, QPoint(5, 5));
        QVERIFY(m_dlg->isVisible());
    }

    void escapeEndsTheWindow() {
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
    }

    void enterInTheListEndsTheWindow() {
        addRows(1);
        m_dlg->deviceList()->setFocus();
        QTest::keyClick(m_dlg->deviceList(), Qt::Key_Return);
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->result(), int(QDialog::Accepted));
    }

    void enterPressesTheFocusedButton() {
        ScanRecorder library(*m_items, *m_platform);
        button(1002)->setFocus();
        QTest::keyClick(button(1002), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(m_dlg->isVisible());
        QCOMPARE(library.calls.first(), QString("init"));
        m_dlg->OnTimer(0);
        button(2)->setFocus();
        QTest::keyClick(button(2), Qt::Key_Return);
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
    }

    void systemMenu() {
        QMenu *menu = m_dlg->systemMenu();
        const auto actions = menu->actions();
        QCOMPARE(actions.size(), 5);
        QCOMPARE(actions[0]->text().remove('&'), QString("Move"));
        QCOMPARE(actions[1]->text().remove('&'), QString("Minimize"));
        QCOMPARE(actions[2]->text().remove('&'), QString("Close"));
        QVERIFY(actions[3]->isSeparator());
        QCOMPARE(actions[4]->text(), QString("About ..."));

        ModalCloser<CAboutDlg> about;
        about.arm();
        actions[4]->trigger();
        QCOMPARE(about.seen, 1);

        // A right click on the title band opens it.
        QTest::mouseClick(m_dlg.get(), Qt::RightButton, {}, QPoint(300, 20));
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
        QTest::mouseClick(m_dlg.get(), Qt::RightButton, {}, QPoint(300, 200)); // on the list
        QVERIFY(!menu->isVisible());

        // Move: the window follows the pointer until the next click.
        const QPoint before = m_dlg->pos();
        const QPoint cursor = QCursor::pos();
        actions[0]->trigger();
        auto moveTo = [&](QPoint global) {
            QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(global), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(m_dlg.get(), &move);
        };
        moveTo(cursor + QPoint(25, 15));
        QCOMPARE(m_dlg->pos(), before + QPoint(25, 15));
        sendMouse(m_dlg.get(), QEvent::MouseButtonPress, QPoint(1, 1), Qt::LeftButton,
                  Qt::LeftButton);
        sendMouse(m_dlg.get(), QEvent::MouseButtonRelease, QPoint(1, 1), Qt::LeftButton,
                  Qt::NoButton);
        moveTo(cursor + QPoint(60, 60));
        QCOMPARE(m_dlg->pos(), before + QPoint(25, 15));

        actions[1]->trigger();
        QVERIFY(m_dlg->isMinimized());
        m_dlg->showNormal();
        actions[2]->trigger();
        QVERIFY(!m_dlg->isVisible());
    }

    void altSpaceOpensTheSystemMenu_data() {
        QTest::addColumn<int>("focus");
        QTest::newRow("Exit, focused at start") << 2;
        QTest::newRow("Scan") << 1002;
        QTest::newRow("device list") << 1001;
    }
    void altSpaceOpensTheSystemMenu() {
        QFETCH(int, focus);
        ScanRecorder library(*m_items, *m_platform);
        addRows(1);
        QWidget *focused = veltrona::ui::controlById(m_dlg.get(), focus);
        focused->setFocus();
        QTest::keyClick(focused, Qt::Key_Space, Qt::AltModifier);
        QTRY_VERIFY(m_dlg->systemMenu()->isVisible());
        m_dlg->systemMenu()->hide();
        // The focused control did not take the key: no click, no scan.
        QVERIFY(m_dlg->isVisible());
        QVERIFY(library.calls.isEmpty());
    }

    // Every dialog and message box is transient for the main window (the
    // authentication dialog through the setting page it opens over) and opens
    // centred over it.
    void dialogsOpenOverTheWindow_data() {
        QTest::addColumn<QString>("opening");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<int>("messages");
        QTest::newRow("about, title button") << "i"
                                             << "CAboutDlg" << 0;
        QTest::newRow("about, system menu") << "about"
                                            << "CAboutDlg" << 0;
        QTest::newRow("bind ip") << "bind ip"
                                 << "CBindIpDlg" << 1;
        QTest::newRow("setting page") << "change setting"
                                      << "CSettingPageDlg" << 0;
        QTest::newRow("authentication") << "apply"
                                        << "CAuthenticationDlg" << 0;
        QTest::newRow("scan failure") << "scan"
                                      << "" << 1;
        QTest::newRow("message box") << "message"
                                     << "QMessageBox" << 0;
    }
    void dialogsOpenOverTheWindow() {
        QFETCH(QString, opening);
        QFETCH(QString, dialog);
        QFETCH(int, messages);
        QWindow *main = m_dlg->windowHandle();
        const QPoint centre = m_dlg->frameGeometry().center();
        QStringList faults;
        QStringList opened;
        auto check = [&](QWidget *window) {
            opened << QString::fromLatin1(window->metaObject()->className());
            QWindow *owner = window->windowHandle()->transientParent();
            while (owner != nullptr && owner != main)
                owner = owner->transientParent();
            if (owner != main)
                faults << opened.last() + " is not transient for the main window";
            if ((window->frameGeometry().center() - centre).manhattanLength() > 2)
                faults << opened.last() + " is not centred over the main window";
        };
        m_platform->modal = [&](QDialog &shown) {
            shown.show();
            check(&shown);
            shown.hide();
            return int(QDialog::Rejected);
        };
        ScanRecorder library(*m_items, *m_platform);
        library.initResult = KOVA_ERR_SOCKET;
        CSettingPageDlg &page = m_dlg->settingPage();
        if (opening == "i") {
            m_dlg->OnLButtonUp(CVeltronaDlg::IDC_TITLE_INFO, QPoint());
        } else if (opening == "about") {
            m_dlg->OnSysCommand(CVeltronaDlg::IDM_ABOUTBOX);
        } else if (opening == "bind ip") {
            m_dlg->OnBindIp();
        } else if (opening == "change setting") {
            addRows(1);
            CDeviceListCtrl *list = m_dlg->deviceList();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowRect(list, 0).center());
            m_dlg->OnChangeSetting();
        } else if (opening == "apply") {
            page.SetDeviceItem(m_items->make(mac(1)));
            page.OnInitDialog();
            page.show();
            page.AskCredentials();
            page.hide();
            page.OnDestroy();
        } else if (opening == "scan") {
            m_dlg->OnScan();
            m_dlg->OnTimer(CVeltronaDlg::kScanEndTimer);
        } else {
            ModalCloser<QMessageBox> close;
            close.act = [&](QMessageBox *box) {
                check(box);
                box->accept();
            };
            close.arm();
            veltrona::ui::Platform::real().messageBox(m_dlg.get(), QStringLiteral("text"));
        }
        if (!dialog.isEmpty())
            QCOMPARE(opened.join(" "), dialog);
        // The window's own message boxes name it as their owner.
        QCOMPARE(m_platform->owners.size(), messages);
        for (QWidget *owner : m_platform->owners) {
            if (owner == nullptr || owner->window() != m_dlg.get())
                faults << "a message box of the window has another owner";
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
    }

    void backgroundDragMovesTheWindow() {
        const QPoint start = m_dlg->pos();
        sendMouse(m_dlg.get(), QEvent::MouseButtonPress, QPoint(300, 20), Qt::LeftButton,
                  Qt::LeftButton);
        sendMouse(m_dlg.get(), QEvent::MouseMove, QPoint(340, 50), Qt::NoButton, Qt::LeftButton);
        sendMouse(m_dlg.get(), QEvent::MouseButtonRelease, QPoint(340, 50), Qt::LeftButton,
                  Qt::NoButton);
        QCOMPARE(m_dlg->pos(), start + QPoint(40, 30));
        QVERIFY(m_dlg->isVisible());

        // A press on the list moves nothing.
        const QPoint before = m_dlg->pos();
        CDeviceListCtrl *list = m_dlg->deviceList();
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
        QTest::mouseMove(list->viewport(), QPoint(90, 90));
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, QPoint(90, 90));
        QCOMPARE(m_dlg->pos(), before);
    }

    void configurationResultsFromTheReceiveThread() {
        MessageRecorder &messages = *m_platform;
        CSettingPageDlg &page = m_dlg->settingPage();
        ScanRecorder pageLibrary(*m_items, *m_platform); // the page's library is the window's
        int &closes = pageLibrary.closes;
        HKOVAITEM item = m_items->make(mac(1));
        const KOVA_REPLY_CALLBACK callback = ReplyBridge::instance().openConnection(*m_items);

        auto deliver = [&](int32_t event) {
            std::atomic<bool> done{false};
            std::thread receive([&] {
                callback(item, event, 0);
                done = true;
            });
            QTRY_VERIFY(done.load());
            receive.join();
        };
        // Page closed: ignored, no message.
        deliver(KOVA_EVENT_SUCCESS);
        QVERIFY(messages.texts.isEmpty());

        page.show();
        deliver(KOVA_EVENT_SUCCESS);
        QCOMPARE(messages.texts, QStringList{"Success"});
        QVERIFY(!messages.offGuiThread);
        QCOMPARE(closes, 1);

        // A result that arrives while the page still shows the previous one
        // waits for it.
        std::atomic<bool> secondDone{false};
        std::thread second;
        QStringList order;
        messages.onMessage = [&](const QString &text) {
            order << "show:" + text;
            if (second.joinable())
                return;
            second = std::thread([&] {
                callback(item, KOVA_EVENT_AUTH_FAILED, 0);
                secondDone = true;
            });
            QTest::qWait(80); // the second result polls meanwhile
            QVERIFY(!secondDone.load());
            order << "end:" + text;
        };
        deliver(KOVA_EVENT_SUCCESS);
        QTRY_VERIFY(secondDone.load());
        second.join();
        QCOMPARE(order,
                 QStringList({"show:Success", "end:Success", "show:Authentication Failed!"}));
        QCOMPARE(closes, 3);

        // A result still waiting for this thread when a new connection opens
        // gives up (opening waits for the old connection's calls, and must not
        // wait for this one forever) and is never shown.
        messages.onMessage = nullptr;
        messages.texts.clear();
        std::atomic<bool> waiting{false};
        std::thread stale([&] {
            waiting = true;
            callback(item, KOVA_EVENT_AUTH_FAILED, 0);
        });
        while (!waiting.load())
            std::this_thread::yield();
        QThread::msleep(20); // no event is processed: the result waits here
        ReplyBridge::instance().openConnection(*m_items);
        stale.join();
        QTest::qWait(20);
        QVERIFY(messages.texts.isEmpty());
        page.hide();

        // A device-information event whose item cannot be decoded adds nothing.
        deliver(KOVA_EVENT_DEVICE_INFO);
        QTest::qWait(20);
        QCOMPARE(m_dlg->deviceList()->GetItemCount(), 0);
    }

    void windowEndsWhileRepliesArrive() {
        HKOVAITEM item = m_items->make(mac(1));
        const KOVA_REPLY_CALLBACK callback = ReplyBridge::instance().openConnection(*m_items);
        std::atomic<bool> stop{false};
        std::atomic<int> calls{0};
        std::thread receive([&] {
            while (!stop.load()) {
                callback(item, KOVA_EVENT_STATUS_1, 0);
                ++calls;
            }
        });
        QTRY_VERIFY(calls.load() > 20);
        m_dlg.reset(); // must not wait for the receive thread forever
        const int after = calls.load();
        QTRY_VERIFY(calls.load() > after + 1000); // callbacks now return at once
        stop = true;
        receive.join();
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
