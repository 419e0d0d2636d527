#include "networkpagedlg.h"

#include "dialogbuilder.h"
#include "ipaddressctrl.h"
#include "pagetext.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <climits>

using veltrona::settings::fieldText;
using veltrona::settings::setFieldText;
using veltrona::settings::setWholeFieldText;
using veltrona::ui::controlAs;
using veltrona::ui::controlById;

namespace {

constexpr int kStaticGroup[] = {1028, 1034, 1036, 1035, 1019, 1020, 1021, 1024};
constexpr int kPppoeGroup[] = {1003, 1004, 1005, 1006, 1008, 1037,
                               1038, 1009, 1010, 1011, 1014, 1015};
constexpr int kStaticAddresses[] = {1028, 1034, 1036, 1035};
constexpr int kPppoeControls[] = {1003, 1004, 1005, 1006, 1037, 1038, 1008};

// Index of the checked radio among `ids`, -1 when none is checked.
int checkedRadio(const QWidget *page, std::initializer_list<int> ids) {
    int index = 0;
    for (int id : ids) {
        if (auto *radio = controlAs<QRadioButton>(page, id); radio && radio->isChecked())
            return index;
        ++index;
    }
    return -1;
}

void checkRadio(const QWidget *page, int id) {
    controlAs<QRadioButton>(page, id)->setChecked(true);
}

} // namespace

int32_t ParseSignedNumber(const QString &text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && text[i] == QLatin1Char('-')) {
        negative = true;
        ++i;
    }
    if (i == text.size())
        return 0;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        value = value * 10 + (c.unicode() - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        return 0;
    return static_cast<int32_t>(value);
}

CNetworkPageDlg::CNetworkPageDlg(QWidget *parent, const KOVA_NETWORK_SETTINGS &settings)
    : CConfigPage(parent, IDD), m_settings(settings) {
    veltrona::ui::buildDialog(
        this, *veltrona::res::findDialogTemplate(veltrona::res::IDD_NETWORK_PAGE),
        [](const veltrona::res::ControlTemplate &c, QWidget *page) -> QWidget * {
            if (c.kind == veltrona::res::ControlKind::IpAddress)
                return new CIPAddressCtrl(page);
            return nullptr;
        });
    m_editServiceName = controlAs<QLineEdit>(this, IDC_SERVICE_NAME);
    m_editPppoePassword = controlAs<QLineEdit>(this, IDC_PPPOE_PASSWORD);
    m_editMtu = controlAs<QLineEdit>(this, IDC_MTU);
    m_editUserName = controlAs<QLineEdit>(this, IDC_USER_NAME);
    m_ipAddress = controlAs<CIPAddressCtrl>(this, IDC_IP_ADDRESS);
    m_ipDnsServer = controlAs<CIPAddressCtrl>(this, IDC_DNS_SERVER);
    m_ipNetMask = controlAs<CIPAddressCtrl>(this, IDC_NET_MASK);
    m_ipGateway = controlAs<CIPAddressCtrl>(this, IDC_GATEWAY);
    m_ipPppoeDns = controlAs<CIPAddressCtrl>(this, IDC_PPPOE_DNS);
    // Each control is named after its label.
    m_ipAddress->setName(tr("IP Address"));
    m_ipGateway->setName(tr("Gateway"));
    m_ipNetMask->setName(tr("Net Mask"));
    m_ipDnsServer->setName(tr("DNS Server"));
    m_ipPppoeDns->setName(tr("DNS Server"));
    veltrona::ui::nameControls(this, {{IDC_USER_NAME, tr("Username")},
                                      {IDC_PPPOE_PASSWORD, tr("Password")},
                                      {IDC_SERVICE_NAME, tr("Service Name")},
                                      {IDC_MTU, tr("MTU")}});

    for (int id : {IDC_DHCP, IDC_STATIC_IP, IDC_PPPOE})
        connect(controlAs<QRadioButton>(this, id), &QRadioButton::clicked, this,
                &CNetworkPageDlg::OnNetworkType);
    for (int id : {IDC_AUTO_DNS, IDC_MANUAL_DNS})
        connect(controlAs<QRadioButton>(this, id), &QRadioButton::clicked, this,
                &CNetworkPageDlg::OnDnsMode);
    for (CIPAddressCtrl *address :
         {m_ipAddress, m_ipGateway, m_ipDnsServer, m_ipNetMask, m_ipPppoeDns})
        connect(address, &CIPAddressCtrl::fieldChanged, this, &CNetworkPageDlg::OnModified);
    // textChanged also fires for programmatic changes, as the fill relies on.
    for (QLineEdit *edit : {m_editUserName, m_editPppoePassword, m_editServiceName, m_editMtu})
        connect(edit, &QLineEdit::textChanged, this, &CNetworkPageDlg::OnModified);
    ConnectButtons();

    // Opening: the radios show the initial type (DHCP) and no DNS mode.
    checkRadio(this, IDC_DHCP);
    FillFromSettings();
    SetApplyRestore(false);
}

