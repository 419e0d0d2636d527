#include "authenticationdlg.h"

#include "dialogbuilder.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

namespace {
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
} // namespace

CAuthenticationDlg::CAuthenticationDlg(QWidget *parent, veltrona::ui::Platform &platform)
    : QDialog(parent), m_platform(platform) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    veltrona::ui::buildDialog(
        this, *veltrona::res::findDialogTemplate(veltrona::res::IDD_AUTHENTICATION));
    m_editID = veltrona::ui::controlAs<QLineEdit>(this, IDC_ID);
    m_editPassword = veltrona::ui::controlAs<QLineEdit>(this, IDC_PASSWORD);
    veltrona::ui::nameControls(this, {{IDC_ID, tr("ID")}, {IDC_PASSWORD, tr("Password")}});
    m_editID->setMaxLength(kMaxIdLength);
    m_editPassword->setMaxLength(kMaxPasswordLength);
    m_editID->setText(QStringLiteral("root"));
    connect(veltrona::ui::controlAs<QPushButton>(this, IDOK), &QPushButton::clicked, this,
            &CAuthenticationDlg::OnOK);
    connect(veltrona::ui::controlAs<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this,
            &QDialog::reject);
    m_editPassword->setFocus();
}

void CAuthenticationDlg::OnOK() {
    // A disabled edit's text reads the same as an enabled one's.
    m_strID = m_editID->text();
    if (!m_strID.isEmpty()) {
        m_strPassword = m_editPassword->text();
        QDialog::accept();
        return;
    }
    m_platform.messageBox(this, tr("Admin ID is required"));
    m_editID->setFocus(Qt::OtherFocusReason);
}

void CAuthenticationDlg::accept() {
    OnOK();
}

void CAuthenticationDlg::mousePressEvent(QMouseEvent *event) {
    const Qt::KeyboardModifiers keys = event->modifiers();
    if (event->button() == Qt::LeftButton && (keys & Qt::ControlModifier) &&
        (keys & Qt::ShiftModifier)) {
        // The edit's rectangle in this dialog's coordinates; a click on its
        // border line (left, top, or one past the last pixel) does not count.
        const QRect r(m_editID->mapTo(this, QPoint(0, 0)), m_editID->size());
        const QPoint p = event->position().toPoint();
        const int right = r.left() + r.width();
        const int bottom = r.top() + r.height();
        if (r.left() < p.x() && p.x() < right && r.top() < p.y() && p.y() < bottom)
            m_editID->setEnabled(true);
    }
    QDialog::mousePressEvent(event);
}
