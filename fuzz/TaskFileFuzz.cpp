// Feeds arbitrary bytes to the task file reader. Beyond "no crash, no leak, no huge
// allocation": whatever it loads must survive the writer and the reader unchanged.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tasks/TaskFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<brevanto::CTaskItem> tasks;
  std::string problem;
  if (brevanto::ParseTaskFile(bytes, tasks, &problem) != brevanto::TaskFileReadResult::Loaded) {
    return 0;
  }
  std::vector<brevanto::CTaskItem> again;
  if (brevanto::ParseTaskFile(brevanto::SerializeTaskFile(tasks), again) !=
          brevanto::TaskFileReadResult::Loaded ||
      again != tasks) {
    __builtin_trap();
  }
  return 0;
}
