#include "engines/StatementWatchdog.h"

#include <exception>

#include "core/Clock.h"
#include "schedule/TaskRoutine.h"

namespace brevanto {

WatchdogTiming& StatementWatchdogTiming() {
  static WatchdogTiming timing;
  return timing;
}

CStatementWatchdog::CStatementWatchdog(TaskRunContext& context)
    : m_context(context),
      m_clock(context.GetClock()),
      m_timing(StatementWatchdogTiming()),
      m_thread([this](std::stop_token stop) { Loop(stop); }) {}

CStatementWatchdog::~CStatementWatchdog() {
  m_thread.request_stop();
  if (m_thread.joinable()) m_thread.join();
}

void CStatementWatchdog::Watch(const CMySQLConnection& connection) {
  std::lock_guard lock(m_lock);
  m_watched.push_back({connection.CancelHandle()});
}

void CStatementWatchdog::Loop(std::stop_token stop) {
  try {
    while (m_clock.SleepUnlessStopped(m_timing.PollMs, stop)) {
      std::vector<Watched> watched;
      {
        std::lock_guard lock(m_lock);
        watched = m_watched;
      }
      for (Watched& one : watched) {
        if (stop.stop_requested()) return;
        Look(one);
      }
      std::lock_guard lock(m_lock);
      // Watch() only appends: the first entries are those just looked at.
      for (std::size_t i = 0; i < watched.size(); ++i) m_watched[i] = watched[i];
    }
  } catch (const std::exception& e) {
    // An exception here would end the process; the run goes on without the watchdog.
    m_context.Log(LogLevel::Warning, std::string("The statement watchdog stopped: ") + e.what());
  } catch (...) {
    m_context.Log(LogLevel::Warning, "The statement watchdog stopped!");
  }
}

void CStatementWatchdog::Look(Watched& watched) {
  const std::uint64_t statement = watched.Connection->RunningStatement();
  const std::int64_t now = m_clock.MonotonicMs();
  if (statement == 0 || statement != watched.Statement) {
    watched.Statement = statement;
    watched.Since = now;
    watched.CheckedAt = 0;
    return;
  }
  if (now - watched.Since < m_timing.StallAfterMs) return;
  if (watched.CheckedAt != 0 && now - watched.CheckedAt < m_timing.StallAfterMs) return;
  watched.CheckedAt = now;
  using Check = ConnectionCanceler::SessionCheck;
  const Check check = watched.Connection->CheckSession(m_timing.CheckTimeoutSeconds);
  // A statement that ended while the server was asked needs nothing.
  if (check == Check::Alive || watched.Connection->RunningStatement() != statement) return;
  const std::string host = watched.Connection->Host();
  const std::string seconds = std::to_string(m_timing.StallAfterMs / 1000);
  m_context.Log(LogLevel::Error,
                check == Check::Gone
                    ? "The MySQL server (" + host + ") no longer has the session of a statement "
                          "that ran longer than " + seconds + " s; the run is ended!"
                    : "The MySQL server (" + host + ") stopped answering: a statement ran longer "
                          "than " + seconds + " s and a check on a new connection got no answer "
                          "within " + std::to_string(m_timing.CheckTimeoutSeconds) +
                          " s; the run is ended!");
  watched.Connection->CutOff();
}

}  // namespace brevanto
