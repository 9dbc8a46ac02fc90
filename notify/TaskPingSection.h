#pragma once
// A task's "Ping" section beside the task file: a URL an outside monitor (a dead man's
// switch) hears from around each run, so it notices a machine that stopped running the
// task at all. GET Url + "/start" when a run starts (OnStart), Url when it ends well and
// Url + "/fail" when it fails; a canceled run sends no end, as it left no backup.

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "tasks/TaskItem.h"

namespace brevanto {

inline constexpr const char* kPingSection = "Ping";

struct TaskPing {
  std::string Url;  // http:// or https://; empty: no pings
  bool OnStart = true;
  bool Empty() const { return Url.empty(); }
  friend bool operator==(const TaskPing&, const TaskPing&) = default;
};

enum class PingEvent { Start, Success, Failure };

// The URL to call for `event`: Url, Url + "/start" or Url + "/fail" (one trailing "/" of
// Url is dropped first, so "https://host/id/" does not become ".../id//start").
std::string PingUrlFor(const TaskPing& ping, PingEvent event);

nlohmann::json TaskPingToJson(const TaskPing& ping);
// Keys of the wrong type are ignored: a damaged section must not stop a task from loading.
TaskPing TaskPingFromJson(const nlohmann::json& object);

TaskPing FindTaskPing(const CTaskItem& task);
// Stores the ping; one without a URL removes the section.
void SetTaskPing(CTaskItem& task, const TaskPing& ping);

}  // namespace brevanto
