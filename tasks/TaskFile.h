#pragma once
// Reader and writer of the binary task file ("tasks_se.tsk" and Save As/Load From files).
// The byte layout is documented in docs/formats/task-file.md.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/AtomicFile.h"
#include "tasks/TaskItem.h"

namespace brevanto {

enum class TaskFileReadResult {
  Failure,        // no file, unreadable, or not a task file: keep the current list
  NothingToLoad,  // N = 0 or a damaged record: keep the current list, report success
  Loaded,         // `out` holds at least one task
};

// Writes every task in order, to a temporary file renamed over `path` (mode 0600).
// An empty list deletes the file and succeeds.
bool WriteTaskFile(const std::string& path, const std::vector<CTaskItem>& tasks);
// The same for a task file other programs may replace: nothing is written unless the file
// still has the stamp `expected` (ChangedOnDisk); `written` receives the new file's stamp.
ReplaceResult WriteTaskFileIfUnchanged(const std::string& path,
                                       const std::vector<CTaskItem>& tasks,
                                       const FileStamp& expected, FileStamp* written);

// Reads any known version. Loaded tasks have Status Stop and RunImmediately 0.
// `out` is replaced only when the result is Loaded. When `problem` is given it receives
// why a file was refused or a record found damaged (naming the record, field and
// offset), and stays empty for a readable file, including one with N = 0.
TaskFileReadResult ReadTaskFile(const std::string& path, std::vector<CTaskItem>& out,
                                std::string* problem = nullptr);
// The same over bytes in memory (used by the fuzzer and by ReadTaskFile).
TaskFileReadResult ParseTaskFile(std::string_view bytes, std::vector<CTaskItem>& out,
                                 std::string* problem = nullptr);

// The file's bytes for `tasks` in the current version (what WriteTaskFile stores).
std::string SerializeTaskFile(const std::vector<CTaskItem>& tasks);

}  // namespace brevanto
