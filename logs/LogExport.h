#pragma once
// The log viewer's exports: the shown entries as CSV or tab-separated text lines, and a
// byte-for-byte copy of a log file. Targets are replaced whole: a failed export leaves
// the old file (or none) in place, never a part of the new one.

#include <string>
#include <vector>

#include "core/Status.h"
#include "logs/TaskLog.h"

namespace brevanto {

enum class LogExportFormat { CSV, TXT };

// "General Info", "Warning Info", or "Error Info" for every level above 1.
const char* LogLevelName(std::uint8_t level);

// One export line with its "\r\n". CSV: "D","L","T"; TXT: [D]<tab>L<tab>T, where D is the
// moment in the display styles with seconds. Quotes inside the text are kept as they are.
std::string FormatLogExportLine(const CTaskLogEntry& entry, LogExportFormat format, int dateStyle,
                                int timeStyle);

// Writes one line per entry, in order, to `path`.
Status ExportLogEntries(const std::vector<CTaskLogEntry>& entries, LogExportFormat format,
                        int dateStyle, int timeStyle, const std::string& path);

// Copies the log file at `logPath` unchanged to `path`.
Status ExportLogFile(const std::string& logPath, const std::string& path);

}  // namespace brevanto
