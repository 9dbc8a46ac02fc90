#pragma once
// Holds shutdown and suspend off while a task runs: a "block" inhibitor lock from logind
// (org.freedesktop.login1 on the system bus), which stops systemctl poweroff/suspend and
// the desktop's own buttons alike, where answering the X11 session manager only stops a
// log-off. The lock is the file descriptor logind hands out; closing it releases it.
// Qt-free; one owner thread.

#include "core/Status.h"

namespace brevanto::ui {

class ShutdownInhibitor {
 public:
  ShutdownInhibitor() = default;
  ~ShutdownInhibitor();
  ShutdownInhibitor(const ShutdownInhibitor&) = delete;
  ShutdownInhibitor& operator=(const ShutdownInhibitor&) = delete;

  // Takes the lock when `wanted` and it is not held, releases it when not `wanted`. An
  // Error says why logind refused or could not be reached; a failed take is tried again
  // at the next call.
  Status Hold(bool wanted);
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

}  // namespace brevanto::ui
