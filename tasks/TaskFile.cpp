#include "tasks/TaskFile.h"

#include <array>
#include <cstdio>
#include <utility>

#include "core/AtomicFile.h"
#include "core/BinaryIO.h"
#include "core/ServerList.h"
#include "tasks/TaskFileFormat.h"
#include "tasks/TaskOptionsStore.h"

namespace brevanto {
namespace {

using namespace taskfile;

std::array<std::uint8_t*, kBackupOptionCount> OptionBytes(BackupSettings& b) {
  return {&b.IncludeStructure,
          &b.IncludeRecords,
          &b.LockTablesBeforeStart,
          &b.FlushTablesBeforeStart,
          &b.QuoteNames,
          &b.SetConnectionCharset,
          &b.IncludeNewTables,
          &b.IncludeNewDatabases,
          &b.FlushLogsBeforeStart,
          &b.Reserved9,
          &b.AddCreateDatabase,
          &b.AddLockTables,
          &b.AddDropTable,
          &b.AddDeleteAllRecords,
          &b.AddSetNames,
          &b.CompleteInsert,
          &b.InsertDelayed,
          &b.MultipleRowInsert,
          &b.UseReplace,
          &b.InsertIgnore,
          &b.AddSetAutocommit,
          &b.AddSetForeignKeyChecks,
          &b.AddSetUniqueChecks,
          &b.AddSetSqlNotes,
          &b.AllowKeywordColumnNames,
          &b.AddDisableKeys,
          &b.FileType,
          &b.FileMode,
          &b.FileGrouping};
}

// ---- Writer (current version only) ----

void WriteDateTime(BinaryWriter& w, const TaskDateTime& t) {
  for (std::int32_t v : {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.DayOfWeek}) {
    w.I32(v);
  }
}

void WriteTable(BinaryWriter& w, const TableItem& t) {
  w.U8(t.Selected);
  w.U8(t.Kind);
  w.Text(t.DatabaseName);
  w.Text(t.TableName);
}

void WriteTexts(BinaryWriter& w, const std::vector<std::string>& texts) {
  w.Count(texts.size());
  for (const std::string& t : texts) w.Text(t);
}

void WriteRecord(BinaryWriter& w, const CTaskItem& task) {
  w.U32(kMagicCurrent);
  w.Text(task.TaskKey);
  w.U8(task.RunImmediately);
  w.Text(task.TaskName);
  w.Text(task.Comment);
  w.U8(task.TaskType);
  w.U8(task.Status);
  WriteDateTime(w, task.CreatedTime);
  WriteDateTime(w, task.WorkerStartTime);
  WriteDateTime(w, task.LastRunTime);
  WriteDateTime(w, task.NextRunTime);
  w.Text(task.LogFileName);
  WriteServerEntry(w, task.SourceServer);
  WriteServerEntry(w, task.DestinationServer);

  const ExportSettings& e = task.ExportSettings;
  w.U8(e.Format);
  w.Text(e.Folder);
  w.Text(e.FieldsTerminatedBy);
  w.Text(e.FieldsEnclosedBy);
  w.Text(e.FieldsEscapedBy);
  w.Text(e.LinesTerminatedBy);
  w.U8(e.AddColumnNamesOnTop);
  w.Count(task.ExportTables.size());
  for (const TableItem& t : task.ExportTables) WriteTable(w, t);

  BackupSettings b = task.BackupSettings;
  for (std::uint8_t* option : OptionBytes(b)) w.U8(*option);
  w.Text(b.SameFilePath);
  w.Text(b.BackupFolder);
  w.Text(b.FileNameFormat);
  w.U8(b.AutoDeleteMode);
  w.U32(b.AutoDeleteValue);
  w.U8(b.CreateDateTimeSubfolder);
  w.U8(b.UnixLineEnds);
  w.U8(b.Reserved54);
  w.U8(b.CreateNewDestinationDatabase);
  w.Text(b.DestinationDatabase);
  w.Count(task.BackupDatabases.size());
  for (const DatabaseItem& d : task.BackupDatabases) {
    w.U8(d.Selected);
    w.Text(d.DatabaseName);
    w.Count(d.Tables.size());
    for (const TableItem& t : d.Tables) WriteTable(w, t);
  }

  const ScheduleSettings& s = task.Schedule;
  w.U8(s.Kind);
  w.I32(s.Hour);
  w.I32(s.Minute);
  for (std::uint8_t day : s.WeekDays) w.U8(day);
  for (std::uint8_t day : s.MonthDays) w.U8(day);
  for (std::int32_t v :
       {s.SpecialYear, s.SpecialMonth, s.SpecialDay, s.RepeatEveryDays, s.IntervalMinutes}) {
    w.I32(v);
  }

  WriteTexts(w, task.ScriptStatements);

  w.Count(task.BackupHistory.size());
  for (const BackupCopy& c : task.BackupHistory) {
    const BackupTimeStamp& t = c.BackupTime;
    for (std::int32_t v : {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second}) w.I32(v);
    w.U8(c.CopyFileMode);
    w.U8(c.CopyFileType);
    w.U8(c.Spare);
    w.Text(c.CopyFolder);
    WriteTexts(w, c.CopyFiles);
  }

  w.U8(task.RestoreOptions.ContinueOnSqlError);
  w.U8(task.RestoreOptions.ContinueOnFileError);
  w.Count(task.RestoreFiles.size());
  for (const RestoreFileItem& f : task.RestoreFiles) {
    w.U8(f.IconIndex);
    w.Text(f.FileName);
    w.Text(f.FullPath);
    w.U32(f.FileSize);
    WriteDateTime(w, f.FileTime);
  }
  w.U32(kMagicCurrent);
}

// ---- Reader (every known version) ----

// What differs between the versions the reader knows.
struct Layout {
  std::uint32_t magic;
  bool current;          // all texts under kTextKey, every field present
  bool hasHistory;       // BackupHistory (versions 2 and current)
  bool hasFullFileName;  // FileNameFormat, AutoDeleteMode/Value, CreateDateTimeSubfolder
};

constexpr Layout kCurrentLayout{kMagicCurrent, true, true, true};
constexpr Layout kVersion2Layout{kMagicVersion2, false, true, true};
constexpr Layout kVersion1Layout{kMagicVersion1, false, false, false};

class RecordReader {
 public:
  RecordReader(BinaryReader& r, const Layout& layout) : m_r(r), m_layout(layout) {}

