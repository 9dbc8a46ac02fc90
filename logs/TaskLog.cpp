#include "logs/TaskLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "core/ApplicationFolder.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"

namespace brevanto {
namespace {

constexpr std::size_t kMagicSize = 4;
// level, seven date fields, text length: the fixed part of an older-format entry.
constexpr std::size_t kLegacyEntryHeadSize = 1 + 7 * 4 + 4;

// Closes a descriptor on every path out of a function.
class FileHandle {
 public:
  explicit FileHandle(int fd) : m_fd(fd) {}
  ~FileHandle() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return m_fd; }
  bool ok() const { return m_fd >= 0; }

 private:
  int m_fd;
};

void PutU32(char* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t GetU32(const char* in) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[i]);
  return v;
}

// Repeats a positioned read or write until all `size` bytes are done.
template <typename Byte, typename Transfer>
bool TransferAt(Transfer transfer, int fd, Byte* data, std::size_t size, off_t offset) {
  while (size > 0) {
    ssize_t n = transfer(fd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

bool WriteAt(int fd, const char* data, std::size_t size, off_t offset) {
  return TransferAt(::pwrite, fd, data, size, offset);
}

bool ReadAt(int fd, char* data, std::size_t size, off_t offset) {
  return TransferAt(::pread, fd, data, size, offset);
}

// The first four bytes of a file, or nullopt when it cannot be read or is shorter.
std::optional<std::uint32_t> ReadMagic(const std::string& path) {
  FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char bytes[kMagicSize];
  if (!file.ok() || !ReadAt(file.get(), bytes, kMagicSize, 0)) return std::nullopt;
  return GetU32(bytes);
}

void EncodeEntry(const CTaskLogEntry& entry, char* out) {
  std::memset(out, 0, kLogEntrySize);
  out[0] = static_cast<char>(entry.level);
  const std::int32_t fields[7] = {entry.year, entry.month,  entry.day,      entry.hour,
                                  entry.minute, entry.second, entry.dayOfWeek};
  for (int i = 0; i < 7; ++i) PutU32(out + 1 + 4 * i, static_cast<std::uint32_t>(fields[i]));
  std::memcpy(out + 29, entry.text.data(), std::min(entry.text.size(), kLogTextSize));
}

// Reads the level and the seven date fields that both formats start an entry with.
void DecodeEntryHead(const char* in, CTaskLogEntry& entry) {
  entry.level = static_cast<std::uint8_t>(in[0]);
  std::int32_t* fields[7] = {&entry.year,   &entry.month,  &entry.day,      &entry.hour,
                             &entry.minute, &entry.second, &entry.dayOfWeek};
  for (int i = 0; i < 7; ++i) *fields[i] = static_cast<std::int32_t>(GetU32(in + 1 + 4 * i));
}

CTaskLogEntry DecodeEntry(const char* in) {
  CTaskLogEntry entry;
  DecodeEntryHead(in, entry);
  const char* text = in + 29;
  entry.text.assign(text, strnlen(text, kLogTextSize));
  return entry;
}

// Entries of a current-format file held in `bytes` (magic included).
void ParseCurrent(std::string_view bytes, std::vector<CTaskLogEntry>& entries) {
  for (std::size_t at = kMagicSize; at + kLogEntrySize <= bytes.size(); at += kLogEntrySize) {
    entries.push_back(DecodeEntry(bytes.data() + at));
  }
}

// Entries of an older-format file; a length that runs past the end ends the reading.
void ParseLegacy(std::string_view bytes, std::vector<CTaskLogEntry>& entries) {
  std::size_t at = kMagicSize;
  while (at + kLegacyEntryHeadSize <= bytes.size()) {
    CTaskLogEntry entry;
    DecodeEntryHead(bytes.data() + at, entry);
    auto length = static_cast<std::int32_t>(GetU32(bytes.data() + at + 29));
    at += kLegacyEntryHeadSize;
    if (length < 0 || static_cast<std::size_t>(length) > bytes.size() - at) break;
    entry.text.assign(bytes.data() + at, static_cast<std::size_t>(length));
    at += static_cast<std::size_t>(length);
    entries.push_back(std::move(entry));
  }
}

std::string CurrentFileBytes(const std::vector<CTaskLogEntry>& entries) {
  std::string bytes(kMagicSize + entries.size() * kLogEntrySize, '\0');
  PutU32(bytes.data(), kTaskLogMagic);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EncodeEntry(entries[i], bytes.data() + kMagicSize + i * kLogEntrySize);
  }
  return bytes;
}

}  // namespace

CTaskLog::CTaskLog(std::string logsFolder, Clock& clock)
    : m_folder(WithTrailingSlash(std::move(logsFolder))), m_clock(clock) {}

std::string CTaskLog::PathOf(const std::string& logFileName) const {
  // Only the file name counts: a stored name never leads out of the Logs folder.
  std::size_t separator = logFileName.find_last_of("/\\");
  std::string name =
      separator == std::string::npos ? logFileName : logFileName.substr(separator + 1);
  if (name.empty() || name == "." || name == "..") return {};
  return m_folder + name;
}

bool CTaskLog::Exists(const std::string& logFileName) const {
  std::string path = PathOf(logFileName);
  return !path.empty() && FileExists(path);
}

bool CTaskLog::AppendEntry(const std::string& logFileName, std::uint8_t level,
                           const std::string& text) {
  return AppendEntryAt(logFileName, level, text, m_clock.Now());
}

bool CTaskLog::AppendEntryAt(const std::string& logFileName, std::uint8_t level,
                             const std::string& text, const TaskDateTime& when) {
  std::string path = PathOf(logFileName);
  if (path.empty()) return false;
  std::lock_guard lock(m_lock);
  MakeFolder(m_folder);
  return AppendLocked(path, level, text, when);
}

bool CTaskLog::AppendLocked(const std::string& path, std::uint8_t level, const std::string& text,
                            const TaskDateTime& now) {
  // A log still in the older format is converted first: writing the current magic over
  // it would turn its entries into garbage. When the conversion cannot be written (a full
  // disk), this entry is dropped and the older log kept whole.
  if (ReadMagic(path) == kLegacyTaskLogMagic && !ConvertFileLocked(path)) return false;

  FileHandle file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!file.ok()) return false;
  char magic[kMagicSize];
  PutU32(magic, kTaskLogMagic);
  if (!WriteAt(file.get(), magic, kMagicSize, 0)) return false;
  if (text.empty()) return true;

  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return false;
  // The next entry goes right after the last whole one, so a torn entry left by a crash
  // is overwritten instead of shifting every later entry.
  const auto length = static_cast<std::size_t>(st.st_size);
  const off_t offset =
      static_cast<off_t>(kMagicSize + (length - kMagicSize) / kLogEntrySize * kLogEntrySize);

  CTaskLogEntry entry{level,      now.Year,   now.Month,     now.Day, now.Hour,
                      now.Minute, now.Second, now.DayOfWeek, text};
  char bytes[kLogEntrySize];
  EncodeEntry(entry, bytes);
  if (!WriteAt(file.get(), bytes, kLogEntrySize, offset)) {
    // A full disk: cut the partial entry so only whole entries remain.
    [[maybe_unused]] int cut = ::ftruncate(file.get(), offset);
    return false;
  }
  return true;
}

