#pragma once
// The words for a task's run as the window, the tray and the headless runner show it:
// progress while a run is under way, the last outcome otherwise.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/DateTime.h"
#include "tasks/TaskItem.h"
#include "tasks/TaskRunState.h"

namespace brevanto {

// Whole seconds from `from` to `to` (both local times as the task record keeps them);
// 0 when `to` is not later.
std::int64_t SecondsBetween(const TaskDateTime& from, const TaskDateTime& to);

// "42 %", followed by ", 3 min left" once the run has gone on long enough to guess.
// `elapsedSeconds` counts from the run's start.
std::string ProgressText(const TaskProgress& progress, std::int64_t elapsedSeconds);

// "OK", "Failed (1 error)", "Failed (3 errors)", "Canceled"; "" before the first run. A
// run of a task with an off-site target: "OK, off-site" once its copy is there, or
// "Failed, not off-site (<cause>)" when sending it failed.
std::string LastResultText(const TaskRunResult& result);

// "<task>: 42 %, 3 min left (db.table)" for the tray tooltip.
std::string RunningTaskLine(const std::string& taskName, const TaskProgress& progress,
                            std::int64_t elapsedSeconds);

// "1.5 MB": bytes in B, KB, MB, GB or TB (1024 each), one decimal from MB up.
std::string ByteCountText(std::int64_t bytes);

// The headless runner's progress line on a terminal:
// "<task>  [#####...............]  25 %, 3 min left  12345 rows  1.5 MB  db.orders".
// The units are named after the task type (rows, statements, bytes read). At most `width`
// columns (a UTF-8 character counts as one): the item goes first, then the bar narrows
// and goes, then the task name is shortened; the percentage stays.
std::string ProgressBarLine(const std::string& taskName, TaskType type,
                            const TaskProgress& progress, std::int64_t elapsedSeconds,
                            std::size_t width);

}  // namespace brevanto
