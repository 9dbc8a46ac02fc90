#include "appcore/TaskJson.h"

#include <limits>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <type_traits>

#include "appcore/JsonErrorPath.h"
#include "appcore/TaskRules.h"
#include "appcore/WizardText.h"
#include "tasks/AdvancedOptions.h"
#include "notify/TaskNotificationsSection.h"
#include "tasks/BackupFileName.h"
#include "tasks/TaskOptionsStore.h"

namespace brevanto {

namespace {

using wizard::KindOf;
using wizard::SettingsOf;
using wizard::UsesDestinationServer;
using wizard::UsesSourceServer;

// One description of every record drives both directions: the visitors below show their
// fields to a Writer (const records) or a Reader (records to fill).

class Writer {
 public:
  Writer(Json& out, bool withPasswords) : m_out(out), m_withPasswords(withPasswords) {}

  template <class T>
  void operator()(const char* key, const T& value) {
    m_out[key] = value;
  }
  void Password(const char* key, const std::string& value) {
    if (m_withPasswords) m_out[key] = value;
  }
  // Keys added later are left out while empty, so older exports read the same.
  void Optional(const char* key, const std::string& value) {
    if (!value.empty()) m_out[key] = value;
  }
  void Fingerprint(const char* key, const std::string& value) { Optional(key, value); }
  template <class T, class Visit>
  void Object(const char* key, const T& value, Visit visit) {
    Json child = Json::object();
    Writer writer(child, m_withPasswords);
    visit(writer, value);
    m_out[key] = std::move(child);
  }
  template <class T, class Visit>
  void List(const char* key, const std::vector<T>& items, Visit visit) {
    Json list = Json::array();
    for (const T& item : items) {
      Json child = Json::object();
      Writer writer(child, m_withPasswords);
      visit(writer, item);
      list.push_back(std::move(child));
    }
    m_out[key] = std::move(list);
  }

 private:
  Json& m_out;
  const bool m_withPasswords;
};

class Reader {
 public:
  Reader(const Json& in, std::string path, std::vector<TaskJsonProblem>& problems)
      : m_in(in), m_path(std::move(path)), m_problems(problems) {}

  bool Has(const char* key) const { return m_in.contains(key); }

  void operator()(const char* key, std::string& value) {
    const Json* item = Take(key);
    if (item == nullptr) return;
    if (!item->is_string()) return Problem(key, "must be a text in double quotes");
    value = item->get<std::string>();
  }
  template <class T>
  requires std::is_integral_v<T>
  void operator()(const char* key, T& value) {
    const Json* item = Take(key);
    if (item == nullptr) return;
    ReadNumber(*item, Path(key), value);
  }
  template <class T, std::size_t N>
  void operator()(const char* key, std::array<T, N>& values) {
    const Json* item = Take(key);
    if (item == nullptr) return;
    if (!item->is_array() || item->size() != N) {
      return Problem(key, "must be a list of " + std::to_string(N) + " numbers (0 or 1)");
    }
    for (std::size_t i = 0; i < N; ++i) {
      ReadNumber((*item)[i], Path(key) + "[" + std::to_string(i) + "]", values[i]);
    }
  }
  void operator()(const char* key, std::vector<std::string>& values) {
    const Json* item = Take(key);
    if (item == nullptr) return;
    if (!item->is_array()) return Problem(key, "must be a list of texts");
    values.clear();
    for (std::size_t i = 0; i < item->size(); ++i) {
      if (!(*item)[i].is_string()) {
        m_problems.push_back(
            {Path(key) + "[" + std::to_string(i) + "]", "must be a text in double quotes"});
        continue;
      }
      values.push_back((*item)[i].get<std::string>());
    }
  }
  void Password(const char* key, std::string& value) { (*this)(key, value); }
  void Optional(const char* key, std::string& value) { (*this)(key, value); }
  void Fingerprint(const char* key, std::string& value) {
    std::string typed;
    (*this)(key, typed);
    if (typed.empty()) return;
    value = CanonicalFingerprint(typed);
    if (value.empty()) {
      Problem(key, "must be a SHA-256 fingerprint: 64 hexadecimal digits, in pairs separated "
                   "by colons or not at all");
    }
  }

  template <class T, class Visit>
  void Object(const char* key, T& value, Visit visit) {
    const Json* item = Take(key);
    if (item == nullptr) return;
    ReadObject(*item, Path(key), value, visit);
  }
  template <class T, class Visit>
  void List(const char* key, std::vector<T>& items, Visit visit) {
    const Json* item = Take(key);
    if (item == nullptr) return;
    if (!item->is_array()) return Problem(key, "must be a list");
    items.assign(item->size(), T{});
    for (std::size_t i = 0; i < item->size(); ++i) {
      ReadObject((*item)[i], Path(key) + "[" + std::to_string(i) + "]", items[i], visit);
    }
  }

