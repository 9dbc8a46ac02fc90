#include "engines/BackupToFilesRoutine.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

#include "engines/BackupTableDumper.h"
#include "engines/CompressedOutput.h"
#include "engines/MySqlConnection.h"
#include "engines/OutputFile.h"
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

// The run's context, counting the Error entries: a file during which one was logged is
// not complete, and a run that logged one records no copy.
class CErrorCountingContext final : public TaskRunContext {
 public:
  explicit CErrorCountingContext(TaskRunContext& inner) : m_inner(inner) {}

  const CTaskItem& Task() const override { return m_inner.Task(); }
  TaskDateTime RunStartTime() const override { return m_inner.RunStartTime(); }
  bool StopRequested() override { return m_inner.StopRequested(); }
  void Log(LogLevel level, const std::string& text) override {
    if (level == LogLevel::Error) ++m_errors;
    m_lastLevel = level;
    m_inner.Log(level, text);
  }
  void SetCancelHook(std::function<void()> hook) override {
    m_inner.SetCancelHook(std::move(hook));
  }
  void RecordBackupCopy(const BackupCopy& copy) override { m_inner.RecordBackupCopy(copy); }
  Clock& GetClock() override { return m_inner.GetClock(); }
  void ProgressPlan(std::int64_t totalUnits) override { m_inner.ProgressPlan(totalUnits); }
  void ProgressItem(const std::string& name, std::int64_t estimatedUnits) override {
    m_inner.ProgressItem(name, estimatedUnits);
  }
  void ProgressAdvance(std::int64_t units, std::int64_t bytesWritten) override {
    m_inner.ProgressAdvance(units, bytesWritten);
  }
  void RecordFileWritten(const std::string& path) override { m_inner.RecordFileWritten(path); }

  int Errors() const { return m_errors; }
  LogLevel LastLevel() const { return m_lastLevel; }

 private:
  TaskRunContext& m_inner;
  int m_errors = 0;
  LogLevel m_lastLevel = LogLevel::General;
};

// `text` followed by the system's reason of a failed file operation.
std::string WithFileError(const std::string& text, const Status& status) {
  const std::string& message = status.message();
  const auto dash = message.find(" - ");
  return text + " (" + (dash == std::string::npos ? message : message.substr(0, dash)) + ")";
}

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
  void Error(const std::string& text) {
    if (!m_context.StopRequested()) m_context.Log(LogLevel::Error, text);  // see the dumper
  }
  // True once the session is gone: nothing more can be read, so the run ends at once
  // instead of logging one failure per remaining table.
  bool SessionLost() const {
    return m_connection.IsOpen() && IsLostConnection(mysql_errno(m_connection.Handle()));
  }

  // Removes the temporary files that killed runs of this task left in its folders.
  void RemoveLeftovers();
  // Creates the next file under its temporary name and writes its prologue. Logs and
  // returns false on failure.
  bool OpenNewFile(const std::string& database, const std::string& table);
  // A file without errors gets its epilogue and PHP trailer and then its final name (and
  // is listed in the copy); one with errors keeps a name that says it is incomplete.
  void FinishFile();
  RunOutcome BackupDatabase(const DatabaseItem& database);
  // The database's triggers, routines and events the task takes (a Warning names the
  // kinds it leaves out, or an object it cannot read).
  std::vector<SchemaObject> ReadObjects(const std::string& database);
  void WriteObjects(const std::vector<SchemaObject>& objects);
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
  int m_errorsAtOpen = 0;             // Error entries before the current file was created

  CMySQLConnection m_connection;
  DumpOptions m_options;
  std::string m_serverCharset;
  COutputFile m_file;
  std::unique_ptr<CSqlDumpWriter> m_writer;
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

