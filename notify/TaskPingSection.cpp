#include "notify/TaskPingSection.h"

#include <nlohmann/json.hpp>

#include "tasks/TaskOptionsStore.h"

namespace brevanto {

using nlohmann::json;

std::string PingUrlFor(const TaskPing& ping, PingEvent event) {
  std::string base = ping.Url;
  if (base.ends_with('/')) base.pop_back();
  switch (event) {
    case PingEvent::Start: return base + "/start";
    case PingEvent::Failure: return base + "/fail";
    case PingEvent::Success: break;
  }
  return ping.Url;
}

json TaskPingToJson(const TaskPing& ping) {
  return json{{"Url", ping.Url}, {"OnStart", ping.OnStart}};
}

TaskPing TaskPingFromJson(const json& object) {
  TaskPing ping;
  if (!object.is_object()) return ping;
  if (const auto it = object.find("Url"); it != object.end() && it->is_string()) {
    ping.Url = it->get<std::string>();
  }
  if (const auto it = object.find("OnStart"); it != object.end() && it->is_boolean()) {
    ping.OnStart = it->get<bool>();
  }
  return ping;
}

TaskPing FindTaskPing(const CTaskItem& task) {
  return TaskPingFromJson(GetTaskSection(task, kPingSection));
}

void SetTaskPing(CTaskItem& task, const TaskPing& ping) {
  SetTaskSection(task, kPingSection, ping.Empty() ? json() : TaskPingToJson(ping));
}

}  // namespace brevanto
