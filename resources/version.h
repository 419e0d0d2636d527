#pragma once
// Product name, version texts and the fixed strings of the application.

namespace veltrona::res {

inline constexpr const char *kProductName = "Veltrona";
inline constexpr const char *kProductVersionText = "2, 2, 0, 1";
inline constexpr const char *kBuildNumberText = "312062628";

// String table.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDP_SOCKETS_INIT_FAILED = 103;
inline constexpr const char *kAboutMenuText = "About ...";
inline constexpr const char *kSocketsInitFailedText = "Windows sockets initialization failed.";

// Picture resource paths.
inline constexpr const char *kIconPath = ":/icons/128.png";
inline constexpr const char *kBackgroundPath = ":/bitmaps/140.png";

} // namespace veltrona::res
