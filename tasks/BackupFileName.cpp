#include "tasks/BackupFileName.h"

#include "core/FolderTree.h"

#include <cstdio>
#include <string_view>

#include "core/AtomicFile.h"

namespace brevanto {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";
// Characters no name may carry: they are path separators or illegal in file names.
constexpr std::string_view kNameForbidden = "\r\n\t\\/:*?\"<>|";

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

// Database and table names go into file names as they are, but never as a path.
std::string KeepInFolder(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '/' || c == '\0') c = '_';
  }
  return out;
}

// Placeholder expansion in a fixed order. The format is kept as a list of pieces so that
// a placeholder found in text that was inserted for an earlier one is not replaced.
class NameTemplate {
 public:
  explicit NameTemplate(std::string_view format) { m_pieces.push_back({std::string(format), false}); }

  void Replace(std::string_view placeholder, const std::string& value) {
    std::vector<Piece> out;
    for (Piece& piece : m_pieces) {
      if (piece.inserted) {
        out.push_back(std::move(piece));
        continue;
      }
      std::size_t from = 0;
      for (std::size_t at; (at = piece.text.find(placeholder, from)) != std::string::npos;
           from = at + placeholder.size()) {
        out.push_back({piece.text.substr(from, at - from), false});
        out.push_back({value, true});
      }
      out.push_back({piece.text.substr(from), false});
    }
    m_pieces = std::move(out);
  }

  std::string Text() const {
    std::string text;
    for (const Piece& piece : m_pieces) text += piece.text;
    return text;
  }

 private:
  struct Piece {
    std::string text;
    bool inserted;
  };
  std::vector<Piece> m_pieces;
};

std::string WithoutTrailingSlash(std::string path) {
  if (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(kBlanks);
  return std::string(text.substr(first, last - first + 1));
}

std::string CleanName(std::string_view name) {
  std::string kept;
  kept.reserve(name.size());
  for (char c : name) {
    if (kNameForbidden.find(c) == std::string_view::npos) kept += c;
  }
  return TrimBlanks(kept);
}

std::string CleanNameOrDefault(std::string_view name) {
  std::string cleaned = CleanName(name);
  return cleaned.empty() ? "Default" : cleaned;
}

std::string FormatRunDate(const TaskDateTime& t) {
  return std::to_string(t.Year) + "-" + TwoDigits(t.Month) + "-" + TwoDigits(t.Day);
}

std::string FormatRunTime(const TaskDateTime& t) {
  return TwoDigits(t.Hour) + "-" + TwoDigits(t.Minute) + "-" + TwoDigits(t.Second);
}

const char* BackupFileExtension(std::uint8_t fileType) {
  return fileType == static_cast<std::uint8_t>(BackupFileType::SQL) ? ".sql" : ".php";
}

const char* DefaultFileNameFormat(std::uint8_t fileGrouping) {
  switch (static_cast<BackupFileGrouping>(fileGrouping)) {
    case BackupFileGrouping::PerDatabase:
      return "%HOST%_%DATABASE%_%DATE%_%TIME%";
    case BackupFileGrouping::PerTable:
      return "%HOST%_%DATABASE%_%TABLE%_%DATE%_%TIME%";
    default:
      return "%HOST%_%DATE%_%TIME%";
  }
}

std::string MakeBackupFilePath(const BackupSettings& settings, const std::string& dateTimeSubPath,
                               const std::string& taskName, const CServerInfo& source,
                               const std::string& database, const std::string& table,
                               const TaskDateTime& runStart) {
  if (settings.FileMode == static_cast<std::uint8_t>(BackupFileMode::SameFile)) {
    return settings.SameFilePath;
  }
  NameTemplate name(settings.FileNameFormat);
  name.Replace("%TASKNAME%", CleanName(taskName));
  name.Replace("%HOST%", CleanName(source.Host));
  name.Replace("%DATABASE%", KeepInFolder(database));
  name.Replace("%TABLE%", KeepInFolder(table));
  name.Replace("%DATE%", FormatRunDate(runStart));
  name.Replace("%TIME%", FormatRunTime(runStart));
  return settings.BackupFolder + dateTimeSubPath + name.Text() +
         BackupFileExtension(settings.FileType);
}

std::string DateTimeFolderName(const TaskDateTime& runStart) {
  return FormatRunDate(runStart) + "_" + FormatRunTime(runStart);
}

std::string MakeDateTimeFolder(const BackupSettings& settings, const TaskDateTime& runStart) {
  // Runs refuse an empty folder before they get here; never create folders at "/".
  if (settings.BackupFolder.empty()) return {};
  std::string folder = WithoutTrailingSlash(settings.BackupFolder);
  // With its parents: an imported task's folder may not exist yet.
  MakeFolderWithParents(folder);  // an existing folder is fine
  if (settings.CreateDateTimeSubfolder != 1) return {};
  std::string name = DateTimeFolderName(runStart);
  MakeFolder(folder + "/" + name);
  return name + "/";
}

std::string ValidateFileNameFormat(const std::string& format, std::uint8_t fileGrouping,
                                   std::string* stored) {
  if (format.empty()) return "Please input file name format!";
  std::string trimmed = TrimBlanks(format);
  if (trimmed.find_first_of(kNameForbidden) != std::string::npos) {
    return "There are some invalid characters in the file name format!\n\n\\ / : * ? \" < > |";
  }
  const bool hasDatabase = trimmed.find("%DATABASE%") != std::string::npos;
  const bool hasTable = trimmed.find("%TABLE%") != std::string::npos;
  switch (static_cast<BackupFileGrouping>(fileGrouping)) {
    case BackupFileGrouping::PerDatabase:
      if (hasTable) return "Please do not include %TABLE% in file name format!";
      if (!hasDatabase) return "Please include %DATABASE% in file name format!";
      break;
    case BackupFileGrouping::PerTable:
      if (!hasTable) return "Please include %TABLE% in file name format!";
      break;
    default:
      if (hasDatabase) return "Please do not include %DATABASE% in file name format!";
      if (hasTable) return "Please do not include %TABLE% in file name format!";
      break;
  }
  if (stored) *stored = trimmed;
  return {};
}

std::string MakeExportFilePath(const ExportSettings& settings, const std::vector<TableItem>& tables,
                               int index) {
  if (settings.Folder.empty() || index < 0 || index >= static_cast<int>(tables.size())) return {};
  const TableItem& table = tables[static_cast<std::size_t>(index)];
  const char* extension = ".txt";
  switch (static_cast<ExportFormat>(settings.Format)) {
    case ExportFormat::CSV: extension = ".csv"; break;
    case ExportFormat::XML: extension = ".xml"; break;
    case ExportFormat::HTML: extension = ".html"; break;
    default: break;
  }
  return settings.Folder + KeepInFolder(table.DatabaseName) + "_" + KeepInFolder(table.TableName) +
         extension;
}

std::string MakeTaskKey(const TaskDateTime& now, int count) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%d%d%d%d%d%d%d", now.Year, now.Month, now.Day, now.Hour,
                now.Minute, now.Second, count);
  return buffer;
}

std::string MakeLogFileName(std::string_view taskName, const TaskDateTime& createdTime) {
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "_%d%d%d%d%d%d", createdTime.Year, createdTime.Month,
                createdTime.Day, createdTime.Hour, createdTime.Minute, createdTime.Second);
  return CleanNameOrDefault(taskName) + stamp + ".log";
}

}  // namespace brevanto
