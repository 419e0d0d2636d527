#pragma once
// Picture buttons of the captionless main window's title band ("i", "_", "X"),
// and the registration of the main window that receives their commands.

#include <QAbstractButton>
#include <QEvent>
#include <QPixmap>

namespace veltrona::ui {

// The window that title buttons deliver their commands to: the main window,
// registered by the application for as long as it runs. Held weakly, so a
// window that is gone is never reached.
void setMainWindow(QWidget *window);
QWidget *mainWindow();

// Registers a window as the main window for the lifetime of this object and
// clears the registration afterwards (only if it still names that window).
class MainWindowRegistration {
public:
    explicit MainWindowRegistration(QWidget *window);
    ~MainWindowRegistration();
    MainWindowRegistration(const MainWindowRegistration &) = delete;
    MainWindowRegistration &operator=(const MainWindowRegistration &) = delete;

private:
    QWidget *m_window;
};

// The command of a title button, delivered synchronously (QCoreApplication::
// sendEvent) to the registered main window: the button's control id.
class TitleCommandEvent : public QEvent {
public:
    explicit TitleCommandEvent(int controlId);
    static QEvent::Type eventType();
    int controlId() const { return m_controlId; }

private:
    int m_controlId;
};

// A flat button drawn from two pictures: the up picture at rest, the pressed
// picture while it is held with the pointer over it. Pictures are drawn unscaled
// from their top-left corner and cut at the button's edges; pictures loaded by id
// follow the screen's pixel ratio (the 2x pictures on a HiDPI screen). A release whose
// position lies inside the button's rectangle, edges included on all four sides
// (x == width and y == height count), sends the button's command to the
// registered main window, after the button has been drawn up again; a release
// elsewhere (the pointer slid off while held) sends nothing.
class CSkinButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CSkinButton(int controlId, QWidget *parent = nullptr);

    int controlId() const { return m_controlId; }
    // Up picture first, pressed picture second.
    void LoadBitmaps(const QPixmap &up, const QPixmap &pressed);
    void LoadBitmaps(int upId, int pressedId);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int m_controlId;
    // The resource ids of the pictures loaded by id, 0 for pictures given as such.
    int m_upId = 0;
    int m_pressedId = 0;
    QPixmap m_up;
    QPixmap m_pressed;
};

} // namespace veltrona::ui
