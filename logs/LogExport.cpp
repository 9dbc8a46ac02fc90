#include "logs/LogExport.h"

#include "core/AtomicFile.h"
#include "logs/TaskLog.h"
#include "tasks/DisplayDateTime.h"

namespace brevanto {

const char* LogLevelName(std::uint8_t level) {
  switch (level) {
    case 0: return "General Info";
    case 1: return "Warning Info";
    default: return "Error Info";
  }
}

std::string FormatLogExportLine(const CTaskLogEntry& entry, LogExportFormat format, int dateStyle,
                                int timeStyle) {
  const std::string moment =
      FormatDisplayDateTime(entry.year, entry.month, entry.day, entry.hour, entry.minute,
                            entry.second, entry.dayOfWeek, dateStyle, timeStyle, true);
  const std::string level = LogLevelName(entry.level);
  if (format == LogExportFormat::CSV) {
    return "\"" + moment + "\",\"" + level + "\",\"" + entry.text + "\"\r\n";
  }
  return "[" + moment + "]\t" + level + "\t" + entry.text + "\r\n";
}

Status ExportLogEntries(const std::vector<CTaskLogEntry>& entries, LogExportFormat format,
                        int dateStyle, int timeStyle, const std::string& path) {
  std::string text;
  text.reserve(entries.size() * 96);
  for (const CTaskLogEntry& entry : entries) {
    text += FormatLogExportLine(entry, format, dateStyle, timeStyle);
  }
  return WriteFileAtomically(path, text);
}

Status ExportLogFile(const std::string& logPath, const std::string& path) {
  std::string bytes;
  if (!ReadFileBytes(logPath, bytes)) {
    return Status::Error("Failed to read the task log - " + logPath);
  }
  // A worker may be appending right now: a current-format copy keeps whole entries only.
  if (bytes.compare(0, 4, "\xE0\xF9\xBD\xCA", 4) == 0) {  // kTaskLogMagic, little-endian
    bytes.resize(4 + (bytes.size() - 4) / kLogEntrySize * kLogEntrySize);
  }
  return WriteFileAtomically(path, bytes);
}

}  // namespace brevanto
