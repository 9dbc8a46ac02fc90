#pragma once
// Clock::Now() and every stored TaskDateTime are local wall time; records meant to be
// read elsewhere (a copy's manifest) say when in UTC.

#include <ctime>
#include <string>

#include "core/DateTime.h"

namespace brevanto {

// `local` (this machine's zone) as "YYYY-MM-DDTHH:MM:SSZ". In the hour a DST change
// repeats, the zone's own choice between the two moments is taken. Empty for "never" or
// a time the zone cannot place.
std::string UtcIso8601(const TaskDateTime& local);

// `local`'s fields as a std::tm for mktime, whether DST applies left to the zone.
std::tm LocalTm(const TaskDateTime& local);

}  // namespace brevanto
