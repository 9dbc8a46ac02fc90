#pragma once
// RunInParallel: works through a list of items with a fixed set of lanes (one thread
// each, lane 0 on the calling thread), each lane taking the next item not yet taken.
// A lane's work returns false to stop every lane after its current item.

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace brevanto {

// REQUIRES: lanes >= 1. `work(lane, item)` runs on lane's thread, never on two threads
// for the same lane at once. Returns false when some work asked to stop. What a lane's
// work throws stops every lane after its current item and is thrown again here, on the
// calling thread, once all lanes ended: an exception on a thread of its own would end
// the process, while the run's own thread reports it as the run's error.
inline bool RunInParallel(int lanes, std::size_t items,
                          const std::function<bool(int lane, std::size_t item)>& work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopped{false};
  std::mutex thrownLock;
  std::exception_ptr thrown;  // the first exception of any lane
  auto lane = [&](int index) {
    try {
      while (!stopped) {
        const std::size_t item = next++;
        if (item >= items) return;
        if (!work(index, item)) stopped = true;
      }
    } catch (...) {
      std::lock_guard lock(thrownLock);
      if (!thrown) thrown = std::current_exception();
      stopped = true;
    }
  };
  std::vector<std::jthread> threads;
  for (int index = 1; index < lanes; ++index) {
    try {
      threads.emplace_back(lane, index);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the lanes started take every item
    }
  }
  lane(0);
  threads.clear();  // joins
  if (thrown) std::rethrow_exception(thrown);
  return !stopped;
}

}  // namespace brevanto
