#include "ipaddressctrl.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>

namespace {

// Screen readers meet the control as a grouping of its four fields (a plain
// frame reads as a window of its own there).
QAccessibleInterface *accessibleAddressCtrl(const QString &className, QObject *object) {
    if (className != QLatin1String("CIPAddressCtrl") || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Grouping);
}

} // namespace

CIPAddressCtrl::CIPAddressCtrl(QWidget *parent) : QFrame(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleAddressCtrl);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto *layout = new QHBoxLayout(this);
    // A whole pixel between the frame and the fields at any scale, so that
    // no field paints over the frame's edge; the dots are painted in the gaps.
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(fontMetrics().horizontalAdvance(QLatin1Char('.')) + 2);
    auto *validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < 4; ++i) {
        auto *edit = new QLineEdit(this);
        edit->setValidator(validator);
        edit->setAlignment(Qt::AlignCenter);
        edit->setFrame(false);
        edit->setMaxLength(3);
        // One tab stop for the whole control: Tab enters it at the first
        // field and leaves it from any field.
        edit->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { onFieldEdited(i); });
        m_fields[i] = edit;
        layout->addWidget(edit, 1);
    }
    setFocusProxy(m_fields[0]);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void CIPAddressCtrl::paintEvent(QPaintEvent *event) {
    QFrame::paintEvent(event);
    // The dots between the fields, on the fields' own text line, in the
    // fields' text colour (greyed with the control).
    QPainter painter(this);
    painter.setFont(m_fields[0]->font());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    for (int i = 0; i < 3; ++i) {
        const QRect left = m_fields[i]->geometry();
        const QRect right = m_fields[i + 1]->geometry();
        painter.drawText(
            QRect(left.right() + 1, left.top(), right.left() - left.right() - 1, left.height()),
            Qt::AlignCenter, QStringLiteral("."));
    }
}

void CIPAddressCtrl::setText(const QString &text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i) {
        QString value;
        if (i < parts.size()) {
            bool ok = false;
            const QString part = parts[i].trimmed();
            const int number = part.toInt(&ok, 10);
            if (ok && number >= 0 && number <= 255 && part.size() <= 3)
                value = QString::number(number);
        }
        m_fields[i]->setText(value);
    }
}

QString CIPAddressCtrl::text() const {
    QString result;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            result += QLatin1Char('.');
        result += QString::number(std::max(0, fieldValue(i)));
    }
    return result;
}

std::optional<uint32_t> CIPAddressCtrl::value() const {
    uint32_t address = 0;
    int blank = 0;
    for (int i = 0; i < 4; ++i) {
        const int field = fieldValue(i);
        blank += field < 0 ? 1 : 0;
        address = (address << 8) | uint32_t(std::max(0, field));
    }
    if (blank != 0 && blank != 4)
        return std::nullopt;
    return address;
}

void CIPAddressCtrl::clear() {
    for (QLineEdit *edit : m_fields)
        edit->clear();
}

void CIPAddressCtrl::setName(const QString &name) {
    setAccessibleName(name);
    const int count = int(m_fields.size());
    for (int i = 0; i < count; ++i)
        m_fields[i]->setAccessibleName(tr("%1, part %2 of %3").arg(name).arg(i + 1).arg(count));
}

int CIPAddressCtrl::fieldValue(int index) const {
    const QString text = m_fields[index]->text();
    if (text.isEmpty())
        return -1;
    return std::min(255, text.toInt());
}

void CIPAddressCtrl::focusField(int index, bool selectAll) {
    QLineEdit *edit = m_fields[index];
    edit->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        edit->selectAll();
    else
        edit->setCursorPosition(edit->text().size());
}

void CIPAddressCtrl::onFieldEdited(int index) {
    QLineEdit *edit = m_fields[index];
    const QString typed = edit->text();
    if (!typed.isEmpty() && typed.toInt() > 255)
        edit->setText(QStringLiteral("255"));
    emit fieldChanged(index, fieldValue(index));
    // A full field moves on, as a dot would.
    if (edit->text().size() == 3 && edit->cursorPosition() == 3 && index < 3)
        focusField(index + 1, true);
}

bool CIPAddressCtrl::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    int index = -1;
    for (int i = 0; i < 4; ++i) {
        if (m_fields[i] == watched)
            index = i;
    }
    if (index < 0)
        return QFrame::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    QLineEdit *edit = m_fields[index];
    switch (key->key()) {
    case Qt::Key_Backtab:
    case Qt::Key_Tab:
        // Shift+Tab walks back from the first field, so that it leaves the
        // control instead of landing in that field.
        if (index > 0 && (key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier)))
            m_fields[0]->setFocus(Qt::OtherFocusReason);
        break;
    case Qt::Key_Period:
    case Qt::Key_Space:
        // A dot in a field that holds digits moves on; one in an empty field
        // is swallowed.
        if (index < 3 && !edit->text().isEmpty() && !edit->hasSelectedText())
            focusField(index + 1, true);
        return true;
    case Qt::Key_Backspace:
        if (index > 0 && edit->cursorPosition() == 0 && !edit->hasSelectedText()) {
            focusField(index - 1, false);
            return true;
        }
        break;
    case Qt::Key_Left:
        if (index > 0 && edit->cursorPosition() == 0) {
            focusField(index - 1, false);
            return true;
        }
        break;
    case Qt::Key_Right:
        if (index < 3 && edit->cursorPosition() == edit->text().size()) {
            focusField(index + 1, false);
            m_fields[index + 1]->setCursorPosition(0);
            return true;
        }
        break;
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}
