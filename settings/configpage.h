#pragma once
// What the three pages of the setting page share: the Apply, Restore and Close
// buttons and the handlers behind them.

#include <QWidget>

class CSettingPageDlg;

class CConfigPage : public QWidget {
    Q_OBJECT

public:
    static constexpr int IDC_APPLY = 1025;
    static constexpr int IDC_RESTORE = 1026;
    static constexpr int IDC_CLOSE = 1032;

    // Enables Apply and Restore.
    void OnModified();
    // Asks for credentials and, when confirmed, disables Apply and sends the
    // page's request; Apply is enabled again when nothing could be sent.
    void OnApply();
    // Shows the setting page's values again and disables Apply and Restore.
    void OnRestore();
    // Ends the setting page.
    void OnClose();

protected:
    // `pageId` is the page's template id, which the setting page's ApplyPage
    // takes.
    CConfigPage(CSettingPageDlg *parent, int pageId);

    // Connects the three buttons; call once the page's controls are built.
    void ConnectButtons();
    void SetApplyRestore(bool enable);
    // Shows the setting page's values.
    virtual void Fill() = 0;

    CSettingPageDlg *m_pParent;

private:
    int m_pageId;
};
