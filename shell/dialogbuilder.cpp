#include "dialogbuilder.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <vector>

namespace veltrona::ui {

namespace {

constexpr const char *kIdProperty = "veltronaControlId";

// Enter on a focused push button presses that button. Without this the
// key would reach the dialog, which presses its default button instead.
class EnterPressesButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (button == nullptr)
            return false;
        if (button->isEnabled())
            button->click();
        return true;
    }
};

constexpr Qt::WindowStates kStatesNotTaken = Qt::WindowMaximized | Qt::WindowFullScreen;

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool isFixedSize(const QWidget *window) {
    return window->minimumSize() == window->maximumSize();
}

class NormalStateKeeper : public QObject {
public:
    using QObject::QObject;

private:
    // Under Wayland: the platform window takes any size (bounded: only the
    // widget's own), so that a maximized configure is answered with its size.
    static void boundPlatformWindow(QWidget *window, bool bounded) {
        if (!onWayland() || window->windowHandle() == nullptr || !isFixedSize(window))
            return;
        window->windowHandle()->setMaximumSize(bounded ? window->maximumSize()
                                                       : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        auto *window = qobject_cast<QWidget *>(watched);
        if (window == nullptr || !window->isWindow())
            return false;
        switch (event->type()) {
        case QEvent::Show:
            // Before the compositor first sees the window: no maximum size
            // for the platform window, the widget keeps its own.
            boundPlatformWindow(window, false);
            break;
        case QEvent::WindowStateChange:
            // Full screen may be smaller than the screen (a kiosk keeps its
            // windows full screen, centred); maximized may not.
            boundPlatformWindow(window, window->windowState() == Qt::WindowFullScreen);
            // The compositor gives a maximized window its own size back when
            // it leaves that state; a size of the window's own before that
            // would not match the state it still has there.
            if (window->windowState() & Qt::WindowMaximized)
                m_leaving = true;
            if (window->windowState() & kStatesNotTaken) {
                QTimer::singleShot(0, window, [window] {
                    window->setWindowState(window->windowState() & ~kStatesNotTaken);
                });
            }
            break;
        case QEvent::Resize:
            // A size the compositor gave (a maximized state just left, or a
            // drag on the title bar's edges) goes back to the window's own.
            if (m_leaving) {
                m_leaving = window->size() != window->minimumSize();
                break;
            }
            // A layout that sizes its window (a message box's) has just given
            // the platform window its size as the maximum again.
            boundPlatformWindow(window, window->windowState() == Qt::WindowFullScreen);
            if (onWayland() && isFixedSize(window) && window->size() != window->minimumSize()) {
                QTimer::singleShot(0, window, [window] {
                    if (!(window->windowState() & Qt::WindowMaximized) &&
                        window->size() != window->minimumSize())
                        window->resize(window->minimumSize());
                });
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    // The maximized state is being left: the window's size is the
    // compositor's until it has.
    bool m_leaving = false;
};

QWidget *standardControl(const res::ControlTemplate &c, QWidget *parent) {
    const QString text = templateText(c.text);
    switch (c.kind) {
    case res::ControlKind::PushButton:
    case res::ControlKind::DefPushButton:
    case res::ControlKind::OwnerDrawButton: {
        auto *button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        button->setDefault(c.kind == res::ControlKind::DefPushButton);
        button->setFlat((c.style & res::Flat) != 0);
        return button;
    }
    case res::ControlKind::PushLikeCheckBox: {
        auto *button = new QPushButton(text, parent);
        button->setCheckable(true);
        button->setAutoDefault(false);
        return button;
    }
    case res::ControlKind::AutoRadio:
        return new QRadioButton(text, parent);
    case res::ControlKind::AutoCheckBox:
        return new QCheckBox(text, parent);
    case res::ControlKind::Edit:
    case res::ControlKind::IpAddress: {
        auto *edit = new QLineEdit(text, parent);
        if (c.style & res::Password)
            edit->setEchoMode(QLineEdit::Password);
        edit->setFrame((c.style & res::Border) != 0 || c.kind == res::ControlKind::IpAddress);
        return edit;
    }
    case res::ControlKind::Static: {
        auto *label = new QLabel(text, parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case res::ControlKind::Icon:
        return new QLabel(parent);
    case res::ControlKind::BlackFrame: {
        auto *frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
        return frame;
    }
    case res::ControlKind::GroupBox:
        return new QGroupBox(text, parent);
    case res::ControlKind::ListView: {
        auto *list = new QTreeWidget(parent);
        list->setRootIsDecorated(false);
        return list;
    }
    case res::ControlKind::DropDownList:
        return new QComboBox(parent);
    }
    return new QWidget(parent);
}

} // namespace

void keepNormalState(QWidget *window) {
    window->setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    window->installEventFilter(new NormalStateKeeper(window));
}

QString templateText(const char *text) {
    return QCoreApplication::translate(res::kTextContext, text);
}

QFont dialogFont(const res::DialogTemplate &dialog) {
    if (qstrcmp(dialog.fontFace, "System") == 0) {
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPointSize(dialog.fontPointSize);
        font.setBold(true);
        return font;
    }
    QFont font(qstrcmp(dialog.fontFace, "Arial") == 0 ? QStringLiteral("Liberation Sans")
                                                      : QString::fromLatin1(dialog.fontFace));
    font.setPointSize(dialog.fontPointSize);
    return font;
}

DialogUnits::DialogUnits(const QFont &font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseWidth = (width / 26 + 1) / 2;
    m_baseHeight = metrics.height();
}

QRect DialogUnits::rect(int left, int top, int cx, int cy) const {
    return QRect(x(left), y(top), x(cx), y(cy));
}

DialogUnits buildDialog(QWidget *dialog, const res::DialogTemplate &tpl,
                        const ControlFactory &factory) {
    const QFont font = dialogFont(tpl);
    dialog->setFont(font);
    const DialogUnits units(font);
    if (tpl.caption[0] != '\0')
        dialog->setWindowTitle(templateText(tpl.caption));
    if (tpl.style & res::Child)
        dialog->resize(units.x(tpl.cx), units.y(tpl.cy));
    else {
        dialog->setFixedSize(units.x(tpl.cx), units.y(tpl.cy));
        keepNormalState(dialog);
    }

    QButtonGroup *group = nullptr;
    QObject *enterPresses = nullptr;
    std::vector<QWidget *> tabOrder;
    std::vector<QWidget *> groupBoxes;
    std::vector<QButtonGroup *> tabStopGroups;
    for (const res::ControlTemplate &c : tpl.controls) {
        QWidget *widget = factory ? factory(c, dialog) : nullptr;
        if (widget == nullptr)
            widget = standardControl(c, dialog);
        widget->setParent(dialog);
        widget->setProperty(kIdProperty, c.id);
        widget->setFont(font);
        widget->setGeometry(units.rect(c.x, c.y, c.cx, c.cy));
        if (c.kind == res::ControlKind::DropDownList)
            widget->resize(widget->width(), widget->sizeHint().height());
        widget->setEnabled((c.style & res::Disabled) == 0);
        widget->setVisible((c.style & res::Visible) != 0);
        widget->setFocusPolicy((c.style & res::TabStop) ? Qt::StrongFocus : Qt::NoFocus);
        if (c.style & res::TabStop)
            tabOrder.push_back(widget);
        if (c.kind == res::ControlKind::PushButton || c.kind == res::ControlKind::DefPushButton ||
            c.kind == res::ControlKind::OwnerDrawButton) {
            if (enterPresses == nullptr)
                enterPresses = new EnterPressesButton(dialog);
            widget->installEventFilter(enterPresses);
        }

        if (c.kind == res::ControlKind::AutoRadio) {
            if (group == nullptr || (c.style & res::Group)) {
                group = new QButtonGroup(dialog);
                group->setExclusive(true);
                if (c.style & res::TabStop)
                    tabStopGroups.push_back(group);
            } else if (!tabStopGroups.empty() && tabStopGroups.back() == group &&
                       !(c.style & res::TabStop)) {
                // Its place in the tab order is the group's; whether Tab
                // stops on it depends on whether it is checked.
                tabOrder.push_back(widget);
            }
            if (auto *button = qobject_cast<QAbstractButton *>(widget))
                group->addButton(button, c.id);
        } else if (c.style & res::Group) {
            group = nullptr;
        }
        if (c.kind == res::ControlKind::GroupBox)
            groupBoxes.push_back(widget);
    }
    for (QWidget *box : groupBoxes)
        box->lower();
    for (size_t i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    // A radio group is one tab stop, on its checked button (on its first
    // while none is checked), as the keyboard finds it on every desktop.
    for (QButtonGroup *radios : tabStopGroups) {
        const auto placeTabStop = [radios] {
            QAbstractButton *stop = radios->checkedButton();
            if (stop == nullptr && !radios->buttons().isEmpty())
                stop = radios->buttons().first();
            for (QAbstractButton *button : radios->buttons())
                button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
        };
        placeTabStop();
        QObject::connect(radios, &QButtonGroup::buttonToggled, radios, placeTabStop);
    }
    return units;
}

QWidget *controlById(const QWidget *dialog, int id) {
    if (dialog == nullptr || id == res::IDC_STATIC)
        return nullptr;
    const auto children = dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *child : children) {
        const QVariant value = child->property(kIdProperty);
        if (value.isValid() && value.toInt() == id)
            return child;
    }
    return nullptr;
}

void nameControls(const QWidget *dialog, std::initializer_list<std::pair<int, QString>> names) {
    for (const auto &[id, name] : names)
        controlById(dialog, id)->setAccessibleName(name);
}

} // namespace veltrona::ui
