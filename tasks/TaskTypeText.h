#pragma once
// The words for a task type, as the task list and the run reports show them. Codes are
// the raw bytes of the task record, so unknown values give "Unknown".

#include <cstdint>

namespace brevanto {

const char* TaskTypeText(std::uint8_t taskType);

}  // namespace brevanto
