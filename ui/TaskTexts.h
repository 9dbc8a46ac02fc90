#pragma once
// The words the task list shows for a task's status, type and schedule kind. Codes are
// the raw bytes of the task record, so unknown values show "Unknown".

#include <cstdint>

namespace brevanto::ui {

const char* StatusText(std::uint8_t status);
const char* TaskTypeText(std::uint8_t taskType);
const char* ScheduleKindText(std::uint8_t scheduleKind);

}  // namespace brevanto::ui
