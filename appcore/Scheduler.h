#pragma once
// The headless scheduler's loop: runs every task's schedule through the core's runner,
// exactly as the window does, takes in changes other programs make to the task file, and
// at a stop request saves and stops every task within the runner's stop rules.

#include <functional>
#include <string>

#include "appcore/ApplicationCore.h"

namespace brevanto {

struct SchedulerHooks {
  // Polled between looks; true ends the loop.
  std::function<bool()> StopRequested;
  // Messages for the journal ("reloaded the task file: 1 added").
  std::function<void(const std::string&)> Say;
  // Called on every look, after the task file check (the program prints new log entries).
  std::function<void()> Poll;
};

// Runs until hooks.StopRequested(). The core must be started (Start) and share its task
// file (ShareTaskFile). Returns 0, or the runner's code when it does not start.
int RunScheduler(CApplicationCore& core, TaskRoutineTable routines, const SchedulerHooks& hooks,
                 int pollMs = 500);

}  // namespace brevanto
