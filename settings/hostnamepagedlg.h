#pragma once
// The host name page: the device's host name and domain name (editable) and
// its model name (display only).

#include "configpage.h"
#include "kova.h"

#include <QString>

class CHostNamePageDlg : public CConfigPage {
    Q_OBJECT

public:
    static constexpr int IDD = 132;
    static constexpr int IDC_HOST_NAME = 1030;
    static constexpr int IDC_DOMAIN_NAME = 1029;
    static constexpr int IDC_MODEL_NAME = 1031;

    // Shows `info`, the setting page's device information.
    CHostNamePageDlg(QWidget *parent, const KOVA_DEVICE_INFO &info);

    // Shows the setting page's device information.
    void Fill() override;
    // The two names as typed, whole.
    void GetNames(QString &hostName, QString &domainName) const;

private:
    const KOVA_DEVICE_INFO &m_info;
};
