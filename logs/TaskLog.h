#pragma once
// CTaskLog: the per-task log files in the "Logs" folder. Each file is the 4-byte magic
// followed by fixed 360-byte entries (docs/formats/task-log.md), so a reader can seek
// straight to the newest entries.
//
// Threads: every member function may be called from any thread. Operations on log files
// are serialised inside the process, so two of our threads never drop or interleave an
// entry. Every operation opens the file, works and closes it again; nothing is buffered.
// Files are created owner-only (0600).

#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "core/DateTime.h"

namespace brevanto {

class Clock;

// One entry in memory. `level` holds the stored byte (LogLevel: 0 General, 1 Warning,
// 2 Error; a reader that displays it treats anything above 2 as Error).
struct CTaskLogEntry {
  std::uint8_t level = 0;
  std::int32_t year = 0;
  std::int32_t month = 0;
  std::int32_t day = 0;
  std::int32_t hour = 0;
  std::int32_t minute = 0;
  std::int32_t second = 0;
  std::int32_t dayOfWeek = 0;  // 1 = Sunday .. 7 = Saturday
  std::string text;            // at most kLogTextSize bytes, no zero byte
  friend bool operator==(const CTaskLogEntry&, const CTaskLogEntry&) = default;
};

inline constexpr std::uint32_t kTaskLogMagic = 0xCABDF9E0u;
inline constexpr std::uint32_t kLegacyTaskLogMagic = 0xBFDFAEB0u;
inline constexpr std::size_t kLogEntrySize = 360;
inline constexpr std::size_t kLogTextSize = 331;
// Its presence in the Logs folder says every log is in the current format.
inline constexpr const char* kLogConversionMarker = "log200se.dll";
inline constexpr std::size_t kLogConversionMarkerSize = 3072;

class CTaskLog {
 public:
  // `logsFolder` is the application folder's "Logs/" (ending in "/"); it is created on
  // demand. REQUIRES: `clock` outlives this object.
  CTaskLog(std::string logsFolder, Clock& clock);
  CTaskLog(const CTaskLog&) = delete;
  CTaskLog& operator=(const CTaskLog&) = delete;

  const std::string& Folder() const { return m_folder; }
  // The full path of a task's log: the folder + the part of `logFileName` after its last
  // "/" or "\". Empty when the name is empty (such a task has no log).
  std::string PathOf(const std::string& logFileName) const;
  bool Exists(const std::string& logFileName) const;

  // Appends one entry stamped with the clock's local time. An empty `text` only makes
  // sure the file exists with its header (how a new task's log is created). False when
  // the name is empty or the file cannot be written; callers may ignore it.
  bool AppendEntry(const std::string& logFileName, std::uint8_t level, const std::string& text);
  template <typename Level>
    requires std::is_enum_v<Level>
  bool AppendEntry(const std::string& logFileName, Level level, const std::string& text) {
    return AppendEntry(logFileName, static_cast<std::uint8_t>(level), text);
  }
  // As AppendEntry, stamped `when` (read from the clock earlier): for an entry that was
  // held back while it happened, so its time is when it happened, not when written.
  bool AppendEntryAt(const std::string& logFileName, std::uint8_t level, const std::string& text,
                     const TaskDateTime& when);

  // Every entry of a file in either format, oldest first. `entries` is emptied first;
  // a missing or foreign file yields none.
  void ReadAll(const std::string& logFileName, std::vector<CTaskLogEntry>& entries) const;
  // The newest `count` entries of a current-format file, oldest first. With `count` 0
  // `entries` is left as it was; otherwise it is emptied first.
  void ReadLast(const std::string& logFileName, std::vector<CTaskLogEntry>& entries,
                std::size_t count) const;

  // Deletes the log when it has reached `maxSizeKB` (whole KB, rounded down). Nothing
  // happens when `limitOn` is false or `maxSizeKB` is 0 or less, or when the file
  // cannot be opened for writing. Called by a worker before its run's first entry.
  void ApplySizeLimit(const std::string& logFileName, bool limitOn, std::int64_t maxSizeKB);

  // The one-time conversion at start-up: unless the marker file exists, rewrites every
  // older-format log named in `logFileNames` (the tasks in list order) in the current
  // format, then creates the marker. A new file replaces the old one only once it is
  // complete, so a failed conversion keeps the old log.
  void ConvertLegacyLogs(const std::vector<std::string>& logFileNames);

  // Removes the log file. False when the name is empty or the file could not be removed.
  bool DeleteLog(const std::string& logFileName);
  // Task deletion: removes the log only when it can be opened for reading and writing.
  bool DeleteLogIfWritable(const std::string& logFileName);

 private:
  bool AppendLocked(const std::string& path, std::uint8_t level, const std::string& text,
                    const TaskDateTime& now);
  // False only when an older-format log could not be read or its entries rewritten.
  bool ConvertFileLocked(const std::string& path);

  const std::string m_folder;
  Clock& m_clock;
  mutable std::mutex m_lock;  // serialises every file operation of this process
};

}  // namespace brevanto
