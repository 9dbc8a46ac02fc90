#pragma once
// One BackupToFiles run, shared by the files that make it up: BackupToFilesRoutine.cpp
// (the run and its recorded copy), BackupToFilesFiles.cpp (files, databases and tables),
// BackupToFilesParallel.cpp (several files at a time) and BackupToFilesSnapshot.cpp (the
// source and its snapshot, for the manifest). Not used outside engines/ but by its tests.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Age.h"
#include "engines/BackupTableDumper.h"
#include "engines/ContentDigest.h"
#include "engines/ErrorCountingContext.h"
#include "engines/MySqlConnection.h"
#include "engines/OffsiteUpload.h"
#include "engines/OutputFile.h"
#include "engines/ProgressPlan.h"
#include "engines/SchemaObjects.h"
#include "engines/SqlDumpWriter.h"
#include "schedule/TaskRoutine.h"
#include "tasks/CopyManifest.h"

namespace brevanto {

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
        m_tag(TemporaryFileTag(m_task.LogFileName.empty() ? m_task.TaskName : m_task.LogFileName)),
        m_settings(m_task.BackupSettings),
        m_runTime(context.RunStartTime()),
        m_advanced(AdvancedOptionsOf(m_task)),
        m_applicationFolder(std::move(applicationFolder)),
        m_eol(m_settings.UnixLineEnds == 1 ? "\n" : "\r\n"),
        m_offsite(m_context, m_task) {}

  RunOutcome Run();
  // What the run learned of its copy so far.
  const CopyManifest& Manifest() const { return m_manifest; }

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

  // The path of the file of `table` (of the database when empty), before a name that is
  // taken gets its number.
  std::string PlannedPath(const std::string& database, const std::string& table) const;
  // The selected tables of `database` in the order their files are written: the
  // selection's, except that with one file per table the file whose name sorts last
  // comes last. That file takes the database's views (after placeholders in their own
  // files) and its routines and events, so a set replayed in name order creates each
  // view after the tables it reads.
  std::vector<const TableItem*> TablesInWritingOrder(const DatabaseItem& database) const;
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
  // Logs that the table or view is being backed up and starts its progress.
  void AnnounceTable(DumpLane& lane, const std::string& database, const TableItem& table);
  // Ends the file of one table: its triggers (and, for the database's last file, the
  // views and the routines and events), then FinishFile.
  std::string FinishTableFile(DumpLane& lane, CBackupTableDumper& dumper,
                              const std::vector<SchemaObject>& objects, const std::string& table,
                              bool last);
  // Files per table or per database, several at a time.
  RunOutcome BackupInParallel(const std::vector<DatabaseItem>& resolved);
  RunOutcome Backup();
  // The outcome of the backup as the run ends it, before the off-site step.
  RunOutcome Conclude(RunOutcome outcome);
  // Creates the lane's file: a local file, or in direct mode an upload.
  Status CreateFile(DumpLane& lane, const std::string& path);
  // After a recorded copy: deletes what earlier runs of the task left unrecorded
  // (engines/RunLeftovers.h), with a Warning for each file that stays.
  void RemoveRunLeftovers(const std::vector<DatabaseItem>& resolved);
  // Completes m_manifest with the run's own facts and the copy's files as stored, and
  // writes it beside the copy.
  Status WriteCopyManifest(const BackupCopy& copy);
  // Deletes a manifest that describes no recorded copy (a Warning when it stays).
  void RemoveManifest(const std::string& path);
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
  CopyManifest m_manifest;                  // filled as the run learns; written last
  std::vector<AgeRecipient> m_recipients;   // files are encrypted to them; empty: not
  ManifestCollector m_collected{m_manifest};  // the lanes' tables and objects
  // The source server's identity, into the manifest.
  void DescribeSource();
  // Opens the run's snapshot when the task asks for one, and notes in the manifest how
  // the tables were read and where the binary log stood.
  void OpenSnapshot(const std::vector<DatabaseItem>& resolved);
  std::mutex m_storedLock;                            // lanes commit files in parallel
  std::map<std::string, ManifestFile> m_storedFiles;  // complete files as stored, by path
  bool m_filesComplete = false;  // every file is complete; what fails later says so itself
  COffsiteRun m_offsite;         // the task's off-site target, when it has one
  std::optional<BackupCopy> m_recordedCopy;  // this run's copy, once recorded
};

}  // namespace brevanto