  // Every key the visitors did not take is a mistake (a misspelt key would otherwise
  // silently leave a default in place).
  void RefuseUnknownKeys(const std::set<std::string>& alsoKnown = {}) {
    for (const auto& [key, value] : m_in.items()) {
      if (!m_taken.contains(key) && !alsoKnown.contains(key)) Problem(key.c_str(), "unknown key");
    }
  }

 private:
  const Json* Take(const char* key) {
    m_taken.insert(key);
    auto it = m_in.find(key);
    return it == m_in.end() ? nullptr : &*it;
  }
  std::string Path(const char* key) const { return m_path.empty() ? key : m_path + "." + key; }
  void Problem(const char* key, const std::string& message) {
    m_problems.push_back({Path(key), message});
  }

  template <class T, class Visit>
  void ReadObject(const Json& item, const std::string& path, T& value, Visit visit) {
    if (!item.is_object()) {
      m_problems.push_back({path, "must be an object in braces"});
      return;
    }
    Reader reader(item, path, m_problems);
    visit(reader, value);
    reader.RefuseUnknownKeys();
  }

  template <class T>
  void ReadNumber(const Json& item, const std::string& path, T& value) {
    using Limits = std::numeric_limits<T>;
    const std::string range = "must be a whole number from " + std::to_string(Limits::min()) +
                              " to " + std::to_string(Limits::max());
    if (item.is_boolean() && sizeof(T) == 1) {
      value = item.get<bool>() ? 1 : 0;
      return;
    }
    if (item.is_number_unsigned()) {
      const auto number = item.get<std::uint64_t>();
      if (number <= static_cast<std::uint64_t>(Limits::max())) {
        value = static_cast<T>(number);
        return;
      }
    } else if (item.is_number_integer()) {
      const auto number = item.get<std::int64_t>();
      if (number >= static_cast<std::int64_t>(Limits::min()) &&
          number <= static_cast<std::int64_t>(Limits::max())) {
        value = static_cast<T>(number);
        return;
      }
    }
    m_problems.push_back({path, range});
  }

