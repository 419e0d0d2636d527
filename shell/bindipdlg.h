#pragma once
// Lets the user choose the local address that the next scan binds to: "ANY"
// or one of this host's IPv4 interface addresses.

#include <QByteArray>
#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class QComboBox;
class QShowEvent;

class CBindIpDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IDC_ADDRESS_LIST = 1044;

    using Address = std::array<uint8_t, 4>;
    using AddressSource = std::function<std::vector<Address>()>;

    explicit CBindIpDlg(QWidget *parent = nullptr);

    // The current binding text, before the dialog runs.
    void SetBindingText(const QByteArray &text);
    // The selected item's text after OK; unchanged after Cancel.
    QByteArray BindingText() const { return m_bindingText; }

    // Fills the list ("ANY", then the host's addresses) and selects the item
    // equal to the binding text (the later of equal ones), or "ANY". Runs
    // each time the dialog is shown.
    void OnInitDialog();
    QComboBox *AddressList() const { return m_addressList; }

    // This host's IPv4 interface addresses in the order the system lists them.
    static std::vector<Address> HostAddresses();
    // Replaces the address source (tests); an empty one restores
    // HostAddresses. Returns the source that was in place.
    static AddressSource SetAddressSource(AddressSource source);

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QByteArray m_bindingText;
    QComboBox *m_addressList = nullptr;
};