  void Read(CTaskItem& task) {
    m_r.Expect(m_layout.magic, "start marker");
    Text(task.TaskKey, "TaskKey");
    m_r.U8(task.RunImmediately, "RunImmediately");
    Text(task.TaskName, "TaskName");
    Text(task.Comment, "Comment");
    m_r.U8(task.TaskType, "TaskType");
    // The older versions' type 3 is today's BackupToServer.
    if (!m_layout.current && task.TaskType == 3) task.TaskType = 2;
    m_r.U8(task.Status, "Status");
    DateTime(task.CreatedTime, "CreatedTime");
    DateTime(task.WorkerStartTime, "WorkerStartTime");
    DateTime(task.LastRunTime, "LastRunTime");
    DateTime(task.NextRunTime, "NextRunTime");
    Text(task.LogFileName, "LogFileName");
    ReadServerEntry(m_r, !m_layout.current, task.SourceServer);
    ReadServerEntry(m_r, !m_layout.current, task.DestinationServer);
    Export(task.ExportSettings);
    Tables(task.ExportTables, "ExportTables count");
    Backup(task.BackupSettings);
    Databases(task.BackupDatabases);
    Schedule(task.Schedule);
    Texts(task.ScriptStatements, "ScriptStatements");
    if (m_layout.hasHistory) History(task.BackupHistory);
    if (m_layout.current) {
      m_r.U8(task.RestoreOptions.ContinueOnSqlError, "ContinueOnSqlError");
      m_r.U8(task.RestoreOptions.ContinueOnFileError, "ContinueOnFileError");
      RestoreFiles(task.RestoreFiles);
    }
    m_r.Expect(m_layout.magic, "end marker");
  }

 private:
  // The older versions stored texts plain, except inside server blocks.
  void Text(std::string& text, const char* field) {
    m_r.Text(text, field, m_layout.current ? kTextKey : 0);
  }

  void DateTime(TaskDateTime& t, const char* field) {
    for (std::int32_t* v :
         {&t.Year, &t.Month, &t.Day, &t.Hour, &t.Minute, &t.Second, &t.DayOfWeek}) {
      m_r.I32(*v, field);
    }
  }

  void Export(ExportSettings& e) {
    m_r.U8(e.Format, "ExportSettings.Format");
    Text(e.Folder, "ExportSettings.Folder");
    if (!m_layout.current) return;
    Text(e.FieldsTerminatedBy, "FieldsTerminatedBy");
    Text(e.FieldsEnclosedBy, "FieldsEnclosedBy");
    Text(e.FieldsEscapedBy, "FieldsEscapedBy");
    Text(e.LinesTerminatedBy, "LinesTerminatedBy");
    m_r.U8(e.AddColumnNamesOnTop, "AddColumnNamesOnTop");
  }

  // A count checked against the bytes left, then that many elements read by `readOne`;
  // stops at the first failure.
  template <typename T, typename ReadOne>
  void List(std::vector<T>& items, std::size_t minElementSize, const char* field, ReadOne readOne) {
    std::uint32_t count = 0;
    m_r.Count(count, minElementSize, field);
    items.reserve(count);
    for (std::uint32_t i = 0; i < count && !m_r.Failed(); ++i) {
      T item;
      readOne(item);
      items.push_back(std::move(item));
    }
  }

