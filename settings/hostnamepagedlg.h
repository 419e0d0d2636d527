#pragma once
// The host name page: the device's host name and domain name (editable) and
// its model name (display only).

#include <QString>
#include <QWidget>

class CSettingPageDlg;

class CHostNamePageDlg : public QWidget {
    Q_OBJECT

public:
    static constexpr int IDD = 132;
    static constexpr int IDC_APPLY = 1025;
    static constexpr int IDC_RESTORE = 1026;
    static constexpr int IDC_CLOSE = 1032;
    static constexpr int IDC_HOST_NAME = 1030;
    static constexpr int IDC_DOMAIN_NAME = 1029;
    static constexpr int IDC_MODEL_NAME = 1031;

    explicit CHostNamePageDlg(CSettingPageDlg *parent);

    // Shows the setting page's device information.
    void Fill();
    // The two names as typed, whole.
    void GetNames(QString &hostName, QString &domainName) const;

    void OnModified();
    void OnApply();
    void OnRestore();
    void OnClose();

private:
    void SetApplyRestore(bool enable);
    CSettingPageDlg *m_pParent;
};
