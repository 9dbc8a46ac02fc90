#pragma once
// Follows one task log while a run writes it: hands each new entry on once, reading only
// the log's end on each look.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "logs/TaskLog.h"

namespace brevanto::run {

class LogFollower {
 public:
  using Print = std::function<void(const CTaskLogEntry& entry)>;
  // Entries already in the log are taken as seen.
  LogFollower(CTaskLog& log, std::string logFileName, Print print);

  // Prints the entries that appeared since the last call.
  void PrintNew();

 private:
  bool ReadSinceLastSeen(std::vector<CTaskLogEntry>& entries) const;
  bool Continues(const std::vector<CTaskLogEntry>& entries) const;
  void Seen(const std::vector<CTaskLogEntry>& entries, std::size_t count);

  CTaskLog& m_log;
  const std::string m_logFileName;
  const Print m_print;
  std::size_t m_printed = 0;
  CTaskLogEntry m_first;  // the log's first entry and the last one seen, once any was
  CTaskLogEntry m_last;
};

// "General", "Warning" or "Error" (anything above Warning).
const char* LevelName(std::uint8_t level);

// "2026-12-07 09:30:00  Warning  text", the text escaped.
std::string FormatEntry(const CTaskLogEntry& entry);

}  // namespace brevanto::run
