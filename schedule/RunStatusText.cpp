#include "schedule/RunStatusText.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "tasks/TaskKinds.h"

namespace brevanto {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t SecondsOf(const TaskDateTime& t) {
  return DaysFromCivil(t.Year, static_cast<unsigned>(t.Month), static_cast<unsigned>(t.Day)) *
             86400 +
         t.Hour * 3600 + t.Minute * 60 + t.Second;
}

// "40 s", "3 min", "2 h 05 min".
std::string DurationText(std::int64_t seconds) {
  if (seconds < 60) return std::to_string(std::max<std::int64_t>(seconds, 1)) + " s";
  const std::int64_t minutes = (seconds + 30) / 60;
  if (minutes < 60) return std::to_string(minutes) + " min";
  const std::int64_t rest = minutes % 60;
  return std::to_string(minutes / 60) + " h " + (rest < 10 ? "0" : "") + std::to_string(rest) +
         " min";
}

// Terminal columns of UTF-8 text, a character counting as one.
std::size_t Columns(const std::string& text) {
  std::size_t columns = 0;
  for (const char c : text) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return columns;
}

// `text` cut to at most `columns` columns, at a character boundary; a cut ends in "~".
std::string FitColumns(const std::string& text, std::size_t columns) {
  if (Columns(text) <= columns) return text;
  if (columns == 0) return {};
  std::size_t kept = 0;
  std::size_t end = 0;
  for (; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) continue;
    if (kept == columns - 1) break;
    ++kept;
  }
  return text.substr(0, end) + "~";
}

}  // namespace

std::int64_t SecondsBetween(const TaskDateTime& from, const TaskDateTime& to) {
  if (from.Year <= 0 || to.Year <= 0 || from.Month < 1 || to.Month < 1) return 0;
  return std::max<std::int64_t>(SecondsOf(to) - SecondsOf(from), 0);
}

std::string ProgressText(const TaskProgress& progress, std::int64_t elapsedSeconds) {
  const int percent = progress.Permille / 10;
  std::string text = std::to_string(percent) + " %";
  // Too early a guess swings wildly: wait for 1 % and 5 seconds.
  if (progress.Permille >= 10 && progress.Permille < 1000 && elapsedSeconds >= 5) {
    const std::int64_t left = elapsedSeconds * (1000 - progress.Permille) / progress.Permille;
    text += ", " + DurationText(left) + " left";
  }
  return text;
}

std::string LastResultText(const TaskRunResult& result) {
  if (result.Overdue) return "Overdue";
  switch (result.Kind) {
    case RunResultKind::Ok: return result.Offsite.Sent ? "OK, off-site" : "OK";
    case RunResultKind::Canceled: return "Canceled";
    case RunResultKind::Failed:
      if (!result.Offsite.Problem.empty()) {
        return "Failed, not off-site (" + result.Offsite.Problem + ")";
      }
      if (result.Errors == 0) return "Failed";
      return "Failed (" + std::to_string(result.Errors) +
             (result.Errors == 1 ? " error)" : " errors)");
    case RunResultKind::None: break;
  }
  return {};
}

std::string RunningTaskLine(const std::string& taskName, const TaskProgress& progress,
                            std::int64_t elapsedSeconds) {
  std::string line = taskName + ": " + ProgressText(progress, elapsedSeconds);
  if (!progress.Item.empty()) line += " (" + progress.Item + ")";
  return line;
}

std::string ByteCountText(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(std::max<std::int64_t>(bytes, 0)) + " B";
  if (bytes < 1024 * 1024) return std::to_string(bytes / 1024) + " KB";
  static constexpr const char* kUnits[] = {"MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / (1024.0 * 1024.0);
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string ProgressBarLine(const std::string& taskName, TaskType type,
                            const TaskProgress& progress, std::int64_t elapsedSeconds,
                            std::size_t width) {
  std::string counts;
  const TaskKind* kind = FindTaskKind(type);
  switch (kind ? kind->Progress : ProgressUnit::Rows) {
    case ProgressUnit::BytesRead: counts = ByteCountText(progress.RowsDone) + " read"; break;
    case ProgressUnit::Statements:
      counts = std::to_string(progress.RowsDone) + " statements";
      break;
    case ProgressUnit::Rows: counts = std::to_string(progress.RowsDone) + " rows"; break;
  }
  if (progress.BytesWritten > 0) counts += "  " + ByteCountText(progress.BytesWritten);
  const std::string figures = ProgressText(progress, elapsedSeconds) + "  " + counts;

  // Richest first; the first that fits is the line.
  const std::string item = progress.Item.empty() ? std::string() : "  " + progress.Item;
  for (const std::size_t cells : {20, 10}) {
    const std::size_t filled = static_cast<std::size_t>(progress.Permille) * cells / 1000;
    const std::string bar = "[" + std::string(filled, '#') + std::string(cells - filled, '.') + "]";
    for (const std::string& tail : {item, std::string()}) {
      std::string line = taskName + "  " + bar + "  " + figures + tail;
      if (Columns(line) <= width) return line;
    }
  }
  const std::string rest = "  " + figures;
  const std::size_t restColumns = Columns(rest);
  if (restColumns + 4 <= width && Columns(taskName) > 0) {
    return FitColumns(taskName, width - restColumns) + rest;
  }
  return FitColumns(figures, width);
}

}  // namespace brevanto
