#include "tasks/OffsiteRestoreOptions.h"

#include <nlohmann/json.hpp>

#include "tasks/TaskOptionsStore.h"

namespace brevanto {

OffsiteRestoreOptions OffsiteRestoreOptionsOf(const CTaskItem& task) {
  OffsiteRestoreOptions options;
  const nlohmann::json section = GetTaskSection(task, kOffsiteRestoreSection);
  if (!section.is_object()) return options;
  options.Set = true;
  if (const auto it = section.find("Copy"); it != section.end() && it->is_string()) {
    options.Copy = it->get<std::string>();
  }
  if (const auto it = section.find("Database"); it != section.end() && it->is_string()) {
    options.Database = it->get<std::string>();
  }
  return options;
}

void SetOffsiteRestoreOptions(CTaskItem& task, const OffsiteRestoreOptions& options) {
  if (!options.Set) return SetTaskSection(task, kOffsiteRestoreSection, nlohmann::json());
  nlohmann::json section = nlohmann::json::object();
  if (!options.Copy.empty()) section["Copy"] = options.Copy;
  if (!options.Database.empty()) section["Database"] = options.Database;
  SetTaskSection(task, kOffsiteRestoreSection, section);
}

}  // namespace brevanto