void CNetworkPageDlg::keyPressEvent(QKeyEvent *event) {
    // Escape does nothing and is kept from the setting page, whose cancel
    // would end it and lose the page's unapplied edits.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    CConfigPage::keyPressEvent(event);
}

void CNetworkPageDlg::UpdateData() {
    m_nNetworkType = checkedRadio(this, {IDC_DHCP, IDC_STATIC_IP, IDC_PPPOE});
    m_nDnsMode = checkedRadio(this, {IDC_AUTO_DNS, IDC_MANUAL_DNS});
}

void CNetworkPageDlg::ShowStaticGroup(bool show) {
    for (int id : kStaticGroup)
        controlById(this, id)->setVisible(show);
}

void CNetworkPageDlg::ShowPppoeGroup(bool show) {
    for (int id : kPppoeGroup)
        controlById(this, id)->setVisible(show);
}

void CNetworkPageDlg::EnableStaticGroup(int enable) {
    if (enable == m_nStaticEnabled)
        return;
    for (int id : kStaticAddresses)
        controlById(this, id)->setEnabled(enable != 0);
    m_nStaticEnabled = enable;
}

void CNetworkPageDlg::EnablePppoeGroup(int enable) {
    if (enable == m_nPppoeEnabled)
        return;
    for (int id : kPppoeControls)
        controlById(this, id)->setEnabled(enable != 0);
    OnDnsMode();
    m_nPppoeEnabled = enable;
}

void CNetworkPageDlg::OnDnsMode() {
    UpdateData();
    // Under DHCP a visible PPPoE group stays wholly disabled, DNS address
    // included; that is the case right after the switch from PPPoE and for as
    // long as the group stays disabled afterwards.
    const bool pppoeGroupDisabled =
        m_nShownType == 2 ||
        (m_nPppoeEnabled == 0 && controlById(this, IDC_USER_NAME)->isVisibleTo(this));
    if (m_nNetworkType == 0 && pppoeGroupDisabled)
        m_ipPppoeDns->setEnabled(false);
    else
        m_ipPppoeDns->setEnabled(m_nDnsMode == 1);
}

void CNetworkPageDlg::OnNetworkType() {
    UpdateData();
    if (m_nNetworkType == m_nShownType)
        return;
    switch (m_nNetworkType) {
    case 2:
        ShowPppoeGroup(true);
        ShowStaticGroup(false);
        EnablePppoeGroup(1);
        break;
    case 1:
        ShowPppoeGroup(false);
        ShowStaticGroup(true);
        EnableStaticGroup(1);
        break;
    case 0:
        if (m_nShownType == -1) {
            ShowPppoeGroup(false);
            ShowStaticGroup(true);
            EnableStaticGroup(0);
        } else if (m_nShownType == 1) {
            EnableStaticGroup(0);
        } else if (m_nShownType == 2) {
            EnablePppoeGroup(0);
        }
        break;
    default:
        break;
    }
    m_nShownType = m_nNetworkType;
    SetApplyRestore(true);
}

