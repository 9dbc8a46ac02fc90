#pragma once
// The outcome of a task's last run, read back from its log: the list shows it after a
// restart without any store of its own. A run is the entries from the runner's
// "Running..." on; it ended well with "Finished", was stopped with "User canceled!", and
// failed when it holds an Error entry.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tasks/TaskRunState.h"

namespace brevanto {

class CTaskLog;
struct CTaskLogEntry;

// The entries a run of a task with an off-site target ends its upload with: the run's copy
// is complete in the store (General, + the target), or it is not (Error,
// + "<target> (<cause>)").
inline constexpr const char* kCopyOffsiteText = "The backup copy is off-site: ";
inline constexpr const char* kCopyNotOffsiteText = "Failed to send the backup copy off-site! - ";

// Notes what one entry of a run says of its off-site copy.
void NoteOffsiteEntry(OffsiteOutcome& outcome, std::uint8_t level, const std::string& text);

// The index of the last run's first entry ("Running..."), or entries.size() when the
// entries hold no run start.
std::size_t FindLastRunStart(const std::vector<CTaskLogEntry>& entries);

// The index of the last run's first Error entry, or -1 when it has none.
int FindLastRunFirstError(const std::vector<CTaskLogEntry>& entries);

// The last run's outcome from `entries` (oldest first). None when no run ended in them.
TaskRunResult LastRunResultOf(const std::vector<CTaskLogEntry>& entries);

// The same from the task's log file; reads only as far back as the last run starts.
TaskRunResult ReadLastRunResult(const CTaskLog& log, const std::string& logFileName);

// True when the log's last run started and has not ended yet (nor logged an Error): the
// task is running, as far as another program can tell.
bool ReadLastRunUnderWay(const CTaskLog& log, const std::string& logFileName);

}  // namespace brevanto
