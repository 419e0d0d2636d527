#include "accountpagedlg.h"

#include "dialogbuilder.h"
#include "settingpagedlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

using veltrona::ui::controlAs;
using veltrona::ui::controlById;

CAccountPageDlg::CAccountPageDlg(CSettingPageDlg *parent) : QWidget(parent), m_pParent(parent) {
    veltrona::ui::buildDialog(this,
                              *veltrona::res::findDialogTemplate(veltrona::res::IDD_ACCOUNT_PAGE));
    // The new password is shown in clear.
    controlAs<QLineEdit>(this, IDC_NEW_PASSWORD)->setEchoMode(QLineEdit::Normal);
    connect(controlAs<QLineEdit>(this, IDC_NEW_PASSWORD), &QLineEdit::textChanged, this,
            &CAccountPageDlg::OnModified);
    connect(controlAs<QCheckBox>(this, IDC_GUEST), &QCheckBox::clicked, this,
            &CAccountPageDlg::OnModified);
    connect(controlAs<QPushButton>(this, IDC_APPLY), &QPushButton::clicked, this,
            &CAccountPageDlg::OnApply);
    connect(controlAs<QPushButton>(this, IDC_RESTORE), &QPushButton::clicked, this,
            &CAccountPageDlg::OnRestore);
    connect(controlAs<QPushButton>(this, IDC_CLOSE), &QPushButton::clicked, this,
            &CAccountPageDlg::OnClose);
    Fill();
    SetApplyRestore(false);
}

void CAccountPageDlg::Fill() {
    controlAs<QCheckBox>(this, IDC_GUEST)->setChecked(m_pParent->GuestAccount() != 0);
    controlAs<QLineEdit>(this, IDC_NEW_PASSWORD)->setText(QString());
}

void CAccountPageDlg::GetAccount(QString &newPassword, int32_t *guestAllowed) const {
    newPassword = controlAs<QLineEdit>(this, IDC_NEW_PASSWORD)->text();
    if (guestAllowed != nullptr)
        *guestAllowed = controlAs<QCheckBox>(this, IDC_GUEST)->isChecked() ? 1 : 0;
}

void CAccountPageDlg::SetApplyRestore(bool enable) {
    controlById(this, IDC_APPLY)->setEnabled(enable);
    controlById(this, IDC_RESTORE)->setEnabled(enable);
}

void CAccountPageDlg::OnModified() {
    SetApplyRestore(true);
}

void CAccountPageDlg::OnApply() {
    if (m_pParent->AskCredentials() != 1)
        return;
    controlById(this, IDC_APPLY)->setEnabled(false);
    m_pParent->ApplyPage(IDD);
}

void CAccountPageDlg::OnRestore() {
    Fill();
    SetApplyRestore(false);
}

void CAccountPageDlg::OnClose() {
    m_pParent->CloseSettingPage(QDialog::Rejected);
}

void CAccountPageDlg::closeEvent(QCloseEvent *event) {
    event->ignore();
    OnClose();
}
