// The main window under a Wayland compositor: Debian's weston with its kiosk
// shell, in a private runtime directory that this program makes, on its X11
// backend inside an Xvfb of its own (weston's headless backend has no seat, so
// no input reaches a client and no popup or move can be asked for). The window starts, Alt+Space
// typed on that display opens its system menu, and Move hands the window to
// the compositor's move (a Wayland client cannot place its own window).
// Skipped, with exit code 77, where weston, qt6-wayland, Xvfb or xdotool is
// not installed.

#include "gui_test_support.h"
#include "veltronadlg.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMenu>
#include <QProcess>
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
// own runtime directory, for as long as this object lives.
class Compositor {
public:
    Compositor() {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        m_xvfb = spawn({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                        "1024x768x24", "-nolisten", "tcp"},
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
                          "--shell=kiosk-shell.so", "--idle-time=0", "--width=1024", "--height=768",
                          std::string("--socket=") + kSocket});
        const QString socket = QDir(QString::fromStdString(m_runtimeDir)).filePath(kSocket);
        for (int i = 0; i < 200 && !QFileInfo::exists(socket); ++i)
            usleep(50 * 1000);
        m_ready = QFileInfo::exists(socket);
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

// Types keys on the compositor's X display, as a user at its keyboard would.
void typeKeys(const char *keys) {
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("key"), QString::fromLatin1(keys)});
}

} // namespace

class WaylandMoveTest : public QObject {
    Q_OBJECT

private slots:
    void moveGoesToTheCompositor() {
        QCOMPARE(QGuiApplication::platformName(), QString("wayland"));
        guitest::FakeItems items;
        guitest::MessageRecorder platform;
        CVeltronaDlg dlg(nullptr, items, platform);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        // The kiosk shell gives the new window the keyboard at once.
        QTRY_VERIFY(dlg.isActiveWindow());
        typeKeys("alt+space");
        QTRY_VERIFY(dlg.systemMenu()->isVisible());
        QAction *move = dlg.systemMenu()->actions().first();
        QCOMPARE(move->text().remove('&'), QString("Move"));
        move->trigger();
        dlg.systemMenu()->hide();
        // The compositor moves the window: the window neither follows the
        // pointer itself nor holds the mouse for it.
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QVERIFY(dlg.isVisible());
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
    WaylandMoveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_wayland_move.moc"
