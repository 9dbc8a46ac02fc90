#pragma once
// The overdue alarm: a scheduled task whose last good run is older than its schedule
// allows, plus a grace the user sets, has gone quiet (a machine off, a schedule that no
// longer fires, runs that keep failing). Tasks opt in with an "Overdue" section beside the
// task file: {"GraceMinutes": N}.

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "core/DateTime.h"
#include "tasks/TaskItem.h"

namespace brevanto {

inline constexpr const char* kOverdueSection = "Overdue";
inline constexpr int kMaxGraceMinutes = 60 * 24 * 366;

// The task's grace in minutes, or nothing when it has no alarm.
std::optional<int> FindOverdueGrace(const CTaskItem& task);
// Stores the grace; nothing removes the section.
void SetOverdueGrace(CTaskItem& task, std::optional<int> graceMinutes);

// When the task became overdue: the first moment its schedule named after
// `lastSuccess` (Unix seconds), plus `graceMinutes`. Nothing when that is after `now`, or
// for a task without a schedule or without a good run yet.
std::optional<TaskDateTime> OverdueFrom(const CTaskItem& task, std::int64_t lastSuccess,
                                        int graceMinutes, const TaskDateTime& now);

// "No good backup of <name> since <time>", the alarm's text.
std::string OverdueText(const std::string& taskName, std::int64_t lastSuccess);

}  // namespace brevanto
