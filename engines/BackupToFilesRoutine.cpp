#include "engines/BackupToFilesRoutine.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

#include "engines/BackupTableDumper.h"
#include "engines/CompressedOutput.h"
#include "engines/ErrorCountingContext.h"
#include "engines/MySqlConnection.h"
#include "engines/OutputFile.h"
#include "engines/ParallelItems.h"
#include "engines/ProgressPlan.h"
#include "engines/SchemaObjects.h"
#include "engines/Snapshot.h"
#include "engines/SqlDumpWriter.h"
#include "tasks/BackupFileName.h"

namespace brevanto {

namespace {

BackupTimeStamp ToBackupTime(const TaskDateTime& t) {
  return {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second};
}

// "YYYY-MM-DD_HH-MM-SS", the name of a run's DATE_TIME folder.
bool LooksLikeDateTimeFolder(const std::string& name) {
  const std::string tail = "-00-00_00-00-00";
  const auto dash = name.find('-');
  if (dash == std::string::npos || dash == 0 || name.size() != dash + tail.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char expected = i < dash ? '0' : tail[i - dash];
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (expected == '0' ? !digit : name[i] != expected) return false;
  }
  return true;
}

// `text` followed by the system's reason of a failed file operation.
std::string WithFileError(const std::string& text, const Status& status) {
  const std::string& message = status.message();
  const auto dash = message.find(" - ");
  return text + " (" + (dash == std::string::npos ? message : message.substr(0, dash)) + ")";
}

// What one reading connection works with: its session, the file it writes, and its own
// count of Error entries (a file is complete when none was logged while it was open).
// Entries go on to the run's context. Used by one thread at a time.
struct DumpLane {
  explicit DumpLane(TaskRunContext& run) : context(run) {}
  CErrorCountingContext context;
  CMySQLConnection connection;
  COutputFile file;
  std::unique_ptr<CSqlDumpWriter> writer;
  int errorsAtOpen = 0;
  bool hasDatabase = false;
  std::string database;         // the session's current database
  std::string databaseCharset;  // its character set as applied, when the task sets it
};

// One run's state, from the connection to the recorded copy.
class CBackupToFilesRun {
 public:
  CBackupToFilesRun(TaskRunContext& context, std::string applicationFolder)
      : m_context(context),
        m_task(context.Task()),
        m_tag(TemporaryFileTag(m_task.LogFileName.empty() ? m_task.TaskName
                                                          : m_task.LogFileName)),
        m_settings(m_task.BackupSettings),
        m_runTime(context.RunStartTime()),
        m_advanced(AdvancedOptionsOf(m_task)),
        m_applicationFolder(std::move(applicationFolder)),
        m_eol(m_settings.UnixLineEnds == 1 ? "\n" : "\r\n") {}

  RunOutcome Run();

 private:
  enum class Grouping { OneFile, PerDatabase, PerTable };

  Grouping FileGrouping() const {
    if (m_settings.FileMode == 1) return Grouping::OneFile;
    if (m_settings.FileGrouping == 2) return Grouping::PerDatabase;
    if (m_settings.FileGrouping == 3) return Grouping::PerTable;
    return Grouping::OneFile;
  }

  bool Canceled() { return m_context.StopRequested(); }
  void Error(DumpLane& lane, const std::string& text) {
    if (!m_context.StopRequested()) lane.context.Log(LogLevel::Error, text);  // see the dumper
  }
  void Error(const std::string& text) { Error(m_main, text); }
  // True once the session is gone: nothing more can be read, so the run ends at once
  // instead of logging one failure per remaining table.
  static bool SessionLost(const DumpLane& lane) {
    return lane.connection.IsOpen() && IsLostConnection(mysql_errno(lane.connection.Handle()));
  }

