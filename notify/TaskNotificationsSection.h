#pragma once
// A task's own notification settings, kept as the "Notifications" section of its
// per-task JSON (tasks/TaskOptionsStore.h), so they are saved, copied, exported and
// deleted with the task. Layout: docs/formats/notifications.md.

#include "notify/NotificationSettings.h"
#include "tasks/TaskItem.h"

namespace brevanto {

inline constexpr const char* kNotificationsSection = "Notifications";

// The task's overrides; every field unset (the program's defaults) when it has none.
TaskNotifications FindTaskNotifications(const CTaskItem& task);

// Stores the overrides, keeping keys of the section this program does not know. Fields
// left unset are removed, so the task falls back to the defaults for them; a section left
// empty is dropped.
void SetTaskNotifications(CTaskItem& task, const TaskNotifications& notifications);

}  // namespace brevanto
