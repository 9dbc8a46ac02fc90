#include "engines/ExportWorker.h"

#include "core/FolderTree.h"

#include <algorithm>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "engines/AgeOutput.h"
#include "engines/ExportFile.h"
#include "engines/ExportFormat.h"
#include "engines/MySqlConnection.h"
#include "engines/OutputFile.h"
#include "engines/ProgressPlan.h"
#include "engines/TableDefinition.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/BackupFileName.h"
#include "tasks/EncryptionOptions.h"

namespace brevanto {
namespace {

constexpr std::uint8_t kXml = 2;
constexpr std::uint8_t kHtml = 3;

// One run of an export task. Owns its connection; lives on the worker thread.
class CExportRun {
 public:
  CExportRun(TaskRunContext& context, const std::string& applicationFolder,
             const ExportRequest& request)
      : m_context(context),
        m_applicationFolder(applicationFolder),
        m_server(request.Server),
        m_settings(request.Settings),
        m_tables(request.Tables),
        m_advanced(request.Advanced),
        m_tag(TemporaryFileTag(request.RunName)),
        m_recipientTexts(request.Recipients) {}
  ~CExportRun() { m_context.SetCancelHook({}); }
  CExportRun(const CExportRun&) = delete;
  CExportRun& operator=(const CExportRun&) = delete;

  RunOutcome Run();

 private:
  enum class Next { Continue, Skip, Stop, Lost };
  // The session is gone: nothing more can be read, so the run ends with one entry.
  bool SessionLost() const {
    return m_connection.IsOpen() && IsLostConnection(mysql_errno(m_connection.Handle()));
  }

  bool Canceled() { return m_context.StopRequested(); }
  void Log(LogLevel level, const std::string& text) {
    if (level == LogLevel::Error) ++m_errors;
    m_lastLevel = level;
    m_context.Log(level, text);
  }
  RunOutcome Export();
  Next ExportItem(int index);
  Next WriteRows(MYSQL_RES* rows, CExportFormatter& formatter, COutputFile& file,
                 long long& written);

