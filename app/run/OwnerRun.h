#pragma once
// --run while the window or the headless scheduler owns the folder: the owner is asked to
// run the task (appcore/RunRequests.h) and its log is followed to the run's end.

#include <optional>
#include <string>

#include "logs/TaskLog.h"

namespace brevanto::run {

// The exit code of the run the owner made, as --run gives for a run of its own; nullopt
// when neither the window nor the scheduler holds the folder. An owner that does not take
// the request within `takeMs` (an older version, or hung) leaves the folder in use.
std::optional<int> RunThroughOwner(const std::string& folder, const std::string& name,
                                   int takeMs = 5000);

// One entry of the run in hand, as --run prints it.
void PrintRunEntry(const CTaskLogEntry& entry);

}  // namespace brevanto::run
