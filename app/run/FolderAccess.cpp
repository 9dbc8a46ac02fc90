#include "app/run/FolderAccess.h"

#include "app/run/Output.h"
#include "core/Clock.h"

namespace brevanto::run {

FolderAccess TakeFolder(const std::string& folder, const char* kind, int waitSeconds,
                        bool shareWithScheduler, Clock& clock) {
  constexpr int kPollMs = 250;
  const std::int64_t start = clock.MonotonicMs();
  bool told = false;
  for (;;) {
    FolderAccess access;
    access.lock = InstanceLock::TryAcquire(folder, kind);
    if (access.lock) {
      access.granted = true;
      return access;
    }
    const LockHolder holder = InstanceLock::Holder(folder);
    if (shareWithScheduler && holder.kind == kHolderDaemon) {
      access.shared = true;
      access.granted = true;
      return access;
    }
    const bool waitLonger = waitSeconds < 0 || clock.MonotonicMs() - start <
                                                   static_cast<std::int64_t>(waitSeconds) * 1000;
    if (!waitLonger) {
      Error(folder + " is in use by " + InstanceLock::Describe(holder) +
            (holder.kind == kHolderWindow ? "; quit it first, or use its window" : "") +
            (waitSeconds == 0 ? "; --wait waits for it" : ""));
      return access;
    }
    if (!told) {
      Error("waiting for " + InstanceLock::Describe(holder) + " to leave " + folder);
      told = true;
    }
    clock.SleepMs(kPollMs);
  }
}

}  // namespace brevanto::run
