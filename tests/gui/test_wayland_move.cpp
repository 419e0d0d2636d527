// The main window and its dialogs under a Wayland compositor: Debian's weston
// in a private runtime directory that this program makes, on its X11 backend
// inside an Xvfb of its own (weston's headless backend has no seat, so no
// input reaches a client and no popup or move can be asked for). The shell is
// the environment's VELTRONA_WESTON_SHELL: "kiosk" (the default) or
// "desktop", whose title bars offer maximize on every window.
//   kiosk:   Alt+Space opens the system menu; Move (its key, M) waits for a
//            press and hands the window to the compositor (which does not
//            move it).
//   desktop: the system menu's Move (clicked) followed by a drag, and a drag
//            on the background, move the window, a click does not; a
//            maximize request of the title bar or of the compositor's key on
//            any of the program's windows is undone and the program lives on
//            with its edits.
// Skipped, with exit code 77, where weston, qt6-wayland, Xvfb or xdotool is
// not installed.

#include "gui_test_support.h"

#include "aboutdlg.h"
#include "authenticationdlg.h"
#include "bindipdlg.h"
#include "dialogbuilder.h"
#include "networkpagedlg.h"
#include "settingpagedlg.h"
#include "veltronadlg.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSkipped = 77;
constexpr const char *kSocket = "veltrona-test";

QString shell() {
    return qEnvironmentVariable("VELTRONA_WESTON_SHELL", QStringLiteral("kiosk"));
}

pid_t spawn(const std::vector<std::string> &command, int keepFd = -1) {
    const pid_t pid = fork();
    if (pid == 0) {
        // Ends with this program, however it ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != keepFd)
                close(fd);
        }
        std::vector<char *> argv;
        for (const std::string &arg : command)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

// An X display of its own with weston on it, serving a Wayland socket in its
// own runtime directory, for as long as this object lives. Weston's 1024 x 768
// window lies in the top-left corner of a larger X screen.
class Compositor {
public:
    Compositor() {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        m_xvfb = spawn({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                        "1100x800x24", "-nolisten", "tcp"},
                       pipeFds[1]);
        close(pipeFds[1]);
        // Xvfb writes the number of the display it found free, then a newline.
        std::string number;
        char c = 0;
        while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(pipeFds[0]);
        if (number.empty())
            return;
        m_display = ":" + number;

        char dir[] = "/tmp/veltrona-wayland-XXXXXX";
        if (mkdtemp(dir) == nullptr)
            return;
        m_runtimeDir = dir;
        setenv("DISPLAY", m_display.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir, 1);
        m_weston = spawn({"weston", "--backend=x11-backend.so", "--use-pixman", "--no-config",
                          "--shell=" + shell().toStdString() + "-shell.so", "--idle-time=0",
                          "--width=1024", "--height=768", std::string("--socket=") + kSocket});
        const QString socket = QDir(QString::fromStdString(m_runtimeDir)).filePath(kSocket);
        for (int i = 0; i < 200 && !QFileInfo::exists(socket); ++i)
            usleep(50 * 1000);
        m_ready = QFileInfo::exists(socket);
        if (m_ready) {
            // The X pointer starts in the middle of the screen, inside
            // weston's window, and weston's X11 backend then now and then
            // misses its moves there for seconds (its own pointer stays in
            // the panel's corner and no window sees one). Taken out of that
            // window and back, the pointer enters it, and weston follows it
            // from there; X sends the keys to the window under the pointer.
            for (const char *x : {"1090", "1000"}) {
                const pid_t out = spawn({"xdotool", "mousemove", x, "760"});
                waitpid(out, nullptr, 0);
            }
        }
    }
    ~Compositor() {
        stop(m_weston);
        stop(m_xvfb);
        if (!m_runtimeDir.empty())
            QDir(QString::fromStdString(m_runtimeDir)).removeRecursively();
    }
    Compositor(const Compositor &) = delete;
    Compositor &operator=(const Compositor &) = delete;

    bool ready() const { return m_ready; }

private:
    pid_t m_xvfb = -1;
    pid_t m_weston = -1;
    std::string m_display;
    std::string m_runtimeDir;
    bool m_ready = false;
};

// Runs xdotool on the compositor's X display, as a user at its keyboard and
// mouse would, and lets the window see what follows.
void xdo(const QStringList &arguments, int settleMs = 300) {
    QProcess::execute(QStringLiteral("xdotool"), arguments);
    QTest::qWait(settleMs);
}

void typeKeys(const char *keys) {
    xdo({QStringLiteral("key"), QString::fromLatin1(keys)}, 0);
}

void pointerTo(QPoint at) {
    xdo({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
}

// Where the window's top-left corner is on the compositor's screen: the
// pointer is put on `probe` (a point that lies on the window), and Qt under
// Wayland knows the pointer only in the window's own coordinates.
QPoint locate(QPoint probe) {
    pointerTo(probe + QPoint(3, 3));
    pointerTo(probe);
    return probe - QCursor::pos();
}

// Presses the left button at `from`, drags it by `by` in steps, releases.
void drag(QPoint from, QPoint by) {
    pointerTo(from);
    xdo({QStringLiteral("mousedown"), QStringLiteral("1")});
    for (int step = 1; step <= 4; ++step)
        pointerTo(from + by * step / 4);
    xdo({QStringLiteral("mouseup"), QStringLiteral("1")});
}

// Counts the state changes of a window.
class StateWatcher : public QObject {
public:
    int changes = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::WindowStateChange)
            ++changes;
        return false;
    }
};

} // namespace

