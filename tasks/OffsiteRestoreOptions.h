#pragma once
// A restore task's "OffsiteRestore" section beside the task file: it restores a copy from
// the off-site target its "Remote" section names, with no local file.

#include <string>

#include "tasks/TaskItem.h"

namespace brevanto {

inline constexpr const char* kOffsiteRestoreSection = "OffsiteRestore";

struct OffsiteRestoreOptions {
  std::string Copy;      // the copy's name ("" for the newest complete one)
  std::string Database;  // restored under this name; "" as the copy names it
  bool Set = false;      // the task has the section
};

OffsiteRestoreOptions OffsiteRestoreOptionsOf(const CTaskItem& task);
// Stores the section (Set false removes it).
void SetOffsiteRestoreOptions(CTaskItem& task, const OffsiteRestoreOptions& options);

}  // namespace brevanto
