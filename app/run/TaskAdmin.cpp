// --list, --export, --import and --delete: the task list as an administrator keeps it.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/run/Commands.h"
#include "app/run/FolderAccess.h"
#include "app/run/Output.h"
#include "app/run/TaskListing.h"
#include "appcore/ApplicationCore.h"
#include "appcore/TaskJson.h"
#include "core/Clock.h"
#include "core/InstanceLock.h"
#include "core/Options.h"
#include "schedule/LastRunResult.h"
#include "schedule/TaskCommands.h"
#include "tasks/TaskFile.h"

namespace brevanto::run {

namespace {

// A core over the folder for a command that changes the task list; the caller holds
// `hold` for the whole change. Null, with the reason printed, when the task file is
// damaged (the core would set it aside; an administrator's command must not).
class ChangingCore {
 public:
  explicit ChangingCore(const std::string& folder) : m_core(folder, SystemClock()) {
    m_core.ShareTaskFile();
    m_hold.emplace(m_core);
  }
  bool Start(const std::string& folder) {
    std::vector<CTaskItem> tasks;
    if (!ReadTasks(folder, tasks)) return false;
    m_core.Start();
    return true;
  }
  CApplicationCore& Core() { return m_core; }

 private:
  CApplicationCore m_core;
  std::optional<CApplicationCore::TaskFileHold> m_hold;
};

std::string ReadInput(const std::string& file, bool& ok) {
  std::ostringstream text;
  if (file == "-") {
    text << std::cin.rdbuf();
    ok = !std::cin.bad();
    return text.str();
  }
  std::ifstream in(file, std::ios::binary);
  ok = static_cast<bool>(in);
  if (ok) text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Names(const CTaskList& list) {
  std::vector<std::string> names;
  for (const CTaskItem& task : list.Snapshot()) names.push_back(task.TaskName);
  return names;
}

// The wizard's messages hold line breaks for a message box; one line reads better here.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  std::string out;
  for (char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

}  // namespace

int ExportTasks(const std::string& folder, const CommandLine& line) {
  std::vector<CTaskItem> tasks;
  if (!ReadTasks(folder, tasks)) return kExitFailed;
  std::vector<CTaskItem> chosen;
  for (const std::string& name : line.names) {
    bool found = false;
    for (const CTaskItem& task : tasks) {
      if (task.TaskName == name) {
        chosen.push_back(task);
        found = true;
      }
    }
    if (!found) {
      Error("no task named \"" + Escaped(name) + "\"");
      return kExitUsage;
    }
  }
  const std::string text =
      TasksToJsonText(line.names.empty() ? tasks : chosen, {.WithPasswords = line.withPasswords});
  // The JSON is the output itself, so --quiet does not silence it.
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

int ImportTasks(const std::string& folder, const CommandLine& line) {
  bool readable = false;
  const std::string text = ReadInput(line.file, readable);
  if (!readable) {
    Error("cannot read " + line.file);
    return kExitFailed;
  }
  const FolderAccess access = TakeFolder(folder, kHolderRun, line.waitSeconds, true, SystemClock());
  if (!access.granted) return kExitFolderInUse;
  ChangingCore changing(folder);
  // The text is checked against the list as its file holds it before the core starts
  // (which makes folders and logs): a refused text leaves the folder as it was.
  std::vector<CTaskItem> listed;
  if (!ReadTasks(folder, listed)) return kExitFailed;
  CSystemOptions options;
  (void)LoadOptions(folder, options);  // none yet: the defaults, as the core takes them
  ApplyDefaultBackupFolder(folder, options);
  std::vector<std::string> listedNames;
  listedNames.reserve(listed.size());
  for (const CTaskItem& task : listed) listedNames.push_back(task.TaskName);
  TaskJsonImport imported =
      TasksFromJsonText(text, listedNames, line.replace,
                        {.BackupFolder = options.DefaultBackupFolder, .Now = SystemClock().Now()});
  if (!imported.Problems.empty()) {
    for (const TaskJsonProblem& problem : imported.Problems) {
      Error(line.file + ": " + (problem.Key.empty() ? "" : problem.Key + ": ") +
            OneLine(problem.Message));
    }
    Error("nothing was imported");
    return kExitFailed;
  }
  if (!changing.Start(folder)) return kExitFailed;
  CApplicationCore& core = changing.Core();
  const std::vector<std::string> names = Names(core.Tasks());

  // The wizard's Finish for each task; nothing is started from here.
  CTaskCommands commands(core.Runner(), core.TaskLog(), core,
                         [](const std::string&, QuestionButtons) { return Answer::No; });
  // Looked up once: a lookup per task would make a large import quadratic.
  std::unordered_map<std::string, int> indexByName;
  for (std::size_t i = 0; i < names.size(); ++i) indexByName.emplace(names[i], static_cast<int>(i));
  std::vector<CTaskItem> created;
  std::vector<std::string> createdNames;
  std::vector<TaskEdit> replaced;
  std::vector<std::string> replacedSaid;
  for (std::size_t i = 0; i < imported.Tasks.size(); ++i) {
    // Moved, not copied: a large import holds every task several times over otherwise.
    CTaskItem task = std::move(imported.Tasks[i]);
    const auto found = indexByName.find(task.TaskName);
    const int existing = found == indexByName.end() ? -1 : found->second;
    if (existing >= 0) {
      // An export leaves passwords out; replacing from it keeps the ones the task had.
      const CTaskItem old = core.Tasks().At(existing);
      if (!imported.HasPasswords[i].first) task.SourceServer.Password = old.SourceServer.Password;
      if (!imported.HasPasswords[i].second) {
        task.DestinationServer.Password = old.DestinationServer.Password;
      }
      KeepSectionsNotGiven(old, imported.GivenSections[i], task);
      KeepWebhookUrlNotGiven(old, task);
      KeepRemoteSecretsNotGiven(old, task);
      // The copies it made stay the task's: without them in its history nothing would
      // ever delete them as they expire.
      task.BackupHistory = old.BackupHistory;
      // The scheduler stops a running task to take the replacement in.
      const bool cancels = access.shared && ReadLastRunUnderWay(core.TaskLog(), old.LogFileName);
      replacedSaid.push_back("replaced: " + Escaped(task.TaskName) +
                             (cancels ? " (cancelled the running task)" : ""));
      replaced.push_back({existing, std::move(task)});
    } else {
      createdNames.push_back(task.TaskName);
      created.push_back(std::move(task));
    }
  }
  // All replacements in one save: a save each would make a large import quadratic.
  if (!replaced.empty()) {
    const EditsResult result = commands.ApplyEdits(std::move(replaced));
    if (result == EditsResult::NotStopped) {
      Error("cannot replace the tasks: one of them is not stopped");
      return kExitFailed;
    }
    if (result == EditsResult::NotSaved) {
      Error("the task file " + core.TaskFilePath() + " could not be written");
      return kExitFailed;
    }
  }
  for (const std::string& said : replacedSaid) Say(said);
  // All new tasks in one save; their logs only after it.
  if (!created.empty() && commands.CreateTasks(std::move(created)).empty()) {
    Error("the task file " + core.TaskFilePath() + " could not be written");
    return kExitFailed;
  }
  for (const std::string& name : createdNames) Say("imported: " + Escaped(name));
  if (!core.SaveTasks() || core.TaskFileChangedOnDisk()) {
    Error("the task file " + core.TaskFilePath() + " could not be written");
    return kExitFailed;
  }
  return kExitOk;
}

int DeleteTask(const std::string& folder, const CommandLine& line) {
  const FolderAccess access = TakeFolder(folder, kHolderRun, line.waitSeconds, true, SystemClock());
  if (!access.granted) return kExitFolderInUse;
  ChangingCore changing(folder);
  if (!changing.Start(folder)) return kExitFailed;
  CApplicationCore& core = changing.Core();
  const std::string& name = line.names.front();
  const int index = core.Tasks().FindByName(name);
  if (index < 0) {
    Error("no task named \"" + Escaped(name) + "\"");
    return kExitUsage;
  }
  CTaskCommands commands(core.Runner(), core.TaskLog(), core,
                         [](const std::string&, QuestionButtons) { return Answer::Yes; });
  if (!commands.DeleteTasks({index}) || !core.SaveTasks()) {
    Error("cannot delete \"" + Escaped(name) + "\"");
    return kExitFailed;
  }
  Say("deleted: " + Escaped(name));
  return kExitOk;
}

}  // namespace brevanto::run
