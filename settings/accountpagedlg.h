#pragma once
// The account page: a new administrator password (shown in clear) and whether
// a guest account is allowed.

#include "configpage.h"

#include <QString>

#include <cstdint>

class CAccountPageDlg : public CConfigPage {
    Q_OBJECT

public:
    static constexpr int IDD = 131;
    static constexpr int IDC_NEW_PASSWORD = 1027;
    static constexpr int IDC_GUEST = 1028;

    // Shows `guestAccount`, the setting page's guest flag.
    CAccountPageDlg(QWidget *parent, const int32_t &guestAccount);

    // Shows the setting page's guest flag and empties the new password.
    void Fill() override;
    // The new password, whole, and the guest flag (1 checked, else 0).
    void GetAccount(QString &newPassword, int32_t *guestAllowed) const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    const int32_t &m_guestAccount;
};
