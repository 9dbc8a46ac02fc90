#include "schedule/LastRunResult.h"

#include "logs/TaskLog.h"
#include "tasks/TaskItem.h"

namespace brevanto {

namespace {

// The runner's own entries around every run.
constexpr const char* kRunStartText = "Running...";
constexpr const char* kRunFinishedText = "Finished";
constexpr const char* kRunCanceledText = "User canceled!";

bool IsRunStart(const CTaskLogEntry& entry) {
  return entry.level == static_cast<std::uint8_t>(LogLevel::General) && entry.text == kRunStartText;
}

}  // namespace

void NoteOffsiteEntry(OffsiteOutcome& outcome, std::uint8_t level, const std::string& text) {
  if (level == static_cast<std::uint8_t>(LogLevel::General) && text.starts_with(kCopyOffsiteText)) {
    outcome.Sent = true;
  } else if (level >= static_cast<std::uint8_t>(LogLevel::Error) &&
             text.starts_with(kCopyNotOffsiteText) && outcome.Problem.empty()) {
    // "<target> (<cause>)": the list names the cause; the target is in the task's settings.
    const std::string rest = text.substr(std::string_view(kCopyNotOffsiteText).size());
    const auto open = rest.find(" (");
    outcome.Problem = open == std::string::npos || !rest.ends_with(")")
                          ? rest
                          : rest.substr(open + 2, rest.size() - open - 3);
  }
}

std::size_t FindLastRunStart(const std::vector<CTaskLogEntry>& entries) {
  for (std::size_t i = entries.size(); i > 0; --i) {
    if (IsRunStart(entries[i - 1])) return i - 1;
  }
  return entries.size();
}

int FindLastRunFirstError(const std::vector<CTaskLogEntry>& entries) {
  for (std::size_t i = FindLastRunStart(entries); i < entries.size(); ++i) {
    // Readers treat any level above Warning as Error.
    if (entries[i].level >= static_cast<std::uint8_t>(LogLevel::Error)) return static_cast<int>(i);
  }
  return -1;
}

TaskRunResult LastRunResultOf(const std::vector<CTaskLogEntry>& entries) {
  TaskRunResult result;
  const std::size_t start = FindLastRunStart(entries);
  if (start == entries.size()) return result;
  bool finished = false;
  bool canceled = false;
  for (std::size_t i = start + 1; i < entries.size(); ++i) {
    const CTaskLogEntry& entry = entries[i];
    NoteOffsiteEntry(result.Offsite, entry.level, entry.text);
    if (entry.level >= static_cast<std::uint8_t>(LogLevel::Error)) {
      ++result.Errors;
    } else if (entry.level == static_cast<std::uint8_t>(LogLevel::Warning)) {
      ++result.Warnings;
      if (entry.text == kRunCanceledText) canceled = true;
    } else if (entry.text == kRunFinishedText) {
      finished = true;
    }
  }
  if (result.Errors > 0) {
    result.Kind = RunResultKind::Failed;
  } else if (canceled) {
    result.Kind = RunResultKind::Canceled;
  } else if (finished) {
    result.Kind = RunResultKind::Ok;
  }
  return result;
}

namespace {

// The log's newest entries, as far back as its last run start when it has one.
std::vector<CTaskLogEntry> ReadLastRunEntries(const CTaskLog& log, const std::string& logFileName) {
  std::vector<CTaskLogEntry> entries;
  // Most runs are short: look at the newest entries first, the whole file only when a
  // long run does not start within them.
  for (std::size_t count : {std::size_t{256}, std::size_t{8192}}) {
    log.ReadLast(logFileName, entries, count);
    if (FindLastRunStart(entries) < entries.size() || entries.size() < count) return entries;
  }
  log.ReadAll(logFileName, entries);
  return entries;
}

}  // namespace

TaskRunResult ReadLastRunResult(const CTaskLog& log, const std::string& logFileName) {
  return LastRunResultOf(ReadLastRunEntries(log, logFileName));
}

bool ReadLastRunUnderWay(const CTaskLog& log, const std::string& logFileName) {
  const std::vector<CTaskLogEntry> entries = ReadLastRunEntries(log, logFileName);
  return FindLastRunStart(entries) < entries.size() &&
         LastRunResultOf(entries).Kind == RunResultKind::None;
}

}  // namespace brevanto
