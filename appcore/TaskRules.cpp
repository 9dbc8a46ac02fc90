#include "appcore/TaskRules.h"

#include <string>

#include "appcore/WizardText.h"
#include "tasks/BackupFileName.h"

namespace brevanto::wizard {

bool UsesSourceServer(int type) {
  return type != 6;
}
bool UsesDestinationServer(int type) {
  return type == 2 || type == 3 || type == 6 || type == 7 || type == 8;
}
bool UsesBackupSettings(int type) {
  return type == 1 || type == 2 || type == 3 || type == 7 || type == 8;
}

namespace {

bool IsDatabaseCopy(int type) {
  return type == 3 || type == 8;
}
bool ChoosesDatabases(int type) {
  return type == 1 || type == 2 || type == 7;
}

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
  const int type = task.TaskType;
  if (std::string name = TaskNameProblem(task.TaskName); !name.empty()) {
    problems.push_back({"TaskName", name});
  } else if (nameTaken(FoldedTaskName(task.TaskName))) {
    problems.push_back({"TaskName", kTaskNameTaken});
  }
  if (TaskTypeDescription(type) == nullptr) {
    problems.push_back({"TaskType", "The task type must be a number from 1 to 8!"});
    return problems;
  }

  if (UsesSourceServer(type)) CheckServer(task.SourceServer, "SourceServer", problems);
  if (IsDatabaseCopy(type) && task.SourceServer.Database.empty()) {
    problems.push_back({"SourceServer.Database", kEmptyDatabaseName});
  }

  const BackupSettings& b = task.BackupSettings;
  if ((ChoosesDatabases(type) || IsDatabaseCopy(type)) && b.IncludeStructure == 0 &&
      b.IncludeRecords == 0) {
    problems.push_back({"BackupSettings.IncludeStructure", kChooseContent});
  }
  if (ChoosesDatabases(type) && !AnySelected(task.BackupDatabases) && b.IncludeNewDatabases == 0) {
    problems.push_back({"BackupDatabases", kChooseSourceDatabases});
  }
  if (IsDatabaseCopy(type) && b.IncludeNewTables == 0 &&
      (task.BackupDatabases.empty() || !AnySelected(task.BackupDatabases.front().Tables))) {
    problems.push_back({"BackupDatabases", kChooseSourceTables});
  }
  if (type == 4 && task.ExportTables.empty()) {
    problems.push_back({"ExportTables", kChooseExportTables});
  }
  if (type == 5 && task.ScriptStatements.empty()) {
    problems.push_back({"ScriptStatements", kInputScript});
  }
  if (type == 6 && task.RestoreFiles.empty()) problems.push_back({"RestoreFiles", kAddFiles});

  if (UsesDestinationServer(type)) {
    CheckServer(task.DestinationServer, "DestinationServer", problems);
    if ((type == 2 || type == 7) && IsSameServer(task.SourceServer, task.DestinationServer)) {
      problems.push_back({"DestinationServer", kSameServer});
    }
    if (IsDatabaseCopy(type)) CheckDestinationDatabase(task, problems);
  }
  if (type == 1) {
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
  if (type == 4) {
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
