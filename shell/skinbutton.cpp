#include "skinbutton.h"

#include "dialogbuilder.h"
#include "pictures.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace veltrona::ui {

namespace {

QPointer<QWidget> &registeredMainWindow() {
    static QPointer<QWidget> window;
    return window;
}

} // namespace

void setMainWindow(QWidget *window) {
    registeredMainWindow() = window;
}

QWidget *mainWindow() {
    return registeredMainWindow().data();
}

MainWindowRegistration::MainWindowRegistration(QWidget *window) : m_window(window) {
    setMainWindow(window);
}

MainWindowRegistration::~MainWindowRegistration() {
    if (mainWindow() == m_window)
        setMainWindow(nullptr);
}

TitleCommandEvent::TitleCommandEvent(int controlId) : QEvent(eventType()), m_controlId(controlId) {}

QEvent::Type TitleCommandEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CSkinButton::CSkinButton(int controlId, QWidget *parent)
    : QAbstractButton(parent), m_controlId(controlId) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CSkinButton::LoadBitmaps(const QPixmap &up, const QPixmap &pressed) {
    m_upId = m_pressedId = 0;
    m_up = up;
    m_pressed = pressed;
    update();
}

void CSkinButton::LoadBitmaps(int upId, int pressedId) {
    const qreal ratio = devicePixelRatioF();
    LoadBitmaps(res::loadBitmap(upId, ratio), res::loadBitmap(pressedId, ratio));
    m_upId = upId;
    m_pressedId = pressedId;
}

QSize CSkinButton::sizeHint() const {
    return m_up.isNull() ? QSize(21, 21) : m_up.deviceIndependentSize().toSize();
}

void CSkinButton::paintEvent(QPaintEvent *) {
    // The window may have moved to a screen of another pixel ratio.
    const qreal ratio = devicePixelRatioF();
    if (m_upId != 0 && m_up.devicePixelRatio() != res::bitmapRatio(ratio)) {
        m_up = res::loadBitmap(m_upId, ratio);
        m_pressed = res::loadBitmap(m_pressedId, ratio);
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap &picture = isDown() && !m_pressed.isNull() ? m_pressed : m_up;
    if (picture.isNull())
        painter.fillRect(rect(), palette().button());
    else
        painter.drawPixmap(0, 0, picture);
}

void CSkinButton::mouseReleaseEvent(QMouseEvent *event) {
    const int width = this->width();
    const int height = this->height();
    const bool leftButton = event->button() == Qt::LeftButton;
    // The button's own handling first: it is drawn up before the command runs.
    QAbstractButton::mouseReleaseEvent(event);
    if (!leftButton)
        return;
    repaint();
    const QPoint at = event->position().toPoint();
    if (at.x() < 0 || at.x() > width || at.y() < 0 || at.y() > height)
        return;
    if (QWidget *receiver = mainWindow()) {
        TitleCommandEvent command(m_controlId);
        QCoreApplication::sendEvent(receiver, &command);
    }
}

} // namespace veltrona::ui