void CNetworkPageDlg::FillFromSettings() {
    const KOVA_NETWORK_SETTINGS &s = m_settings;
    switch (s.mode) {
    case KOVA_MODE_STATIC:
        checkRadio(this, IDC_STATIC_IP);
        break;
    case KOVA_MODE_DHCP:
        checkRadio(this, IDC_DHCP);
        break;
    case KOVA_MODE_PPPOE:
        checkRadio(this, IDC_PPPOE);
        break;
    default:
        break;
    }
    OnNetworkType();
    m_ipAddress->setText(fieldText(s.ipAddress));
    m_ipGateway->setText(fieldText(s.gateway));
    m_ipDnsServer->setText(fieldText(s.dnsServer));
    m_ipNetMask->setText(fieldText(s.netMask));
    m_editUserName->setText(fieldText(s.pppoeUserName));
    m_editPppoePassword->setText(fieldText(s.pppoePassword));
    m_editServiceName->setText(fieldText(s.pppoeServiceName));
    m_editMtu->setText(QString::number(s.mtu));
    m_ipPppoeDns->setText(fieldText(s.pppoeDnsServer));
    if (s.dnsMode == 0)
        checkRadio(this, IDC_AUTO_DNS);
    else if (s.dnsMode == 1)
        checkRadio(this, IDC_MANUAL_DNS);
    OnDnsMode();
}

QStringList CNetworkPageDlg::BlankFieldProblems() const {
    struct InUse {
        const CIPAddressCtrl *control;
        int label;
    };
    std::vector<InUse> inUse;
    const int type = checkedRadio(this, {IDC_DHCP, IDC_STATIC_IP, IDC_PPPOE});
    if (type == 1)
        inUse = {
            {m_ipAddress, 1019}, {m_ipGateway, 1020}, {m_ipNetMask, 1021}, {m_ipDnsServer, 1024}};
    else if (type == 2 && controlAs<QRadioButton>(this, IDC_MANUAL_DNS)->isChecked())
        inUse = {{m_ipPppoeDns, 1015}};
    QStringList problems;
    for (const InUse &field : inUse) {
        if (field.control->value())
            continue;
        QString label = controlAs<QLabel>(this, field.label)->text().trimmed();
        if (label.endsWith(QLatin1Char(':')))
            label = label.chopped(1).trimmed();
        problems << tr("%1 has a blank field among filled ones; it would be sent as 0.").arg(label);
    }
    return problems;
}

std::vector<uint32_t> CNetworkPageDlg::NewAddresses() const {
    if (checkedRadio(this, {IDC_DHCP, IDC_STATIC_IP, IDC_PPPOE}) != 1)
        return {};
    if (const std::optional<uint32_t> address = m_ipAddress->value())
        return {*address};
    return {};
}

void CNetworkPageDlg::CollectSettings(KOVA_NETWORK_SETTINGS *settings) const {
    if (settings == nullptr)
        return;
    switch (checkedRadio(this, {IDC_DHCP, IDC_STATIC_IP, IDC_PPPOE})) {
    case 0:
        settings->mode = KOVA_MODE_DHCP;
        break;
    case 1:
        settings->mode = KOVA_MODE_STATIC;
        break;
    case 2:
        settings->mode = KOVA_MODE_PPPOE;
        break;
    default:
        return;
    }
    setFieldText(settings->ipAddress, m_ipAddress->text());
    setFieldText(settings->gateway, m_ipGateway->text());
    setFieldText(settings->netMask, m_ipNetMask->text());
    setFieldText(settings->dnsServer, m_ipDnsServer->text());
    settings->dnsMode = controlAs<QRadioButton>(this, IDC_MANUAL_DNS)->isChecked() ? 1 : 0;
    // The PPPoE texts may fill their whole field: the device holds them that
    // way, so cutting one character short would change them on every Apply.
    setWholeFieldText(settings->pppoeUserName, m_editUserName->text());
    settings->mtu = ParseSignedNumber(m_editMtu->text());
    setFieldText(settings->pppoeDnsServer, m_ipPppoeDns->text());
    setWholeFieldText(settings->pppoePassword, m_editPppoePassword->text());
    setWholeFieldText(settings->pppoeServiceName, m_editServiceName->text());
}
