#pragma once
// The task wizard's checks of a whole task, page by page in the wizard's order, without a
// window: the import of tasks from text refuses what the wizard would refuse, with the
// wizard's own words. Each problem names the task record's key path it is about.

#include <functional>
#include <string>
#include <vector>

#include "tasks/TaskItem.h"
#include "tasks/TaskKinds.h"

namespace brevanto::wizard {

struct RuleProblem {
  std::string Key;      // "SourceServer.Port", "Schedule", ...
  std::string Message;  // the wizard's warning
};

// The wizard's messages that pages and the import share.
inline constexpr const char* kChooseContent = "Please choose the table structure or records!";
inline constexpr const char* kChooseSourceDatabases =
    "Please choose the source databases or tables!";
inline constexpr const char* kChooseSourceTables = "Please choose the source tables!";
inline constexpr const char* kChooseExportTables = "Please choose the export tables!";
inline constexpr const char* kInputScript = "Please input the SQL script!";
inline constexpr const char* kAddFiles = "Please add the files!";
inline constexpr const char* kSameServer =
    "The destination server can't same as the source server!";
inline constexpr const char* kSameDatabase =
    "The destination database can't same as the source database!";
inline constexpr const char* kEmptyDatabaseName = "The database name is empty!";
inline constexpr const char* kInputNewDatabaseName = "Please input the new database name!";
inline constexpr const char* kInvalidDatabaseName =
    "There are some invalid characters \n('/', '\\', or '.') \nin the database name!";

// Which parts of the task record a task type uses (its wizard shows their pages), from its
// kind; a type with no kind uses the source server only.
bool UsesSourceServer(int type);
bool UsesDestinationServer(int type);
bool UsesBackupSettings(int type);  // BackupSettings and BackupDatabases
KindSettings SettingsOf(int type);

// How the file pages test a path: by creating it, as the pages do, or by looking only, as
// an import does (it creates nothing before the whole text is accepted).
enum class PathTest { Create, Look };

// Paths are full: a relative one would resolve against whatever folder a run starts in.
inline constexpr const char* kFullPathNeeded = "Please input a full path (starting with /)!";

// The backup file page: "" or its warning.
std::string ValidateBackupFile(const BackupSettings& settings, PathTest test = PathTest::Create);
// The export file page: "" or its warning.
std::string ValidateExportFile(const ExportSettings& settings, PathTest test = PathTest::Create);

// Every check of the wizard's pages for `task`'s type, without creating anything.
// `nameTaken` answers whether a name (as FoldedTaskName gives it) is used by another task;
// `now` is the moment a schedule is judged at. An empty result means the wizard would
// accept the task.
std::vector<RuleProblem> CheckTask(const CTaskItem& task,
                                   const std::function<bool(const std::string&)>& nameTaken,
                                   const TaskDateTime& now);

}  // namespace brevanto::wizard
