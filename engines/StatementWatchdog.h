#pragma once
// CStatementWatchdog: notices a server that stopped answering a run's statement. Statements
// may rightly run for hours, so none is cut by a read time-out; instead, while one runs
// longer than a minute, a thread of the watchdog asks the server on a short connection of
// its own whether the statement's session is still there. A check that gets no answer
// within the connect time-out (a middlebox that keeps the TCP session but forwards
// nothing, a server that hangs), or a session the server no longer has, is logged as an
// Error and the statement's socket is cut, so the run ends instead of waiting forever.
// Lives on the run's thread; destroy it before the connections it watches.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engines/MySqlConnection.h"

namespace brevanto {

class Clock;
class TaskRunContext;

struct WatchdogTiming {
  std::int64_t StallAfterMs = 60'000;  // a statement running this long is checked
  int PollMs = 1'000;
  unsigned int CheckTimeoutSeconds = kConnectTimeoutSeconds;
};

// The timing every run's watchdog uses; tests shorten it. Read when a watchdog starts.
WatchdogTiming& StatementWatchdogTiming();

class CStatementWatchdog {
 public:
  // `context` must be safe to log to from another thread (a CErrorCountingContext).
  explicit CStatementWatchdog(TaskRunContext& context);
  ~CStatementWatchdog();
  CStatementWatchdog(const CStatementWatchdog&) = delete;
  CStatementWatchdog& operator=(const CStatementWatchdog&) = delete;

  // Watches `connection`'s statements from now on. REQUIRES: it is open, and stays so
  // while this watchdog lives (or is watched through its canceler until then).
  void Watch(const CMySQLConnection& connection);

 private:
  struct Watched {
    std::shared_ptr<ConnectionCanceler> Connection;
    std::uint64_t Statement = 0;  // the statement last seen running
    std::int64_t Since = 0;       // when it was first seen
    std::int64_t CheckedAt = 0;   // the last check of it, 0 none
  };

  void Loop(std::stop_token stop);
  void Look(Watched& watched);

  TaskRunContext& m_context;
  Clock& m_clock;
  const WatchdogTiming m_timing;
  std::mutex m_lock;  // guards m_watched
  std::vector<Watched> m_watched;
  std::jthread m_thread;  // last: started once the members above exist
};

}  // namespace brevanto