void CTaskLog::ReadAll(const std::string& logFileName, std::vector<CTaskLogEntry>& entries) const {
  entries.clear();
  std::string path = PathOf(logFileName);
  if (path.empty()) return;
  std::string bytes;
  {
    std::lock_guard lock(m_lock);
    if (!ReadFileBytes(path, bytes) || bytes.size() < kMagicSize) return;
  }
  const std::uint32_t magic = GetU32(bytes.data());
  if (magic == kTaskLogMagic) {
    ParseCurrent(bytes, entries);
  } else if (magic == kLegacyTaskLogMagic) {
    ParseLegacy(bytes, entries);
  }
}

void CTaskLog::ReadLast(const std::string& logFileName, std::vector<CTaskLogEntry>& entries,
                        std::size_t count) const {
  if (count == 0) return;
  entries.clear();
  std::string path = PathOf(logFileName);
  if (path.empty()) return;
  std::string bytes;
  {
    std::lock_guard lock(m_lock);
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    char magic[kMagicSize];
    if (!file.ok() || ::fstat(file.get(), &st) != 0 ||
        static_cast<std::size_t>(st.st_size) < kMagicSize ||
        !ReadAt(file.get(), magic, kMagicSize, 0) || GetU32(magic) != kTaskLogMagic) {
      return;
    }
    const std::size_t available = (static_cast<std::size_t>(st.st_size) - kMagicSize) / kLogEntrySize;
    const std::size_t n = std::min(count, available);
    // Counted from the last whole entry, so a torn tail does not shift the entries read.
    bytes.resize(n * kLogEntrySize);
    const off_t from = static_cast<off_t>(kMagicSize + (available - n) * kLogEntrySize);
    if (!ReadAt(file.get(), bytes.data(), bytes.size(), from)) return;
  }
  for (std::size_t at = 0; at < bytes.size(); at += kLogEntrySize) {
    entries.push_back(DecodeEntry(bytes.data() + at));
  }
}

