#include "schedule/ProgressTracker.h"

#include <algorithm>

namespace brevanto {

void CProgressTracker::Plan(std::int64_t totalUnits) {
  m_planned = std::max<std::int64_t>(totalUnits, 0);
  m_progress.Active = true;
  Recompute();
}

void CProgressTracker::StartItem(const std::string& name, std::int64_t estimatedUnits) {
  FinishItem();
  m_inItem = true;
  m_progress.Active = true;
  m_progress.Item = name;
  m_progress.ItemDone = 0;
  m_progress.ItemTotal = std::max<std::int64_t>(estimatedUnits, 0);
  Recompute();
}

void CProgressTracker::Advance(std::int64_t units, std::int64_t bytesWritten) {
  if (units > 0) {
    m_progress.ItemDone += units;
    m_progress.RowsDone += units;
  }
  if (bytesWritten > 0) m_progress.BytesWritten += bytesWritten;
  Recompute();
}

void CProgressTracker::FinishItem() {
  if (!m_inItem) return;
  m_inItem = false;
  m_finishedShares += ShareOf(m_progress.ItemTotal);
  Recompute();
}

void CProgressTracker::Complete() {
  FinishItem();
  m_progress.Permille = 1000;
}

void CProgressTracker::Recompute() {
  if (m_planned <= 0) return;
  std::int64_t done = m_finishedShares;
  // Within an item, rows beyond its estimate wait for the item's end.
  if (m_inItem) done += std::min(m_progress.ItemDone, ShareOf(m_progress.ItemTotal));
  // Before the end a stale estimate may be short: hold at 99.9 % rather than claim 100 %.
  const std::int64_t ceiling = m_inItem || done < m_planned ? 999 : 1000;
  const std::int64_t permille = std::min<std::int64_t>(done * 1000 / m_planned, ceiling);
  m_progress.Permille = std::max(m_progress.Permille, static_cast<int>(permille));
}

}  // namespace brevanto
