#include "accountpagedlg.h"

#include "dialogbuilder.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>

using veltrona::ui::controlAs;

CAccountPageDlg::CAccountPageDlg(QWidget *parent, const int32_t &guestAccount)
    : CConfigPage(parent, IDD), m_guestAccount(guestAccount) {
    veltrona::ui::buildDialog(this,
                              *veltrona::res::findDialogTemplate(veltrona::res::IDD_ACCOUNT_PAGE));
    veltrona::ui::nameControls(this, {{IDC_NEW_PASSWORD, tr("New Password")}});
    // The new password is shown in clear.
    controlAs<QLineEdit>(this, IDC_NEW_PASSWORD)->setEchoMode(QLineEdit::Normal);
    connect(controlAs<QLineEdit>(this, IDC_NEW_PASSWORD), &QLineEdit::textChanged, this,
            &CAccountPageDlg::OnModified);
    connect(controlAs<QCheckBox>(this, IDC_GUEST), &QCheckBox::clicked, this,
            &CAccountPageDlg::OnModified);
    ConnectButtons();
    Fill();
    SetApplyRestore(false);
}

void CAccountPageDlg::Fill() {
    controlAs<QCheckBox>(this, IDC_GUEST)->setChecked(m_guestAccount != 0);
    controlAs<QLineEdit>(this, IDC_NEW_PASSWORD)->setText(QString());
}

void CAccountPageDlg::GetAccount(QString &newPassword, int32_t *guestAllowed) const {
    newPassword = controlAs<QLineEdit>(this, IDC_NEW_PASSWORD)->text();
    if (guestAllowed != nullptr)
        *guestAllowed = controlAs<QCheckBox>(this, IDC_GUEST)->isChecked() ? 1 : 0;
}

void CAccountPageDlg::closeEvent(QCloseEvent *event) {
    event->ignore();
    OnClose();
}
