#include "tasks/TaskTypeText.h"

#include <array>

namespace brevanto {

const char* TaskTypeText(std::uint8_t taskType) {
  static constexpr std::array<const char*, 8> kTexts = {
      "Backup to SQL/PHP files",    "Backup to another server",
      "Backup to another database", "Export to CSV/XML/HTML/TEXT files",
      "Execute SQL script",         "Restore by SQL files",
      "Restore by another server",  "Restore by another database"};
  return taskType >= 1 && taskType <= kTexts.size() ? kTexts[taskType - 1u] : "Unknown";
}

}  // namespace brevanto