  // Removes the temporary files that killed runs of this task left in its folders.
  void RemoveLeftovers();
  // Creates the next file under its temporary name and writes its prologue. Logs and
  // returns false on failure.
  bool OpenNewFile(DumpLane& lane, const std::string& database, const std::string& table);
  // A file without errors gets its epilogue and PHP trailer and then its final name (and
  // is listed in the copy); one with errors keeps a name that says it is incomplete.
  // Returns the final name of a complete file, else "".
  std::string FinishFile(DumpLane& lane);
  // Makes `database` the lane's current one (and applies its character set).
  bool UseDatabase(DumpLane& lane, const std::string& database);
  RunOutcome BackupDatabase(DumpLane& lane, const DatabaseItem& database,
                            std::vector<std::string>& files);
  // The database's triggers, routines and events the task takes (a Warning names the
  // kinds it leaves out, or an object it cannot read).
  std::vector<SchemaObject> ReadObjects(DumpLane& lane, const std::string& database);
  void WriteObjects(DumpLane& lane, const std::vector<SchemaObject>& objects);
  // More reading connections for a parallel run, set up as the first; as many as could
  // be opened (a Warning says when fewer).
  void OpenMoreLanes(int wanted);
  // Files per table or per database, several at a time.
  RunOutcome BackupInParallel(const std::vector<DatabaseItem>& resolved);
  RunOutcome Backup();
  CTableRowEstimates m_estimates;

  CErrorCountingContext m_context;
  const CTaskItem m_task;
  const std::string m_tag;
  const BackupSettings& m_settings;
  const TaskDateTime m_runTime;
  const CAdvancedOptions m_advanced;
  const std::string m_applicationFolder;
  const std::string m_eol;
  std::string m_dateTimeSubPath;
  bool m_madeDateTimeFolder = false;  // the folder did not exist before this run