  TaskRunContext& m_context;
  const std::string& m_applicationFolder;
  const CServerInfo& m_server;
  const ExportSettings& m_settings;
  const std::vector<TableItem>& m_tables;
  const CAdvancedOptions m_advanced;
  const std::vector<std::string>& m_recipientTexts;
  std::vector<AgeRecipient> m_recipients;
  const std::string m_tag;  // of this task's temporary files
  int m_errors = 0;
  LogLevel m_lastLevel = LogLevel::General;
  CMySQLConnection m_connection;
  bool m_quote = false;
};

RunOutcome CExportRun::Run() {
  const RunOutcome outcome = Export();
  if (outcome == RunOutcome::Canceled || m_errors == 0) return outcome;
  // The last entry says plainly that some files are missing or incomplete.
  if (m_lastLevel != LogLevel::Error || m_errors > 1) {
    Log(LogLevel::Error, "The export is incomplete (" + std::to_string(m_errors) +
                             (m_errors == 1 ? " error)." : " errors)."));
  }
  return RunOutcome::Failed;
}

RunOutcome CExportRun::Export() {
  if (m_tables.empty()) {
    Log(LogLevel::Error, "There are not any tables or views to export!");
    return RunOutcome::Failed;
  }
  if (const Status parsed = ParseAgeRecipients(m_recipientTexts, m_recipients); !parsed.ok()) {
    Log(LogLevel::Error, "The task's encryption key cannot be used: " + parsed.message());
    return RunOutcome::Failed;
  }
  (void)::mkdir((m_applicationFolder + "Data").c_str(), 0777);
  if (m_settings.Folder.empty()) {
    Log(LogLevel::Error, "Export directory name is empty!");
    return RunOutcome::Failed;
  }
  std::string folder = m_settings.Folder;
  if (folder.back() == '/') folder.pop_back();
  // With its parents (an imported task's folder may not exist yet); a failure shows when
  // a file is created.
  (void)MakeFolderWithParents(folder);

  m_context.SetCancelHook([canceler = m_connection.CancelHandle()] { canceler->Cancel(); });
  (void)RemoveLeftoverTemporaryFiles(folder, m_tag);
  if (!ConnectServerForTask(m_context, m_server, ServerRole::OnlySource, m_connection,
                            ConnectPurpose::StreamRows)) {
    return RunOutcome::Failed;
  }
  const unsigned long version = m_connection.ServerVersion();
  m_quote = AllowsBacktickQuoting(version);
  if (const Status mode = UseKnownSqlMode(m_connection); !mode.ok()) {
    Log(LogLevel::Error, mode.message());
    return RunOutcome::Failed;
  }
  (void)ApplyDefaultCharset(m_connection, false, version);

  Log(LogLevel::General,
      "Exporting " + std::to_string(m_tables.size()) + " selected tables and views...");
  int exported = 0;
  const CTableRowEstimates estimates = PlanTableProgress(m_context, m_connection, m_tables);
  for (int i = 0; i < static_cast<int>(m_tables.size()); ++i) {
    if (Canceled()) return RunOutcome::Canceled;
    StartTableProgress(m_context, estimates, m_tables[i].DatabaseName, m_tables[i].TableName);
    const Next next = ExportItem(i);
    if (next == Next::Stop) return RunOutcome::Canceled;
    if (next == Next::Lost) return RunOutcome::Failed;
    if (next == Next::Continue) ++exported;
  }
  m_connection.Close();
  Log(LogLevel::General, "Exported " + std::to_string(exported) + " tables and views");
  return RunOutcome::Finished;
}

CExportRun::Next CExportRun::ExportItem(int index) {
  const TableItem& item = m_tables[index];
  const std::string& database = item.DatabaseName;
  const std::string& table = item.TableName;
  const bool view = item.Kind == 2;
  std::string path = WithCompressedFileSuffix(MakeExportFilePath(m_settings, m_tables, index),
                                              m_advanced.Compression);
  if (!m_recipients.empty()) path = WithEncryptedFileSuffix(path);
  Log(LogLevel::General, std::string(view ? "Exporting the view " : "Exporting the table ") +
                             database + "." + table + " to " + path + " ...");

  MYSQL* handle = m_connection.Handle();
  if (!SelectDatabase(m_connection, database)) {
    Log(LogLevel::Error,
        WithServerError("Can't use database (" + database + ")!", m_connection.LastError()));
    return SessionLost() ? Next::Lost : Next::Skip;
  }
  if (Canceled()) return Next::Stop;
  const std::string databaseCharset =
      ApplyDefaultCharset(m_connection, true, m_connection.ServerVersion());
  // Read in the character set the dump writer uses for this table, so that no character
  // the database default cannot hold is lost on the way into the file.
  // An XML document declares no encoding, so it is UTF-8 whatever the data's own set.
  const std::string readCharset =
      m_settings.Format == kXml && !databaseCharset.empty()
          ? std::string("utf8mb4")
          : TableReadCharset(m_connection, database, table, databaseCharset, false);
  if (readCharset != databaseCharset) {
    SetConnectionCharacterSet(m_connection, readCharset, m_connection.ServerVersion());
  }
  if (Canceled()) return Next::Stop;

  // Written under a temporary name; it takes the export's name (replacing the previous
  // export) only once complete, and anything that goes wrong leaves it incomplete.
  COutputFile file;
  if (path.empty() || !file.Create(path, m_tag, false).ok()) {
    Log(LogLevel::Error, "Failed to create the export file - " + path + "!");
    return Next::Skip;
  }
  file.SetCompression(m_advanced.Compression, m_advanced.CompressionLevel);
  if (!m_recipients.empty()) {
    std::unique_ptr<OutputTransform> encrypt;
    if (const Status made = MakeAgeTransform(m_recipients, encrypt); !made.ok()) {
      Log(LogLevel::Error, made.message() + " - " + path);
      return Next::Skip;
    }
    file.AddTransform(std::move(encrypt));
  }
  const int errorsBefore = m_errors;
  if (Canceled()) return Next::Stop;

  MySqlResult fields(mysql_list_fields(handle, table.c_str(), nullptr));
  if (!fields) {
    Log(LogLevel::Warning, WithServerError("Failed to list fields!", m_connection.LastError()));
    return SessionLost() ? Next::Lost : Next::Skip;
  }
  if (Canceled()) return Next::Stop;

  // SELECT * leaves INVISIBLE columns out: a table that has them is read by name.
  const std::vector<std::string> named =
      ColumnsNamedForInvisible(m_connection, table, m_quote, true);
  if (!m_connection.Execute(SelectRowsQuery(table, named, m_quote))) {
    Log(LogLevel::Warning, WithServerError("Failed to select all records!", m_connection.LastError()));
    return SessionLost() ? Next::Lost : Next::Skip;
  }
  MySqlResult rows(mysql_use_result(handle));
  if (!rows) {
    Log(LogLevel::Warning, WithServerError("Record set is empty!", m_connection.LastError()));
    return SessionLost() ? Next::Lost : Next::Skip;
  }
  if (Canceled()) {
    m_connection.CancelHandle()->Cancel();
    return Next::Stop;
  }

  // The columns of the rows themselves: the field listing leaves invisible ones out.
  std::vector<ExportColumn> columns =
      ExportColumnsOf(mysql_fetch_fields(rows.get()), mysql_num_fields(rows.get()));
  CExportFormatter formatter(std::move(columns), m_settings, handle, m_advanced.NullMarker);
  if (const Status header = WriteExportHeader(file, formatter); !header.ok()) {
    Log(LogLevel::Error, WithFileError("Failed to write the fields title to the file!", header));
    return Next::Skip;
  }
  if (Canceled()) {
    m_connection.CancelHandle()->Cancel();
    return Next::Stop;
  }

  long long written = 0;
  const Next next = WriteRows(rows.get(), formatter, file, written);
  if (next == Next::Stop) m_connection.CancelHandle()->Cancel();
  if (next != Next::Continue) return next;
  rows.reset();
  fields.reset();

  if (m_settings.Format == kXml || m_settings.Format == kHtml) {
    if (const Status trailer = WriteExportTrailer(file, m_settings.Format); !trailer.ok()) {
      Log(LogLevel::Error, WithFileError("Failed to write the end string to the file!", trailer));
    }
  }
  if (m_errors != errorsBefore) return Next::Skip;  // the file stays incomplete
  if (const Status committed = file.Commit(COutputFile::Existing::Replace); !committed.ok()) {
    Log(LogLevel::Error,
        WithFileError("Failed to save the export file - " + path + "!", committed));
    return Next::Skip;
  }
  m_context.RecordFileWritten(path);
  Log(LogLevel::General, "Exported " + std::to_string(written) +
                             (view ? " records from the view " : " records from the table ") +
                             database + "." + table);
  return Next::Continue;
}

CExportRun::Next CExportRun::WriteRows(MYSQL_RES* rows, CExportFormatter& formatter,
                                       COutputFile& file, long long& written) {
  while (MYSQL_ROW row = mysql_fetch_row(rows)) {
    if (const Status status = WriteExportRow(file, formatter, row, mysql_fetch_lengths(rows));
        !status.ok()) {
      // One entry, not one per remaining row: the file is incomplete either way.
      Log(LogLevel::Error, WithFileError("Failed to write records to the file!", status));
      return Next::Skip;
    }
    ++written;
    m_context.ProgressAdvance(1, 0);
    if (Canceled()) return Next::Stop;
  }
  if (mysql_errno(m_connection.Handle()) != 0) {
    // The server went away mid-table: the file holds only part of the rows, so it gets
    // no trailer and the table does not count as exported.
    Log(LogLevel::Error, WithServerError("Failed to select all records!", m_connection.LastError()));
    return SessionLost() ? Next::Lost : Next::Skip;
  }
  return Next::Continue;
}

}  // namespace

ExportRequest ExportRequestOf(const CTaskItem& task) {
  ExportRequest request;
  request.Server = task.SourceServer;
  request.Tables = task.ExportTables;
  request.Settings = task.ExportSettings;
  request.Advanced = AdvancedOptionsOf(task);
  request.RunName = task.LogFileName.empty() ? task.TaskName : task.LogFileName;
  request.Recipients = EncryptionOptionsOf(task).Recipients;
  return request;
}

RunOutcome ExportTables(TaskRunContext& context, const std::string& applicationFolder,
                        const ExportRequest& request) {
  CExportRun run(context, applicationFolder, request);
  return run.Run();
}

RunOutcome ExportWorker(TaskRunContext& context, const std::string& applicationFolder) {
  return ExportTables(context, applicationFolder, ExportRequestOf(context.Task()));
}

}  // namespace brevanto
