#include "engines/LocalFileSink.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevanto {

namespace {

constexpr const char* kTemporarySuffix = ".brevanto-part";
constexpr const char* kIncompleteSuffix = ".incomplete";
// Beyond this many runs writing one name something else is wrong; the run fails.
constexpr int kMaxNameSuffix = 10000;

Status ErrnoStatus(int error, const std::string& path) {
  return Status::Error(std::string(std::strerror(error)) + " - " + path);
}

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Where the extension of the name starting at `nameStart` begins: at the last dot, or for
// a compressed file at the dot before it (".sql.gz"), so that numbering and retention see
// the same "<stem>.sql.gz" shape a plain file has; `path.size()` without one.
std::size_t ExtensionStart(const std::string& path, std::size_t nameStart) {
  auto dot = path.rfind('.');
  if (dot == std::string::npos || dot <= nameStart) return path.size();
  const std::string_view last = std::string_view(path).substr(dot);
  if ((last == ".gz" || last == ".zst") && dot > nameStart + 1) {
    const auto inner = path.rfind('.', dot - 1);
    if (inner != std::string::npos && inner > nameStart) return inner;
  }
  return dot;
}

}  // namespace

std::string NumberedName(const std::string& path, int n, const char* extra) {
  std::string name = path;
  if (n > 1) {
    const auto slash = path.rfind('/');
    const std::size_t dot = ExtensionStart(path, slash == std::string::npos ? 0 : slash + 1);
    name = path.substr(0, dot) + "_" + std::to_string(n) + path.substr(dot);
  }
  return name + extra;
}

namespace {

// Renames without ever replacing an existing file. EEXIST when `to` exists.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without RENAME_NOREPLACE: a hard link fails on an existing name too.
  if (::link(from.c_str(), to.c_str()) == 0) {
    (void)::unlink(from.c_str());
    return 0;
  }
  return errno;
}

// Makes a rename in `folder` durable; a failure here loses nothing already renamed.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

std::string UniquePart() {
  static std::atomic<unsigned> counter{0};
  return std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string TemporaryFileTag(const std::string& taskIdentity) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : taskIdentity) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

int RemoveLeftoverTemporaryFiles(const std::string& folder, const std::string& tag) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  const std::string marker = "." + tag + "-";
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] != '.' || !EndsWith(name, kTemporarySuffix) ||
        name.find(marker) == std::string::npos) {
      continue;
    }
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat st {};
    // Its writer holds the lock for as long as it writes; a killed writer held none.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlink(path.c_str()) == 0) {
      ++removed;
    }
    ::close(fd);
  }
  ::closedir(dir);
  return removed;
}

LocalFileSink::~LocalFileSink() {
  if (m_fd >= 0) (void)KeepIncomplete();
}

Status LocalFileSink::Open(const std::string& finalPath, const std::string& tag, bool ownerOnly) {
  if (m_fd >= 0) (void)KeepIncomplete();
  m_path = finalPath;
  m_temporaryPath.clear();
  m_size = 0;
  m_writebackFrom = 0;
  const std::string base = BaseName(finalPath);
  if (finalPath.empty() || base.empty()) return Status::Error("No file name - " + finalPath);
  std::string temporary =
      FolderOf(finalPath) + "/." + base + "." + tag + "-" + UniquePart() + kTemporarySuffix;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        ownerOnly ? 0600 : 0666);
  if (fd < 0) return ErrnoStatus(errno, finalPath);
  (void)::flock(fd, LOCK_EX | LOCK_NB);
  m_fd = fd;
  m_temporaryPath = std::move(temporary);
  return Status::Ok();
}

Status LocalFileSink::Write(std::string_view bytes) {
  if (m_fd < 0) return ErrnoStatus(EBADF, m_path);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // A piece is written whole or not at all: drop the part that made it.
      if (done > 0) {
        (void)::ftruncate(m_fd, static_cast<off_t>(m_size));
        (void)::lseek(m_fd, static_cast<off_t>(m_size), SEEK_SET);
      }
      return ErrnoStatus(error, m_path);
    }
    done += static_cast<std::size_t>(n);
  }
  m_size += done;
  // Starts the disk writes of what is written so far without waiting for them, so the
  // fsync at the end finds little left to do. A failure shows at that fsync.
  if (m_size - m_writebackFrom >= kWritebackBytes) {
    (void)::sync_file_range(m_fd, static_cast<off_t>(m_writebackFrom),
                            static_cast<off_t>(m_size - m_writebackFrom), SYNC_FILE_RANGE_WRITE);
    m_writebackFrom = m_size;
  }
  return Status::Ok();
}

template <typename Candidate>
Status LocalFileSink::Finish(bool replace, Candidate candidate) {
  if (m_fd < 0) return ErrnoStatus(EBADF, m_path);
  int error = 0;
  if (::fsync(m_fd) != 0) error = errno;
  std::string chosen;
  if (error == 0 && replace) {
    chosen = candidate(1);
    // Only a file is replaced: never a folder, a device or a pipe someone named.
    struct stat st {};
    if (::lstat(chosen.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      error = S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
    } else if (::rename(m_temporaryPath.c_str(), chosen.c_str()) != 0) {
      error = errno;
    }
  } else if (error == 0) {
    error = EEXIST;
    for (int n = 1; n <= kMaxNameSuffix && error == EEXIST; ++n) {
      chosen = candidate(n);
      error = RenameNoReplace(m_temporaryPath, chosen);
    }
  }
  const std::string wanted = m_path;
  if (error != 0) return ErrnoStatus(error, wanted);  // still open, under its temporary name
  Release();
  m_path = chosen;
  m_temporaryPath.clear();
  SyncFolder(FolderOf(chosen));
  return Status::Ok();
}

Status LocalFileSink::Commit(Existing existing) {
  const std::string wanted = m_path;
  return Finish(existing == Existing::Replace, [&](int n) { return NumberedName(wanted, n, ""); });
}

Status LocalFileSink::KeepIncomplete() {
  const std::string wanted = m_path;
  Status status = Finish(false, [&](int n) { return NumberedName(wanted, n, kIncompleteSuffix); });
  if (!status.ok() && m_fd >= 0) {
    // Not even renamed: the temporary name is at least never taken for a backup, and the
    // task's next run removes it.
    Release();
  }
  return status;
}

void LocalFileSink::Release() {
  if (m_fd >= 0) ::close(m_fd);  // also drops the flock
  m_fd = -1;
}

}  // namespace brevanto
