#include "settingpagedlg.h"

#include "accountpagedlg.h"
#include "authenticationdlg.h"
#include "devicerow.h"
#include "dialogbuilder.h"
#include "hostnamepagedlg.h"
#include "neighbours.h"
#include "networkpagedlg.h"
#include "pagetext.h"
#include "printable.h"
#include "replybridge.h"
#include "scansequence.h"

#include <QCoreApplication>
#include <QFrame>
#include <QPushButton>

#include <memory>

using veltrona::settings::bytesOf;

CSettingPageDlg::CSettingPageDlg(QWidget *parent, veltrona::KovaLibrary &library,
                                 veltrona::ui::Platform &platform)
    : QDialog(parent), m_library(library), m_platform(platform) {
    // Caption without a close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    veltrona::ui::buildDialog(this,
                              *veltrona::res::findDialogTemplate(veltrona::res::IDD_SETTING_PAGE));
    for (int id : {IDC_SELECT_NETWORK, IDC_SELECT_HOSTNAME, IDC_SELECT_ACCOUNT}) {
        connect(Selector(id), &QPushButton::clicked, this, [this, id] { SelectPage(id); });
    }
    ReplyBridge::instance().setResultReceiver(this);
}

CSettingPageDlg::~CSettingPageDlg() {
    ReplyBridge::instance().removeReceiver(static_cast<ReplyBridge::ResultReceiver *>(this));
    OnDestroy();
}

void CSettingPageDlg::SetDeviceItem(HKOVAITEM item) {
    m_item = item;
}

int CSettingPageDlg::DoModal() {
    OnInitDialog();
    const int result = m_platform.runModal(*this);
    OnDestroy();
    return result;
}

QPushButton *CSettingPageDlg::Selector(int selectorId) const {
    return veltrona::ui::controlAs<QPushButton>(this, selectorId);
}

void CSettingPageDlg::ConnectPage(CConfigPage *page) {
    connect(page, &CConfigPage::checkRequested, this, &CSettingPageDlg::ConfirmPage);
    connect(page, &CConfigPage::credentialsRequested, this,
            [this](int *result) { *result = AskCredentials(); });
    connect(page, &CConfigPage::applyRequested, this,
            [this](int templateId, bool *sent) { *sent = ApplyPage(templateId); });
    connect(page, &CConfigPage::closeRequested, this, &CSettingPageDlg::CloseSettingPage);
}

void CSettingPageDlg::OnInitDialog() {
    // The pages fill themselves from these records while they are built, and
    // show them again on Restore.
    m_networkSettings = KOVA_NETWORK_SETTINGS{};
    m_deviceInfo = KOVA_DEVICE_INFO{};
    m_guestAccount = 0;
    m_library.getNetworkSettings(m_item, &m_networkSettings);
    m_library.getDeviceInfo(m_item, &m_deviceInfo);
    m_library.getGuestAccount(m_item, &m_guestAccount);

    if (m_pNetworkPage == nullptr) {
        m_pNetworkPage = new CNetworkPageDlg(this, m_networkSettings);
        ConnectPage(m_pNetworkPage);
    }
    if (m_pHostNamePage == nullptr) {
        m_pHostNamePage = new CHostNamePageDlg(this, m_deviceInfo);
        ConnectPage(m_pHostNamePage);
    }
    if (m_pAccountPage == nullptr) {
        m_pAccountPage = new CAccountPageDlg(this, m_guestAccount);
        ConnectPage(m_pAccountPage);
    }

    QWidget *frame = veltrona::ui::controlById(this, IDC_PAGE_FRAME);
    const QRect area = frame->geometry();
    frame->hide();
    for (QWidget *page :
         std::initializer_list<QWidget *>{m_pNetworkPage, m_pHostNamePage, m_pAccountPage}) {
        page->setGeometry(area);
        page->raise();
        page->setVisible(page == m_pNetworkPage);
    }
    SelectPage(IDC_SELECT_NETWORK);
}

