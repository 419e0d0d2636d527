#pragma once
// Dialog templates of the front end, kept as data in dialog units: for each
// dialog its caption, font, size and controls (id, kind, text, position, size
// and style), in template (tab) order. The widgets are built from them at run
// time (shell/dialogbuilder.h).

#include <cstdint>
#include <span>

namespace veltrona::res {

// Template ids.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_VELTRONA_DIALOG = 102;
inline constexpr int IDD_NETWORK_PAGE = 130;
inline constexpr int IDD_ACCOUNT_PAGE = 131;
inline constexpr int IDD_HOSTNAME_PAGE = 132;
inline constexpr int IDD_SETTING_PAGE = 133;
inline constexpr int IDD_AUTHENTICATION = 134;
inline constexpr int IDD_BIND_IP = 135;

// The translation context of the captions and control texts.
inline constexpr const char *kTextContext = "DialogTemplate";

// Id of controls that have none.
inline constexpr int IDC_STATIC = -1;

enum class ControlKind {
    PushButton,       // plain push button
    DefPushButton,    // default push button
    PushLikeCheckBox, // check box drawn as a push button (page selectors)
    AutoRadio,        // automatic radio button; a Group style starts a new group
    AutoCheckBox,     // automatic check box
    Edit,             // single-line edit
    Static,           // text label
    BlackFrame,       // static black frame
    GroupBox,         // group box frame with a title
    ListView,         // report-view list
    OwnerDrawButton,  // owner-drawn flat button (skinned title buttons)
    IpAddress,        // four-field IPv4 address control
    DropDownList,     // combo box, choice only
    Icon,             // static icon
};

// Style bits of a control.
enum Style : std::uint32_t {
    Visible = 1u << 0,
    Disabled = 1u << 1,
    TabStop = 1u << 2,
    Group = 1u << 3,    // starts a new radio group
    Border = 1u << 4,   // framed edit
    Password = 1u << 5, // edit that hides its text
    Flat = 1u << 6,     // flat push button
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char *text;
    int x, y, cx, cy; // dialog units
    std::uint32_t style;
};

// Style bits of a dialog.
enum DialogStyle : std::uint32_t {
    Child = 1u << 0, // a page inside another dialog: resizable, not of fixed size
};

struct DialogTemplate {
    int id;
    const char *caption;
    const char *fontFace; // as named in the template: "Arial" or "System"
    int fontPointSize;
    int cx, cy; // dialog units
    std::uint32_t style;
    std::span<const ControlTemplate> controls;
};

// The template with the given id; nullptr for an unknown id.
const DialogTemplate *findDialogTemplate(int id);

} // namespace veltrona::res
