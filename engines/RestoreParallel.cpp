#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "engines/ParallelItems.h"
#include "engines/ProgressPlan.h"
#include "engines/RestoreRun.h"
#include "engines/ScriptWorker.h"
#include "engines/SqlInput.h"

namespace brevanto {
namespace {

// Whether the file starts as the dumps this program writes do: such a file creates and
// selects its own database, so a set of them may be restored in any order.
bool IsOwnDumpFile(std::unique_ptr<CSqlInput> input) {
  static constexpr std::string_view kHeader = "-- Brevanto ";
  if (!input) return false;
  char buffer[64];
  std::size_t have = 0;
  while (have < kHeader.size()) {
    std::size_t got = 0;
    if (!input->Read(buffer + have, sizeof buffer - have, got).ok() || got == 0) return false;
    have += got;
  }
  return std::string_view(buffer, kHeader.size()) == kHeader;
}

}  // namespace

std::optional<RestoreStep> CRestoreRun::RestoreInParallel(
    const std::vector<RestoreFileItem>& files) {
  std::vector<const RestoreFileItem*> items;
  for (const RestoreFileItem& file : files) {
    if (file.IconIndex == 0) items.push_back(&file);
  }
  if (m_advanced.Threads < 2 || items.size() < 2) return std::nullopt;
  for (const RestoreFileItem* file : items) {
    std::unique_ptr<CSqlInput> input;
    (void)OpenInput(file->FullPath, input);  // a file that cannot be opened is no dump of ours
    if (!IsOwnDumpFile(std::move(input))) return std::nullopt;
  }
  // Largest first, so no lane is left with a big file while the others have finished.
  std::vector<std::pair<std::int64_t, const RestoreFileItem*>> bySize;
  for (const RestoreFileItem* file : items) bySize.emplace_back(FileSizeOf(*file), file);
  std::stable_sort(bySize.begin(), bySize.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t i = 0; i < items.size(); ++i) items[i] = bySize[i].second;
  const int wanted = static_cast<int>(std::min<std::size_t>(m_advanced.Threads, items.size()));
  std::vector<std::unique_ptr<RestoreLane>> more;
  for (int i = 1; i < wanted; ++i) {
    auto lane = std::make_unique<RestoreLane>();
    MySqlError error;
    if (!ConnectServer(m_request.Server, lane->connection, error, ConnectPurpose::Statements)) {
      m_context.Log(LogLevel::Warning, WithServerError("Could not open another connection; " +
                                                           std::to_string(i) + " at a time",
                                                       error));
      break;
    }
    if (m_watchdog) m_watchdog->Watch(lane->connection);
    UseScriptCharacterSet(lane->connection);
    if (m_fastLoad) (void)BeginFastLoad(lane->connection);
    more.push_back(std::move(lane));
  }
  std::vector<RestoreLane*> lanes{&m_main};
  for (const auto& lane : more) lanes.push_back(lane.get());
  for (RestoreLane* lane : lanes) lane->shared = lanes.size() > 1;
  // A stop must reach every session.
  std::vector<std::shared_ptr<ConnectionCanceler>> cancelers;
  for (RestoreLane* lane : lanes) cancelers.push_back(lane->connection.CancelHandle());
  m_context.SetCancelHook([cancelers] {
    for (const auto& canceler : cancelers) canceler->Cancel();
  });
  std::atomic<RestoreStep> end{RestoreStep::Continue};
  RunInParallel(static_cast<int>(lanes.size()), items.size(), [&](int lane, std::size_t index) {
    RestoreStep next = RestoreItem(*lanes[lane], *items[index]);
    if (next == RestoreStep::Continue && m_context.StopRequested()) next = RestoreStep::Cancel;
    if (next == RestoreStep::Continue) return true;
    RestoreStep expected = RestoreStep::Continue;
    end.compare_exchange_strong(expected, next);
    return false;
  });
  m_context.SetCancelHook([canceler = m_connection.CancelHandle()] { canceler->Cancel(); });
  m_main.shared = false;
  // Views that waited for tables of other files are created once all files are in.
  for (const auto& lane : more) {
    for (DeferredView& view : lane->deferred) m_main.deferred.push_back(std::move(view));
  }
  return end.load();
}

}  // namespace brevanto
