#pragma once
// Icons: the program's own (packaging/icons/hicolor, compiled in at its rendered sizes); for
// commands the desktop theme's where it has one, otherwise pictograms drawn here, so the
// program looks complete on any desktop (and under a bare X server).

#include <QIcon>

namespace brevanto::ui {

enum class IconRole {
  Program,
  NewTask,
  EditTask,
  DeleteTask,
  Properties,
  Start,
  Stop,
  RunNow,
  ViewLog,
  Options,
  ViewMode,
  General,
  Warning,
  Error,
};

QIcon MakeIcon(IconRole role);

}  // namespace brevanto::ui