  void Tables(std::vector<TableItem>& tables, const char* countField) {
    List(tables, m_layout.current ? kTableBlockMinSize : kLegacyTableBlockMinSize, countField,
         [this](TableItem& t) {
           m_r.U8(t.Selected, "TableItem.Selected");
           if (m_layout.current) m_r.U8(t.Kind, "TableItem.Kind");
           Text(t.DatabaseName, "TableItem.DatabaseName");
           Text(t.TableName, "TableItem.TableName");
         });
  }

  void Backup(BackupSettings& b) {
    auto options = OptionBytes(b);
    if (m_layout.current) {
      for (std::uint8_t* option : options) m_r.U8(*option, "BackupSettings option");
    } else if (m_layout.hasFullFileName) {
      for (std::size_t index : kVersion2OptionMap) m_r.U8(*options[index], "BackupSettings option");
    } else {
      for (std::size_t index : kVersion1OptionMap) m_r.U8(*options[index], "BackupSettings option");
      // Version 1 had no options 12 and 13; its files read them as on.
      b.AddDropTable = 1;
      b.AddDeleteAllRecords = 1;
    }
    Text(b.SameFilePath, "SameFilePath");
    Text(b.BackupFolder, "BackupFolder");
    if (!m_layout.hasFullFileName) return;
    Text(b.FileNameFormat, "FileNameFormat");
    m_r.U8(b.AutoDeleteMode, "AutoDeleteMode");
    m_r.U32(b.AutoDeleteValue, "AutoDeleteValue");
    m_r.U8(b.CreateDateTimeSubfolder, "CreateDateTimeSubfolder");
    if (!m_layout.current) return;
    m_r.U8(b.UnixLineEnds, "UnixLineEnds");
    m_r.U8(b.Reserved54, "Reserved54");
    m_r.U8(b.CreateNewDestinationDatabase, "CreateNewDestinationDatabase");
    Text(b.DestinationDatabase, "DestinationDatabase");
  }

  void Databases(std::vector<DatabaseItem>& databases) {
    List(databases, kDatabaseMinSize, "BackupDatabases count", [this](DatabaseItem& d) {
      m_r.U8(d.Selected, "DatabaseItem.Selected");
      Text(d.DatabaseName, "DatabaseItem.DatabaseName");
      Tables(d.Tables, "DatabaseItem.Tables count");
    });
  }

  void Schedule(ScheduleSettings& s) {
    m_r.U8(s.Kind, "Schedule.Kind");
    m_r.I32(s.Hour, "Schedule.Hour");
    m_r.I32(s.Minute, "Schedule.Minute");
    for (std::uint8_t& day : s.WeekDays) m_r.U8(day, "Schedule.WeekDays");
    for (std::uint8_t& day : s.MonthDays) m_r.U8(day, "Schedule.MonthDays");
    m_r.I32(s.SpecialYear, "Schedule.SpecialYear");
    m_r.I32(s.SpecialMonth, "Schedule.SpecialMonth");
    m_r.I32(s.SpecialDay, "Schedule.SpecialDay");
    m_r.I32(s.RepeatEveryDays, "Schedule.RepeatEveryDays");
    m_r.I32(s.IntervalMinutes, "Schedule.IntervalMinutes");
  }

  void Texts(std::vector<std::string>& texts, const char* field) {
    List(texts, kTextMinSize, field, [this, field](std::string& text) { Text(text, field); });
  }

  void History(std::vector<BackupCopy>& history) {
    List(history, kBackupCopyMinSize, "BackupHistory count", [this](BackupCopy& c) {
      BackupTimeStamp& t = c.BackupTime;
      for (std::int32_t* v : {&t.Year, &t.Month, &t.Day, &t.Hour, &t.Minute, &t.Second}) {
        m_r.I32(*v, "BackupCopy.BackupTime");
      }
      m_r.U8(c.CopyFileMode, "BackupCopy.CopyFileMode");
      m_r.U8(c.CopyFileType, "BackupCopy.CopyFileType");
      m_r.U8(c.Spare, "BackupCopy.Spare");
      Text(c.CopyFolder, "BackupCopy.CopyFolder");
      Texts(c.CopyFiles, "BackupCopy.CopyFiles");
    });
  }

  void RestoreFiles(std::vector<RestoreFileItem>& files) {
    List(files, kRestoreFileMinSize, "RestoreFiles count", [this](RestoreFileItem& f) {
      m_r.U8(f.IconIndex, "RestoreFileItem.IconIndex");
      Text(f.FileName, "RestoreFileItem.FileName");
      Text(f.FullPath, "RestoreFileItem.FullPath");
      m_r.U32(f.FileSize, "RestoreFileItem.FileSize");
      DateTime(f.FileTime, "RestoreFileItem.FileTime");
    });
  }

