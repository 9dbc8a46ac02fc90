#pragma once
// Product constants: names, version and the addresses behind the Help menu.

namespace brevanto::ui {

inline constexpr const char* kCaption = "Brevanto";
inline constexpr const char* kWindowTitle = "Brevanto Standard Edition";
inline constexpr const char* kAboutVersion = "Brevanto Standard Edition 2.0";
// The name the single-instance server listens on (one per user; see SingleInstance).
inline constexpr const char* kInstanceName = "__Brevanto__2006_SE__";
inline constexpr const char* kWebSiteUrl = "https://www.brevanto.example/";
inline constexpr const char* kSupportPageUrl = "https://www.brevanto.example/support/";
inline constexpr const char* kMakerSiteUrl = "https://www.brevanto.example/about/";
inline constexpr const char* kSupportEmail = "support@brevanto.example";

}  // namespace brevanto::ui
