#include "tasks/TaskOptionsStore.h"

#include <cstdio>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"

namespace brevanto {
namespace {

using nlohmann::json;

constexpr const char* kFormatKey = "Format";
constexpr const char* kTasksKey = "Tasks";
constexpr int kFormat = 1;

// The options file is small; anything bigger is not ours.
constexpr std::size_t kMaxOptionsFileBytes = std::size_t{16} << 20;

void SetProblem(std::string* problem, std::string text) {
  if (problem != nullptr) *problem = std::move(text);
}

// The parsed object, or a discarded value when `text` is not a JSON object.
json ParseObject(std::string_view text) {
  json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return json(json::value_t::discarded);
  return parsed;
}

json SectionsOf(const CTaskItem& task) {
  if (task.OptionSections.empty()) return json::object();
  json sections = ParseObject(task.OptionSections);
  return sections.is_discarded() ? json::object() : sections;
}

// Texts put into a section by other code may hold bytes that are not UTF-8; they are
// stored with U+FFFD rather than failing the save.
std::string Dump(const json& value, int indent = -1) {
  return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

bool SetAside(const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string aside = path + ".damaged" + (attempt == 0 ? "" : "." + std::to_string(attempt));
    if (FileExists(aside)) continue;
    return std::rename(path.c_str(), aside.c_str()) == 0;
  }
  return false;
}

// The TLS settings of the task's servers are fields of CServerInfo in memory (the
// connection needs them) and the section "ServerTls" in the file; in memory the fields
// alone hold them, so they cannot disagree with a copy in OptionSections.
constexpr const char* kServerTlsSection = "ServerTls";

json ServerTlsOf(const CServerInfo& server) {
  json out = json::object();
  if (!server.SslCaFile.empty()) out["SslCaFile"] = server.SslCaFile;
  if (!server.SslFingerprint.empty()) out["SslFingerprint"] = server.SslFingerprint;
  if (!server.DefaultsFile.empty()) out["DefaultsFile"] = server.DefaultsFile;
  return out;
}

void AddServerTlsSection(const CTaskItem& task, json& sections) {
  json tls = json::object();
  json source = ServerTlsOf(task.SourceServer);
  json destination = ServerTlsOf(task.DestinationServer);
  if (!source.empty()) tls["SourceServer"] = std::move(source);
  if (!destination.empty()) tls["DestinationServer"] = std::move(destination);
  if (!tls.empty()) sections[kServerTlsSection] = std::move(tls);
}

void ReadServerTls(const json& tls, const char* key, CServerInfo& server) {
  const auto entry = tls.find(key);
  if (entry == tls.end() || !entry->is_object()) return;
  const auto text = [&entry](const char* name) {
    const auto item = entry->find(name);
    return item != entry->end() && item->is_string() ? item->get<std::string>() : std::string();
  };
  server.SslCaFile = text("SslCaFile");
  server.SslFingerprint = text("SslFingerprint");
  server.DefaultsFile = text("DefaultsFile");
}

// Moves the "ServerTls" section out of `sections` into the task's servers.
void TakeServerTlsSection(json& sections, CTaskItem& task) {
  const auto tls = sections.find(kServerTlsSection);
  if (tls == sections.end()) return;
  if (tls->is_object()) {
    ReadServerTls(*tls, "SourceServer", task.SourceServer);
    ReadServerTls(*tls, "DestinationServer", task.DestinationServer);
  }
  sections.erase(tls);
}

}  // namespace

std::string TaskOptionsPathFor(const std::string& taskFilePath) {
  constexpr std::string_view kTaskExtension = ".tsk";
  const std::string_view path = taskFilePath;
  if (path.size() > kTaskExtension.size() && path.ends_with(kTaskExtension)) {
    return std::string(path.substr(0, path.size() - kTaskExtension.size())) + ".json";
  }
  return taskFilePath + ".json";
}

void ReadTaskOptionsFile(const std::string& optionsPath, std::vector<CTaskItem>& tasks,
                         std::string* problem) {
  SetProblem(problem, "");
  for (CTaskItem& task : tasks) {
    task.OptionSections.clear();
    for (CServerInfo* server : {&task.SourceServer, &task.DestinationServer}) {
      server->SslCaFile.clear();
      server->SslFingerprint.clear();
      server->DefaultsFile.clear();
    }
  }
  if (!FileExists(optionsPath)) return;
  std::string bytes;
  if (!ReadFileBytes(optionsPath, bytes, kMaxOptionsFileBytes)) {
    SetProblem(problem, "cannot read the task options file - " + optionsPath);
    return;
  }
  const json file = ParseObject(bytes);
  if (file.is_discarded()) {
    SetProblem(problem, "damaged task options file - " + optionsPath);
    return;
  }
  const auto entries = file.find(kTasksKey);
  if (entries == file.end()) return;
  if (!entries->is_object()) {
    SetProblem(problem, "damaged task options file - " + optionsPath);
    return;
  }
  for (CTaskItem& task : tasks) {
    const auto entry = entries->find(task.TaskKey);
    if (entry != entries->end() && entry->is_object() && !entry->empty()) {
      json sections = *entry;
      TakeServerTlsSection(sections, task);
      if (!sections.empty()) task.OptionSections = Dump(sections);
    }
  }
}

bool WriteTaskOptionsFile(const std::string& optionsPath, const std::vector<CTaskItem>& tasks) {
  if (optionsPath.empty()) return false;
  json file(json::value_t::discarded);
  std::string existing;
  if (FileExists(optionsPath)) {
    if (ReadFileBytes(optionsPath, existing, kMaxOptionsFileBytes)) file = ParseObject(existing);
    const auto entries = file.is_discarded() ? file.end() : file.find(kTasksKey);
    if (file.is_discarded() || (entries != file.end() && !entries->is_object())) {
      if (!SetAside(optionsPath)) return false;
      file = json::object();
    }
  } else {
    file = json::object();
  }

  json entries = json::object();
  for (const CTaskItem& task : tasks) {
    if (task.TaskKey.empty()) continue;
    json sections = SectionsOf(task);
    AddServerTlsSection(task, sections);
    if (!sections.empty()) entries[task.TaskKey] = std::move(sections);
  }
  file.erase(kTasksKey);
  file.erase(kFormatKey);
  if (entries.empty() && file.empty()) return RemoveFileIfExists(optionsPath);
  file[kFormatKey] = kFormat;
  file[kTasksKey] = std::move(entries);
  return WriteFileAtomically(optionsPath, Dump(file, 2) + "\n").ok();
}

json GetTaskSection(const CTaskItem& task, std::string_view name) {
  const json sections = SectionsOf(task);
  const auto it = sections.find(name);
  return it == sections.end() ? json() : *it;
}

void SetTaskSection(CTaskItem& task, std::string_view name, const json& value) {
  json sections = SectionsOf(task);
  if (value.is_null()) {
    sections.erase(std::string(name));
  } else {
    sections[std::string(name)] = value;
  }
  task.OptionSections = sections.empty() ? std::string() : Dump(sections);
}

}  // namespace brevanto
