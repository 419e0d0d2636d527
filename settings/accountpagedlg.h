#pragma once
// The account page: a new administrator password (shown in clear) and whether
// a guest account is allowed.

#include <QString>
#include <QWidget>

#include <cstdint>

class CSettingPageDlg;

class CAccountPageDlg : public QWidget {
    Q_OBJECT

public:
    static constexpr int IDD = 131;
    static constexpr int IDC_APPLY = 1025;
    static constexpr int IDC_RESTORE = 1026;
    static constexpr int IDC_CLOSE = 1032;
    static constexpr int IDC_NEW_PASSWORD = 1027;
    static constexpr int IDC_GUEST = 1028;

    explicit CAccountPageDlg(CSettingPageDlg *parent);

    // Shows the setting page's guest flag and empties the new password.
    void Fill();
    // The new password, whole, and the guest flag (1 checked, else 0).
    void GetAccount(QString &newPassword, int32_t *guestAllowed) const;

    void OnModified();
    void OnApply();
    void OnRestore();
    void OnClose();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void SetApplyRestore(bool enable);
    CSettingPageDlg *m_pParent;
};
