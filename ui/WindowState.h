#pragma once
// The main window's size and its task list's column widths, kept between runs in
// "window_se.json" in the application folder. Qt-free.

#include <string>
#include <vector>

#include "core/Status.h"

namespace brevanto::ui {

inline constexpr const char* kWindowStateFileName = "window_se.json";

struct WindowState {
  int Width = 0;  // 0: never saved
  int Height = 0;
  std::vector<int> Columns;  // the details list's widths, in column order
};

// `folder` ends in "/". A missing or damaged file gives the empty state.
WindowState LoadWindowState(const std::string& folder);
Status SaveWindowState(const std::string& folder, const WindowState& state);

}  // namespace brevanto::ui
