#pragma once
// CProgressTracker: turns a worker's progress calls into a TaskProgress whose percentage
// never goes backwards. The plan is an estimate (table statistics, file sizes), so an
// item counts for its estimate however many units it really had: finishing an item moves
// the run by exactly its share, and finishing every planned item reaches 100 %.
// Used by one thread at a time; copy the snapshot to share it.

#include <cstdint>
#include <string>

#include "tasks/TaskRunState.h"

namespace brevanto {

class CProgressTracker {
 public:
  // The estimated size of the whole run: the sum of its items' shares (an item's share
  // is its estimate, at least 1).
  void Plan(std::int64_t totalUnits);
  // Finishes the current item, if any, and starts the next one.
  void StartItem(const std::string& name, std::int64_t estimatedUnits);
  void Advance(std::int64_t units, std::int64_t bytesWritten);
  // Finishes the current item (its whole share counts as done).
  void FinishItem();
  // The run ended as planned: 100 %.
  void Complete();

  const TaskProgress& Snapshot() const { return m_progress; }

  // An item's share of the plan.
  static std::int64_t ShareOf(std::int64_t estimatedUnits) {
    return estimatedUnits > 0 ? estimatedUnits : 1;
  }

 private:
  void Recompute();

  TaskProgress m_progress;
  std::int64_t m_planned = 0;
  std::int64_t m_finishedShares = 0;  // the shares of the items already finished
  bool m_inItem = false;
};

}  // namespace brevanto
