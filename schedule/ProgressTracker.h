#pragma once
// CProgressTracker: turns a worker's progress calls into a TaskProgress whose percentage
// never goes backwards. The plan is an estimate (table statistics, file sizes), so an
// item counts for its estimate however many units it really had: finishing an item moves
// the run by exactly its share, and finishing every planned item reaches 100 %.
// A run that works on several items at a time (one per thread, its lanes) has one item
// under way per lane: each lane's calls count for its own item. Not thread-safe: the
// caller serialises the calls; copy the snapshot to share it.

#include <cstdint>
#include <map>
#include <string>
#include <thread>

#include "tasks/TaskRunState.h"

namespace brevanto {

class CProgressTracker {
 public:
  using Lane = std::thread::id;

  // The estimated size of the whole run: the sum of its items' shares (an item's share
  // is its estimate, at least 1).
  void Plan(std::int64_t totalUnits);
  // Finishes the lane's current item, if any, and starts its next one. The snapshot
  // names the item started last.
  void StartItem(const std::string& name, std::int64_t estimatedUnits,
                 Lane lane = std::this_thread::get_id());
  void Advance(std::int64_t units, std::int64_t bytesWritten,
               Lane lane = std::this_thread::get_id());
  // Finishes the lane's current item (its whole share counts as done).
  void FinishItem(Lane lane = std::this_thread::get_id());
  // The run ended as planned: 100 %.
  void Complete();

  const TaskProgress& Snapshot() const { return m_progress; }

  // An item's share of the plan.
  static std::int64_t ShareOf(std::int64_t estimatedUnits) {
    return estimatedUnits > 0 ? estimatedUnits : 1;
  }

 private:
  struct Item {
    std::int64_t Done = 0;
    std::int64_t Total = 0;
  };

  void Recompute();

  TaskProgress m_progress;
  std::int64_t m_planned = 0;
  std::int64_t m_finishedShares = 0;  // the shares of the items already finished
  std::map<Lane, Item> m_underWay;    // each lane's current item
  Lane m_shown;                       // the lane whose item the snapshot names
};

}  // namespace brevanto