bool CBackupToFilesRun::OpenNewFile(const std::string& database, const std::string& table) {
  // PHP scripts stay plain: PHP runs them as they are.
  const Compression compression =
      m_settings.FileType == 2 ? Compression::None : m_advanced.Compression;
  const std::string path = WithCompressedFileSuffix(
      MakeBackupFilePath(m_settings, m_dateTimeSubPath, m_task.TaskName, m_task.SourceServer,
                         database, table, m_runTime),
      compression);
  m_writer.reset();
  m_errorsAtOpen = m_context.Errors();
  // Owner-only: a dump holds all the data, a PHP script the password too.
  if (const Status created = m_file.Create(path, m_tag, true); !created.ok()) {
    Error(WithFileError("Failed to create the backup file! - " + path, created));
    return false;
  }
  m_file.SetCompression(compression, m_advanced.CompressionLevel);
  m_writer = std::make_unique<CSqlDumpWriter>(m_file, m_settings.FileType, m_eol);
  if (const Status header =
          m_writer->WriteFileHeader(m_task.SourceServer, m_connection.ServerVersionText(), m_runTime);
      !header.ok()) {
    Error(WithFileError("Failed to write the title to the backup file! - " + path, header));
    FinishFile();
    return false;
  }
  if (m_writer->IsPhp()) {
    if (const Status connect = m_writer->WritePhpConnect(m_task.SourceServer); !connect.ok()) {
      Error(WithFileError("Failed to write the connect statement to the PHP file! - " + path,
                          connect));
      FinishFile();
      return false;
    }
  }
  m_writer->WritePrologue(m_settings, m_serverCharset, m_connection.ServerVersion());
  m_writer->DeclareCharset(m_options.SessionCharset);
  return true;
}

void CBackupToFilesRun::FinishFile() {
  if (!m_writer) return;
  if (m_context.Errors() == m_errorsAtOpen) {
    m_writer->WriteEpilogue(m_settings, m_serverCharset);
    if (m_writer->IsPhp() && !m_writer->WritePhpTrailer().ok()) {
      Error("Failed to write PHP mysql_close to the bakcup file! - " + m_file.Path());
    }
  }
  m_writer.reset();
  if (m_context.Errors() == m_errorsAtOpen) {
    // Same-file mode replaces its previous copy, but only with a complete file; new
    // files never replace a file of another run or task.
    const Status committed = m_file.Commit(m_settings.FileMode == 1
                                               ? COutputFile::Existing::Replace
                                               : COutputFile::Existing::AddSuffix);
    if (committed.ok()) {
      m_createdFiles.push_back(m_file.Path());
      return;
    }
    Error(WithFileError("Failed to save the backup file! - " + m_file.Path(), committed));
  }
  (void)m_file.KeepIncomplete();
}

std::vector<SchemaObject> CBackupToFilesRun::ReadObjects(const std::string& database) {
  const SchemaObjectKinds kinds = KindsOf(m_advanced);
  if (auto warning = LeftOutObjectsWarning(m_connection, database, kinds, "back up")) {
    m_context.Log(LogLevel::Warning, *warning);
  }
  if (!kinds.Any()) return {};
  std::vector<std::string> problems;
  std::vector<SchemaObject> objects = ReadSchemaObjects(m_connection, database, kinds, problems);
  for (const std::string& problem : problems) m_context.Log(LogLevel::Warning, problem);
  return objects;
}

void CBackupToFilesRun::WriteObjects(const std::vector<SchemaObject>& objects) {
  if (!m_writer || objects.empty()) return;
  if (const Status written = WriteSchemaObjects(*m_writer, objects); !written.ok()) {
    Error(WithFileError(
        "Failed to write the triggers, routines and events to the backup file! - " +
            m_file.Path(),
        written));
  }
}