void CSettingPageDlg::OnDestroy() {
    m_bAwaitingResult = false;
    delete m_pNetworkPage;
    m_pNetworkPage = nullptr;
    delete m_pHostNamePage;
    m_pHostNamePage = nullptr;
    delete m_pAccountPage;
    m_pAccountPage = nullptr;
}

void CSettingPageDlg::SelectPage(int selectorId) {
    QWidget *chosen = nullptr;
    if (selectorId == IDC_SELECT_NETWORK)
        chosen = m_pNetworkPage;
    else if (selectorId == IDC_SELECT_HOSTNAME)
        chosen = m_pHostNamePage;
    else if (selectorId == IDC_SELECT_ACCOUNT)
        chosen = m_pAccountPage;
    else
        return;
    for (int id : {IDC_SELECT_NETWORK, IDC_SELECT_HOSTNAME, IDC_SELECT_ACCOUNT})
        Selector(id)->setChecked(id == selectorId);
    for (QWidget *page :
         std::initializer_list<QWidget *>{m_pNetworkPage, m_pHostNamePage, m_pAccountPage}) {
        if (page != nullptr)
            page->setVisible(page == chosen);
    }
    // Enter presses the shown page's Apply.
    if (chosen != nullptr) {
        if (auto *apply = veltrona::ui::controlAs<QPushButton>(chosen, 1025))
            apply->setDefault(true);
    }
}

void CSettingPageDlg::ConfirmPage(int pageId, const std::function<void(bool proceed)> &checked) {
    ListedDevices listed;
    emit listedDevicesRequested(m_deviceInfo.mac, &listed);
    std::vector<uint32_t> addresses;
    if (pageId == CNetworkPageDlg::IDD && m_pNetworkPage != nullptr)
        addresses = m_pNetworkPage->NewAddresses();
    if (addresses.empty()) {
        checked(AskAboutProblems(pageId, listed));
        return;
    }
    // An answer that was waited for may find the window closed, or another
    // page shown: nothing is asked or sent then.
    const auto waited = std::make_shared<bool>(false);
    auto found = [this, pageId, addresses, listed, checked,
                  waited](std::vector<veltrona::change::HeardDevice> live) mutable {
        if (*waited && !m_pNetworkPage->isVisible()) {
            checked(false);
            return;
        }
        // Edited while the lookup waited: what the page shows now is checked.
        if (m_pNetworkPage->NewAddresses() != addresses) {
            ConfirmPage(pageId, checked);
            return;
        }
        listed.devices.insert(listed.devices.end(), std::make_move_iterator(live.begin()),
                              std::make_move_iterator(live.end()));
        checked(AskAboutProblems(pageId, listed));
    };
    // The answer goes with the page: once it is destroyed, nothing is called.
    m_platform.findLiveHolders(m_pNetworkPage, addresses, listed.devices, std::move(found));
    *waited = true;
}