  BinaryReader& m_r;
  const Layout& m_layout;
};

const Layout* LayoutFor(std::uint32_t magic) {
  switch (magic) {
    case kMagicCurrent: return &kCurrentLayout;
    case kMagicVersion2: return &kVersion2Layout;
    case kMagicVersion1: return &kVersion1Layout;
    default: return nullptr;
  }
}

void SetProblem(std::string* problem, std::string text) {
  if (problem != nullptr) *problem = std::move(text);
}

}  // namespace

std::string SerializeTaskFile(const std::vector<CTaskItem>& tasks) {
  BinaryWriter w;
  w.U32(kMagicCurrent);
  w.Count(tasks.size());
  for (const CTaskItem& task : tasks) WriteRecord(w, task);
  return w.Take();
}

bool WriteTaskFile(const std::string& path, const std::vector<CTaskItem>& tasks) {
  if (path.empty()) return false;
  // The options go first: a task file never names a task whose options were not saved.
  if (!WriteTaskOptionsFile(TaskOptionsPathFor(path), tasks)) return false;
  // An empty list is stored as no file at all.
  if (tasks.empty()) return RemoveFileIfExists(path);
  return WriteFileAtomically(path, SerializeTaskFile(tasks)).ok();
}

ReplaceResult WriteTaskFileIfUnchanged(const std::string& path,
                                       const std::vector<CTaskItem>& tasks,
                                       const FileStamp& expected, FileStamp* written) {
  if (path.empty()) return ReplaceResult::Failed;
  if (StampOf(path) != expected) return ReplaceResult::ChangedOnDisk;
  if (!WriteTaskOptionsFile(TaskOptionsPathFor(path), tasks)) return ReplaceResult::Failed;
  if (tasks.empty()) {
    const ReplaceResult removed = RemoveFileIfUnchanged(path, expected);
    if (written != nullptr && removed == ReplaceResult::Replaced) *written = FileStamp{};
    return removed;
  }
  return ReplaceFileIfUnchanged(path, SerializeTaskFile(tasks), expected, written);
}

TaskFileReadResult ParseTaskFile(std::string_view bytes, std::vector<CTaskItem>& out,
                                 std::string* problem) {
  SetProblem(problem, "");
  BinaryReader r(bytes);
  std::uint32_t magic = 0;
  if (!r.U32(magic, "magic")) {
    SetProblem(problem, "not a task file: shorter than 4 bytes");
    return TaskFileReadResult::Failure;
  }
  const Layout* layout = LayoutFor(magic);
  if (layout == nullptr) {
    char text[64];
    std::snprintf(text, sizeof text, "not a task file: unknown magic 0x%08X", magic);
    SetProblem(problem, text);
    return TaskFileReadResult::Failure;
  }
  std::uint32_t count = 0;
  if (!r.Count(count, layout->current ? kRecordMinSize : kLegacyRecordMinSize, "task count")) {
    SetProblem(problem, "damaged task file: " + r.Problem());
    return TaskFileReadResult::NothingToLoad;
  }

  std::vector<CTaskItem> tasks;
  tasks.reserve(count);
  RecordReader reader(r, *layout);
  for (std::uint32_t i = 0; i < count && !r.Failed(); ++i) {
    CTaskItem task;
    reader.Read(task);
    if (r.Failed()) break;
    task.SetStatus(TaskStatus::Stop);
    task.RunImmediately = 0;
    tasks.push_back(std::move(task));
  }
  if (r.Failed()) {
    // One damaged record makes every record suspect: nothing is loaded.
    SetProblem(problem, "damaged task record " + std::to_string(tasks.size() + 1) + " of " +
                            std::to_string(count) + ": " + r.Problem());
    return TaskFileReadResult::NothingToLoad;
  }
  if (tasks.empty()) return TaskFileReadResult::NothingToLoad;
  out = std::move(tasks);
  return TaskFileReadResult::Loaded;
}

TaskFileReadResult ReadTaskFile(const std::string& path, std::vector<CTaskItem>& out,
                                std::string* problem) {
  std::string bytes;
  if (path.empty() || !ReadFileBytes(path, bytes)) {
    SetProblem(problem, "cannot read the task file - " + path);
    return TaskFileReadResult::Failure;
  }
  const TaskFileReadResult result = ParseTaskFile(bytes, out, problem);
  // Damaged or missing options leave the tasks with their defaults; the next save sets a
  // damaged options file aside.
  if (result == TaskFileReadResult::Loaded) ReadTaskOptionsFile(TaskOptionsPathFor(path), out);
  return result;
}

}  // namespace brevanto