void CTaskLog::ApplySizeLimit(const std::string& logFileName, bool limitOn, std::int64_t maxSizeKB) {
  if (!limitOn || maxSizeKB <= 0) return;
  std::string path = PathOf(logFileName);
  if (path.empty()) return;
  std::lock_guard lock(m_lock);
  MakeFolder(m_folder);
  struct stat st {};
  {
    // A file that cannot be opened for writing is left alone.
    FileHandle file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!file.ok() || ::fstat(file.get(), &st) != 0) return;
  }
  if (static_cast<std::int64_t>(st.st_size / 1024) >= maxSizeKB) ::unlink(path.c_str());
}

bool CTaskLog::ConvertFileLocked(const std::string& path) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return false;
  if (bytes.size() < kMagicSize || GetU32(bytes.data()) != kLegacyTaskLogMagic) return true;
  std::vector<CTaskLogEntry> entries;
  ParseLegacy(bytes, entries);
  if (entries.empty()) return true;  // nothing to keep: the file is left as it is
  // Written beside the old file and renamed over it: the old log survives a failure.
  return WriteFileAtomically(path, CurrentFileBytes(entries)).ok();
}

void CTaskLog::ConvertLegacyLogs(const std::vector<std::string>& logFileNames) {
  std::lock_guard lock(m_lock);
  const std::string marker = m_folder + kLogConversionMarker;
  if (FileHandle(::open(marker.c_str(), O_RDONLY | O_CLOEXEC)).ok()) return;
  MakeFolder(m_folder);
  for (const std::string& name : logFileNames) {
    std::string path = PathOf(name);
    if (!path.empty()) ConvertFileLocked(path);
  }
  (void)WriteFileAtomically(marker, std::string(kLogConversionMarkerSize, '\0'));
}

bool CTaskLog::DeleteLog(const std::string& logFileName) {
  std::string path = PathOf(logFileName);
  if (path.empty()) return false;
  std::lock_guard lock(m_lock);
  return ::unlink(path.c_str()) == 0;
}

bool CTaskLog::DeleteLogIfWritable(const std::string& logFileName) {
  std::string path = PathOf(logFileName);
  if (path.empty()) return false;
  std::lock_guard lock(m_lock);
  if (!FileHandle(::open(path.c_str(), O_RDWR | O_CLOEXEC)).ok()) return false;
  return ::unlink(path.c_str()) == 0;
}

}  // namespace brevanto