RunOutcome CBackupToFilesRun::BackupDatabase(const DatabaseItem& database) {
  const std::string& name = database.DatabaseName;
  m_context.Log(LogLevel::General, "Backing up the database " + name + "...");
  if (!SelectDatabase(m_connection, name)) {
    Error(WithServerError("Failed to use database " + name, m_connection.LastError()));
    return SessionLost() ? RunOutcome::Failed : RunOutcome::Finished;
  }
  const std::string databaseCharset =
      m_settings.SetConnectionCharset != 0
          ? ApplyDefaultCharset(m_connection, true, m_connection.ServerVersion())
          : std::string();
  const bool perDatabase = FileGrouping() == Grouping::PerDatabase;
  const bool perTable = FileGrouping() == Grouping::PerTable;
  if (perDatabase && !OpenNewFile(name, "")) return RunOutcome::Finished;

  const std::vector<SchemaObject> objects = ReadObjects(name);
  std::vector<std::string> dumped;
  std::size_t toDump = 0;
  for (const TableItem& table : database.Tables) toDump += table.Selected != 0 ? 1 : 0;

  CBackupTableDumper dumper(m_context, m_connection, m_options, name, databaseCharset);
  for (const TableItem& table : database.Tables) {
    if (table.Selected == 0) continue;
    if (Canceled()) return RunOutcome::Canceled;
    m_context.Log(LogLevel::General,
                  std::string(table.Kind == 2 ? "Backing up the view " : "Backing up the table ") +
                      name + "." + table.TableName + "...");
    StartTableProgress(m_context, m_estimates, name, table.TableName);
    --toDump;
    if (perTable && !OpenNewFile(name, table.TableName)) continue;
    if (dumper.DumpTable(*m_writer, table) == RunOutcome::Canceled) return RunOutcome::Canceled;
    if (SessionLost()) return RunOutcome::Failed;
    dumped.push_back(table.TableName);
    if (perTable) {
      dumper.WriteDeferredViews(*m_writer);
      // A table's triggers follow its rows in its own file; the last file also takes the
      // routines and events.
      WriteObjects(ObjectsFor(objects, {table.TableName}, toDump == 0));
      FinishFile();
    }
  }
  if (Canceled()) return RunOutcome::Canceled;
  if (m_writer) dumper.WriteDeferredViews(*m_writer);
  if (!perTable) WriteObjects(ObjectsFor(objects, dumped, true));
  if (perDatabase) FinishFile();
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
  std::shared_ptr<ConnectionCanceler> canceler = m_connection.CancelHandle();
  m_context.SetCancelHook([canceler] { canceler->Cancel(); });
  struct HookGuard {
    TaskRunContext& context;
    ~HookGuard() { context.SetCancelHook({}); }
  } hookGuard{m_context};

  const unsigned long version = m_connection.ServerVersion();
  m_options = MakeDumpOptions(m_settings, version);
  if (m_advanced.ConsistentSnapshot) DropSnapshotBreakingSettings(m_options.Settings);
  if (m_settings.SetConnectionCharset != 0) {
    m_serverCharset = ApplyDefaultCharset(m_connection, false, version);
  }
  m_options.SessionCharset = m_serverCharset.empty() ? SessionCharset(m_connection) : m_serverCharset;
  (void)UseUtcTimeZone(m_connection);
  m_context.Log(LogLevel::General, "Backing up the selected databases and tables...");
  if (Canceled()) return RunOutcome::Canceled;

  if (FileGrouping() == Grouping::OneFile && !OpenNewFile("", "")) {
    m_connection.Close();
    return RunOutcome::Failed;
  }
  if (m_settings.FlushLogsBeforeStart != 0) (void)m_connection.Execute("FLUSH LOGS");

  const std::vector<DatabaseItem> resolved =
      ResolveSelection(m_connection, m_settings, m_task.BackupDatabases, m_options.Quote);
  m_estimates = PlanTableProgress(m_context, m_connection, resolved);
  if (m_advanced.ConsistentSnapshot) BeginConsistentSnapshot(m_context, {&m_connection}, resolved);
  for (const DatabaseItem& database : resolved) {
    if (database.Selected == 0) continue;
    if (Canceled()) return RunOutcome::Canceled;
    const RunOutcome outcome = BackupDatabase(database);
    if (outcome == RunOutcome::Canceled) return RunOutcome::Canceled;
    if (outcome == RunOutcome::Failed) {
      FinishFile();
      return RunOutcome::Failed;
    }
  }
  if (Canceled()) return RunOutcome::Canceled;
  m_connection.Close();
  if (FileGrouping() == Grouping::OneFile) FinishFile();
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
