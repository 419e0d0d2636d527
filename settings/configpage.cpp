#include "configpage.h"

#include "dialogbuilder.h"

#include <QDialog>
#include <QPushButton>

using veltrona::ui::controlAs;
using veltrona::ui::controlById;

CConfigPage::CConfigPage(QWidget *parent, int pageId) : QWidget(parent), m_pageId(pageId) {}

void CConfigPage::ConnectButtons() {
    connect(controlAs<QPushButton>(this, IDC_APPLY), &QPushButton::clicked, this,
            &CConfigPage::OnApply);
    connect(controlAs<QPushButton>(this, IDC_RESTORE), &QPushButton::clicked, this,
            &CConfigPage::OnRestore);
    connect(controlAs<QPushButton>(this, IDC_CLOSE), &QPushButton::clicked, this,
            &CConfigPage::OnClose);
}

void CConfigPage::SetApplyRestore(bool enable) {
    controlById(this, IDC_APPLY)->setEnabled(enable);
    controlById(this, IDC_RESTORE)->setEnabled(enable);
}

void CConfigPage::OnModified() {
    SetApplyRestore(true);
}

void CConfigPage::OnApply() {
    bool proceed = true;
    emit checkRequested(m_pageId, &proceed);
    if (!proceed)
        return;
    int confirmed = 0;
    emit credentialsRequested(&confirmed);
    if (confirmed != 1)
        return;
    controlById(this, IDC_APPLY)->setEnabled(false);
    // A request that was not sent can be tried again.
    bool sent = false;
    emit applyRequested(m_pageId, &sent);
    if (!sent)
        controlById(this, IDC_APPLY)->setEnabled(true);
}

void CConfigPage::OnRestore() {
    Fill();
    SetApplyRestore(false);
}

void CConfigPage::OnClose() {
    emit closeRequested(QDialog::Rejected);
}
