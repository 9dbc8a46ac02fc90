#include "core/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "core/ApplicationFolder.h"

namespace brevanto {

std::string InstanceLock::LockFilePath(const std::string& folder) {
  return WithTrailingSlash(folder) + ".brevanto.lock";
}

std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::string& folder) {
  const int fd = ::open(LockFilePath(folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  // The file stays: removing it would let a third process lock a new file while a
  // second still waits on the old one.
  ::flock(m_fd, LOCK_UN);
  ::close(m_fd);
}

}  // namespace brevanto
