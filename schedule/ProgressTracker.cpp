#include "schedule/ProgressTracker.h"

#include <algorithm>

namespace brevanto {

void CProgressTracker::Plan(std::int64_t totalUnits) {
  m_planned = std::max<std::int64_t>(totalUnits, 0);
  m_progress.Active = true;
  Recompute();
}

void CProgressTracker::StartItem(const std::string& name, std::int64_t estimatedUnits,
                                 Lane lane) {
  FinishItem(lane);
  const std::int64_t total = std::max<std::int64_t>(estimatedUnits, 0);
  m_underWay[lane] = Item{0, total};
  m_shown = lane;
  m_progress.Active = true;
  m_progress.Item = name;
  m_progress.ItemDone = 0;
  m_progress.ItemTotal = total;
  Recompute();
}

void CProgressTracker::Advance(std::int64_t units, std::int64_t bytesWritten, Lane lane) {
  if (units > 0) {
    m_progress.RowsDone += units;
    if (auto found = m_underWay.find(lane); found != m_underWay.end()) {
      found->second.Done += units;
      if (lane == m_shown) m_progress.ItemDone = found->second.Done;
    }
  }
  if (bytesWritten > 0) m_progress.BytesWritten += bytesWritten;
  Recompute();
}

void CProgressTracker::FinishItem(Lane lane) {
  const auto found = m_underWay.find(lane);
  if (found == m_underWay.end()) return;
  m_finishedShares += ShareOf(found->second.Total);
  m_underWay.erase(found);
  Recompute();
}

void CProgressTracker::Complete() {
  while (!m_underWay.empty()) FinishItem(m_underWay.begin()->first);
  m_progress.Permille = 1000;
}

void CProgressTracker::Recompute() {
  if (m_planned <= 0) return;
  std::int64_t done = m_finishedShares;
  // Within an item, rows beyond its estimate wait for the item's end.
  for (const auto& [lane, item] : m_underWay) done += std::min(item.Done, ShareOf(item.Total));
  // Before the end a stale estimate may be short: hold at 99.9 % rather than claim 100 %.
  const std::int64_t ceiling = !m_underWay.empty() || done < m_planned ? 999 : 1000;
  const std::int64_t permille = std::min<std::int64_t>(done * 1000 / m_planned, ceiling);
  m_progress.Permille = std::max(m_progress.Permille, static_cast<int>(permille));
}

}  // namespace brevanto
