#pragma once
// The task record and its nested records. Plain values: copying a CTaskItem copies
// every text and list. Field names and defaults are those the task file stores.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/ServerInfo.h"

namespace brevanto {

enum class TaskType : std::uint8_t {
  BackupToFiles = 1,
  BackupToServer = 2,
  BackupToDatabase = 3,
  ExportToFiles = 4,
  ExecuteScript = 5,
  RestoreFromFiles = 6,
  RestoreFromServer = 7,
  RestoreFromDatabase = 8,
};

enum class TaskStatus : std::uint8_t { Waiting = 1, Stop = 2, Running = 3 };

enum class ScheduleKind : std::uint8_t {
  Manual = 0,
  EveryDay = 1,
  EveryWeek = 2,
  EveryMonth = 3,
  SpecialDate = 4,
  TimeInterval = 5,
};

enum class ExportFormat : std::uint8_t { CSV = 1, XML = 2, HTML = 3, TEXT = 4 };
enum class BackupFileType : std::uint8_t { SQL = 1, PHP = 2 };
enum class BackupFileMode : std::uint8_t { SameFile = 1, NewFiles = 2 };
enum class BackupFileGrouping : std::uint8_t { OneFile = 1, PerDatabase = 2, PerTable = 3 };
enum class AutoDeleteMode : std::uint8_t { None = 0, OlderThanDays = 1, KeepCopies = 2 };
enum class LogLevel : std::uint8_t { General = 0, Warning = 1, Error = 2 };

// Enumerated fields are kept as raw bytes so that unknown values survive a load/save
// round trip; CTaskItem's accessors name the known ones.
struct ExportSettings {
  std::uint8_t Format = 1;  // ExportFormat
  std::string Folder;
  std::string FieldsTerminatedBy;
  std::string FieldsEnclosedBy;
  std::string FieldsEscapedBy;
  std::string LinesTerminatedBy;
  std::uint8_t AddColumnNamesOnTop = 0;
  friend bool operator==(const ExportSettings&, const ExportSettings&) = default;
};

struct TableItem {
  std::uint8_t Selected = 0;  // 0 no; 1 yes; 2 added at run time
  std::uint8_t Kind = 0;      // 1 table, 2 view, 0 unclassified
  std::string DatabaseName;
  std::string TableName;
  friend bool operator==(const TableItem&, const TableItem&) = default;
};

struct DatabaseItem {
  std::uint8_t Selected = 0;
  std::string DatabaseName;
  std::vector<TableItem> Tables;
  friend bool operator==(const DatabaseItem&, const DatabaseItem&) = default;
};

struct BackupSettings {
  // Option bytes 0..28, in stored order.
  std::uint8_t IncludeStructure = 1;
  std::uint8_t IncludeRecords = 1;
  std::uint8_t LockTablesBeforeStart = 1;
  std::uint8_t FlushTablesBeforeStart = 1;
  std::uint8_t QuoteNames = 1;
  std::uint8_t SetConnectionCharset = 1;
  std::uint8_t IncludeNewTables = 0;
  std::uint8_t IncludeNewDatabases = 0;
  std::uint8_t FlushLogsBeforeStart = 0;
  std::uint8_t Reserved9 = 0;
  std::uint8_t AddCreateDatabase = 1;
  std::uint8_t AddLockTables = 1;
  std::uint8_t AddDropTable = 1;
  std::uint8_t AddDeleteAllRecords = 0;
  std::uint8_t AddSetNames = 1;
  std::uint8_t CompleteInsert = 0;
  std::uint8_t InsertDelayed = 0;
  std::uint8_t MultipleRowInsert = 0;
  std::uint8_t UseReplace = 0;
  std::uint8_t InsertIgnore = 0;
  std::uint8_t AddSetAutocommit = 0;
  std::uint8_t AddSetForeignKeyChecks = 1;
  std::uint8_t AddSetUniqueChecks = 1;
  std::uint8_t AddSetSqlNotes = 1;
  std::uint8_t AllowKeywordColumnNames = 1;
  std::uint8_t AddDisableKeys = 1;
  std::uint8_t FileType = 1;      // BackupFileType
  std::uint8_t FileMode = 2;      // BackupFileMode
  std::uint8_t FileGrouping = 1;  // BackupFileGrouping

