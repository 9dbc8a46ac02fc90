#pragma once
// The task kinds: for each TaskType value its names and texts, the servers and parts of
// the task record it uses, the "Advanced" options that apply to it, its wizard steps and
// the routine that runs it. Whatever differs by kind reads this table rather than testing
// type numbers. engines/ provide a routine for each KindRoutine (engines/Routines.cpp),
// ui/ a page and a view tab for each WizardStep (ui/wizard/PageSequence.cpp,
// ui/wizard/PropertyViewPages.cpp).
//
// A stored type value with no row still loads and saves as it is; it is never run.

#include <cstdint>
#include <vector>

#include "tasks/TaskItem.h"

namespace brevanto {

// The groups of the "Create a new task" chooser; Restore also words a copy's log as one.
enum class KindGroup : std::uint8_t { Backup, Restore, Accessories };

// The pages between the wizard's task-name page and its schedule page, and the tabs of
// the edit and properties sheets between the same two.
enum class WizardStep : std::uint8_t {
  SourceServer,
  ChooseDatabases,
  BackupFile,
  DestinationServer,
  SourceDatabase,
  SelectTables,
  DestinationDatabase,
  ChooseTables,
  ExportFile,
  Script,
  RestoreFiles,
  Offsite,  // where a backup's copies go off-site
};

// The engines' routines; several kinds may share one.
enum class KindRoutine : std::uint8_t { BackupToFiles, ServerCopy, Export, Script, RestoreFiles };

// What the kind selects on its source: whole databases under their own names, or the
// tables of one database copied into a database named in the task.
enum class DatabaseSelection : std::uint8_t { None, Databases, OneDatabase };

// What a run's progress counts.
enum class ProgressUnit : std::uint8_t { Rows, BytesRead, Statements };

// The parts of the task record the kind uses beside its servers.
struct KindSettings {
  bool BackupSettings = false;  // BackupSettings and BackupDatabases
  bool BackupFiles = false;     // BackupSettings' files: mode, type, folder, name format
  bool ExportSettings = false;  // ExportSettings and ExportTables
  bool ScriptStatements = false;
  bool RestoreFiles = false;  // RestoreOptions and RestoreFiles
};

// Which groups of the "Advanced" options apply: the objects and snapshot of dumps and
// copies, the compression of files written (SQL dumps and exports), the statement size of
// what dumps and copies write, the per-table transactions of what copies and restores
// load, how many tables (files, with ThreadsAreFiles) are worked on at a time, and the
// NULL marker of exports.
struct AdvancedScope {
  bool Objects = false;
  bool Compression = false;
  bool StatementSize = false;
  bool TransactionPerTable = false;
  bool Threads = false;
  bool NullMarker = false;
  bool ThreadsAreFiles = false;
  bool Any() const {
    return Objects || Compression || StatementSize || TransactionPerTable || Threads || NullMarker;
  }
};

struct TaskKind {
  TaskType Type;
  const char* Name;         // brevanto-run's listings
  const char* ListText;     // the task list's type column and the run reports
  const char* Description;  // the wizard's captions and the sheets' titles
  const char* ChooserText;
  const char* ChooserExplanation;  // nullptr: none
  KindGroup Group;
  bool UsesSourceServer;
  bool UsesDestinationServer;
  KindSettings Settings;
  DatabaseSelection Selection;
  bool KeepsCopies;  // its runs record backup copies, which expire
  ProgressUnit Progress;
  AdvancedScope Advanced;
  KindRoutine Routine;
  std::vector<WizardStep> Steps;
};

// Every kind, in TaskType order.
const std::vector<TaskKind>& TaskKinds();
// The row of a stored type value, or nullptr when it has none.
const TaskKind* FindTaskKind(std::uint8_t type);
inline const TaskKind* FindTaskKind(TaskType type) {
  return FindTaskKind(static_cast<std::uint8_t>(type));
}

}  // namespace brevanto
