#include "appcore/TaskRules.h"

#include <string>

#include "appcore/WizardText.h"
#include "tasks/BackupFileName.h"
#include "tasks/OffsiteRestoreOptions.h"

namespace brevanto::wizard {

// A type with no kind keeps its source server, as the JSON of such a task always did.
bool UsesSourceServer(int type) {
  const TaskKind* kind = KindOf(type);
  return kind == nullptr || kind->UsesSourceServer;
}
bool UsesDestinationServer(int type) {
  const TaskKind* kind = KindOf(type);
  return kind != nullptr && kind->UsesDestinationServer;
}
KindSettings SettingsOf(int type) {
  const TaskKind* kind = KindOf(type);
  return kind ? kind->Settings : KindSettings{};
}
bool UsesBackupSettings(int type) {
  return SettingsOf(type).BackupSettings;
}

namespace {

void CheckServer(const CServerInfo& server, const std::string& key,
                 std::vector<RuleProblem>& problems) {
  const ServerProblem problem = ValidateServerFields(server.Host, std::to_string(server.Port));
  if (problem.ok()) return;
  problems.push_back(
      {key + (problem.Field == ServerField::Host ? ".Host" : ".Port"), problem.Message});
}

void CheckDestinationDatabase(const CTaskItem& task, std::vector<RuleProblem>& problems) {
  const BackupSettings& b = task.BackupSettings;
  const std::string& name = b.DestinationDatabase;
  const char* problem = nullptr;
  if (b.CreateNewDestinationDatabase != 0) {
    if (name.empty()) {
      problem = kInputNewDatabaseName;
    } else if (HasInvalidDatabaseNameCharacters(name)) {
      problem = kInvalidDatabaseName;
    }
  } else if (name.empty()) {
    problem = kEmptyDatabaseName;
  }
  if (!problem && IsSameServer(task.SourceServer, task.DestinationServer) &&
      task.SourceServer.Database == name) {
    problem = kSameDatabase;
  }
  if (problem) problems.push_back({"BackupSettings.DestinationDatabase", problem});
}

bool AnySelected(const auto& items) {
  for (const auto& item : items) {
    if (item.Selected != 0) return true;
  }
  return false;
}

}  // namespace

namespace {

bool IsFullPath(const std::string& path) {
  return !path.empty() && path.front() == '/';
}

bool FolderUsable(const std::string& folder, PathTest test) {
  return test == PathTest::Create ? CanCreateFolder(folder) : CouldCreateFolder(folder);
}

}  // namespace

std::string ValidateBackupFile(const BackupSettings& b, PathTest test) {
  if (b.FileMode == 1) {
    if (b.SameFilePath.empty()) return "Please input a file!";
    if (!IsFullPath(b.SameFilePath)) return kFullPathNeeded;
    const bool usable =
        test == PathTest::Create ? CanCreateFile(b.SameFilePath) : CouldCreateFile(b.SameFilePath);
    return usable ? "" : "Invalid file!";
  }
  if (b.BackupFolder.empty()) return "Please input a folder!";
  if (!IsFullPath(b.BackupFolder)) return kFullPathNeeded;
  if (!FolderUsable(b.BackupFolder, test)) return "Invalid folder!";
  return "";
}

std::string ValidateExportFile(const ExportSettings& e, PathTest test) {
  if (e.Format < 1 || e.Format > 4) return "Please choose the file type!";
  if (e.Folder.empty()) return "Please choose the directory!";
  if (!IsFullPath(e.Folder)) return kFullPathNeeded;
  if (!FolderUsable(e.Folder, test)) return "Invalid directory!";
  return "";
}

std::vector<RuleProblem> CheckTask(const CTaskItem& task,
                                   const std::function<bool(const std::string&)>& nameTaken,
                                   const TaskDateTime& now) {
  std::vector<RuleProblem> problems;
  if (std::string name = TaskNameProblem(task.TaskName); !name.empty()) {
    problems.push_back({"TaskName", name});
  } else if (nameTaken(FoldedTaskName(task.TaskName))) {
    problems.push_back({"TaskName", kTaskNameTaken});
  }
  const TaskKind* kind = KindOf(task.TaskType);
  if (kind == nullptr) {
    const int last = static_cast<int>(TaskKinds().back().Type);
    problems.push_back(
        {"TaskType", "The task type must be a number from 1 to " + std::to_string(last) + "!"});
    return problems;
  }

  if (kind->UsesSourceServer) CheckServer(task.SourceServer, "SourceServer", problems);
  const bool databaseCopy = kind->Selection == DatabaseSelection::OneDatabase;
  const bool choosesDatabases = kind->Selection == DatabaseSelection::Databases;
  if (databaseCopy && task.SourceServer.Database.empty()) {
    problems.push_back({"SourceServer.Database", kEmptyDatabaseName});
  }

  const BackupSettings& b = task.BackupSettings;
  if ((choosesDatabases || databaseCopy) && b.IncludeStructure == 0 && b.IncludeRecords == 0) {
    problems.push_back({"BackupSettings.IncludeStructure", kChooseContent});
  }
  if (choosesDatabases && !AnySelected(task.BackupDatabases) && b.IncludeNewDatabases == 0) {
    problems.push_back({"BackupDatabases", kChooseSourceDatabases});
  }
  if (databaseCopy && b.IncludeNewTables == 0 &&
      (task.BackupDatabases.empty() || !AnySelected(task.BackupDatabases.front().Tables))) {
    problems.push_back({"BackupDatabases", kChooseSourceTables});
  }
  const KindSettings& uses = kind->Settings;
  if (uses.ExportSettings && task.ExportTables.empty()) {
    problems.push_back({"ExportTables", kChooseExportTables});
  }
  if (uses.ScriptStatements && task.ScriptStatements.empty()) {
    problems.push_back({"ScriptStatements", kInputScript});
  }
  // An off-site restore names its files when it runs, from the copy's manifest.
  if (uses.RestoreFiles && task.RestoreFiles.empty() && !OffsiteRestoreOptionsOf(task).Set) {
    problems.push_back({"RestoreFiles", kAddFiles});
  }

  if (kind->UsesDestinationServer) {
    CheckServer(task.DestinationServer, "DestinationServer", problems);
    // Databases keep their names: onto the same server they would be copied onto themselves.
    if (choosesDatabases && IsSameServer(task.SourceServer, task.DestinationServer)) {
      problems.push_back({"DestinationServer", kSameServer});
    }
    if (databaseCopy) CheckDestinationDatabase(task, problems);
  }
  if (uses.BackupFiles) {
    if (std::string file = ValidateBackupFile(b, PathTest::Look); !file.empty()) {
      problems.push_back(
          {b.FileMode == 1 ? "BackupSettings.SameFilePath" : "BackupSettings.BackupFolder", file});
    }
    // A format with a folder in it would write outside the backup folder, an empty one a
    // hidden ".sql"; the settings dialog refuses both.
    if (b.FileMode != 1) {
      if (std::string format = ValidateFileNameFormat(b.FileNameFormat, b.FileGrouping);
          !format.empty()) {
        problems.push_back({"BackupSettings.FileNameFormat", format});
      }
    }
  }
  if (uses.ExportSettings) {
    if (std::string file = ValidateExportFile(task.ExportSettings, PathTest::Look);
        !file.empty()) {
      problems.push_back({"ExportSettings", file});
    }
  }
  if (const ScheduleProblem schedule = CheckSchedule(task.Schedule, now);
      !schedule.Message.empty()) {
    problems.push_back(
        {schedule.Key.empty() ? "Schedule" : "Schedule." + schedule.Key, schedule.Message});
  }
  return problems;
}

}  // namespace brevanto::wizard
