#include "core/InstanceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "core/ApplicationFolder.h"

namespace brevanto {

std::string InstanceLock::LockFilePath(const std::string& folder) {
  return WithTrailingSlash(folder) + ".brevanto.lock";
}

std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::string& folder,
                                                       const std::string& holderKind) {
  const int fd = ::open(LockFilePath(folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  // Written in place, not renamed: the lock belongs to this very file. Only the holder
  // writes it, and the text is a hint for messages, so a torn write costs nothing.
  const std::string text = holderKind + " " + std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.data(), text.size(), 0);
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

std::unique_ptr<InstanceLock> InstanceLock::LockTaskFile(const std::string& folder) {
  const std::string path = WithTrailingSlash(folder) + ".brevanto.tasks.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return nullptr;
    }
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

LockHolder InstanceLock::Holder(const std::string& folder) {
  LockHolder holder;
  const int fd = ::open(LockFilePath(folder).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return holder;
  char buffer[64];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return holder;
  buffer[n] = '\0';
  char kind[16];
  long pid = 0;
  if (std::sscanf(buffer, "%15s %ld", kind, &pid) == 2 && pid > 0) {
    holder.kind = kind;
    holder.pid = pid;
  }
  return holder;
}

std::string InstanceLock::Describe(const LockHolder& holder) {
  std::string who;
  if (holder.kind == kHolderWindow) {
    who = "the Brevanto window";
  } else if (holder.kind == kHolderDaemon) {
    who = "the Brevanto scheduler (brevanto-run --daemon)";
  } else if (holder.kind == kHolderRun) {
    who = "another brevanto-run";
  } else {
    return "another Brevanto program";
  }
  return who + " (process " + std::to_string(holder.pid) + ")";
}

InstanceLock::~InstanceLock() {
  // The file stays: removing it would let a third process lock a new file while a
  // second still waits on the old one.
  ::flock(m_fd, LOCK_UN);
  ::close(m_fd);
}

}  // namespace brevanto