  const Json& m_in;
  const std::string m_path;
  std::vector<TaskJsonProblem>& m_problems;
  std::set<std::string> m_taken;
};

template <class V, class S>
void VisitServer(V& v, S& s) {
  v("ConnectionName", s.ConnectionName);
  v("Host", s.Host);
  v("Port", s.Port);
  v("UserName", s.UserName);
  v.Password("Password", s.Password);
  v("Database", s.Database);
  v("Comment", s.Comment);
  v("SavePassword", s.SavePassword);
  v("UseCompression", s.UseCompression);
  v("UseSSL", s.UseSSL);
  v.Optional("SslCaFile", s.SslCaFile);
  v.Fingerprint("SslFingerprint", s.SslFingerprint);
  v.Optional("DefaultsFile", s.DefaultsFile);
}

template <class V, class E>
void VisitExportSettings(V& v, E& e) {
  v("Format", e.Format);
  v("Folder", e.Folder);
  v("FieldsTerminatedBy", e.FieldsTerminatedBy);
  v("FieldsEnclosedBy", e.FieldsEnclosedBy);
  v("FieldsEscapedBy", e.FieldsEscapedBy);
  v("LinesTerminatedBy", e.LinesTerminatedBy);
  v("AddColumnNamesOnTop", e.AddColumnNamesOnTop);
}

template <class V, class T>
void VisitTable(V& v, T& t) {
  v("Selected", t.Selected);
  v("Kind", t.Kind);
  v("DatabaseName", t.DatabaseName);
  v("TableName", t.TableName);
}

template <class V, class D>
void VisitDatabase(V& v, D& d) {
  v("Selected", d.Selected);
  v("DatabaseName", d.DatabaseName);
  v.List("Tables", d.Tables, [](auto& w, auto& t) { VisitTable(w, t); });
}

template <class V, class B>
void VisitBackupSettings(V& v, B& b) {
  v("IncludeStructure", b.IncludeStructure);
  v("IncludeRecords", b.IncludeRecords);
  v("LockTablesBeforeStart", b.LockTablesBeforeStart);
  v("FlushTablesBeforeStart", b.FlushTablesBeforeStart);
  v("QuoteNames", b.QuoteNames);
  v("SetConnectionCharset", b.SetConnectionCharset);
  v("IncludeNewTables", b.IncludeNewTables);
  v("IncludeNewDatabases", b.IncludeNewDatabases);
  v("FlushLogsBeforeStart", b.FlushLogsBeforeStart);
  v("AddCreateDatabase", b.AddCreateDatabase);
  v("AddLockTables", b.AddLockTables);
  v("AddDropTable", b.AddDropTable);
  v("AddDeleteAllRecords", b.AddDeleteAllRecords);
  v("AddSetNames", b.AddSetNames);
  v("CompleteInsert", b.CompleteInsert);
  v("InsertDelayed", b.InsertDelayed);
  v("MultipleRowInsert", b.MultipleRowInsert);
  v("UseReplace", b.UseReplace);
  v("InsertIgnore", b.InsertIgnore);
  v("AddSetAutocommit", b.AddSetAutocommit);
  v("AddSetForeignKeyChecks", b.AddSetForeignKeyChecks);
  v("AddSetUniqueChecks", b.AddSetUniqueChecks);
  v("AddSetSqlNotes", b.AddSetSqlNotes);
  v("AllowKeywordColumnNames", b.AllowKeywordColumnNames);
  v("AddDisableKeys", b.AddDisableKeys);
  v("FileType", b.FileType);
  v("FileMode", b.FileMode);
  v("FileGrouping", b.FileGrouping);
  v("SameFilePath", b.SameFilePath);
  v("BackupFolder", b.BackupFolder);
  v("FileNameFormat", b.FileNameFormat);
  v("AutoDeleteMode", b.AutoDeleteMode);
  v("AutoDeleteValue", b.AutoDeleteValue);
  v("CreateDateTimeSubfolder", b.CreateDateTimeSubfolder);
  v("UnixLineEnds", b.UnixLineEnds);
  v("CreateNewDestinationDatabase", b.CreateNewDestinationDatabase);
  v("DestinationDatabase", b.DestinationDatabase);
}

template <class V, class S>
void VisitSchedule(V& v, S& s) {
  v("Kind", s.Kind);
  v("Hour", s.Hour);
  v("Minute", s.Minute);
  v("WeekDays", s.WeekDays);
  v("MonthDays", s.MonthDays);
  v("SpecialYear", s.SpecialYear);
  v("SpecialMonth", s.SpecialMonth);
  v("SpecialDay", s.SpecialDay);
  v("RepeatEveryDays", s.RepeatEveryDays);
  v("IntervalMinutes", s.IntervalMinutes);
}

template <class V, class R>
void VisitRestoreOptions(V& v, R& r) {
  v("ContinueOnSqlError", r.ContinueOnSqlError);
  v("ContinueOnFileError", r.ContinueOnFileError);
}

template <class V, class F>
void VisitRestoreFile(V& v, F& f) {
  v("FileName", f.FileName);
  v("FullPath", f.FullPath);
}

// `type` decides which sections a Writer writes (those its type uses); a Reader takes whatever is there.
template <class V, class T>
void VisitTask(V& v, T& t, int type, bool all) {
  v("TaskName", t.TaskName);
  v("Comment", t.Comment);
  v("TaskType", t.TaskType);
  auto object = [&v](const char* key, auto& value, auto visit) { v.Object(key, value, visit); };
  if (all || UsesSourceServer(type)) {
    object("SourceServer", t.SourceServer, [](auto& w, auto& s) { VisitServer(w, s); });
  }
  if (all || UsesDestinationServer(type)) {
    object("DestinationServer", t.DestinationServer, [](auto& w, auto& s) { VisitServer(w, s); });
  }
  const KindSettings uses = SettingsOf(type);
  if (all || uses.ExportSettings) {
    object("ExportSettings", t.ExportSettings, [](auto& w, auto& e) { VisitExportSettings(w, e); });
    v.List("ExportTables", t.ExportTables, [](auto& w, auto& e) { VisitTable(w, e); });
  }
  if (all || uses.BackupSettings) {
    object("BackupSettings", t.BackupSettings, [](auto& w, auto& b) { VisitBackupSettings(w, b); });
    v.List("BackupDatabases", t.BackupDatabases, [](auto& w, auto& d) { VisitDatabase(w, d); });
  }
  object("Schedule", t.Schedule, [](auto& w, auto& s) { VisitSchedule(w, s); });
  if (all || uses.ScriptStatements) v("ScriptStatements", t.ScriptStatements);
  if (all || uses.RestoreFiles) {
    object("RestoreOptions", t.RestoreOptions, [](auto& w, auto& r) { VisitRestoreOptions(w, r); });
    v.List("RestoreFiles", t.RestoreFiles, [](auto& w, auto& f) { VisitRestoreFile(w, f); });
  }
}

// The separators the export page proposes for a new task of `format`.
void ApplyExportFormatDefaults(ExportSettings& e) {
  const bool delimited = e.Format == 1 || e.Format == 4;
  e.FieldsTerminatedBy = e.Format == 1 ? "," : e.Format == 4 ? "\t" : "";
  e.FieldsEnclosedBy = e.Format == 1 ? "\"" : "";
  e.FieldsEscapedBy = delimited ? "\\" : "";
  e.LinesTerminatedBy = delimited ? "\r\n" : "";
}

// Fills what the wizard's pages propose for a new task where the text said nothing.
void ApplyNewTaskDefaults(const Json& in, CTaskItem& task, const NewTaskDefaults& defaults) {
  const std::string folder = wizard::DefaultTaskFolder(defaults.BackupFolder, task.TaskName);
  const Json empty = Json::object();
  const Json& backup = in.contains("BackupSettings") && in["BackupSettings"].is_object()
                           ? in["BackupSettings"]
                           : empty;
  BackupSettings& b = task.BackupSettings;
  if (!backup.contains("BackupFolder")) b.BackupFolder = folder;
  if (!backup.contains("FileNameFormat")) b.FileNameFormat = DefaultFileNameFormat(b.FileGrouping);
  if (!backup.contains("SameFilePath")) {
    b.SameFilePath = folder.substr(0, folder.size() - 1) + BackupFileExtension(b.FileType);
  }
  const Json& exportSettings = in.contains("ExportSettings") && in["ExportSettings"].is_object()
                                   ? in["ExportSettings"]
                                   : empty;
  ExportSettings& e = task.ExportSettings;
  if (!exportSettings.contains("Folder")) e.Folder = folder;
  const bool anySeparator = exportSettings.contains("FieldsTerminatedBy") ||
                            exportSettings.contains("FieldsEnclosedBy") ||
                            exportSettings.contains("FieldsEscapedBy") ||
                            exportSettings.contains("LinesTerminatedBy");
  if (!anySeparator) ApplyExportFormatDefaults(e);
  // A new task starts with the advanced defaults; "Advanced": null keeps a task without
  // them, as tasks made before them are.
  if (!in.contains(kAdvancedSection)) SetAdvancedOptions(task, CAdvancedOptions());
}

// A database given without "Tables" means the whole database, new tables included, as
// the wizard stores a database chosen whole; a database copy given without any database
// copies the whole source database. Their tables are found at each run.
void ApplyWholeDatabases(const Json& in, CTaskItem& task, const std::string& path,
                         std::vector<TaskJsonProblem>& problems) {
  const TaskKind* kind = KindOf(task.TaskType);
  if (kind == nullptr || !kind->Settings.BackupSettings) return;
  const bool databaseCopy = kind->Selection == DatabaseSelection::OneDatabase;
  const auto list = in.find("BackupDatabases");
  if (list == in.end() && databaseCopy && !task.SourceServer.Database.empty()) {
    task.BackupDatabases = {DatabaseItem{1, task.SourceServer.Database, {}}};
  }
  bool whole = list == in.end() && databaseCopy;
  std::size_t firstListed = 0;
  bool listed = false;
  if (list != in.end()) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      const bool given = (*list)[i].contains("Tables");
      if (given && !listed) firstListed = i;
      listed = listed || given;
      whole = whole || !given;
    }
  }
  if (!whole) return;
  if (listed) {
    // New tables are included for the whole task: the listed databases would grow too.
    problems.push_back({path + ".BackupDatabases[" + std::to_string(firstListed) + "].Tables",
                        "must be left out here too when another database leaves it out"});
    return;
  }
  const auto backup = in.find("BackupSettings");
  if (backup == in.end() || !backup->contains("IncludeNewTables")) {
    task.BackupSettings.IncludeNewTables = 1;
  } else if (task.BackupSettings.IncludeNewTables == 0) {
    problems.push_back({path + ".BackupSettings.IncludeNewTables",
                        "must be 1 (or left out) when a database is given without \"Tables\""});
  }
}

}  // namespace