  DumpLane m_main{m_context};
  CMySQLConnection& m_connection = m_main.connection;
  std::vector<std::unique_ptr<DumpLane>> m_moreLanes;  // a parallel run's other readers
  DumpOptions m_options;
  std::string m_serverCharset;
  std::vector<std::string> m_createdFiles;  // complete files, under their final names
};

void CBackupToFilesRun::RemoveLeftovers() {
  if (m_settings.FileMode == 1) {
    (void)RemoveLeftoverTemporaryFiles(FolderOf(m_settings.SameFilePath), m_tag);
    return;
  }
  std::string folder = m_settings.BackupFolder;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  (void)RemoveLeftoverTemporaryFiles(folder, m_tag);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (LooksLikeDateTimeFolder(entry->d_name)) {
      (void)RemoveLeftoverTemporaryFiles(folder + "/" + entry->d_name, m_tag);
    }
  }
  ::closedir(dir);
}

bool CBackupToFilesRun::OpenNewFile(DumpLane& lane, const std::string& database,
                                    const std::string& table) {
  // PHP scripts stay plain: PHP runs them as they are.
  const Compression compression =
      m_settings.FileType == 2 ? Compression::None : m_advanced.Compression;
  const std::string path = WithCompressedFileSuffix(
      MakeBackupFilePath(m_settings, m_dateTimeSubPath, m_task.TaskName, m_task.SourceServer,
                         database, table, m_runTime),
      compression);
  lane.writer.reset();
  lane.errorsAtOpen = lane.context.Errors();
  // Owner-only: a dump holds all the data, a PHP script the password too.
  if (const Status created = lane.file.Create(path, m_tag, true); !created.ok()) {
    Error(lane, WithFileError("Failed to create the backup file! - " + path, created));
    return false;
  }
  lane.file.SetCompression(compression, m_advanced.CompressionLevel);
  lane.writer = std::make_unique<CSqlDumpWriter>(lane.file, m_settings.FileType, m_eol);
  if (const Status header =
          lane.writer->WriteFileHeader(m_task.SourceServer, lane.connection.ServerVersionText(), m_runTime);
      !header.ok()) {
    Error(lane, WithFileError("Failed to write the title to the backup file! - " + path, header));
    (void)FinishFile(lane);
    return false;
  }
  if (lane.writer->IsPhp()) {
    if (const Status connect = lane.writer->WritePhpConnect(m_task.SourceServer); !connect.ok()) {
      Error(lane, WithFileError("Failed to write the connect statement to the PHP file! - " + path,
                          connect));
      (void)FinishFile(lane);
      return false;
    }
  }
  lane.writer->WritePrologue(m_settings, m_serverCharset, lane.connection.ServerVersion());
  lane.writer->DeclareCharset(m_options.SessionCharset);
  return true;
}

std::string CBackupToFilesRun::FinishFile(DumpLane& lane) {
  if (!lane.writer) return {};
  if (lane.context.Errors() == lane.errorsAtOpen) {
    lane.writer->WriteEpilogue(m_settings, m_serverCharset);
    if (lane.writer->IsPhp() && !lane.writer->WritePhpTrailer().ok()) {
      Error(lane, "Failed to write PHP mysql_close to the bakcup file! - " + lane.file.Path());
    }
  }
  lane.writer.reset();
  if (lane.context.Errors() == lane.errorsAtOpen) {
    // Same-file mode replaces its previous copy, but only with a complete file; new
    // files never replace a file of another run or task.
    const Status committed = lane.file.Commit(m_settings.FileMode == 1
                                               ? COutputFile::Existing::Replace
                                               : COutputFile::Existing::AddSuffix);
    if (committed.ok()) return lane.file.Path();
    Error(lane, WithFileError("Failed to save the backup file! - " + lane.file.Path(), committed));
  }
  (void)lane.file.KeepIncomplete();
  return {};
}

std::vector<SchemaObject> CBackupToFilesRun::ReadObjects(DumpLane& lane,
                                                         const std::string& database) {
  const SchemaObjectKinds kinds = KindsOf(m_advanced);
  if (auto warning = LeftOutObjectsWarning(lane.connection, database, kinds, "back up")) {
    lane.context.Log(LogLevel::Warning, *warning);
  }
  if (!kinds.Any()) return {};
  std::vector<std::string> problems;
  std::vector<SchemaObject> objects = ReadSchemaObjects(lane.connection, database, kinds, problems);
  for (const std::string& problem : problems) lane.context.Log(LogLevel::Warning, problem);
  return objects;
}

void CBackupToFilesRun::WriteObjects(DumpLane& lane, const std::vector<SchemaObject>& objects) {
  if (!lane.writer || objects.empty()) return;
  if (const Status written = WriteSchemaObjects(*lane.writer, objects); !written.ok()) {
    Error(lane, WithFileError(
                    "Failed to write the triggers, routines and events to the backup file! - " +
                        lane.file.Path(),
                    written));
  }
}

bool CBackupToFilesRun::UseDatabase(DumpLane& lane, const std::string& database) {
  if (lane.hasDatabase && lane.database == database) return true;
  lane.hasDatabase = false;
  if (!SelectDatabase(lane.connection, database)) {
    Error(lane, WithServerError("Failed to use database " + database, lane.connection.LastError()));
    return false;
  }
  lane.databaseCharset =
      m_settings.SetConnectionCharset != 0
          ? ApplyDefaultCharset(lane.connection, true, lane.connection.ServerVersion())
          : std::string();
  lane.hasDatabase = true;
  lane.database = database;
  return true;
}

RunOutcome CBackupToFilesRun::BackupDatabase(DumpLane& lane, const DatabaseItem& database,
                                             std::vector<std::string>& files) {
  const std::string& name = database.DatabaseName;
  lane.context.Log(LogLevel::General, "Backing up the database " + name + "...");
  // The charset query runs again for every database, as it always did.
  lane.hasDatabase = false;
  if (!UseDatabase(lane, name)) return SessionLost(lane) ? RunOutcome::Failed : RunOutcome::Finished;
  const bool perDatabase = FileGrouping() == Grouping::PerDatabase;
  const bool perTable = FileGrouping() == Grouping::PerTable;
  if (perDatabase && !OpenNewFile(lane, name, "")) return RunOutcome::Finished;

  const std::vector<SchemaObject> objects = ReadObjects(lane, name);
  std::vector<std::string> dumped;
  std::size_t toDump = 0;
  for (const TableItem& table : database.Tables) toDump += table.Selected != 0 ? 1 : 0;

  const auto keep = [&files](std::string path) {
    if (!path.empty()) files.push_back(std::move(path));
  };
  CBackupTableDumper dumper(lane.context, lane.connection, m_options, name, lane.databaseCharset);
  for (const TableItem& table : database.Tables) {
    if (table.Selected == 0) continue;
    if (Canceled()) return RunOutcome::Canceled;
    lane.context.Log(LogLevel::General,
                     std::string(table.Kind == 2 ? "Backing up the view " : "Backing up the table ") +
                         name + "." + table.TableName + "...");
    StartTableProgress(lane.context, m_estimates, name, table.TableName);
    --toDump;
    if (perTable && !OpenNewFile(lane, name, table.TableName)) continue;
    if (dumper.DumpTable(*lane.writer, table) == RunOutcome::Canceled) return RunOutcome::Canceled;
    if (SessionLost(lane)) return RunOutcome::Failed;
    dumped.push_back(table.TableName);
    if (perTable) {
      dumper.WriteDeferredViews(*lane.writer);
      // A table's triggers follow its rows in its own file; the last file also takes the
      // routines and events.
      WriteObjects(lane, ObjectsFor(objects, {table.TableName}, toDump == 0));
      keep(FinishFile(lane));
    }
  }
  if (Canceled()) return RunOutcome::Canceled;
  if (lane.writer) dumper.WriteDeferredViews(*lane.writer);
  if (!perTable) WriteObjects(lane, ObjectsFor(objects, dumped, true));
  if (perDatabase) keep(FinishFile(lane));
  return RunOutcome::Finished;
}

void CBackupToFilesRun::OpenMoreLanes(int wanted) {
  for (int i = 1; i < wanted; ++i) {
    auto lane = std::make_unique<DumpLane>(m_context);
    MySqlError error;
    if (!ConnectServer(m_task.SourceServer, lane->connection, error, ConnectPurpose::StreamRows)) {
      m_context.Log(LogLevel::Warning,
                    WithServerError("Could not open another connection; " +
                                        std::to_string(i) + " at a time",
                                    error));
      return;
    }
    if (m_settings.SetConnectionCharset != 0) {
      (void)ApplyDefaultCharset(lane->connection, false, lane->connection.ServerVersion());
    }
    (void)UseUtcTimeZone(lane->connection);
    m_moreLanes.push_back(std::move(lane));
  }
}

RunOutcome CBackupToFilesRun::BackupInParallel(const std::vector<DatabaseItem>& resolved) {
  // One item per file: a database, or a table with its place in its database.
  struct Item {
    const DatabaseItem* Database;
    const TableItem* Table;  // null: the whole database
    bool First;              // the database's first file
    bool Last;               // its last file: routines and events go there
  };
  const bool perTable = FileGrouping() == Grouping::PerTable;
  std::vector<Item> items;
  std::vector<std::vector<SchemaObject>> objects;  // of each database, read up front
  std::vector<std::size_t> objectsOf;              // index into `objects` per item
  for (const DatabaseItem& database : resolved) {
    if (database.Selected == 0) continue;
    if (!perTable) {
      items.push_back({&database, nullptr, true, true});
      continue;
    }
    const std::size_t first = items.size();
    for (const TableItem& table : database.Tables) {
      if (table.Selected != 0) items.push_back({&database, &table, items.size() == first, false});
    }
    if (items.size() == first) continue;
    items.back().Last = true;
    if (!UseDatabase(m_main, database.DatabaseName)) {
      if (SessionLost(m_main)) return RunOutcome::Failed;
      items.resize(first);  // logged; its tables cannot be read either
      continue;
    }
    objects.push_back(ReadObjects(m_main, database.DatabaseName));
    objectsOf.resize(items.size(), objects.size() - 1);
  }
  if (Canceled()) return RunOutcome::Canceled;

  std::vector<DumpLane*> lanes{&m_main};
  for (const auto& lane : m_moreLanes) lanes.push_back(lane.get());
  std::vector<std::vector<std::string>> files(items.size());
  std::atomic<bool> failed{false};
  std::atomic<bool> canceled{false};
  const int laneCount = static_cast<int>(std::min(lanes.size(), std::max<std::size_t>(items.size(), 1)));
  RunInParallel(laneCount, items.size(), [&](int laneIndex, std::size_t index) {
    DumpLane& lane = *lanes[laneIndex];
    const Item& item = items[index];
    const std::string& name = item.Database->DatabaseName;
    if (Canceled()) {
      canceled = true;
      return false;
    }
    RunOutcome outcome = RunOutcome::Finished;
    if (item.Table == nullptr) {
      outcome = BackupDatabase(lane, *item.Database, files[index]);
    } else {
      if (item.First) lane.context.Log(LogLevel::General, "Backing up the database " + name + "...");
      if (!UseDatabase(lane, name)) {
        if (SessionLost(lane)) failed = true;
        return !failed;
      }
      const TableItem& table = *item.Table;
      lane.context.Log(LogLevel::General, std::string(table.Kind == 2 ? "Backing up the view "
                                                                       : "Backing up the table ") +
                                              name + "." + table.TableName + "...");
      StartTableProgress(lane.context, m_estimates, name, table.TableName);
      if (!OpenNewFile(lane, name, table.TableName)) return true;
      CBackupTableDumper dumper(lane.context, lane.connection, m_options, name,
                                lane.databaseCharset);
      outcome = dumper.DumpTable(*lane.writer, table);
      if (outcome != RunOutcome::Canceled && SessionLost(lane)) outcome = RunOutcome::Failed;
      if (outcome == RunOutcome::Finished) {
        dumper.WriteDeferredViews(*lane.writer);
        WriteObjects(lane, ObjectsFor(objects[objectsOf[index]], {table.TableName}, item.Last));
        if (std::string path = FinishFile(lane); !path.empty()) files[index].push_back(path);
      }
    }
    if (outcome == RunOutcome::Canceled) canceled = true;
    if (outcome == RunOutcome::Failed) failed = true;
    return outcome == RunOutcome::Finished;
  });
  // A stopped run leaves its open files unfinished; a lane that failed mid-file keeps
  // it as incomplete.
  if (canceled || Canceled()) return RunOutcome::Canceled;
  for (DumpLane* lane : lanes) (void)FinishFile(*lane);
  if (failed) return RunOutcome::Failed;
  for (const auto& list : files) m_createdFiles.insert(m_createdFiles.end(), list.begin(), list.end());
  return RunOutcome::Finished;
}

RunOutcome CBackupToFilesRun::Run() {
  const RunOutcome outcome = Backup();
  if (outcome == RunOutcome::Canceled) return outcome;  // the open file stays incomplete
  if (m_context.Errors() == 0 && outcome == RunOutcome::Finished) return outcome;
  // Whatever failed, the last entry says so plainly: the earlier copies stay untouched.
  if (m_context.LastLevel() != LogLevel::Error || m_context.Errors() > 1) {
    Error("The backup is incomplete (" + std::to_string(m_context.Errors()) +
          (m_context.Errors() == 1 ? " error" : " errors") + "); no backup copy was recorded.");
  }
  return RunOutcome::Failed;
}

RunOutcome CBackupToFilesRun::Backup() {
  if (m_task.BackupDatabases.empty()) {
    Error("There are not any databases to backup!");
    return RunOutcome::Failed;
  }
  if (!m_applicationFolder.empty()) (void)::mkdir((m_applicationFolder + "Data").c_str(), 0777);
  if (m_settings.FileMode != 1) {
    if (m_settings.BackupFolder.empty()) {
      Error("Backup directory name is empty!");
      return RunOutcome::Failed;
    }
    if (m_settings.CreateDateTimeSubfolder == 1) {
      // Only a folder this run made may be removed with its copy later.
      struct stat st {};
      const std::string folder = m_settings.BackupFolder + DateTimeFolderName(m_runTime);
      m_madeDateTimeFolder = ::stat(folder.c_str(), &st) != 0 && errno == ENOENT;
    }
    m_dateTimeSubPath = MakeDateTimeFolder(m_settings, m_runTime);
  }
  RemoveLeftovers();
  if (Canceled()) return RunOutcome::Canceled;

  if (!ConnectServerForTask(m_context, m_task.SourceServer, ServerRole::OnlySource, m_connection,
                            ConnectPurpose::StreamRows)) {
    return RunOutcome::Failed;
  }
  const bool parallel = m_advanced.Threads > 1 && FileGrouping() != Grouping::OneFile;
  if (parallel) OpenMoreLanes(m_advanced.Threads);
  // A stop must reach every reading connection.
  std::vector<std::shared_ptr<ConnectionCanceler>> cancelers{m_connection.CancelHandle()};
  for (const auto& lane : m_moreLanes) cancelers.push_back(lane->connection.CancelHandle());
  m_context.SetCancelHook([cancelers] {
    for (const auto& canceler : cancelers) canceler->Cancel();
  });
  struct HookGuard {
    TaskRunContext& context;
    ~HookGuard() { context.SetCancelHook({}); }
  } hookGuard{m_context};

  const unsigned long version = m_connection.ServerVersion();
  m_options = MakeDumpOptions(m_settings, version);
  if (m_advanced.ConsistentSnapshot) DropSnapshotBreakingSettings(m_options.Settings);
  if (m_advanced.StatementBytes > 0) {
    // Whoever restores the file reads it with a client whose packet is at least the
    // server's default; the reading server's own limit is a fair bound.
    m_options.Inserts = ChooseInsertShape(true, m_advanced.StatementBytes,
                                          MaxAllowedPacket(m_connection));
  }
  if (m_settings.SetConnectionCharset != 0) {
    m_serverCharset = ApplyDefaultCharset(m_connection, false, version);
  }
  m_options.SessionCharset = m_serverCharset.empty() ? SessionCharset(m_connection) : m_serverCharset;
  (void)UseUtcTimeZone(m_connection);
  m_context.Log(LogLevel::General, "Backing up the selected databases and tables...");
  if (Canceled()) return RunOutcome::Canceled;

  if (FileGrouping() == Grouping::OneFile && !OpenNewFile(m_main, "", "")) {
    m_connection.Close();
    return RunOutcome::Failed;
  }
  if (m_settings.FlushLogsBeforeStart != 0) (void)m_connection.Execute("FLUSH LOGS");

  const std::vector<DatabaseItem> resolved =
      ResolveSelection(m_connection, m_settings, m_task.BackupDatabases, m_options.Quote);
  m_estimates = PlanTableProgress(m_context, m_connection, resolved);
  if (m_advanced.ConsistentSnapshot) {
    std::vector<CMySQLConnection*> readers{&m_connection};
    for (const auto& lane : m_moreLanes) readers.push_back(&lane->connection);
    BeginConsistentSnapshot(m_context, readers, resolved);
  }
  if (parallel) {
    const RunOutcome outcome = BackupInParallel(resolved);
    if (outcome != RunOutcome::Finished) return outcome;
  }
  for (const DatabaseItem& database : resolved) {
    if (parallel) break;
    if (database.Selected == 0) continue;
    if (Canceled()) return RunOutcome::Canceled;
    const RunOutcome outcome = BackupDatabase(m_main, database, m_createdFiles);
    if (outcome == RunOutcome::Canceled) return RunOutcome::Canceled;
    if (outcome == RunOutcome::Failed) {
      (void)FinishFile(m_main);
      return RunOutcome::Failed;
    }
  }
  if (Canceled()) return RunOutcome::Canceled;
  m_context.SetCancelHook({});  // before closing what it cancels
  m_connection.Close();
  m_moreLanes.clear();
  if (FileGrouping() == Grouping::OneFile) {
    if (std::string path = FinishFile(m_main); !path.empty()) m_createdFiles.push_back(path);
  }
  if (m_context.Errors() > 0) return RunOutcome::Failed;

  BackupCopy copy;
  copy.BackupTime = ToBackupTime(m_runTime);
  copy.CopyFileMode = m_settings.FileMode;
  copy.CopyFileType = m_settings.FileType;
  copy.Spare = 0;
  if (!m_dateTimeSubPath.empty() && m_madeDateTimeFolder) {
    copy.CopyFolder = m_settings.BackupFolder + m_dateTimeSubPath;
    if (copy.CopyFolder.back() == '/') copy.CopyFolder.pop_back();
  }
  copy.CopyFiles = m_createdFiles;
  m_context.RecordBackupCopy(copy);
  return RunOutcome::Finished;
}

}  // namespace

RunOutcome RunBackupToFiles(TaskRunContext& context, const std::string& applicationFolder) {
  CBackupToFilesRun run(context, applicationFolder);
  return run.Run();
}

}  // namespace brevanto
