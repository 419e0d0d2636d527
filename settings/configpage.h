#pragma once
// What the three pages of the setting page share: the Apply, Restore and Close
// buttons and the handlers behind them. A page shows a record that the setting
// page holds and asks the setting page, through its signals, for credentials,
// for its request to be sent and for the end of the setting page; the setting
// page connects them as it creates the page, so each runs within the click,
// except the checks, which may wait for the network and answer later.

#include <QWidget>

#include <functional>

class CConfigPage : public QWidget {
    Q_OBJECT

public:
    static constexpr int IDC_APPLY = 1025;
    static constexpr int IDC_RESTORE = 1026;
    static constexpr int IDC_CLOSE = 1032;

    // Enables Apply and Restore.
    void OnModified();
    // Has the page's values checked and, unless the user goes back from what
    // the checks found, asks for credentials and, when confirmed, has the
    // page's request sent. Apply is disabled meanwhile; it is enabled again
    // when nothing could be sent, and left as it was when the user went back
    // or cancelled. While the checks wait for the network, Apply stays
    // disabled and further calls are ignored.
    void OnApply();
    // Whether the page's checks are waiting for the network.
    bool IsChecking() const { return m_checking; }
    // Shows the setting page's values again and disables Apply and Restore.
    void OnRestore();
    // Ends the setting page.
    void OnClose();

signals:
    // Asks for the checks of the page with template id `templateId` before
    // anything is asked or sent. `checked` is to be called once, with false
    // when the user chose to go back to the page: within this call, or later
    // on the user-interface thread when the checks wait for the network, and
    // never once the page is gone.
    void checkRequested(int templateId, const std::function<void(bool proceed)> &checked);
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
    // What OnApply does once the checks have answered.
    void Checked(bool proceed);

    int m_pageId;
    bool m_checking = false;
    // How Apply is to be once the user goes back or cancels: as it was, or
    // as an edit made while the checks waited asked for.
    bool m_applyAfterCheck = false;
};
