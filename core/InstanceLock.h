#pragma once
// InstanceLock: an exclusive flock() on "<folder>/.brevanto.lock", held by every program
// that writes the task file of an application folder (the windowed program for its whole
// life, brevanto-run while it runs a task), so two of them never overwrite each other's
// saves. The kernel drops the lock when the process ends, however it ends.

#include <memory>
#include <string>

namespace brevanto {

class InstanceLock {
 public:
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // The lock on `folder` (with or without its trailing "/"), or null when another
  // process holds it or the lock file cannot be created (the folder is missing or
  // read-only). Does not wait.
  static std::unique_ptr<InstanceLock> TryAcquire(const std::string& folder);

  // The lock file of `folder`.
  static std::string LockFilePath(const std::string& folder);

 private:
  explicit InstanceLock(int fd) : m_fd(fd) {}
  int m_fd;
};

}  // namespace brevanto
