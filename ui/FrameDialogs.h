#pragma once
// The dialogs the main window opens but does not build: the task wizard, the edit and
// properties sheets, options, servers, tips and login. Each is plugged in by the program;
// a command whose dialog is not plugged in stays disabled.

#include <functional>
#include <optional>

#include "core/Options.h"
#include "tasks/TaskItem.h"

class QWidget;

namespace brevanto::ui {

struct FrameDialogs {
  // The type chooser and the wizard: the finished new task, or nothing when cancelled.
  std::function<std::optional<CTaskItem>(QWidget* parent)> newTask;
  // The edit sheet on a copy of a stopped task; true on OK (the copy then holds the edit).
  std::function<bool(QWidget* parent, CTaskItem& task)> editTask;
  // The read-only properties sheet.
  std::function<void(QWidget* parent, const CTaskItem& task)> properties;
  // The Options sheet on a copy of the options; true on OK.
  std::function<bool(QWidget* parent, CSystemOptions& options)> options;
  std::function<void(QWidget* parent)> servers;
  std::function<void(QWidget* parent)> tipOfTheDay;
  // The login in front of the window; true when the user name and password match.
  std::function<bool(QWidget* parent)> login;
};

}  // namespace brevanto::ui
