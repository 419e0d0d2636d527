#include "hostnamepagedlg.h"

#include "dialogbuilder.h"
#include "pagetext.h"
#include "settingpagedlg.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using veltrona::settings::fieldText;
using veltrona::ui::controlAs;
using veltrona::ui::controlById;

CHostNamePageDlg::CHostNamePageDlg(CSettingPageDlg *parent) : QWidget(parent), m_pParent(parent) {
    veltrona::ui::buildDialog(this,
                              *veltrona::res::findDialogTemplate(veltrona::res::IDD_HOSTNAME_PAGE));
    for (int id : {IDC_DOMAIN_NAME, IDC_HOST_NAME})
        connect(controlAs<QLineEdit>(this, id), &QLineEdit::textChanged, this,
                &CHostNamePageDlg::OnModified);
    connect(controlAs<QPushButton>(this, IDC_APPLY), &QPushButton::clicked, this,
            &CHostNamePageDlg::OnApply);
    connect(controlAs<QPushButton>(this, IDC_RESTORE), &QPushButton::clicked, this,
            &CHostNamePageDlg::OnRestore);
    connect(controlAs<QPushButton>(this, IDC_CLOSE), &QPushButton::clicked, this,
            &CHostNamePageDlg::OnClose);
    Fill();
    SetApplyRestore(false);
}

void CHostNamePageDlg::Fill() {
    const KOVA_DEVICE_INFO &info = m_pParent->DeviceInfo();
    controlAs<QLineEdit>(this, IDC_HOST_NAME)->setText(fieldText(info.hostName));
    controlAs<QLineEdit>(this, IDC_DOMAIN_NAME)->setText(fieldText(info.domainName));
    controlAs<QLabel>(this, IDC_MODEL_NAME)->setText(fieldText(info.modelName));
}

void CHostNamePageDlg::GetNames(QString &hostName, QString &domainName) const {
    hostName = controlAs<QLineEdit>(this, IDC_HOST_NAME)->text();
    domainName = controlAs<QLineEdit>(this, IDC_DOMAIN_NAME)->text();
}

void CHostNamePageDlg::SetApplyRestore(bool enable) {
    controlById(this, IDC_APPLY)->setEnabled(enable);
    controlById(this, IDC_RESTORE)->setEnabled(enable);
}

void CHostNamePageDlg::OnModified() {
    SetApplyRestore(true);
}

void CHostNamePageDlg::OnApply() {
    if (m_pParent->AskCredentials() != 1)
        return;
    controlById(this, IDC_APPLY)->setEnabled(false);
    m_pParent->ApplyPage(IDD);
}

void CHostNamePageDlg::OnRestore() {
    Fill();
    SetApplyRestore(false);
}

void CHostNamePageDlg::OnClose() {
    m_pParent->CloseSettingPage(QDialog::Rejected);
}
