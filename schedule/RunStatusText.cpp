#include "schedule/RunStatusText.h"

#include <algorithm>

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
  switch (result.Kind) {
    case RunResultKind::Ok: return "OK";
    case RunResultKind::Canceled: return "Canceled";
    case RunResultKind::Failed:
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

std::string ProgressBarLine(const TaskProgress& progress, std::int64_t elapsedSeconds,
                            std::size_t width) {
  constexpr int kBarCells = 20;
  const int filled = progress.Permille * kBarCells / 1000;
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarCells - filled), '.') + "]  " +
                     ProgressText(progress, elapsedSeconds);
  if (!progress.Item.empty()) line += "  " + progress.Item;
  if (line.size() > width) line.resize(width);
  return line;
}

}  // namespace brevanto
