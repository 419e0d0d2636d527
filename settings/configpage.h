#pragma once
// What the three pages of the setting page share: the Apply, Restore and Close
// buttons and the handlers behind them. A page shows a record that the setting
// page holds and asks the setting page, through its signals, for credentials,
// for its request to be sent and for the end of the setting page; the setting
// page connects them as it creates the page, so each runs within the click.

#include <QWidget>

class CConfigPage : public QWidget {
    Q_OBJECT

public:
    static constexpr int IDC_APPLY = 1025;
    static constexpr int IDC_RESTORE = 1026;
    static constexpr int IDC_CLOSE = 1032;

    // Enables Apply and Restore.
    void OnModified();
    // Has the page's values checked and, unless the user goes back from what
    // the checks found, asks for credentials and, when confirmed, disables
    // Apply and has the page's request sent; Apply is enabled again when
    // nothing could be sent.
    void OnApply();
    // Shows the setting page's values again and disables Apply and Restore.
    void OnRestore();
    // Ends the setting page.
    void OnClose();

signals:
    // Asks for the checks of the page with template id `templateId` before
    // anything is asked or sent: `proceed` becomes false when the user chose
    // to go back to the page.
    void checkRequested(int templateId, bool *proceed);
    // Asks for the administrator's credentials: `result` becomes 1 when they
    // were confirmed, else the authentication dialog's result.
    void credentialsRequested(int *result);
    // Asks for the request of the page with template id `templateId` to be
    // sent: `sent` becomes false when nothing was sent.
    void applyRequested(int templateId, bool *sent);
    // Asks for the setting page to end with `result`.
    void closeRequested(int result);

protected:
    // `pageId` is the page's template id, which applyRequested carries.
    CConfigPage(QWidget *parent, int pageId);

    // Connects the three buttons; call once the page's controls are built.
    void ConnectButtons();
    void SetApplyRestore(bool enable);
    // Shows the setting page's values.
    virtual void Fill() = 0;

private:
    int m_pageId;
};
