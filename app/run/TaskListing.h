#pragma once
// Reading a folder's tasks and logs without changing anything, for --list, --log and
// --export and --copies.

#include <string>
#include <vector>

#include "tasks/TaskItem.h"

namespace brevanto::run {

// The folder's tasks. False, with the reason printed, when a task file exists but cannot
// be read whole: a damaged list must never look empty.
bool ReadTasks(const std::string& folder, std::vector<CTaskItem>& tasks);

// The one task named `name`; prints why not and returns null otherwise.
const CTaskItem* NamedTask(const std::vector<CTaskItem>& tasks, const std::string& name);

// A backup copy's time as --copies shows it and --verify takes it: "YYYY-MM-DD HH:MM:SS".
std::string CopyTimeText(const BackupTimeStamp& t);

// "YYYY-MM-DD HH:MM:SS" or "never".
std::string FormatMoment(const TaskDateTime& moment);

// Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM", "YYYY-MM-DD HH:MM:SS" (or with a "T" between
// date and time). False when `text` is none of these or not a real date.
bool ParseMoment(const std::string& text, TaskDateTime& moment);

}  // namespace brevanto::run
