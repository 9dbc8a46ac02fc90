#pragma once
// The one seam for reading the time. Everything that needs "now" or needs to wait
// takes a Clock&, so tests run schedules and runners in simulated time.

#include <chrono>
#include <cstdint>
#include <stop_token>

#include "core/DateTime.h"

namespace brevanto {

class Clock {
 public:
  virtual ~Clock() = default;
  // Local wall-clock time, to the second, with DayOfWeek filled in.
  virtual TaskDateTime Now() = 0;
  // Monotonic milliseconds, for time-outs and durations.
  virtual std::int64_t MonotonicMs() = 0;
  // Waits about `ms` milliseconds. A simulated clock advances instead of sleeping.
  virtual void SleepMs(int ms) = 0;
  // Waits about `ms` milliseconds, returning early once `stop` is requested. Returns false
  // when the stop request ended the wait. The default sleeps in slices of 10 ms.
  virtual bool SleepUnlessStopped(int ms, std::stop_token stop);
};

// The real local clock. Thread-safe.
Clock& SystemClock();

}  // namespace brevanto
