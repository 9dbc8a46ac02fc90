#pragma once
// A simulated clock for tests. Time moves only when a test says so, so schedules and
// runners run fast and give the same result every time.
//
// Two ways time moves:
//  - Advance(ms) / SetNow(): from the test. Threads sleeping in SleepMs or
//    SleepUnlessStopped wake once the simulated time reaches their end (a stop request
//    wakes SleepUnlessStopped at once).
//  - With SetAutoAdvance(true), a sleep moves the time forward by its own length and
//    returns at once: for single-threaded code that waits.
// WaitForSleepers() lets a test wait (in real time) until worker threads have reached
// their next sleep, so each Advance meets them at a known point.
// Thread-safe. Wall time is kept as UTC-like fields: no time zone, no DST.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <stop_token>

#include "core/Clock.h"
#include "core/DateTime.h"
#include "core/UtcTime.h"

namespace brevanto::test {

inline TaskDateTime MakeTime(int year, int month, int day, int hour = 0, int minute = 0,
                             int second = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  std::time_t t = timegm(&tm);
  gmtime_r(&t, &tm);
  return TaskDateTime{year, month, day, hour, minute, second, tm.tm_wday + 1};
}

class FakeClock final : public Clock {
 public:
  explicit FakeClock(const TaskDateTime& start = MakeTime(2024, 1, 1, 12, 0, 0)) { SetNow(start); }

  TaskDateTime Now() override {
    std::lock_guard lock(m_lock);
    std::time_t t = static_cast<std::time_t>(m_wallBase + m_ms / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return TaskDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                        tm.tm_min,         tm.tm_sec,     tm.tm_wday + 1};
  }

  std::int64_t MonotonicMs() override {
    std::lock_guard lock(m_lock);
    return m_ms;
  }

  void SleepMs(int ms) override { SleepUnlessStopped(ms, std::stop_token()); }

  bool SleepUnlessStopped(int ms, std::stop_token stop) override {
    std::unique_lock lock(m_lock);
    if (m_autoAdvance) {
      if (stop.stop_requested()) return false;
      m_ms += ms;
      m_changed.notify_all();
      return true;
    }
    const std::int64_t wakeAt = m_ms + ms;
    auto sleeper = m_sleepers.emplace(wakeAt, 0);
    m_changed.notify_all();
    m_changed.wait(lock, stop, [&] { return m_ms >= wakeAt; });
    m_sleepers.erase(sleeper);
    m_changed.notify_all();
    return !stop.stop_requested();
  }

  // Moves the simulated time forward, waking the sleepers it reaches.
  void Advance(std::int64_t ms) {
    std::lock_guard lock(m_lock);
    m_ms += ms;
    m_changed.notify_all();
  }

  // Sets the wall time (a clock change); the monotonic time does not move.
  void SetNow(const TaskDateTime& now) {
    std::tm tm = LocalTm(now);  // its fields; timegm reads them as they are
    std::lock_guard lock(m_lock);
    m_wallBase = static_cast<std::int64_t>(timegm(&tm)) - m_ms / 1000;
  }

  void SetAutoAdvance(bool on) {
    std::lock_guard lock(m_lock);
    m_autoAdvance = on;
  }

  // Waits in real time until at least `count` threads sleep with an end still ahead of
  // the simulated time. False after `timeout` (the test then fails rather than hangs).
  bool WaitForSleepers(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return SleepersAheadLocked() >= count; });
  }

  // The threads sleeping with an end still ahead of the simulated time.
  int SleepersAhead() {
    std::lock_guard lock(m_lock);
    return SleepersAheadLocked();
  }

 private:
  int SleepersAheadLocked() const {
    return static_cast<int>(std::distance(m_sleepers.upper_bound(m_ms), m_sleepers.end()));
  }

  std::mutex m_lock;
  std::condition_variable_any m_changed;
  std::int64_t m_ms = 0;        // monotonic, from construction
  std::int64_t m_wallBase = 0;  // wall seconds at m_ms == 0
  bool m_autoAdvance = false;
  std::multimap<std::int64_t, int> m_sleepers;  // end of each sleep in progress
};

}  // namespace brevanto::test