QString CSettingPageDlg::ProblemText(const veltrona::change::Problem &problem) {
    using veltrona::change::Code;
    using veltrona::change::Field;
    const auto value = [&](std::size_t i) {
        return i < problem.values.size() ? QString::fromStdString(problem.values[i]) : QString();
    };
    // The address a sentence is about, as its subject.
    const QString subject = problem.field == Field::Gateway ? tr("The gateway %1").arg(value(0))
                            : problem.field == Field::Dns   ? tr("The DNS server %1").arg(value(0))
                                                            : value(0);
    const auto place = [&](std::size_t i) {
        return value(i + 1).isEmpty() ? value(i) : tr("%1 on %2").arg(value(i), value(i + 1));
    };
    switch (problem.code) {
    case Code::ThisNetwork:
        return tr("%1 is in 0.0.0.0/8, not a device address.").arg(subject);
    case Code::LimitedBroadcast:
        return tr("%1 is the broadcast address, not a device address.").arg(subject);
    case Code::Loopback:
        return tr("%1 is a loopback address.").arg(subject);
    case Code::Multicast:
        return tr("%1 is a multicast address.").arg(subject);
    case Code::Reserved:
        return tr("%1 is a reserved address.").arg(subject);
    case Code::NetworkAddress:
        return tr("%1 is the network address of the subnet %2.").arg(subject, value(1));
    case Code::BroadcastAddress:
        return tr("%1 is the broadcast address of the subnet %2.").arg(subject, value(1));
    case Code::NotANetmask:
        return value(0) == QLatin1String("0.0.0.0")
                   ? tr("%1 is not a netmask.").arg(value(0))
                   : tr("%1 is not a netmask: its one bits must come first, without a gap.")
                         .arg(value(0));
    case Code::GatewayOutside:
        return tr("The gateway %1 is outside the subnet %2.").arg(value(0), value(1));
    case Code::GatewayIsAddress:
        return tr("The gateway %1 is the device's own new address.").arg(value(0));
    case Code::HeldBy: {
        // The neighbour table's holders are named in the engine's words.
        QString holder = value(2);
        if (holder == QLatin1String("this host"))
            holder = tr("this host");
        else if (holder == QLatin1String("not a KOVA device"))
            holder = tr("not a KOVA device");
        return holder.isEmpty()
                   ? tr("%1 is held by the device %2.").arg(value(0), value(1))
                   : tr("%1 is held by the device %2 (%3).").arg(value(0), value(1), holder);
    }
    case Code::HeardTwice: {
        QStringList places;
        for (std::size_t i = 1; i + 1 < problem.values.size(); i += 2)
            places << place(i);
        return tr("%1 answered from %2: the change may reach another device with the same "
                  "MAC address, or go out on the wrong network. Choose the network with "
                  "Bind IP and scan again.")
            .arg(value(0), places.join(tr(" and ")));
    }
    case Code::TwoAddresses:
        return tr("%1 answered from two addresses on one network (%2 and %3): the change "
                  "could reach either device.")
            .arg(value(0), value(1), value(2));
    case Code::OutsideSegment: {
        QStringList networks;
        for (std::size_t i = 2; i < problem.values.size(); ++i)
            networks << value(i);
        return tr("%1 is outside the networks of %2 (%3), where the device was heard: it "
                  "could not be reached there.")
            .arg(value(0), value(1), networks.join(QStringLiteral(", ")));
    }
    case Code::ControlCharacter:
        return problem.field == Field::DomainName ? tr("The domain name holds a control character.")
                                                  : tr("The host name holds a control character.");
    case Code::FormulaStart:
        return tr("The host name starts with '%1', which spreadsheets take for a formula.")
            .arg(value(0));
    default:
        break;
    }
    return tr("This change cannot be sent as it stands.");
}

bool CSettingPageDlg::AskAboutProblems(int pageId, const ListedDevices &listed) {
    namespace change = veltrona::change;
    QStringList problems;
    // The change as the engine checks it: the page's request to this device,
    // which answered from `listed.places`.
    veltrona::DeviceRecord device;
    device.item = m_item;
    device.info = m_deviceInfo;
    device.network = m_networkSettings;
    change::DeviceChange planned;
    std::copy(std::begin(m_deviceInfo.mac), std::end(m_deviceInfo.mac), planned.mac.begin());
    planned.device = &device;
    planned.places = listed.places;
    planned.settings = m_networkSettings;
    planned.steps = {pageId == CHostNamePageDlg::IDD ? change::Step::HostName
                                                     : change::Step::Account};
    if (pageId == CNetworkPageDlg::IDD && m_pNetworkPage != nullptr) {
        problems << m_pNetworkPage->BlankFieldProblems();
        // An address with a blank field is not judged further: it is wrong already.
        if (problems.isEmpty()) {
            planned.steps = {change::Step::Network};
            m_pNetworkPage->CollectSettings(&planned.settings);
        }
    }
    if (planned.steps.front() == change::Step::HostName) {
        planned.hostName = veltrona::fieldText(m_deviceInfo.hostName);
        planned.domainName = veltrona::fieldText(m_deviceInfo.domainName);
    }
    const bool bound = !m_strBinding.isEmpty() && m_strBinding != "ANY";
    const change::ChangeEngine engine(m_library, {planned}, {});
    for (const change::Problem &problem :
         engine.check(listed.devices, {bound, change::localNetworks()}))
        problems << ProblemText(problem);
    if (problems.isEmpty())
        return true;
    // Host names and interface names come from the network: no control
    // character of theirs reaches the message.
    QString text = tr("Check this change before it is sent:") + QLatin1Char('\n');
    for (const QString &problem : problems) {
        text += QStringLiteral("\n\u2022 ") +
                QString::fromStdString(veltrona::printable(problem.toStdString()));
    }
    text += QLatin1String("\n\n") +
            tr("Nothing has been sent. Go back and correct it, or send it anyway?");
    return m_platform.askToProceed(this, text, tr("Go Back"), tr("Send Anyway"));
}

