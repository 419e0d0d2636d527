#include "dialog_templates.h"

#include <QtGlobal>

#include <array>

namespace veltrona::res {

namespace {

using K = ControlKind;
constexpr std::uint32_t V = Visible;
constexpr std::uint32_t BTN = Visible | TabStop;
constexpr std::uint32_t EDIT = Visible | Border | TabStop;

// Texts are marked for translation in the context kTextContext; the builder
// shows them translated. The about box's placeholders and the title buttons'
// texts are never seen and stay unmarked.

// About box.
constexpr std::array kAbout{
    ControlTemplate{IDC_STATIC, K::Icon, "", 11, 9, 20, 20, V},
    ControlTemplate{1037, K::Static, "Veltrona Version 2.2", 38, 7, 112, 8, V | Group},
    ControlTemplate{1038, K::Static, "Copyright", 38, 18, 112, 8, V | Group},
    ControlTemplate{1, K::DefPushButton, QT_TRANSLATE_NOOP("DialogTemplate", "OK"), 151, 14, 50, 14,
                    BTN | Group},
    ControlTemplate{1039, K::Static, "", 38, 29, 112, 8, V | Group},
};

// Main window.
constexpr std::array kMain{
    ControlTemplate{2, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Exit"), 294, 257, 50, 14,
                    BTN},
    ControlTemplate{1001, K::ListView, "", 7, 34, 351, 218, V | Border | TabStop},
    ControlTemplate{1002, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Scan"), 7, 257, 65,
                    14, BTN},
    ControlTemplate{1003, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Change Setting..."),
                    75, 257, 65, 14, BTN},
    ControlTemplate{1004, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Clear Table"), 143,
                    257, 65, 14, BTN},
    ControlTemplate{141, K::OwnerDrawButton, "i", 315, 0, 12, 11, V | Flat},
    ControlTemplate{142, K::OwnerDrawButton, "_", 328, 0, 12, 11, V | Flat},
    ControlTemplate{143, K::OwnerDrawButton, "X", 341, 0, 12, 11, V | Flat},
    ControlTemplate{1043, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Bind IP"), 238, 257,
                    50, 14, BTN},
};

// Network page.
constexpr std::array kNetworkPage{
    ControlTemplate{1025, K::DefPushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Apply"), 29, 146,
                    50, 14, BTN},
    ControlTemplate{1026, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Restore"), 81, 146,
                    50, 14, BTN},
    ControlTemplate{1000, K::AutoRadio, QT_TRANSLATE_NOOP("DialogTemplate", "DHCP"), 22, 11, 35, 10,
                    BTN | Group},
    ControlTemplate{1001, K::AutoRadio, QT_TRANSLATE_NOOP("DialogTemplate", "Static IP"), 72, 11,
                    43, 10, V},
    ControlTemplate{1002, K::AutoRadio, QT_TRANSLATE_NOOP("DialogTemplate", "PPPOE"), 130, 11, 39,
                    10, V},
    ControlTemplate{1028, K::IpAddress, "", 62, 42, 113, 13, V | TabStop},
    ControlTemplate{1034, K::IpAddress, "", 62, 56, 113, 13, V | TabStop},
    ControlTemplate{1036, K::IpAddress, "", 62, 70, 113, 13, V | TabStop},
    ControlTemplate{1035, K::IpAddress, "", 62, 84, 113, 13, V | TabStop},
    ControlTemplate{IDC_STATIC, K::GroupBox,
                    QT_TRANSLATE_NOOP("DialogTemplate", "Network Configuration"), 0, 31, 183, 101,
                    V},
    ControlTemplate{1019, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "IP Address : "), 19, 44,
                    42, 8, V},
    ControlTemplate{1020, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Gateway : "), 25, 58, 35,
                    8, V},
    ControlTemplate{1024, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "DNS Server :"), 11, 85,
                    43, 8, V},
    ControlTemplate{1021, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Net Mask :"), 23, 72, 36,
                    8, V},
    ControlTemplate{IDC_STATIC, K::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Network Type"), 0,
                    0, 183, 27, V},
    ControlTemplate{1003, K::Edit, "", 55, 46, 119, 12, EDIT},
    ControlTemplate{1009, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Username :"), 12, 47, 43,
                    8, V},
    ControlTemplate{1010, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Password :"), 18, 60, 37,
                    8, V},
    ControlTemplate{1004, K::Edit, "", 55, 59, 119, 12, EDIT | Password},
    ControlTemplate{1005, K::Edit, "", 55, 72, 119, 12, EDIT},
    ControlTemplate{1011, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Service Name :"), 4, 74,
                    51, 8, V},
    ControlTemplate{1006, K::Edit, "", 55, 85, 119, 12, EDIT},
    ControlTemplate{1014, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "MTU :"), 35, 87, 20, 8,
                    V},
    ControlTemplate{1008, K::IpAddress, "", 56, 112, 119, 12, V | TabStop | Disabled},
    ControlTemplate{1015, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "DNS Server :"), 12, 114,
                    43, 8, V},
    ControlTemplate{1037, K::AutoRadio, QT_TRANSLATE_NOOP("DialogTemplate", "Automatic DNS"), 25,
                    101, 64, 10, BTN | Group},
    ControlTemplate{1038, K::AutoRadio, QT_TRANSLATE_NOOP("DialogTemplate", "Manual DNS"), 101, 101,
                    57, 10, V},
    ControlTemplate{1032, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Close"), 133, 146, 50,
                    14, BTN},
};

