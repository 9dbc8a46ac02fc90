#pragma once
// InstanceLock: an exclusive flock() on "<folder>/.brevanto.lock", held by every program
// that writes the task file of an application folder (the windowed program and the
// headless scheduler for their whole life, brevanto-run while it changes the folder), so
// two of them never overwrite each other's saves. The kernel drops the lock when the
// process ends, however it ends. The holder writes its kind and process id into the file
// so that a refused program can say who holds the folder.

#include <memory>
#include <string>

namespace brevanto {

// Kinds of holder, as written into the lock file.
inline constexpr const char* kHolderWindow = "window";
inline constexpr const char* kHolderRun = "run";
inline constexpr const char* kHolderDaemon = "daemon";

struct LockHolder {
  std::string kind;  // one of the kinds above; empty when unknown
  long pid = 0;      // 0 when unknown
};

class InstanceLock {
 public:
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // The lock on `folder` (with or without its trailing "/"), recording `holderKind` and
  // this process's id, or null when another process holds it or the lock file cannot be
  // created (the folder is missing or read-only). Does not wait.
  static std::unique_ptr<InstanceLock> TryAcquire(const std::string& folder,
                                                  const std::string& holderKind = kHolderRun);

  // The folder's task-file lock, "<folder>/.brevanto.tasks.lock", held only around a
  // read-change-write of the task file by programs that share it; waits for it. Null when
  // the lock file cannot be created.
  static std::unique_ptr<InstanceLock> LockTaskFile(const std::string& folder);

  // Who holds (or last held) the lock of `folder`, as its lock file says.
  static LockHolder Holder(const std::string& folder);

  // "the Brevanto window (process 12)" and the like, for messages.
  static std::string Describe(const LockHolder& holder);

  // The lock file of `folder`.
  static std::string LockFilePath(const std::string& folder);

 private:
  explicit InstanceLock(int fd) : m_fd(fd) {}
  int m_fd;
};

}  // namespace brevanto
