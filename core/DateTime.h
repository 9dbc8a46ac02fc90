#pragma once
// A stored moment: local wall-clock time, field by field. All zero means "never".

#include <cstdint>

namespace brevanto {

struct TaskDateTime {
  std::int32_t Year = 0;
  std::int32_t Month = 0;      // 1..12
  std::int32_t Day = 0;        // 1..31
  std::int32_t Hour = 0;       // 0..23
  std::int32_t Minute = 0;
  std::int32_t Second = 0;
  std::int32_t DayOfWeek = 0;  // 1 = Sunday .. 7 = Saturday

  bool IsNever() const { return Year <= 0; }
  friend bool operator==(const TaskDateTime&, const TaskDateTime&) = default;
};

}  // namespace brevanto
