#include "engines/BackupToFilesRoutine.h"

#include <cerrno>
#include <cstring>
#include <set>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Clock.h"
#include "core/UtcTime.h"
#include "core/Version.h"
#include "engines/BackupToFilesRun.h"
#include "engines/MySqlConnection.h"
#include "engines/RunLeftovers.h"
#include "engines/Snapshot.h"
#include "tasks/BackupFileName.h"
#include "tasks/EncryptionOptions.h"
#include "tasks/OffsiteRecord.h"

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

}  // namespace

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

RunOutcome CBackupToFilesRun::Run() {
  if (m_offsite.Direct() && !m_offsite.OpenForDirect()) return RunOutcome::Failed;
  RunOutcome outcome = Backup();
  if (outcome != RunOutcome::Canceled) outcome = Conclude(outcome);
  // Written straight to the store, the files of a copy that was not recorded are none.
  if (!m_recordedCopy) m_offsite.DiscardDirectObjects();
  return m_offsite.Finish(outcome, m_recordedCopy ? &*m_recordedCopy : nullptr);
}

RunOutcome CBackupToFilesRun::Conclude(RunOutcome outcome) {
  // Past the files, what failed (the manifest, the task file) was said where it failed.
  if (m_filesComplete) return outcome;
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
  if (const Status parsed =
          ParseAgeRecipients(EncryptionOptionsOf(m_task).Recipients, m_recipients);
      !parsed.ok()) {
    // Never a plain copy where an encrypted one was asked for.
    Error("The task's encryption key cannot be used: " + parsed.message());
    return RunOutcome::Failed;
  }
  for (const AgeRecipient& recipient : m_recipients) {
    m_manifest.Recipients.push_back(recipient.Fingerprint());
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
  Status session = UseKnownSqlMode(m_connection);
  if (session.ok()) session = UseUtcTimeZone(m_connection);
  if (!session.ok()) {
    m_context.Log(LogLevel::Error, session.message());
    m_connection.Close();
    return RunOutcome::Failed;
  }
  DescribeSource();
  m_context.Log(LogLevel::General, "Backing up the selected databases and tables...");
  if (Canceled()) return RunOutcome::Canceled;

  // Resolved before any file is opened: a selection of nothing writes no file.
  std::vector<std::string> problems;
  const std::vector<DatabaseItem> resolved =
      ResolveSelection(m_connection, m_settings, m_task.BackupDatabases, m_options.Quote,
                       &problems);
  for (const std::string& problem : problems) m_context.Log(LogLevel::Error, problem);
  if (!SelectionHasTables(resolved)) {
    m_context.Log(LogLevel::Error, kNoTableSelected);
    m_connection.Close();
    return RunOutcome::Failed;
  }
  if (FileGrouping() == Grouping::OneFile && !OpenNewFile(m_main, "", "")) {
    m_connection.Close();
    return RunOutcome::Failed;
  }
  if (m_settings.FlushLogsBeforeStart != 0) (void)m_connection.Execute("FLUSH LOGS");

  m_estimates = PlanTableProgress(m_context, m_connection, resolved);
  OpenSnapshot(resolved);
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
  m_filesComplete = true;

  BackupCopy copy;
  copy.BackupTime = ToBackupTime(m_runTime);
  copy.CopyFileMode = m_settings.FileMode;
  copy.CopyFileType = m_settings.FileType;
  // Written straight to the store, the copy has no local file from the start.
  copy.Spare = m_offsite.Direct() ? kCopyLocalFilesDeleted : 0;
  if (!m_dateTimeSubPath.empty() && m_madeDateTimeFolder) {
    copy.CopyFolder = m_settings.BackupFolder + m_dateTimeSubPath;
    if (copy.CopyFolder.back() == '/') copy.CopyFolder.pop_back();
  }
  copy.CopyFiles = m_createdFiles;
  // Last, once every file is complete: a manifest vouches for the files it lists.
  const Status manifest = WriteCopyManifest(copy);
  if (!manifest.ok()) {
    Error("Failed to write the backup copy's manifest! (" + manifest.message() + ")");
    // Same-file mode's previous manifest describes the file this run replaced.
    RemoveManifest(ManifestPathOf(copy));
  }
  // Recorded even without its manifest: the files are complete, and only a recorded copy
  // is ever removed by retention. The run still fails, and its clean-up waits.
  if (!m_context.RecordBackupCopy(copy).ok()) {
    // Unrecorded, its files are leftovers a later run removes; a manifest would outlive
    // them and describe a copy nobody lists.
    if (manifest.ok()) RemoveManifest(ManifestPathOf(copy));
    return RunOutcome::Failed;
  }
  m_recordedCopy = copy;
  if (!manifest.ok()) return RunOutcome::Failed;
  // A direct copy's folder here holds nothing.
  if (m_offsite.Direct() && !copy.CopyFolder.empty()) (void)::rmdir(copy.CopyFolder.c_str());
  RemoveRunLeftovers(resolved);
  return RunOutcome::Finished;
}

void CBackupToFilesRun::RemoveManifest(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    m_context.Log(LogLevel::Warning, "Failed to delete a manifest no copy has! - " + path + " (" +
                                         std::strerror(errno) + ")");
  }
}

Status CBackupToFilesRun::WriteCopyManifest(const BackupCopy& copy) {
  const std::string path = ManifestPathOf(copy);
  if (path.empty()) return Status::Error("the copy has no files");
  m_manifest.TaskName = m_task.TaskName;
  m_manifest.TaskKind = "BackupToFiles";
  m_manifest.Started = UtcIso8601(m_runTime);
  m_manifest.Ended = UtcIso8601(m_context.GetClock().Now());
  m_manifest.ProgramVersion = ProgramVersion();
  m_manifest.Files.clear();
  {
    std::lock_guard lock(m_storedLock);
    for (const std::string& file : copy.CopyFiles) {
      ManifestFile stored = m_storedFiles[file];
      stored.Name = ManifestRelativeName(path, file);
      m_manifest.Files.push_back(std::move(stored));
    }
  }
  return WriteManifest(path, m_manifest);
}

void CBackupToFilesRun::RemoveRunLeftovers(const std::vector<DatabaseItem>& resolved) {
  RunLeftoverSearch search{&m_task, m_advanced.Compression, resolved, m_runTime, m_createdFiles};
  search.Encrypted = !m_recipients.empty();
  int removed = 0;
  std::set<std::string> folders;
  // The search lists a manifest such a run left after the files it describes.
  for (const std::string& path : FindRunLeftovers(search)) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      m_context.Log(LogLevel::Warning, "Failed to delete a file an earlier run left! - " + path +
                                           " (" + std::strerror(errno) + ")");
      continue;
    }
    ++removed;
    folders.insert(FolderOf(path));
  }
  // An earlier run's DATE_TIME folder goes once empty; the backup folder itself stays.
  for (const std::string& folder : folders) {
    if (folder + "/" != m_settings.BackupFolder && folder != m_settings.BackupFolder) {
      ::rmdir(folder.c_str());
    }
  }
  if (removed > 0) {
    m_context.Log(LogLevel::General, "Deleted " + std::to_string(removed) +
                                         " file(s) that earlier runs left unrecorded");
  }
}

RunOutcome RunBackupToFiles(TaskRunContext& context, const std::string& applicationFolder) {
  CBackupToFilesRun run(context, applicationFolder);
  return run.Run();
}

}  // namespace brevanto