  std::string SameFilePath;
  std::string BackupFolder;
  std::string FileNameFormat = "%HOST%_%DATE%_%TIME%";
  std::uint8_t AutoDeleteMode = 0;  // AutoDeleteMode
  std::uint32_t AutoDeleteValue = 0;
  std::uint8_t CreateDateTimeSubfolder = 0;
  std::uint8_t UnixLineEnds = 0;
  std::uint8_t Reserved54 = 0;
  std::uint8_t CreateNewDestinationDatabase = 0;
  std::string DestinationDatabase;
  friend bool operator==(const BackupSettings&, const BackupSettings&) = default;
};

struct RestoreOptions {
  std::uint8_t ContinueOnSqlError = 0;
  std::uint8_t ContinueOnFileError = 0;
  friend bool operator==(const RestoreOptions&, const RestoreOptions&) = default;
};

struct RestoreFileItem {
  std::uint8_t IconIndex = 0;  // only items holding 0 are restored
  std::string FileName;
  std::string FullPath;
  std::uint32_t FileSize = 0;
  TaskDateTime FileTime;
  friend bool operator==(const RestoreFileItem&, const RestoreFileItem&) = default;
};

struct ScheduleSettings {
  std::uint8_t Kind = 0;  // ScheduleKind
  std::int32_t Hour = 0;
  std::int32_t Minute = 0;
  std::array<std::uint8_t, 7> WeekDays{};    // Sunday first
  std::array<std::uint8_t, 31> MonthDays{};  // day 1 first
  std::int32_t SpecialYear = 0;
  std::int32_t SpecialMonth = 0;
  std::int32_t SpecialDay = 0;
  std::int32_t RepeatEveryDays = 0;
  std::int32_t IntervalMinutes = 30;
  friend bool operator==(const ScheduleSettings&, const ScheduleSettings&) = default;
};

// Start of a run, to the second (no day of week is stored).
struct BackupTimeStamp {
  std::int32_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  friend bool operator==(const BackupTimeStamp&, const BackupTimeStamp&) = default;
};

struct BackupCopy {
  BackupTimeStamp BackupTime;
  std::uint8_t CopyFileMode = 0;
  std::uint8_t CopyFileType = 0;
  std::uint8_t Spare = 0;
  std::string CopyFolder;
  std::vector<std::string> CopyFiles;
  friend bool operator==(const BackupCopy&, const BackupCopy&) = default;
};

struct CTaskItem {
  std::string TaskKey;
  std::uint8_t RunImmediately = 0;
  std::vector<BackupCopy> BackupHistory;
  std::string TaskName;
  std::string Comment;
  std::uint8_t TaskType = 1;  // brevanto::TaskType, stored raw
  std::uint8_t Status = 2;    // brevanto::TaskStatus, stored raw
  TaskDateTime CreatedTime;
  TaskDateTime WorkerStartTime;
  TaskDateTime LastRunTime;
  TaskDateTime NextRunTime;
  std::string LogFileName;
  CServerInfo SourceServer;
  CServerInfo DestinationServer;
  ::brevanto::ExportSettings ExportSettings;
  std::vector<TableItem> ExportTables;
  ::brevanto::BackupSettings BackupSettings;
  std::vector<DatabaseItem> BackupDatabases;
  ::brevanto::RestoreOptions RestoreOptions;
  std::vector<RestoreFileItem> RestoreFiles;
  ScheduleSettings Schedule;
  std::vector<std::string> ScriptStatements;
  // Option sections kept beside the task file, not in it: the text of one JSON object,
  // empty for none (tasks/TaskOptionsStore.h, tasks/AdvancedOptions.h).
  std::string OptionSections;

  ::brevanto::TaskType GetType() const { return static_cast<::brevanto::TaskType>(TaskType); }
  TaskStatus GetStatus() const { return static_cast<TaskStatus>(Status); }
  ScheduleKind GetScheduleKind() const { return static_cast<ScheduleKind>(Schedule.Kind); }
  void SetStatus(TaskStatus s) { Status = static_cast<std::uint8_t>(s); }

  // Waiting when the schedule is not Manual, else Stop.
  void ResetStatusFromSchedule() {
    SetStatus(GetScheduleKind() == ScheduleKind::Manual ? TaskStatus::Stop : TaskStatus::Waiting);
  }

  friend bool operator==(const CTaskItem&, const CTaskItem&) = default;
};

}  // namespace brevanto
