#include "configpage.h"

#include "dialogbuilder.h"

#include <QDialog>
#include <QMetaMethod>
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
    // While the checks wait, Apply stays disabled and is set as asked once
    // they have answered.
    if (m_checking)
        m_applyAfterCheck = enable;
    else
        controlById(this, IDC_APPLY)->setEnabled(enable);
    controlById(this, IDC_RESTORE)->setEnabled(enable);
}

void CConfigPage::OnModified() {
    SetApplyRestore(true);
}

void CConfigPage::OnApply() {
    if (m_checking)
        return;
    QWidget *apply = controlById(this, IDC_APPLY);
    m_applyAfterCheck = apply->isEnabled();
    // Nothing to check with: the page goes on as if nothing had been found.
    if (!isSignalConnected(QMetaMethod::fromSignal(&CConfigPage::checkRequested))) {
        Checked(true);
        return;
    }
    m_checking = true;
    apply->setEnabled(false);
    emit checkRequested(m_pageId, [this](bool proceed) {
        m_checking = false;
        Checked(proceed);
    });
}

void CConfigPage::Checked(bool proceed) {
    QWidget *apply = controlById(this, IDC_APPLY);
    if (!proceed) {
        apply->setEnabled(m_applyAfterCheck);
        return;
    }
    int confirmed = 0;
    emit credentialsRequested(&confirmed);
    if (confirmed != 1) {
        apply->setEnabled(m_applyAfterCheck);
        return;
    }
    apply->setEnabled(false);
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