// Account page.
constexpr std::array kAccountPage{
    ControlTemplate{1025, K::DefPushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Apply"), 29, 146,
                    50, 14, BTN},
    ControlTemplate{1026, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Restore"), 81, 146,
                    50, 14, BTN},
    ControlTemplate{1027, K::Edit, "", 64, 16, 80, 14, EDIT},
    ControlTemplate{IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "New Password : "),
                    8, 18, 55, 8, V},
    ControlTemplate{IDC_STATIC, K::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Account Setting"),
                    0, 0, 183, 69, V},
    ControlTemplate{1028, K::AutoCheckBox,
                    QT_TRANSLATE_NOOP("DialogTemplate", "Allow Guest Account"), 64, 43, 81, 10,
                    BTN},
    ControlTemplate{1032, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Close"), 133, 146, 50,
                    14, BTN},
};

// Host name page.
constexpr std::array kHostNamePage{
    ControlTemplate{IDC_STATIC, K::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Static"), 0, 0,
                    183, 85, V},
    ControlTemplate{1030, K::Edit, "", 66, 16, 104, 14, EDIT},
    ControlTemplate{1029, K::Edit, "", 66, 38, 104, 14, EDIT},
    ControlTemplate{1031, K::Static, "", 66, 60, 104, 14, V},
    ControlTemplate{IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Host Name : "), 9,
                    17, 43, 8, V},
    ControlTemplate{IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Domain Name : "), 9,
                    39, 53, 8, V},
    ControlTemplate{IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Model Name : "), 9,
                    61, 48, 8, V},
    ControlTemplate{1025, K::DefPushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Apply"), 29, 146,
                    50, 14, BTN},
    ControlTemplate{1026, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Restore"), 81, 146,
                    50, 14, BTN},
    ControlTemplate{1032, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Close"), 133, 146, 50,
                    14, BTN},
};

// Setting page: the frame marks where the pages go; the selectors stay hidden.
constexpr std::array kSettingPage{
    ControlTemplate{1016, K::BlackFrame, "", 7, 7, 183, 160, V},
    ControlTemplate{1020, K::PushLikeCheckBox, QT_TRANSLATE_NOOP("DialogTemplate", "Network"), 7,
                    102, 61, 16, TabStop},
    ControlTemplate{1010, K::PushLikeCheckBox, QT_TRANSLATE_NOOP("DialogTemplate", "Host Name"), 68,
                    102, 61, 16, TabStop},
    ControlTemplate{1011, K::PushLikeCheckBox, QT_TRANSLATE_NOOP("DialogTemplate", "Account"), 129,
                    102, 61, 16, TabStop},
};

// Authentication dialog.
constexpr std::array kAuthentication{
    ControlTemplate{1, K::DefPushButton, QT_TRANSLATE_NOOP("DialogTemplate", "OK"), 7, 51, 50, 14,
                    BTN},
    ControlTemplate{2, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Cancel"), 96, 51, 50, 14,
                    BTN},
    ControlTemplate{1003, K::Edit, "", 70, 7, 76, 14, EDIT | Disabled},
    ControlTemplate{1033, K::Edit, "", 70, 26, 76, 14, EDIT | Password},
    ControlTemplate{IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "ID : "), 7, 11, 36,
                    8, V},
    ControlTemplate{IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Password : "), 7,
                    29, 46, 8, V},
};

// Bind IP dialog.
constexpr std::array kBindIp{
    ControlTemplate{1, K::DefPushButton, QT_TRANSLATE_NOOP("DialogTemplate", "OK"), 36, 28, 50, 14,
                    BTN},
    ControlTemplate{2, K::PushButton, QT_TRANSLATE_NOOP("DialogTemplate", "Cancel"), 100, 28, 50,
                    14, BTN},
    ControlTemplate{1044, K::DropDownList, "", 50, 7, 113, 70, V | TabStop},
    ControlTemplate{IDC_STATIC, K::Static, QT_TRANSLATE_NOOP("DialogTemplate", "IP List"), 23, 9,
                    25, 8, V},
};

constexpr std::array kDialogs{
    DialogTemplate{IDD_ABOUTBOX, "Veltrona", "Arial", 9, 215, 44, 0, kAbout},
    DialogTemplate{IDD_VELTRONA_DIALOG, "", "Arial", 9, 363, 277, 0, kMain},
    DialogTemplate{IDD_NETWORK_PAGE, "", "System", 10, 183, 160, Child, kNetworkPage},
    DialogTemplate{IDD_ACCOUNT_PAGE, "", "System", 10, 183, 160, Child, kAccountPage},
    DialogTemplate{IDD_HOSTNAME_PAGE, "", "System", 10, 183, 160, Child, kHostNamePage},
    DialogTemplate{IDD_SETTING_PAGE, QT_TRANSLATE_NOOP("DialogTemplate", "Setting Page"), "System",
                   10, 197, 174, 0, kSettingPage},
    DialogTemplate{IDD_AUTHENTICATION, QT_TRANSLATE_NOOP("DialogTemplate", "Authentication"),
                   "System", 10, 153, 72, 0, kAuthentication},
    DialogTemplate{IDD_BIND_IP, QT_TRANSLATE_NOOP("DialogTemplate", "Binding your IP"), "Arial", 9,
                   187, 49, 0, kBindIp},
};

} // namespace

const DialogTemplate *findDialogTemplate(int id) {
    for (const DialogTemplate &dialog : kDialogs) {
        if (dialog.id == id)
            return &dialog;
    }
    return nullptr;
}

} // namespace veltrona::res
