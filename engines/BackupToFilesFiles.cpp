#include "engines/BackupToFilesRun.h"

#include <algorithm>
#include <utility>

#include "engines/AgeOutput.h"
#include "engines/CompressedOutput.h"
#include "tasks/BackupFileName.h"

namespace brevanto {

std::string CBackupToFilesRun::PlannedPath(const std::string& database,
                                           const std::string& table) const {
  // PHP scripts stay plain: PHP runs them as they are.
  const Compression compression =
      m_settings.FileType == 2 ? Compression::None : m_advanced.Compression;
  std::string path =
      WithCompressedFileSuffix(MakeBackupFilePath(m_settings, m_dateTimeSubPath, m_task.TaskName,
                                                  m_task.SourceServer, database, table, m_runTime),
                               compression);
  return m_recipients.empty() ? path : WithEncryptedFileSuffix(path);
}

std::vector<const TableItem*> CBackupToFilesRun::TablesInWritingOrder(
    const DatabaseItem& database) const {
  std::vector<const TableItem*> order;
  for (const TableItem& table : database.Tables) {
    if (table.Selected != 0) order.push_back(&table);
  }
  if (FileGrouping() != Grouping::PerTable || order.size() < 2) return order;
  // Byte order, as "LC_ALL=C ls" lists them; of two equal names the later one gets the
  // number ("_2"), which sorts after the other.
  std::size_t last = 0;
  std::string lastPath;
  for (std::size_t i = 0; i < order.size(); ++i) {
    std::string path = PlannedPath(database.DatabaseName, order[i]->TableName);
    if (i == 0 || path >= lastPath) {
      last = i;
      lastPath = std::move(path);
    }
  }
  std::rotate(order.begin() + static_cast<std::ptrdiff_t>(last),
              order.begin() + static_cast<std::ptrdiff_t>(last) + 1, order.end());
  return order;
}

bool CBackupToFilesRun::OpenNewFile(DumpLane& lane, const std::string& database,
                                    const std::string& table) {
  const Compression compression =
      m_settings.FileType == 2 ? Compression::None : m_advanced.Compression;
  const std::string path = PlannedPath(database, table);
  lane.writer.reset();
  lane.errorsAtOpen = lane.context.Errors();
  if (const Status created = CreateFile(lane, path); !created.ok()) {
    Error(lane, WithFileError("Failed to create the backup file! - " + path, created));
    return false;
  }
  lane.file.SetCompression(compression, m_advanced.CompressionLevel);
  if (!m_recipients.empty()) {
    std::unique_ptr<OutputTransform> encrypt;
    if (const Status made = MakeAgeTransform(m_recipients, encrypt); !made.ok()) {
      Error(lane, made.message());
      (void)FinishFile(lane);
      return false;
    }
    lane.file.AddTransform(std::move(encrypt));
  }
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

Status CBackupToFilesRun::CreateFile(DumpLane& lane, const std::string& path) {
  // Owner-only: a dump holds all the data, a PHP script the password too.
  if (!m_offsite.Direct()) return lane.file.Create(path, m_tag, true);
  std::unique_ptr<OutputSink> sink;
  Status opened = m_offsite.OpenSink(path, m_settings.FileMode == 1, sink);
  if (opened.ok()) lane.file.Create(std::move(sink));
  return opened;
}

std::string CBackupToFilesRun::FinishFile(DumpLane& lane) {
  if (!lane.writer) return {};
  if (lane.context.Errors() == lane.errorsAtOpen) {
    if (const Status end = lane.writer->WriteEpilogue(m_settings, m_serverCharset); !end.ok()) {
      Error(lane, WithFileError("Failed to write the end of the backup file! - " + lane.file.Path(),
                                end));
    } else if (lane.writer->IsPhp()) {
      if (const Status trailer = lane.writer->WritePhpTrailer(); !trailer.ok()) {
        Error(lane, WithFileError(
                        "Failed to write PHP mysql_close to the bakcup file! - " + lane.file.Path(),
                        trailer));
      }
    }
  }
  lane.writer.reset();
  if (lane.context.Errors() == lane.errorsAtOpen) {
    // Same-file mode replaces its previous copy, but only with a complete file; new
    // files never replace a file of another run or task.
    const Status committed = lane.file.Commit(m_settings.FileMode == 1
                                               ? COutputFile::Existing::Replace
                                               : COutputFile::Existing::AddSuffix);
    if (committed.ok()) {
      std::lock_guard lock(m_storedLock);
      m_storedFiles[lane.file.Path()] = lane.file.Stored();
      return lane.file.Path();
    }
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
    return;
  }
  for (const SchemaObject& object : objects) {
    m_collected.AddObject({ObjectKindName(object.ObjectKind), lane.database, object.Name,
                           DefinitionDigest(object.Create)});
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
  const std::vector<const TableItem*> order = TablesInWritingOrder(database);

  const auto keep = [&files](std::string path) {
    if (!path.empty()) files.push_back(std::move(path));
  };
  CBackupTableDumper dumper(lane.context, lane.connection, m_options, name, lane.databaseCharset,
                            &m_collected);
  for (const TableItem* table : order) {
    if (Canceled()) return RunOutcome::Canceled;
    AnnounceTable(lane, name, *table);
    if (perTable && !OpenNewFile(lane, name, table->TableName)) continue;
    if (dumper.DumpTable(*lane.writer, *table) == RunOutcome::Canceled) return RunOutcome::Canceled;
    if (SessionLost(lane)) return RunOutcome::Failed;
    dumped.push_back(table->TableName);
    if (perTable)
      keep(FinishTableFile(lane, dumper, objects, table->TableName, table == order.back()));
  }
  if (Canceled()) return RunOutcome::Canceled;
  if (lane.writer) dumper.WriteDeferredViews(*lane.writer);
  if (!perTable) WriteObjects(lane, ObjectsFor(objects, dumped, true));
  if (perDatabase) keep(FinishFile(lane));
  return RunOutcome::Finished;
}

void CBackupToFilesRun::AnnounceTable(DumpLane& lane, const std::string& database,
                                      const TableItem& table) {
  lane.context.Log(LogLevel::General,
                   std::string(table.Kind == 2 ? "Backing up the view " : "Backing up the table ") +
                       database + "." + table.TableName + "...");
  StartTableProgress(lane.context, m_estimates, database, table.TableName);
}

std::string CBackupToFilesRun::FinishTableFile(DumpLane& lane, CBackupTableDumper& dumper,
                                               const std::vector<SchemaObject>& objects,
                                               const std::string& table, bool last) {
  // A view waits for the last file: files that sort after its own may hold the tables
  // it reads.
  if (last) dumper.WriteDeferredViews(*lane.writer);
  // A table's triggers follow its rows in its own file; the last file also takes the
  // routines and events.
  WriteObjects(lane, ObjectsFor(objects, {table}, last));
  return FinishFile(lane);
}

}  // namespace brevanto
