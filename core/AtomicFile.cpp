#include "core/AtomicFile.h"
#include "core/SharedFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevanto {
namespace {

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

Status SystemError(const std::string& action, const std::string& path, int error) {
  return Status::Error(action + " - " + path + ": " + std::strerror(error));
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Makes the rename itself durable; a failure here loses nothing already renamed.
void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

namespace {

FileStamp StampFrom(const struct stat& st) {
  return {true, st.st_dev, st.st_ino, st.st_size,
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Writes `bytes` to a new temporary file beside `path` and flushes it; `check`, called
// just before the rename, may refuse it. Returns the errno of a failure, 0 on success and
// -1 when `check` refused; the temporary file is gone unless it was renamed. `created`
// tells whether the temporary file could be made at all.
template <typename Check>
int WriteAndRename(const std::string& path, std::string_view bytes, Check check, FileStamp* written,
                   bool* created = nullptr, mode_t mode = 0600) {
  std::vector<char> tempName(path.begin(), path.end());
  const char suffix[] = ".tmp.XXXXXX";
  tempName.insert(tempName.end(), suffix, suffix + sizeof suffix);  // with the zero
  // mkstemp creates the file with mode 0600.
  int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (created != nullptr) *created = fd >= 0;
  if (fd < 0) return errno;
  std::string temp(tempName.data());

  int error = 0;
  if (mode != 0600 && ::fchmod(fd, mode) != 0) error = errno;
  if (error == 0 && !WriteAll(fd, bytes)) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  struct stat st {};
  if (error == 0 && written != nullptr) {
    if (::fstat(fd, &st) == 0) {
      *written = StampFrom(st);
    } else {
      error = errno;
    }
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && !check()) error = -1;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return error;
  }
  SyncFolder(FolderOf(path));
  return 0;
}

}  // namespace

Status WriteSharedFileAtomically(const std::string& path, std::string_view bytes, mode_t mode) {
  bool created = false;
  const int error = WriteAndRename(
      path, bytes, [] { return true; }, nullptr, &created, mode);
  if (error != 0) {
    return SystemError(created ? "Failed to write file" : "Failed to create file", path, error);
  }
  return Status::Ok();
}

Status WriteFileAtomically(const std::string& path, std::string_view bytes) {
  return WriteSharedFileAtomically(path, bytes, 0600);
}

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return StampFrom(st);
}

ReplaceResult ReplaceFileIfUnchanged(const std::string& path, std::string_view bytes,
                                     const FileStamp& expected, FileStamp* written) {
  // A copy: `written` may be `expected` itself and is filled in before the last check.
  const FileStamp before = expected;
  if (StampOf(path) != before) return ReplaceResult::ChangedOnDisk;
  const int error =
      WriteAndRename(path, bytes, [&] { return StampOf(path) == before; }, written);
  if (error == -1) return ReplaceResult::ChangedOnDisk;
  return error == 0 ? ReplaceResult::Replaced : ReplaceResult::Failed;
}

ReplaceResult RemoveFileIfUnchanged(const std::string& path, const FileStamp& expected) {
  if (StampOf(path) != expected) return ReplaceResult::ChangedOnDisk;
  return RemoveFileIfExists(path) ? ReplaceResult::Replaced : ReplaceResult::Failed;
}

bool ReadFileBytes(const std::string& path, std::string& bytes, std::size_t maxBytes) {
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::size_t>(st.st_size) <= maxBytes;
  if (ok) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  while (ok) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > maxBytes) ok = false;  // the file grew while being read
  }
  ::close(fd);
  if (!ok) bytes.clear();
  return ok;
}

bool RemoveFileIfExists(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  struct stat st {};
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status CreateFileExclusively(const std::string& path, std::string_view bytes) {
  std::vector<char> tempName(path.begin(), path.end());
  const char suffix[] = ".tmp.XXXXXX";
  tempName.insert(tempName.end(), suffix, suffix + sizeof suffix);
  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0) return SystemError("Failed to create the file", path, errno);
  const std::string temp(tempName.data());
  int error = 0;
  if (!WriteAll(fd, bytes)) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  // link() gives the complete file its name only where no file has it yet.
  if (error == 0 && ::link(temp.c_str(), path.c_str()) != 0) error = errno;
  if (::unlink(temp.c_str()) != 0 && error == 0) error = errno;
  if (error != 0) {
    return SystemError(error == EEXIST ? "The file exists already; it is not replaced"
                                       : "Failed to write the file",
                       path, error);
  }
  SyncFolder(FolderOf(path));
  return Status::Ok();
}

}  // namespace brevanto
