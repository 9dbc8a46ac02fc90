#include "engines/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevanto {

namespace {

Status ErrnoStatus(int error, const std::string& path) {
  return Status::Error(std::string(std::strerror(error)) + " - " + path);
}

}  // namespace

COutputFile::~COutputFile() {
  Close();
}

COutputFile::COutputFile(COutputFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_path(std::move(other.m_path)),
      m_size(std::exchange(other.m_size, 0)) {}

COutputFile& COutputFile::operator=(COutputFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
    m_path = std::move(other.m_path);
    m_size = std::exchange(other.m_size, 0);
  }
  return *this;
}

Status COutputFile::Create(const std::string& path, bool ownerOnly) {
  Close();
  m_path = path;
  if (path.empty()) return Status::Error("No file name - " + path);
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, ownerOnly ? 0600 : 0666);
  if (fd < 0) return ErrnoStatus(errno, path);
  if (ownerOnly) (void)::fchmod(fd, 0600);  // an existing file keeps its mode otherwise
  m_fd = fd;
  m_size = 0;
  return Status::Ok();
}

Status COutputFile::OpenForAppend(const std::string& path) {
  Close();
  m_path = path;
  if (path.empty()) return Status::Error("No file name - " + path);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return ErrnoStatus(errno, path);
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    const int error = errno;
    ::close(fd);
    return ErrnoStatus(error, path);
  }
  m_fd = fd;
  m_size = static_cast<std::uint64_t>(end);
  return Status::Ok();
}

Status COutputFile::Write(std::string_view bytes) {
  if (m_fd < 0) return ErrnoStatus(EBADF, m_path);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // A statement is written whole or not at all: drop the part that made it.
      if (done > 0) {
        (void)::ftruncate(m_fd, static_cast<off_t>(m_size));
        (void)::lseek(m_fd, static_cast<off_t>(m_size), SEEK_SET);
      }
      return ErrnoStatus(error, m_path);
    }
    done += static_cast<std::size_t>(n);
  }
  m_size += done;
  return Status::Ok();
}

void COutputFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

}  // namespace brevanto
