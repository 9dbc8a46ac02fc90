#include "core/UtcTime.h"

#include <ctime>

namespace brevanto {

std::tm LocalTm(const TaskDateTime& local) {
  std::tm tm{};
  tm.tm_year = local.Year - 1900;
  tm.tm_mon = local.Month - 1;
  tm.tm_mday = local.Day;
  tm.tm_hour = local.Hour;
  tm.tm_min = local.Minute;
  tm.tm_sec = local.Second;
  tm.tm_isdst = -1;  // the zone knows whether DST applied then
  return tm;
}

std::string UtcIso8601(const TaskDateTime& local) {
  if (local.IsNever()) return {};
  std::tm tm = LocalTm(local);
  const std::time_t moment = std::mktime(&tm);
  std::tm utc{};
  if (moment == static_cast<std::time_t>(-1) || gmtime_r(&moment, &utc) == nullptr) return {};
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) return {};
  return text;
}

}  // namespace brevanto
