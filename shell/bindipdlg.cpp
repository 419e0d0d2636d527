#include "bindipdlg.h"

#include "dialogbuilder.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include <cstdio>

namespace {

// The binding text holds at most 19 characters, as "ANY" or a dotted address
// always does.
constexpr qsizetype kBindingTextMax = 19;

} // namespace

CBindIpDlg::CBindIpDlg(QWidget *parent, veltrona::ui::Platform &platform)
    : QDialog(parent), m_platform(platform), m_bindingText("ANY") {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    veltrona::ui::buildDialog(this, *veltrona::res::findDialogTemplate(veltrona::res::IDD_BIND_IP));
    m_addressList = veltrona::ui::controlAs<QComboBox>(this, IDC_ADDRESS_LIST);
    m_addressList->setEditable(false);
    // A screen reader names a drop-down list after the label that belongs to
    // it and reads the chosen item as its value.
    findChild<QLabel *>()->setBuddy(m_addressList);
    m_addressList->view()->setAccessibleName(tr("IP List"));
    m_addressList->setAccessibleDescription(tr("The local address that the next scan uses"));
    connect(veltrona::ui::controlAs<QPushButton>(this, 1), &QPushButton::clicked, this,
            &CBindIpDlg::accept);
    connect(veltrona::ui::controlAs<QPushButton>(this, 2), &QPushButton::clicked, this,
            &QDialog::reject);
}

void CBindIpDlg::SetBindingText(const QByteArray &text) {
    m_bindingText = text.left(kBindingTextMax);
}

void CBindIpDlg::OnInitDialog() {
    m_addressList->clear();
    m_addressList->addItem(QStringLiteral("ANY"));
    int selection = 0;
    const std::vector<Address> addresses = m_platform.hostAddresses();
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
