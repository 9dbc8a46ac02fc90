#pragma once
// Retries of one remote request or part: exponential backoff on transient faults, none on
// the rest.

#include <functional>
#include <string>

#include "core/Status.h"
#include "remote/RemoteStore.h"

namespace brevanto {

struct Attempt {
  Status Result;
  bool Transient = false;  // worth another try (reset, time-out, 500/502/503, SlowDown)
  // No byte moved for RetryPolicy::StallSeconds. Never retried: a link that stalls once
  // mostly stalls again, and a run must fail soon after the stall time, not minutes later;
  // its next run sends the copy first.
  bool Stalled = false;
};

// Runs `attempt` until it succeeds, fails for good (or stalls), or RetryPolicy::Attempts tries are
// spent, waiting FirstDelayMs, then twice as long each time up to MaxDelayMs, on the
// control's clock. Each retry is told to control.Warn as "<what> failed (<cause>); retrying
// in N s". A stop request ends the waiting with "Stopped." and no further try. The last
// failure is returned.
Status WithRetries(const TransferControl& control, const std::string& what,
                   const std::function<Attempt()>& attempt);

}  // namespace brevanto
