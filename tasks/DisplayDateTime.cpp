#include "tasks/DisplayDateTime.h"

#include <array>

namespace brevanto {

namespace {

constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// Numbers above 9 print as they are, everything else with a leading zero (so -1 is "0-1").
std::string TwoDigits(int value) {
  return value > 9 ? std::to_string(value) : "0" + std::to_string(value);
}

std::string MonthName(int month) {
  return month >= 1 && month <= 12 ? kMonthNames[month - 1] : "Unknown";
}

std::string DayName(int dayOfWeek) {
  return dayOfWeek >= 1 && dayOfWeek <= 7 ? kDayNames[dayOfWeek - 1] : "Unknown";
}

}  // namespace

std::string FormatDisplayDateTime(int year, int month, int day, int hour, int minute, int second,
                                  int dayOfWeek, int dateStyle, int timeStyle, bool withSeconds) {
  std::string date;
  switch (dateStyle) {
    case 2: date = TwoDigits(day) + " " + MonthName(month) + ", " + std::to_string(year); break;
    case 3: date = std::to_string(year) + "-" + TwoDigits(month) + "-" + TwoDigits(day); break;
    default: date = MonthName(month) + " " + TwoDigits(day) + ", " + std::to_string(year); break;
  }

  std::string time;
  if (timeStyle == 1 || timeStyle == 2) {
    const bool afternoon = hour >= 12;
    // The 12-hour style counts hours 0..11 in both halves of the day, so noon is "00 P.M".
    time = TwoDigits(timeStyle == 2 && afternoon ? hour - 12 : hour) + ":" + TwoDigits(minute);
    if (withSeconds) time += ":" + TwoDigits(second);
    if (timeStyle == 2) time += afternoon ? " P.M" : " A.M";
  }
  return DayName(dayOfWeek) + ", " + date + " " + time;
}

}  // namespace brevanto
