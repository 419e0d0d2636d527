#pragma once
// The texts of the desktop entry and the AppStream data, marked here so that
// they are translated with the window's texts (translations/*.ts, context
// "DesktopEntry"). The package takes each language's translations from there
// into packaging/'s files when it is configured (packaging/localise.cmake).

#include <QtGlobal>

namespace veltrona::ui::desktop {

inline constexpr const char *kName = QT_TRANSLATE_NOOP("DesktopEntry", "Veltrona");
inline constexpr const char *kGenericName = QT_TRANSLATE_NOOP("DesktopEntry", "Video Device Setup");
inline constexpr const char *kComment =
    QT_TRANSLATE_NOOP("DesktopEntry", "Find the network cameras and video servers on the local "
                                      "network and change their settings");
inline constexpr const char *kSummary =
    QT_TRANSLATE_NOOP("DesktopEntry", "Find network video devices and change their settings");

} // namespace veltrona::ui::desktop
