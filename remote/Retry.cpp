#include "remote/Retry.h"

#include <algorithm>

namespace brevanto {

Status WithRetries(const TransferControl& control, const std::string& what,
                   const std::function<Attempt()>& attempt) {
  const RetryPolicy& policy = control.Retry;
  int delayMs = std::max(policy.FirstDelayMs, 0);
  for (int tried = 1;; ++tried) {
    Attempt result = attempt();
    if (result.Result.ok() || !result.Transient || result.Stalled ||
        tried >= std::max(policy.Attempts, 1)) {
      return std::move(result.Result);
    }
    if (control.Warn) {
      control.Warn(what + " failed (" + result.Result.message() + "); retrying in " +
                   std::to_string((delayMs + 999) / 1000) + " s");
    }
    // In slices, so a stop request is not kept waiting for a long backoff.
    for (int waited = 0; waited < delayMs; waited += 100) {
      if (control.StopRequested && control.StopRequested()) return Status::Error("Stopped.");
      control.TheClock->SleepMs(std::min(100, delayMs - waited));
    }
    delayMs = std::min(delayMs * 2, std::max(policy.MaxDelayMs, policy.FirstDelayMs));
  }
}

}  // namespace brevanto
