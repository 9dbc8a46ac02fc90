#include "core/Clock.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

namespace brevanto {
namespace {

class RealClock final : public Clock {
 public:
  TaskDateTime Now() override {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    TaskDateTime d;
    d.Year = tm.tm_year + 1900;
    d.Month = tm.tm_mon + 1;
    d.Day = tm.tm_mday;
    d.Hour = tm.tm_hour;
    d.Minute = tm.tm_min;
    d.Second = tm.tm_sec;
    d.DayOfWeek = tm.tm_wday + 1;
    return d;
  }
  std::int64_t MonotonicMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  bool SleepUnlessStopped(int ms, std::stop_token stop) override {
    // Woken by the stop request alone, so the pair is private to the sleeping thread and
    // reused: a worker polling ten times a second allocates nothing per poll.
    thread_local std::mutex mutex;
    thread_local std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, std::chrono::milliseconds(ms), [] { return false; });
    return !stop.stop_requested();
  }
};

}  // namespace

bool Clock::SleepUnlessStopped(int ms, std::stop_token stop) {
  while (ms > 0) {
    if (stop.stop_requested()) return false;
    int slice = std::min(ms, 10);
    SleepMs(slice);
    ms -= slice;
  }
  return !stop.stop_requested();
}

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace brevanto
