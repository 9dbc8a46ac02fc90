#include "app/run/LogFollower.h"

#include <cstdio>

#include <sys/stat.h>

#include "app/run/Output.h"

namespace brevanto::run {

const char* LevelName(std::uint8_t level) {
  return level == 0 ? "General" : level == 1 ? "Warning" : "Error";
}

std::string FormatEntry(const CTaskLogEntry& e) {
  char head[64];
  std::snprintf(head, sizeof head, "%d-%02d-%02d %02d:%02d:%02d  %-7s  ", e.year, e.month, e.day,
                e.hour, e.minute, e.second, LevelName(e.level));
  return head + Escaped(e.text);
}

LogFollower::LogFollower(CTaskLog& log, std::string logFileName, Print print)
    : m_log(log), m_logFileName(std::move(logFileName)), m_print(std::move(print)) {
  std::vector<CTaskLogEntry> entries;
  m_log.ReadAll(m_logFileName, entries);
  Seen(entries, entries.size());
}

void LogFollower::PrintNew() {
  std::vector<CTaskLogEntry> entries;
  std::size_t index = 0;  // of entries[0] in the log
  if (ReadSinceLastSeen(entries)) {
    index = m_printed - 1;
  } else {
    m_log.ReadAll(m_logFileName, entries);
    // The size limit may delete the log when the run starts: it then begins afresh, and
    // by the next look it may already hold as many entries as the old one did.
    if (!Continues(entries)) m_printed = 0;
  }
  for (; m_printed < index + entries.size(); ++m_printed) {
    const CTaskLogEntry& e = entries[m_printed - index];
    m_print(e);
  }
  if (index == 0) {
    Seen(entries, m_printed);
  } else {
    m_last = entries.back();
  }
}

// Reads only the end of the log, from the last entry seen on, so that a long log is not
// read whole ten times a second. False when the log is not plainly the one seen so far
// with entries added (then it is read whole).
bool LogFollower::ReadSinceLastSeen(std::vector<CTaskLogEntry>& entries) const {
  if (m_printed == 0) return false;
  struct stat st {};
  if (::stat(m_log.PathOf(m_logFileName).c_str(), &st) != 0) return false;
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size < sizeof kTaskLogMagic) return false;
  const std::size_t total = (size - sizeof kTaskLogMagic) / kLogEntrySize;
  if (total < m_printed) return false;
  m_log.ReadLast(m_logFileName, entries, total - m_printed + 1);
  return entries.size() == total - m_printed + 1 && entries.front() == m_last;
}

// Whether `entries` still hold the entries already seen where they were seen.
bool LogFollower::Continues(const std::vector<CTaskLogEntry>& entries) const {
  return m_printed == 0 || (entries.size() >= m_printed && entries.front() == m_first &&
                            entries[m_printed - 1] == m_last);
}

void LogFollower::Seen(const std::vector<CTaskLogEntry>& entries, std::size_t count) {
  m_printed = count;
  if (count == 0) return;
  m_first = entries.front();
  m_last = entries[count - 1];
}

}  // namespace brevanto::run
