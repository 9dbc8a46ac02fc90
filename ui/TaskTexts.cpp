#include "ui/TaskTexts.h"

#include <array>

#include "tasks/TaskTypeText.h"

namespace brevanto::ui {

namespace {

template <std::size_t N>
const char* Lookup(const std::array<const char*, N>& texts, int index) {
  return index >= 0 && index < static_cast<int>(N) ? texts[static_cast<std::size_t>(index)]
                                                   : "Unknown";
}

}  // namespace

const char* StatusText(std::uint8_t status) {
  static constexpr std::array<const char*, 3> kTexts = {"Waiting...", "Stop", "Running..."};
  return Lookup(kTexts, status - 1);
}

const char* TaskTypeText(std::uint8_t taskType) { return ::brevanto::TaskTypeText(taskType); }

const char* ScheduleKindText(std::uint8_t scheduleKind) {
  static constexpr std::array<const char*, 6> kTexts = {"Manual",      "Every Day",    "Every Week",
                                                        "Every Month", "Special Date", "Minutes"};
  return Lookup(kTexts, scheduleKind);
}

}  // namespace brevanto::ui
