#pragma once
// Asks for the administrator ID and password that a configuration request
// carries. The ID field opens disabled and preset to "root"; a left click
// strictly inside it with Ctrl and Shift held enables it. Both fields take no
// more characters than the library accepts.

#include "platform.h"

#include <QDialog>
#include <QString>

class QLineEdit;

class CAuthenticationDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IDC_ID = 1003;
    static constexpr int IDC_PASSWORD = 1033;
    // The longest ID and password the library's requests accept.
    static constexpr int kMaxIdLength = 8;
    static constexpr int kMaxPasswordLength = 16;

    // The refusal of an empty ID is shown through `platform`.
    explicit CAuthenticationDlg(QWidget *parent = nullptr,
                                veltrona::ui::Platform &platform = veltrona::ui::Platform::real());

    // Runs the dialog modally through the platform: QDialog::Accepted (1) or
    // QDialog::Rejected (0, for Cancel, Esc and the close box).
    int DoModal() { return m_platform.runModal(*this); }

    QString GetID() const { return m_strID; }
    QString GetPassword() const { return m_strPassword; }

    QLineEdit *idEdit() const { return m_editID; }
    QLineEdit *passwordEdit() const { return m_editPassword; }

public slots:
    // Accepts a non-empty ID; an empty one gets "Admin ID is required" and the
    // dialog stays open with the focus in the ID field.
    void OnOK();
    // Enter and other accept requests go through the same check.
    void accept() override;

protected:
    // Mouse presses over the disabled ID field arrive here: Qt hands a
    // disabled widget's mouse events on to its parent.
    void mousePressEvent(QMouseEvent *event) override;

private:
    veltrona::ui::Platform &m_platform;
    QString m_strPassword;
    QString m_strID;
    QLineEdit *m_editID = nullptr;
    QLineEdit *m_editPassword = nullptr;
};
