#pragma once
// Product name, version texts and the fixed strings of the application.

#include <QtGlobal>

namespace veltrona::res {

inline constexpr const char *kProductName = "Veltrona";
inline constexpr const char *kProductVersionText = "2, 2, 0, 1";
inline constexpr const char *kBuildNumberText = "312062628";

// Fixed texts, shown translated in the context of the class that shows them.
inline constexpr const char *kAboutMenuText = QT_TRANSLATE_NOOP("CVeltronaDlg", "About ...");
inline constexpr const char *kSocketsInitFailedText =
    QT_TRANSLATE_NOOP("CVeltronaApp", "Windows sockets initialization failed.");

// Picture resource path of the program's icon.
inline constexpr const char *kIconPath = ":/icons/128.png";

} // namespace veltrona::res
