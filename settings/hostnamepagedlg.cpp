#include "hostnamepagedlg.h"

#include "dialogbuilder.h"
#include "pagetext.h"

#include <QLabel>
#include <QLineEdit>

using veltrona::settings::fieldText;
using veltrona::ui::controlAs;

CHostNamePageDlg::CHostNamePageDlg(QWidget *parent, const KOVA_DEVICE_INFO &info)
    : CConfigPage(parent, IDD), m_info(info) {
    veltrona::ui::buildDialog(this,
                              *veltrona::res::findDialogTemplate(veltrona::res::IDD_HOSTNAME_PAGE));
    veltrona::ui::nameControls(
        this, {{IDC_HOST_NAME, tr("Host Name")}, {IDC_DOMAIN_NAME, tr("Domain Name")}});
    // The model name is shown as a plain text: say what it is.
    controlAs<QLabel>(this, IDC_MODEL_NAME)->setAccessibleDescription(tr("Model Name"));
    for (int id : {IDC_DOMAIN_NAME, IDC_HOST_NAME})
        connect(controlAs<QLineEdit>(this, id), &QLineEdit::textChanged, this,
                &CHostNamePageDlg::OnModified);
    ConnectButtons();
    Fill();
    SetApplyRestore(false);
}

void CHostNamePageDlg::Fill() {
    const KOVA_DEVICE_INFO &info = m_info;
    controlAs<QLineEdit>(this, IDC_HOST_NAME)->setText(fieldText(info.hostName));
    controlAs<QLineEdit>(this, IDC_DOMAIN_NAME)->setText(fieldText(info.domainName));
    controlAs<QLabel>(this, IDC_MODEL_NAME)->setText(fieldText(info.modelName));
}

void CHostNamePageDlg::GetNames(QString &hostName, QString &domainName) const {
    hostName = controlAs<QLineEdit>(this, IDC_HOST_NAME)->text();
    domainName = controlAs<QLineEdit>(this, IDC_DOMAIN_NAME)->text();
}
