#pragma once
// Product name, version texts and the fixed strings of the application.

namespace veltrona::res {

inline constexpr const char *kProductName = "Veltrona";
inline constexpr const char *kProductVersionText = "2, 2, 0, 1";
inline constexpr const char *kBuildNumberText = "312062628";

// Fixed texts.
inline constexpr const char *kAboutMenuText = "About ...";
inline constexpr const char *kSocketsInitFailedText = "Windows sockets initialization failed.";

// Picture resource path of the program's icon.
inline constexpr const char *kIconPath = ":/icons/128.png";

} // namespace veltrona::res
