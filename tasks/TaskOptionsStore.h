#pragma once
// The per-task option sections stored beside a task file: "tasks_se.tsk" has
// "tasks_se.json" next to it. The task file keeps its binary layout untouched; options
// added later live here as named JSON sections ("Advanced", ...) of each task, keyed by
// TaskKey. The layout is documented in docs/formats/task-options.md.
//
// In memory a task carries its sections in CTaskItem::OptionSections (the text of one
// JSON object, empty for none), so copying a task copies them and removing it drops them.
// Free functions, safe on any thread; the caller serialises writes of one path.

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "tasks/TaskItem.h"

namespace brevanto {

// "x/tasks_se.tsk" -> "x/tasks_se.json"; a name without ".tsk" gets ".json" appended.
std::string TaskOptionsPathFor(const std::string& taskFilePath);

// Fills each task's OptionSections from the file at `optionsPath`, matched by TaskKey.
// A missing, unreadable or damaged file leaves every task without sections (their
// defaults); `problem` then names what was wrong with a file that exists.
void ReadTaskOptionsFile(const std::string& optionsPath, std::vector<CTaskItem>& tasks,
                         std::string* problem = nullptr);

// Replaces the file with the sections of `tasks` (temporary file, fsync, rename, 0600).
// Members of the file this program does not know are kept; entries of tasks no longer in
// the list are dropped. A file that exists but cannot be parsed is first renamed to
// "<name>.damaged" (or ".damaged.N") so that nothing the user had is overwritten unseen.
// With no task holding sections and nothing else to keep, the file is deleted.
bool WriteTaskOptionsFile(const std::string& optionsPath, const std::vector<CTaskItem>& tasks);

// One section of a task; null when the task has no such section or its sections are damaged.
nlohmann::json GetTaskSection(const CTaskItem& task, std::string_view name);
// Replaces (or with a null value removes) one section, keeping the task's other sections.
void SetTaskSection(CTaskItem& task, std::string_view name, const nlohmann::json& value);

}  // namespace brevanto
