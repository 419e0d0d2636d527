#include "settingpagedlg.h"

#include "accountpagedlg.h"
#include "authenticationdlg.h"
#include "devicerow.h"
#include "dialogbuilder.h"
#include "hostnamepagedlg.h"
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

bool CSettingPageDlg::AskAboutProblems(int pageId, const ListedDevices &listed) {
    const std::string mac = veltrona::formatMac(m_deviceInfo.mac);
    QStringList problems;
    if (listed.sources.size() > 1) {
        problems << tr("%1 answered from %2: the change may reach another device with the same "
                       "MAC address, or go out on the wrong network. Choose the network with "
                       "Bind IP and scan again.")
                        .arg(QString::fromStdString(mac), listed.sources.join(tr(" and ")));
    }
    if (pageId == CNetworkPageDlg::IDD && m_pNetworkPage != nullptr)
        problems << m_pNetworkPage->AddressProblems(listed.devices, mac);
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
