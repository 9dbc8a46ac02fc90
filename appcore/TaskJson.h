#pragma once
// Tasks as JSON text, for administrators who keep their tasks in files and for scripts.
// The text is an array of task objects whose keys are the task record's field names and
// nesting (TaskName, TaskType as its number, SourceServer.Host, BackupSettings.FileMode,
// Schedule.WeekDays, ...). What only a run makes (key, log file name, times, status,
// backup history) is never written nor read.
//
// Reading checks every value's kind and range and then the task wizard's rules
// (appcore/TaskRules.h); a file with any problem yields no task at all.
//
// Further top-level keys (a section of settings kept beside the task record) are added
// as a TaskJsonSection in TaskJsonSections.cpp: a writer and a reader of their own.

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tasks/TaskItem.h"

namespace brevanto {

using Json = nlohmann::ordered_json;

struct TaskJsonProblem {
  std::string Key;  // "[2].SourceServer.Port"; "" for the text as a whole
  std::string Message;
};

// What a section's reader reports problems to; `key` is relative to the section.
class TaskJsonProblems {
 public:
  TaskJsonProblems(std::vector<TaskJsonProblem>& sink, std::string prefix)
      : m_sink(sink), m_prefix(std::move(prefix)) {}
  void Add(const std::string& key, const std::string& message) {
    m_sink.push_back({key.empty() ? m_prefix : m_prefix + "." + key, message});
  }

 private:
  std::vector<TaskJsonProblem>& m_sink;
  std::string m_prefix;
};

struct TaskJsonSection {
  const char* Key;
  // Adds the section's value for `task` to `out[Key]`, or leaves `out` alone.
  std::function<void(const CTaskItem& task, bool withPasswords, Json& out)> Write;
  // Takes the section's value into `task`; reports what is wrong.
  std::function<void(const Json& value, CTaskItem& task, TaskJsonProblems& problems)> Read;
};
// The sections after the task record's own keys, in the order they are written.
const std::vector<TaskJsonSection>& TaskJsonSections();

struct TaskJsonOptions {
  bool WithPasswords = false;
};

Json TaskToJson(const CTaskItem& task, const TaskJsonOptions& options = {});
// A JSON array of the tasks, indented, ending in a newline.
std::string TasksToJsonText(const std::vector<CTaskItem>& tasks,
                            const TaskJsonOptions& options = {});

// The defaults of a task that the import fills in where a key is omitted, as the wizard's
// pages propose them for a new task (folders below the options' backup folder).
struct NewTaskDefaults {
  std::string BackupFolder;  // the options' default backup folder
  TaskDateTime Now;          // the moment schedules are judged at (a date in the past)
};

struct TaskJsonImport {
  std::vector<CTaskItem> Tasks;  // empty when there is any problem
  std::vector<TaskJsonProblem> Problems;
  // Per task, which passwords the text gave (so a replace can keep the old ones).
  std::vector<std::pair<bool, bool>> HasPasswords;  // source, destination
  // Per task, the keys of TaskJsonSections() the text gave.
  std::vector<std::vector<std::string>> GivenSections;
};

// For a replace: `task` takes the option sections of the task it replaces, except the
// ones the text gave (`given`), so that a text written without them loses nothing.
void KeepSectionsNotGiven(const CTaskItem& replaced, const std::vector<std::string>& given,
                          CTaskItem& task);

// For a replace from an export without passwords: a "Notifications" section given without
// "WebhookUrl" keeps the replaced task's own URL, as a server without "Password" keeps its
// password.
void KeepWebhookUrlNotGiven(const CTaskItem& replaced, CTaskItem& task);

// For a replace from an export without passwords: a "Remote" section given without its
// secret keeps the replaced task's SecretAccessKey for the same AccessKeyId, its Password
// for the same Host and User. A secret is never sent where it did not go before.
void KeepRemoteSecretsNotGiven(const CTaskItem& replaced, CTaskItem& task);

// Reads `text`. `existingNames` are the names already in the list; with `replace`, a task
// may take the name of an existing one (it replaces it) but not of another in `text`.
TaskJsonImport TasksFromJsonText(const std::string& text,
                                 const std::vector<std::string>& existingNames, bool replace,
                                 const NewTaskDefaults& defaults);

}  // namespace brevanto