int CSettingPageDlg::AskCredentials() {
    CAuthenticationDlg dialog(this, m_platform);
    const int result = dialog.DoModal();
    if (result != QDialog::Accepted)
        return result;
    m_strID = dialog.GetID();
    m_strPassword = dialog.GetPassword();
    return 1;
}

bool CSettingPageDlg::ApplyPage(int pageId) {
    veltrona::KovaLibrary &library = m_library;
    m_bAwaitingResult = false;
    const KOVA_CONFIG config{ReplyBridge::instance().openConnection(library), nullptr,
                             KOVA_CLASS_ID};
    const bool initialised =
        veltrona::initialiseForBinding(
            library, config,
            std::string_view(m_strBinding.constData(), size_t(m_strBinding.size()))) == KOVA_OK;
    if (!initialised) {
        m_platform.messageBox(this, tr("Error : initialising kova..."));
        // The closed library refuses the request below and sends nothing.
        library.close();
        ReplyBridge::instance().closeConnection();
    }
    QByteArray id = bytesOf(m_strID);
    QByteArray password = bytesOf(m_strPassword);
    int32_t result = KOVA_OK;
    switch (pageId) {
    case CNetworkPageDlg::IDD:
        m_pNetworkPage->CollectSettings(&m_networkSettings);
        result = library.setNetworkSettings(m_item, id.constData(), password.constData(),
                                            &m_networkSettings);
        break;
    case CAccountPageDlg::IDD: {
        QString newPassword;
        m_pAccountPage->GetAccount(newPassword, &m_guestAccount);
        result = library.setAccount(m_item, id.constData(), password.constData(),
                                    bytesOf(newPassword).constData(), &m_guestAccount);
        break;
    }
    case CHostNamePageDlg::IDD: {
        QString hostName;
        QString domainName;
        m_pHostNamePage->GetNames(hostName, domainName);
        result =
            library.setHostName(m_item, id.constData(), password.constData(),
                                bytesOf(hostName).constData(), bytesOf(domainName).constData());
        break;
    }
    default:
        return false;
    }
    id.fill('\0');
    password.fill('\0');
    if (!initialised)
        return false;
    if (result != KOVA_OK) {
        // Nothing was sent, so no answer will come: say why and close the
        // connection opened for it.
        m_platform.messageBox(this, QString::fromLatin1(kova_ErrorText(result)));
        library.close();
        return false;
    }
    m_bAwaitingResult = true;
    return true;
}

void CSettingPageDlg::CloseSettingPage(int result) {
    m_item = nullptr;
    done(result);
}

QString CSettingPageDlg::UpdateResultText(int32_t event) {
    const char *text = veltrona::updateResultText(event);
    return text != nullptr ? QCoreApplication::translate(veltrona::kTextContext, text) : QString();
}

void CSettingPageDlg::ReportUpdateResult(HKOVAITEM, int32_t event, int32_t) {
    m_bReporting.store(true);
    m_bAwaitingResult = false;
    const QString text = UpdateResultText(event);
    if (!text.isEmpty())
        m_platform.messageBox(this, text);
    m_bReporting.store(false);
    m_library.close();
    ReplyBridge::instance().closeConnection();
    // The credentials served this request only; the next Apply asks again.
    m_strID.fill(QChar());
    m_strID.clear();
    m_strPassword.fill(QChar());
    m_strPassword.clear();
}
