#include "dialog_templates.h"

#include <array>

namespace veltrona::res {

namespace {

using K = ControlKind;
constexpr std::uint32_t V = Visible;
constexpr std::uint32_t BTN = Visible | TabStop;
constexpr std::uint32_t EDIT = Visible | Border | TabStop;

// About box.
constexpr std::array kAbout{
    ControlTemplate{IDC_STATIC, K::Icon, "", 11, 9, 20, 20, V},
    ControlTemplate{1037, K::Static, "Veltrona Version 2.2", 38, 7, 112, 8, V | Group},
    ControlTemplate{1038, K::Static, "Copyright", 38, 18, 112, 8, V | Group},
    ControlTemplate{1, K::DefPushButton, "OK", 151, 14, 50, 14, BTN | Group},
    ControlTemplate{1039, K::Static, "", 38, 29, 112, 8, V | Group},
};

// Main window.
constexpr std::array kMain{
    ControlTemplate{2, K::PushButton, "Exit", 294, 257, 50, 14, BTN},
    ControlTemplate{1001, K::ListView, "", 7, 34, 351, 218, V | Border | TabStop},
    ControlTemplate{1002, K::PushButton, "Scan", 7, 257, 65, 14, BTN},
    ControlTemplate{1003, K::PushButton, "Change Setting...", 75, 257, 65, 14, BTN},
    ControlTemplate{1004, K::PushButton, "Clear Table", 143, 257, 65, 14, BTN},
    ControlTemplate{141, K::OwnerDrawButton, "i", 315, 0, 12, 11, V | Flat},
    ControlTemplate{142, K::OwnerDrawButton, "_", 328, 0, 12, 11, V | Flat},
    ControlTemplate{143, K::OwnerDrawButton, "X", 341, 0, 12, 11, V | Flat},
    ControlTemplate{1043, K::PushButton, "Bind IP", 238, 257, 50, 14, BTN},
};

// Network page.
constexpr std::array kNetworkPage{
    ControlTemplate{1025, K::DefPushButton, "Apply", 29, 146, 50, 14, BTN},
    ControlTemplate{1026, K::PushButton, "Restore", 81, 146, 50, 14, BTN},
    ControlTemplate{1000, K::AutoRadio, "DHCP", 22, 11, 35, 10, BTN | Group},
    ControlTemplate{1001, K::AutoRadio, "Static IP", 72, 11, 43, 10, V},
    ControlTemplate{1002, K::AutoRadio, "PPPOE", 130, 11, 39, 10, V},
    ControlTemplate{1028, K::IpAddress, "", 62, 42, 113, 13, V | TabStop},
    ControlTemplate{1034, K::IpAddress, "", 62, 56, 113, 13, V | TabStop},
    ControlTemplate{1036, K::IpAddress, "", 62, 70, 113, 13, V | TabStop},
    ControlTemplate{1035, K::IpAddress, "", 62, 84, 113, 13, V | TabStop},
    ControlTemplate{IDC_STATIC, K::GroupBox, "Network Configuration", 0, 31, 183, 101, V},
    ControlTemplate{1019, K::Static, "IP Address : ", 19, 44, 42, 8, V},
    ControlTemplate{1020, K::Static, "Gateway : ", 25, 58, 35, 8, V},
    ControlTemplate{1024, K::Static, "DNS Server :", 11, 85, 43, 8, V},
    ControlTemplate{1021, K::Static, "Net Mask :", 23, 72, 36, 8, V},
    ControlTemplate{IDC_STATIC, K::GroupBox, "Network Type", 0, 0, 183, 27, V},
    ControlTemplate{1003, K::Edit, "", 55, 46, 119, 12, EDIT},
    ControlTemplate{1009, K::Static, "Username :", 12, 47, 43, 8, V},
    ControlTemplate{1010, K::Static, "Password :", 18, 60, 37, 8, V},
    ControlTemplate{1004, K::Edit, "", 55, 59, 119, 12, EDIT | Password},
    ControlTemplate{1005, K::Edit, "", 55, 72, 119, 12, EDIT},
    ControlTemplate{1011, K::Static, "Service Name :", 4, 74, 51, 8, V},
    ControlTemplate{1006, K::Edit, "", 55, 85, 119, 12, EDIT},
    ControlTemplate{1014, K::Static, "MTU :", 35, 87, 20, 8, V},
    ControlTemplate{1008, K::IpAddress, "", 56, 112, 119, 12, V | TabStop | Disabled},
    ControlTemplate{1015, K::Static, "DNS Server :", 12, 114, 43, 8, V},
    ControlTemplate{1037, K::AutoRadio, "Automatic DNS", 25, 101, 64, 10, BTN | Group},
    ControlTemplate{1038, K::AutoRadio, "Manual DNS", 101, 101, 57, 10, V},
    ControlTemplate{1032, K::PushButton, "Close", 133, 146, 50, 14, BTN},
};

// Account page.
constexpr std::array kAccountPage{
    ControlTemplate{1025, K::DefPushButton, "Apply", 29, 146, 50, 14, BTN},
    ControlTemplate{1026, K::PushButton, "Restore", 81, 146, 50, 14, BTN},
    ControlTemplate{1027, K::Edit, "", 64, 16, 80, 14, EDIT},
    ControlTemplate{IDC_STATIC, K::Static, "New Password : ", 8, 18, 55, 8, V},
    ControlTemplate{IDC_STATIC, K::GroupBox, "Account Setting", 0, 0, 183, 69, V},
    ControlTemplate{1028, K::AutoCheckBox, "Allow Guest Account", 64, 43, 81, 10, BTN},
    ControlTemplate{1032, K::PushButton, "Close", 133, 146, 50, 14, BTN},
};

// Host name page.
constexpr std::array kHostNamePage{
    ControlTemplate{IDC_STATIC, K::GroupBox, "Static", 0, 0, 183, 85, V},
    ControlTemplate{1030, K::Edit, "", 66, 16, 104, 14, EDIT},
    ControlTemplate{1029, K::Edit, "", 66, 38, 104, 14, EDIT},
    ControlTemplate{1031, K::Static, "", 66, 60, 104, 14, V},
    ControlTemplate{IDC_STATIC, K::Static, "Host Name : ", 9, 17, 43, 8, V},
    ControlTemplate{IDC_STATIC, K::Static, "Domain Name : ", 9, 39, 53, 8, V},
    ControlTemplate{IDC_STATIC, K::Static, "Model Name : ", 9, 61, 48, 8, V},
    ControlTemplate{1025, K::DefPushButton, "Apply", 29, 146, 50, 14, BTN},
    ControlTemplate{1026, K::PushButton, "Restore", 81, 146, 50, 14, BTN},
    ControlTemplate{1032, K::PushButton, "Close", 133, 146, 50, 14, BTN},
};

// Setting page: the frame marks where the pages go; the selectors stay hidden.
constexpr std::array kSettingPage{
    ControlTemplate{1016, K::BlackFrame, "", 7, 7, 183, 160, V},
    ControlTemplate{1020, K::PushLikeCheckBox, "Network", 7, 102, 61, 16, TabStop},
    ControlTemplate{1010, K::PushLikeCheckBox, "Host Name", 68, 102, 61, 16, TabStop},
    ControlTemplate{1011, K::PushLikeCheckBox, "Account", 129, 102, 61, 16, TabStop},
};

// Authentication dialog.
constexpr std::array kAuthentication{
    ControlTemplate{1, K::DefPushButton, "OK", 7, 51, 50, 14, BTN},
    ControlTemplate{2, K::PushButton, "Cancel", 96, 51, 50, 14, BTN},
    ControlTemplate{1003, K::Edit, "", 70, 7, 76, 14, EDIT | Disabled},
    ControlTemplate{1033, K::Edit, "", 70, 26, 76, 14, EDIT | Password},
    ControlTemplate{IDC_STATIC, K::Static, "ID : ", 7, 11, 36, 8, V},
    ControlTemplate{IDC_STATIC, K::Static, "Password : ", 7, 29, 46, 8, V},
};

// Bind IP dialog.
constexpr std::array kBindIp{
    ControlTemplate{1, K::DefPushButton, "OK", 36, 28, 50, 14, BTN},
    ControlTemplate{2, K::PushButton, "Cancel", 100, 28, 50, 14, BTN},
    ControlTemplate{1044, K::DropDownList, "", 50, 7, 113, 70, V | TabStop},
    ControlTemplate{IDC_STATIC, K::Static, "IP List", 23, 9, 25, 8, V},
};

constexpr std::array kDialogs{
    DialogTemplate{IDD_ABOUTBOX, "Veltrona", "Arial", 9, 215, 44, 0, kAbout},
    DialogTemplate{IDD_VELTRONA_DIALOG, "", "Arial", 9, 363, 277, 0, kMain},
    DialogTemplate{IDD_NETWORK_PAGE, "", "System", 10, 183, 160, Child, kNetworkPage},
    DialogTemplate{IDD_ACCOUNT_PAGE, "", "System", 10, 183, 160, Child, kAccountPage},
    DialogTemplate{IDD_HOSTNAME_PAGE, "", "System", 10, 183, 160, Child, kHostNamePage},
    DialogTemplate{IDD_SETTING_PAGE, "Setting Page", "System", 10, 197, 174, 0, kSettingPage},
    DialogTemplate{IDD_AUTHENTICATION, "Authentication", "System", 10, 153, 72, 0, kAuthentication},
    DialogTemplate{IDD_BIND_IP, "Binding your IP", "Arial", 9, 187, 49, 0, kBindIp},
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
