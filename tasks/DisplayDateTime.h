#pragma once
// The display form of a moment, in the date and time styles of the options. Shared by
// the task list, the status-bar clock, the log viewer and its exports, and the summaries.

#include <string>

#include "core/DateTime.h"

namespace brevanto {

// dateStyle 1 "Thu, Jan 05, 2006", 2 "Thu, 05 Jan, 2006", 3 "Thu, 2006-01-05" (others as 1);
// timeStyle 1 "09:07[:03]", 2 "09:07[:03] A.M" (hours 12..23 print less 12 with " P.M"),
// any other style prints no time. Day name and date are followed by one space either way.
std::string FormatDisplayDateTime(int year, int month, int day, int hour, int minute, int second,
                                  int dayOfWeek, int dateStyle, int timeStyle, bool withSeconds);

inline std::string FormatDisplayDateTime(const TaskDateTime& t, int dateStyle, int timeStyle,
                                         bool withSeconds) {
  return FormatDisplayDateTime(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.DayOfWeek,
                               dateStyle, timeStyle, withSeconds);
}

}  // namespace brevanto
