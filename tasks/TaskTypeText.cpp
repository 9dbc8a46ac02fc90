#include "tasks/TaskTypeText.h"

#include "tasks/TaskKinds.h"

namespace brevanto {

const char* TaskTypeText(std::uint8_t taskType) {
  const TaskKind* kind = FindTaskKind(taskType);
  return kind ? kind->ListText : "Unknown";
}

}  // namespace brevanto