Json TaskToJson(const CTaskItem& task, const TaskJsonOptions& options) {
  Json out = Json::object();
  Writer writer(out, options.WithPasswords);
  VisitTask(writer, task, task.TaskType, false);
  for (const TaskJsonSection& section : TaskJsonSections()) {
    section.Write(task, options.WithPasswords, out);
  }
  return out;
}

std::string TasksToJsonText(const std::vector<CTaskItem>& tasks, const TaskJsonOptions& options) {
  Json list = Json::array();
  for (const CTaskItem& task : tasks) list.push_back(TaskToJson(task, options));
  // Texts are written as they are: UTF-8 stays readable, control characters are escaped.
  return list.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

TaskJsonImport TasksFromJsonText(const std::string& text,
                                 const std::vector<std::string>& existingNames, bool replace,
                                 const NewTaskDefaults& defaults) {
  TaskJsonImport result;
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::exception& error) {
    // A number too large for any type is valid JSON text but ends the parse: name its key.
    const JsonTextError found = FindJsonTextError(text);
    if (found.Key.empty()) {
      result.Problems.push_back({"", std::string("not valid JSON: ") + error.what()});
    } else {
      result.Problems.push_back({found.Key, found.Message});
    }
    return result;
  }
  if (!root.is_array()) {
    result.Problems.push_back({"", "must be a list of tasks in brackets: [ {...}, ... ]"});
    return result;
  }

  // Names compare folded: "Dup" and "dup" would share a log file on some file systems.
  // Sets keep the check linear in the number of tasks.
  std::unordered_map<std::string, std::string> listNames;  // folded -> as in the list
  for (const std::string& name : existingNames) listNames.emplace(wizard::FoldedTaskName(name), name);
  std::unordered_set<std::string> namesInText;
  std::set<std::string> sectionKeys;
  for (const TaskJsonSection& section : TaskJsonSections()) sectionKeys.insert(section.Key);
  for (std::size_t i = 0; i < root.size(); ++i) {
    const std::string path = "[" + std::to_string(i) + "]";
    const Json& in = root[i];
    if (!in.is_object()) {
      result.Problems.push_back({path, "must be an object in braces"});
      continue;
    }
    const std::size_t before = result.Problems.size();
    CTaskItem task;
    try {
      Reader reader(in, path, result.Problems);
      VisitTask(reader, task, task.TaskType, true);
      reader.RefuseUnknownKeys(sectionKeys);
      for (const TaskJsonSection& section : TaskJsonSections()) {
        const auto it = in.find(section.Key);
        if (it == in.end()) continue;
        TaskJsonProblems problems(result.Problems, path + "." + section.Key);
        section.Read(*it, task, problems);
      }
    } catch (const Json::exception& error) {
      // Every value is checked for its kind before it is taken; this is the last guard.
      result.Problems.push_back({path, std::string("cannot be read: ") + error.what()});
    }
    if (result.Problems.size() != before) continue;  // the rules need well-formed values

    task.TaskName = wizard::TrimmedTaskName(task.TaskName);
    ApplyNewTaskDefaults(in, task, defaults);
    ApplyWholeDatabases(in, task, path, result.Problems);
    const auto nameTaken = [&](const std::string& folded) {
      if (namesInText.contains(folded)) return true;
      const auto listed = listNames.find(folded);
      // A replace takes the name of the task it replaces, spelt exactly the same.
      return listed != listNames.end() && !(replace && listed->second == task.TaskName);
    };
    for (const wizard::RuleProblem& problem : wizard::CheckTask(task, nameTaken, defaults.Now)) {
      result.Problems.push_back({path + "." + problem.Key, problem.Message});
    }
    namesInText.insert(wizard::FoldedTaskName(task.TaskName));
    const auto hasPassword = [&in](const char* server) {
      const auto it = in.find(server);
      return it != in.end() && it->is_object() && it->contains("Password");
    };
    result.HasPasswords.emplace_back(hasPassword("SourceServer"), hasPassword("DestinationServer"));
    std::vector<std::string> given;
    for (const TaskJsonSection& section : TaskJsonSections()) {
      if (in.contains(section.Key)) given.emplace_back(section.Key);
    }
    result.GivenSections.push_back(std::move(given));
    result.Tasks.push_back(std::move(task));
  }
  if (!result.Problems.empty()) {
    result.Tasks.clear();
    result.HasPasswords.clear();
    result.GivenSections.clear();
  }
  return result;
}

void KeepSectionsNotGiven(const CTaskItem& replaced, const std::vector<std::string>& given,
                          CTaskItem& task) {
  CTaskItem merged;
  merged.OptionSections = replaced.OptionSections;
  for (const std::string& key : given) SetTaskSection(merged, key, GetTaskSection(task, key));
  task.OptionSections = std::move(merged.OptionSections);
}

void KeepWebhookUrlNotGiven(const CTaskItem& replaced, CTaskItem& task) {
  TaskNotifications own = FindTaskNotifications(task);
  const TaskNotifications old = FindTaskNotifications(replaced);
  if (own.WebhookUrl || !old.WebhookUrl) return;
  own.WebhookUrl = old.WebhookUrl;
  SetTaskNotifications(task, own);
}

}  // namespace brevanto
