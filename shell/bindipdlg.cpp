#include "bindipdlg.h"

#include "dialogbuilder.h"

#include <QComboBox>
#include <QPushButton>
#include <QShowEvent>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstdio>

namespace {

CBindIpDlg::AddressSource &addressSource() {
    static CBindIpDlg::AddressSource source;
    return source;
}

// The binding text holds at most 19 characters, as "ANY" or a dotted address
// always does.
constexpr qsizetype kBindingTextMax = 19;

} // namespace

CBindIpDlg::CBindIpDlg(QWidget *parent) : QDialog(parent), m_bindingText("ANY") {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    veltrona::ui::buildDialog(this, *veltrona::res::findDialogTemplate(veltrona::res::IDD_BIND_IP));
    m_addressList = veltrona::ui::controlAs<QComboBox>(this, IDC_ADDRESS_LIST);
    m_addressList->setEditable(false);
    connect(veltrona::ui::controlAs<QPushButton>(this, 1), &QPushButton::clicked, this,
            &CBindIpDlg::accept);
    connect(veltrona::ui::controlAs<QPushButton>(this, 2), &QPushButton::clicked, this,
            &QDialog::reject);
}

void CBindIpDlg::SetBindingText(const QByteArray &text) {
    m_bindingText = text.left(kBindingTextMax);
}

std::vector<CBindIpDlg::Address> CBindIpDlg::HostAddresses() {
    std::vector<Address> addresses;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const auto *in = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
        const auto *bytes = reinterpret_cast<const uint8_t *>(&in->sin_addr.s_addr);
        addresses.push_back(Address{bytes[0], bytes[1], bytes[2], bytes[3]});
    }
    freeifaddrs(list);
    return addresses;
}

CBindIpDlg::AddressSource CBindIpDlg::SetAddressSource(AddressSource source) {
    AddressSource previous = std::move(addressSource());
    addressSource() = std::move(source);
    return previous;
}

void CBindIpDlg::OnInitDialog() {
    m_addressList->clear();
    m_addressList->addItem(QStringLiteral("ANY"));
    int selection = 0;
    const AddressSource &source = addressSource();
    const std::vector<Address> addresses = source ? source() : HostAddresses();
    int count = 0;
    for (const Address &a : addresses) {
        ++count;
        char text[20];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{a[0]}, unsigned{a[1]},
                      unsigned{a[2]}, unsigned{a[3]});
        if (m_bindingText == QByteArray(text))
            selection = count;
        m_addressList->addItem(QString::fromLatin1(text));
    }
    m_addressList->setCurrentIndex(selection);
}

void CBindIpDlg::showEvent(QShowEvent *event) {
    if (!event->spontaneous())
        OnInitDialog();
    QDialog::showEvent(event);
}

void CBindIpDlg::accept() {
    const int index = m_addressList->currentIndex();
    if (index >= 0)
        m_bindingText = m_addressList->itemText(index).toLatin1().left(kBindingTextMax);
    QDialog::accept();
}
