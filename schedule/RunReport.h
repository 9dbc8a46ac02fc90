#pragma once
// RunReport: what one finished run leaves behind for whoever is told about it (the task
// list's last result, e-mail, webhook and desktop notifications). Plain value.

#include <cstdint>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "schedule/TaskRoutine.h"
#include "tasks/TaskRunState.h"

namespace brevanto {

// At most this many error texts travel with a report; ErrorCount counts them all.
inline constexpr std::size_t kMaxReportedErrors = 50;

struct RunReport {
  std::string TaskKey;
  std::string TaskName;
  std::string LogFileName;
  std::uint8_t TaskType = 0;
  RunOutcome Outcome = RunOutcome::Finished;
  TaskDateTime Start;
  TaskDateTime End;
  int ErrorCount = 0;
  int WarningCount = 0;
  std::vector<std::string> Errors;        // the first kMaxReportedErrors Error entries
  std::vector<std::string> FilesWritten;  // full paths
  OffsiteOutcome Offsite;                 // of a task with an off-site target

  // A run failed when its routine said so or when it logged an Error entry and went on.
  bool Failed() const { return Outcome == RunOutcome::Failed || ErrorCount > 0; }
  bool Canceled() const { return Outcome == RunOutcome::Canceled && ErrorCount == 0; }
};

}  // namespace brevanto
