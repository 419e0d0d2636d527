#pragma once
// Lets the user choose the local address that the next scan binds to: "ANY"
// or one of this host's IPv4 interface addresses.

#include "platform.h"

#include <QByteArray>
#include <QDialog>

class QComboBox;
class QShowEvent;

class CBindIpDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IDC_ADDRESS_LIST = 1044;

    using Address = veltrona::ui::Platform::Address;

    // The list shows the addresses that `platform` gives.
    explicit CBindIpDlg(QWidget *parent = nullptr,
                        veltrona::ui::Platform &platform = veltrona::ui::Platform::real());

    // The current binding text, before the dialog runs.
    void SetBindingText(const QByteArray &text);
    // The selected item's text after OK; unchanged after Cancel.
    QByteArray BindingText() const { return m_bindingText; }

    // Fills the list ("ANY", then the host's addresses) and selects the item
    // equal to the binding text (the later of equal ones), or "ANY". Runs
    // each time the dialog is shown.
    void OnInitDialog();
    QComboBox *AddressList() const { return m_addressList; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    veltrona::ui::Platform &m_platform;
    QByteArray m_bindingText;
    QComboBox *m_addressList = nullptr;
};
