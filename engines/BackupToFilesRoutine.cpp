#include "engines/BackupToFilesRoutine.h"

#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "engines/BackupTableDumper.h"
#include "engines/MySqlConnection.h"
#include "engines/OutputFile.h"
#include "engines/SqlDumpWriter.h"
#include "tasks/BackupFileName.h"

namespace brevanto {

namespace {

BackupTimeStamp ToBackupTime(const TaskDateTime& t) {
  return {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second};
}

// One run's state, from the connection to the recorded copy.
class CBackupToFilesRun {
 public:
  CBackupToFilesRun(TaskRunContext& context, std::string applicationFolder)
      : m_context(context),
        m_task(context.Task()),
        m_settings(m_task.BackupSettings),
        m_runTime(context.RunStartTime()),
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

  // Creates the next file, records it and writes its prologue. Logs and returns false
  // on failure.
  bool OpenNewFile(const std::string& database, const std::string& table);
  // Epilogue, PHP trailer, and the file is closed.
  void FinishFile();
  RunOutcome BackupDatabase(const DatabaseItem& database);

  TaskRunContext& m_context;
  const CTaskItem m_task;
  const BackupSettings& m_settings;
  const TaskDateTime m_runTime;
  const std::string m_applicationFolder;
  const std::string m_eol;
  std::string m_dateTimeSubPath;

  CMySQLConnection m_connection;
  DumpOptions m_options;
  std::string m_serverCharset;
  COutputFile m_file;
  std::unique_ptr<CSqlDumpWriter> m_writer;
  std::vector<std::string> m_createdFiles;
  std::unordered_set<std::string> m_createdPaths;  // the same, for look-ups
};

bool CBackupToFilesRun::OpenNewFile(const std::string& database, const std::string& table) {
  const std::string path = MakeBackupFilePath(m_settings, m_dateTimeSubPath, m_task.TaskName,
                                              m_task.SourceServer, database, table, m_runTime);
  m_writer.reset();
  // Names that differ only in a character a file name cannot hold ("/") share a path:
  // the second one adds to the file rather than truncating what the first one wrote.
  const bool again = !m_createdPaths.insert(path).second;
  // A PHP script holds the server's password in clear text.
  if (!(again ? m_file.OpenForAppend(path) : m_file.Create(path, m_settings.FileType == 2)).ok()) {
    m_file.Close();
    if (!again) m_createdPaths.erase(path);
    Error("Failed to create the backup file! - " + path);
    return false;
  }
  if (!again) m_createdFiles.push_back(path);
  m_writer = std::make_unique<CSqlDumpWriter>(m_file, m_settings.FileType, m_eol);
  if (!m_writer->WriteFileHeader(m_task.SourceServer, m_connection.ServerVersionText(), m_runTime)
           .ok()) {
    Error("Failed to write the title to the backup file! - " + path);
    m_writer.reset();
    m_file.Close();
    return false;
  }
  if (m_writer->IsPhp() && !m_writer->WritePhpConnect(m_task.SourceServer).ok()) {
    Error("Failed to write the connect statement to the PHP file! - " + path);
    m_writer.reset();
    m_file.Close();
    return false;
  }
  m_writer->WritePrologue(m_settings, m_serverCharset, m_connection.ServerVersion());
  return true;
}

void CBackupToFilesRun::FinishFile() {
  if (!m_writer) return;
  m_writer->WriteEpilogue(m_settings, m_serverCharset);
  if (m_writer->IsPhp() && !m_writer->WritePhpTrailer().ok()) {
    Error("Failed to write PHP mysql_close to the bakcup file! - " + m_file.Path());
  }
  m_writer.reset();
  m_file.Close();
}

RunOutcome CBackupToFilesRun::BackupDatabase(const DatabaseItem& database) {
  const std::string& name = database.DatabaseName;
  m_context.Log(LogLevel::General, "Backing up the database " + name + "...");
  if (mysql_select_db(m_connection.Handle(), name.c_str()) != 0) {
    Error("Failed to use database " + name);
    return RunOutcome::Finished;
  }
  const std::string databaseCharset =
      m_settings.SetConnectionCharset != 0
          ? ApplyDefaultCharset(m_connection, true, m_connection.ServerVersion())
          : std::string();
  const bool perDatabase = FileGrouping() == Grouping::PerDatabase;
  const bool perTable = FileGrouping() == Grouping::PerTable;
  if (perDatabase && !OpenNewFile(name, "")) return RunOutcome::Finished;

  CBackupTableDumper dumper(m_context, m_connection, m_options, name, databaseCharset);
  for (const TableItem& table : database.Tables) {
    if (table.Selected == 0) continue;
    if (Canceled()) return RunOutcome::Canceled;
    m_context.Log(LogLevel::General,
                  std::string(table.Kind == 2 ? "Backing up the view " : "Backing up the table ") +
                      name + "." + table.TableName + "...");
    if (perTable && !OpenNewFile(name, table.TableName)) continue;
    if (dumper.DumpTable(*m_writer, table) == RunOutcome::Canceled) return RunOutcome::Canceled;
    if (perTable) {
      dumper.WriteDeferredViews(*m_writer);
      FinishFile();
    }
  }
  if (Canceled()) return RunOutcome::Canceled;
  if (m_writer) dumper.WriteDeferredViews(*m_writer);
  if (perDatabase) FinishFile();
  return RunOutcome::Finished;
}

RunOutcome CBackupToFilesRun::Run() {
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
    m_dateTimeSubPath = MakeDateTimeFolder(m_settings, m_runTime);
  }
  if (Canceled()) return RunOutcome::Canceled;

  if (!ConnectServerForTask(m_context, m_task.SourceServer, ServerRole::OnlySource, m_connection)) {
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
  if (m_settings.SetConnectionCharset != 0) {
    m_serverCharset = ApplyDefaultCharset(m_connection, false, version);
  }
  m_context.Log(LogLevel::General, "Backing up the selected databases and tables...");
  if (Canceled()) return RunOutcome::Canceled;

  if (FileGrouping() == Grouping::OneFile && !OpenNewFile("", "")) {
    m_connection.Close();
    return RunOutcome::Failed;
  }
  if (m_settings.FlushLogsBeforeStart != 0) (void)m_connection.Execute("FLUSH LOGS");

  const std::vector<DatabaseItem> resolved =
      ResolveSelection(m_connection, m_settings, m_task.BackupDatabases, m_options.Quote);
  for (const DatabaseItem& database : resolved) {
    if (database.Selected == 0) continue;
    if (Canceled() || BackupDatabase(database) == RunOutcome::Canceled) {
      m_connection.Close();
      return RunOutcome::Canceled;
    }
  }
  if (Canceled()) return RunOutcome::Canceled;
  m_connection.Close();
  if (FileGrouping() == Grouping::OneFile) FinishFile();

  BackupCopy copy;
  copy.BackupTime = ToBackupTime(m_runTime);
  copy.CopyFileMode = m_settings.FileMode;
  copy.CopyFileType = m_settings.FileType;
  copy.Spare = 0;
  if (!m_dateTimeSubPath.empty()) {
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
