// Start-up: no socket, one message and no window; otherwise the main window
// runs, registered as the main window only while it runs, and closes the
// library connection when it ends.
#include "gui_test_support.h"

#include "skinbutton.h"
#include "veltronaapp.h"
#include "veltronadlg.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

using namespace guitest;

class AppTest : public QObject {
    Q_OBJECT

    static QList<CVeltronaDlg *> mainWindows() {
        QList<CVeltronaDlg *> windows;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *dlg = qobject_cast<CVeltronaDlg *>(widget))
                windows << dlg;
        return windows;
    }

private slots:
    void noSocketMeansOneMessageAndNoWindow() {
        struct : MessageRecorder {
            bool canCreateSocket() override { return false; }
        } messages;
        int windowsDuringMessage = -1;
        messages.onMessage = [&](const QString &) {
            windowsDuringMessage = int(mainWindows().size());
        };
        CVeltronaApp app(messages);
        QCOMPARE(app.InitInstance(), false);
        QCOMPARE(messages.texts, QStringList{"Windows sockets initialization failed."});
        QCOMPARE(windowsDuringMessage, 0);
        QVERIFY(mainWindows().isEmpty());
    }

    void mainWindowRunsAndClosesTheLibraryWhenItEnds() {
        QVERIFY(veltrona::ui::Platform::real().canCreateSocket());
        QStringList calls;
        struct : veltrona::KovaLibrary {
            QStringList *calls = nullptr;
            void close() override { *calls << "close"; }
        } library;
        library.calls = &calls;

        CVeltronaDlg *seen = nullptr;
        QWidget *registered = nullptr;
        QRect geometry;
        QTimer::singleShot(50, [&] {
            const auto windows = mainWindows();
            QCOMPARE(windows.size(), 1);
            seen = windows.first();
            registered = veltrona::ui::mainWindow();
            geometry = seen->geometry();
            QVERIFY(seen->isModal());
            QTest::keyClick(seen, Qt::Key_Escape);
        });
        CVeltronaApp app(veltrona::ui::Platform::real(), library);
        QCOMPARE(app.InitInstance(), false);

        QVERIFY(seen != nullptr);
        QCOMPARE(registered, static_cast<QWidget *>(seen));
        QCOMPARE(geometry, QRect(0, 0, 646, 532));
        QCOMPARE(veltrona::ui::mainWindow(), nullptr); // the registration ended with it
        QVERIFY(mainWindows().isEmpty());
        QCOMPARE(calls, QStringList{"close"});
    }
};

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Veltrona");
    AppTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_app.moc"
