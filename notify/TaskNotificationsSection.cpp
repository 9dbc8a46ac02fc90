#include "notify/TaskNotificationsSection.h"

#include <nlohmann/json.hpp>

#include "tasks/TaskOptionsStore.h"

namespace brevanto {

using nlohmann::json;

TaskNotifications FindTaskNotifications(const CTaskItem& task) {
  return TaskNotificationsFromJson(GetTaskSection(task, kNotificationsSection));
}

void SetTaskNotifications(CTaskItem& task, const TaskNotifications& notifications) {
  json section = GetTaskSection(task, kNotificationsSection);
  if (!section.is_object()) section = json::object();
  // Every known key goes first: one left unset means "the default" and must not survive.
  // The program's defaults set every field, so they name every key.
  const json everyKey = TaskNotificationsToJson(CNotificationSettings().Defaults);
  for (const auto& [key, value] : everyKey.items()) section.erase(key);
  section.update(TaskNotificationsToJson(notifications));
  SetTaskSection(task, kNotificationsSection, section.empty() ? json() : section);
}

}  // namespace brevanto
