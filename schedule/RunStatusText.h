#pragma once
// The words for a task's run as the window, the tray and the headless runner show it:
// progress while a run is under way, the last outcome otherwise.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/DateTime.h"
#include "tasks/TaskRunState.h"

namespace brevanto {

// Whole seconds from `from` to `to` (both local times as the task record keeps them);
// 0 when `to` is not later.
std::int64_t SecondsBetween(const TaskDateTime& from, const TaskDateTime& to);

// "42 %", followed by ", 3 min left" once the run has gone on long enough to guess.
// `elapsedSeconds` counts from the run's start.
std::string ProgressText(const TaskProgress& progress, std::int64_t elapsedSeconds);

// "OK", "Failed (1 error)", "Failed (3 errors)", "Canceled"; "" before the first run.
std::string LastResultText(const TaskRunResult& result);

// "<task>: 42 %, 3 min left (db.table)" for the tray tooltip.
std::string RunningTaskLine(const std::string& taskName, const TaskProgress& progress,
                            std::int64_t elapsedSeconds);

// "[#########...........]  42 %, 3 min left  db.table", at most `width` characters:
// the headless runner's progress line on a terminal.
std::string ProgressBarLine(const TaskProgress& progress, std::int64_t elapsedSeconds,
                            std::size_t width);

}  // namespace brevanto