class WaylandTest : public QObject {
    Q_OBJECT

    // A point on every possible place of the main window: the desktop shell
    // puts a new window anywhere on its 1024 x 768 screen below its panel.
    static constexpr QPoint kOnTheWindow{512, 400};
    // A point of the window's background: its title band, left of the buttons.
    static constexpr QPoint kBackground{200, 20};

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QString("wayland")); }

    void moveGoesToTheCompositor() {
        guitest::FakeItems items;
        guitest::MessageRecorder platform;
        CVeltronaDlg dlg(nullptr, items, platform);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTRY_VERIFY(dlg.isActiveWindow());
        QVERIFY(dlg.childAt(kBackground) == nullptr);
        const bool desktop = shell() == QLatin1String("desktop");
        // A Wayland client grabs the pointer only for its popups.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("grabbing the mouse")));
        const QPoint origin = desktop ? locate(kOnTheWindow) : QPoint();

        // Alt+Space held as a hand holds it: weston takes the menu's grab
        // only with the serial of the seat's latest key event, so a menu
        // asked for after the keys went up would be dismissed at once.
        xdo({QStringLiteral("keydown"), QStringLiteral("alt+space")}, 0);
        QTRY_VERIFY(dlg.systemMenu()->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(dlg.systemMenu()));
        xdo({QStringLiteral("keyup"), QStringLiteral("alt+space")});
        QVERIFY(dlg.systemMenu()->isVisible());
        QAction *move = dlg.systemMenu()->actions().first();
        QCOMPARE(move->text().remove('&'), QString("Move"));
        if (desktop) {
            // Chosen with the mouse: the menu opens at the window's corner.
            pointerTo(origin + dlg.systemMenu()->actionGeometry(move).center());
            xdo({QStringLiteral("click"), QStringLiteral("1")});
        } else {
            typeKeys("m");
        }
        QTRY_VERIFY(!dlg.systemMenu()->isVisible());
        // No button is held: the window waits for the press that the
        // compositor's move needs (showing the move cursor), and does not
        // follow the pointer itself.
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::SizeAllCursor);
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        if (!desktop) {
            // The kiosk shows the window in the middle of its screen.
            xdo({QStringLiteral("mousemove"), QStringLiteral("512"), QStringLiteral("384"),
                 QStringLiteral("click"), QStringLiteral("1")});
            QTRY_VERIFY(QGuiApplication::overrideCursor() == nullptr);
            QVERIFY(dlg.isVisible());
            return;
        }
        // The press and the drag that follow move the window.
        drag(origin + kBackground, QPoint(40, 30));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QCOMPARE(locate(kOnTheWindow + QPoint(40, 30)), origin + QPoint(40, 30));

        // A drag on the background moves it too; a click does not.
        drag(origin + QPoint(40, 30) + kBackground, QPoint(-60, 20));
        const QPoint moved = origin + QPoint(-20, 50);
        QCOMPARE(locate(kOnTheWindow + QPoint(-20, 50)), moved);
        pointerTo(moved + kBackground);
        xdo({QStringLiteral("click"), QStringLiteral("1")});
        pointerTo(moved + kBackground + QPoint(30, 30));
        QCOMPARE(locate(kOnTheWindow + QPoint(-20, 50)), moved);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    // Every window of the program, asked to maximize as the title bar's
    // button asks (or by the compositor's own key): the request is undone,
    // the window keeps its size, and the program lives on with its edits.
    void maximizeIsUndone_data() {
        if (shell() != QLatin1String("desktop"))
            QSKIP("the kiosk shell keeps every window full screen");
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("compositorKey");
        QTest::newRow("main window") << "main" << false;
        QTest::newRow("main window, compositor's key") << "main" << true;
        QTest::newRow("about box") << "about" << false;
        QTest::newRow("Bind IP") << "bind ip" << false;
        QTest::newRow("setting page") << "setting page" << false;
        QTest::newRow("authentication") << "authentication" << false;
        QTest::newRow("message box") << "message box" << false;
    }
    void maximizeIsUndone() {
        QFETCH(QString, window);
        QFETCH(bool, compositorKey);
        guitest::FakeItems items;
        guitest::MessageRecorder platform;
        CVeltronaDlg dlg(nullptr, items, platform);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        CSettingPageDlg &page = dlg.settingPage();
        std::unique_ptr<QWidget> owned;
        QWidget *shown = &dlg;
        QLineEdit *edit = nullptr;
        if (window == "about") {
            owned = std::make_unique<CAboutDlg>(&dlg);
        } else if (window == "bind ip") {
            owned = std::make_unique<CBindIpDlg>(&dlg, platform);
        } else if (window == "setting page") {
            page.SetDeviceItem(items.make(guitest::mac(1)));
            page.OnInitDialog();
            shown = &page;
            edit = veltrona::ui::controlAs<QLineEdit>(page.NetworkPage(), CNetworkPageDlg::IDC_MTU);
        } else if (window == "authentication") {
            auto auth = std::make_unique<CAuthenticationDlg>(&dlg, platform);
            edit = veltrona::ui::controlAs<QLineEdit>(auth.get(), CAuthenticationDlg::IDC_PASSWORD);
            owned = std::move(auth);
        } else if (window == "message box") {
            auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QString("Veltrona"),
                                                     QString("text"), QMessageBox::Ok, &dlg);
            veltrona::ui::keepNormalState(box.get());
            owned = std::move(box);
        }
        if (owned)
            shown = owned.get();
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        QTRY_VERIFY(shown->isActiveWindow());
        QString typed;
        if (edit != nullptr) {
            edit->setFocus();
            QTest::keyClicks(edit, "1400");
            typed = edit->text();
            QVERIFY(typed.endsWith("1400"));
        }
        const QSize size = shown->size();
        StateWatcher states;
        shown->installEventFilter(&states);

        if (compositorKey)
            typeKeys("super+shift+m");
        else
            shown->windowHandle()->setWindowStates(Qt::WindowMaximized);
        QTRY_VERIFY(states.changes >= 2); // maximized, then back
        QTRY_COMPARE(shown->windowState(), Qt::WindowNoState);
        QTRY_COMPARE(shown->size(), size);
        // A frame drawn at the wrong size would have ended the connection by now.
        QTest::qWait(500);
        QVERIFY(shown->isVisible());
        QCOMPARE(shown->size(), size);
        if (edit != nullptr)
            QCOMPARE(edit->text(), typed);
        shown->removeEventFilter(&states);
        shown->hide();
        if (shown == &page)
            page.OnDestroy();
    }
};

int main(int argc, char **argv) {
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    for (const char *program : {"weston", "Xvfb", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            std::printf("SKIP: %s is not installed\n", program);
            return kSkipped;
        }
    }
    if (!QFileInfo::exists(plugins + QStringLiteral("/platforms/libqwayland-generic.so"))) {
        std::puts("SKIP: qt6-wayland is not installed");
        return kSkipped;
    }
    Compositor compositor;
    if (!compositor.ready()) {
        std::puts("FAIL: weston did not start");
        return 1;
    }
    setenv("WAYLAND_DISPLAY", kSocket, 1);
    setenv("QT_QPA_PLATFORM", "wayland", 1);
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(veltrona);
    WaylandTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_wayland_move.moc"
