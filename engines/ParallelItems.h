#pragma once
// RunInParallel: works through a list of items with a fixed set of lanes (one thread
// each, lane 0 on the calling thread), each lane taking the next item not yet taken.
// A lane's work returns false to stop every lane after its current item.

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace brevanto {

// REQUIRES: lanes >= 1. `work(lane, item)` runs on lane's thread, never on two threads
// for the same lane at once. Returns false when some work asked to stop.
inline bool RunInParallel(int lanes, std::size_t items,
                          const std::function<bool(int lane, std::size_t item)>& work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopped{false};
  auto lane = [&](int index) {
    while (!stopped) {
      const std::size_t item = next++;
      if (item >= items) return;
      if (!work(index, item)) stopped = true;
    }
  };
  std::vector<std::jthread> threads;
  for (int index = 1; index < lanes; ++index) threads.emplace_back(lane, index);
  lane(0);
  threads.clear();  // joins
  return !stopped;
}

}  // namespace brevanto
