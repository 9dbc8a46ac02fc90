#pragma once
// What the task list shows of a task's runs beyond its record: the progress of the run in
// hand and the outcome of the last one. Plain values, kept in the task's slot under its
// lock (tasks/TaskList.h) and never saved in the task file.

#include <cstdint>
#include <string>

#include "core/DateTime.h"

namespace brevanto {

// A snapshot of one run's progress. Units are rows for dumps, copies and exports, bytes
// read for restores from files, statements for scripts.
struct TaskProgress {
  bool Active = false;          // a run is under way
  std::string Item;             // "database.table" or the file being worked on
  std::int64_t ItemDone = 0;    // units of the current item
  std::int64_t ItemTotal = 0;   // its estimate (0 when unknown)
  std::int64_t RowsDone = 0;    // units of the whole run so far
  std::int64_t BytesWritten = 0;
  int Permille = 0;             // 0..1000; never goes down within a run
  friend bool operator==(const TaskProgress&, const TaskProgress&) = default;
};

enum class RunResultKind : std::uint8_t { None = 0, Ok = 1, Failed = 2, Canceled = 3 };

// Whether a run of a task with an off-site target got its copy there.
struct OffsiteOutcome {
  bool Sent = false;
  std::string Problem;  // why it did not, from the run's Error entry; "" when none said
  friend bool operator==(const OffsiteOutcome&, const OffsiteOutcome&) = default;
};

// The outcome of a task's last run, as the list shows it.
struct TaskRunResult {
  RunResultKind Kind = RunResultKind::None;
  int Errors = 0;
  int Warnings = 0;
  OffsiteOutcome Offsite;
  bool Overdue = false;  // no good run for longer than the schedule allows (OverdueCheck.h)
  friend bool operator==(const TaskRunResult&, const TaskRunResult&) = default;
};

}  // namespace brevanto
