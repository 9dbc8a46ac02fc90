#include "engines/RunLeftovers.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <regex>
#include <set>
#include <utility>

#include "engines/AgeOutput.h"
#include "schedule/Calendar.h"
#include "tasks/BackupFileName.h"
#include "tasks/CopyManifest.h"

namespace brevanto {
namespace {

constexpr const char* kIncomplete = ".incomplete";

std::string RegexLiteral(const std::string& text) {
  static const std::string kSpecial = R"(\^$.|?*+()[]{})";
  std::string out;
  for (char c : text) {
    if (kSpecial.find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

std::string Alternatives(const std::set<std::string>& names) {
  std::string out = "(?:";
  bool first = true;
  for (const std::string& name : names) {
    if (!first) out += '|';
    first = false;
    std::string kept = name;
    for (char& c : kept) {
      if (c == '/' || c == '\0') c = '_';  // as the file name got it
    }
    out += RegexLiteral(kept);
  }
  return out + ")";
}

// The file names the task's format gives, as a pattern: groups 1 and 2 catch the date and
// time when the format has them.
struct NamePattern {
  std::regex Pattern;
  int DateGroup = 0;
  int TimeGroup = 0;
  bool HasTaskName = false;
};

std::optional<NamePattern> MakeNamePattern(const RunLeftoverSearch& search) {
  const CTaskItem& task = *search.Task;
  const std::string& format = task.BackupSettings.FileNameFormat;
  std::set<std::string> databases;
  std::set<std::string> tables;
  for (const DatabaseItem& database : search.Databases) {
    databases.insert(database.DatabaseName);
    for (const TableItem& table : database.Tables) tables.insert(table.TableName);
  }
  NamePattern pattern;
  std::string text = "^";
  int groups = 0;
  for (std::size_t i = 0; i < format.size();) {
    const auto placeholder = [&](const char* name) {
      return format.compare(i, std::strlen(name), name) == 0;
    };
    if (placeholder("%TASKNAME%")) {
      text += RegexLiteral(CleanName(task.TaskName));
      pattern.HasTaskName = true;
      i += 10;
    } else if (placeholder("%HOST%")) {
      text += RegexLiteral(CleanName(task.SourceServer.Host));
      i += 6;
    } else if (placeholder("%DATABASE%")) {
      if (databases.empty()) return std::nullopt;
      text += Alternatives(databases);
      i += 10;
    } else if (placeholder("%TABLE%")) {
      if (tables.empty()) return std::nullopt;
      text += Alternatives(tables);
      i += 7;
    } else if (placeholder("%DATE%")) {
      text += "([0-9]+-[0-9]{2}-[0-9]{2})";
      pattern.DateGroup = ++groups;
      i += 6;
    } else if (placeholder("%TIME%")) {
      text += "([0-9]{2}-[0-9]{2}-[0-9]{2})";
      pattern.TimeGroup = ++groups;
      i += 6;
    } else {
      text += RegexLiteral(std::string(1, format[i]));
      ++i;
    }
  }
  std::string extension = WithCompressedFileSuffix(
      BackupFileExtension(task.BackupSettings.FileType),
      task.BackupSettings.FileType == 2 ? Compression::None : search.FileCompression);
  if (search.Encrypted) extension = WithEncryptedFileSuffix(extension);
  // A name taken gets "_2", "_3" ... before its extension; an unfinished one ".incomplete".
  text += "(?:_[0-9]+)?" + RegexLiteral(extension) + "(" + RegexLiteral(kIncomplete) + ")?$";
  pattern.Pattern = std::regex(text);
  return pattern;
}

// "YYYY-MM-DD" and "HH-MM-SS" as wall seconds.
std::optional<std::int64_t> Moment(const std::string& date, const std::string& time) {
  TaskDateTime t;
  if (std::sscanf(date.c_str(), "%d-%d-%d", &t.Year, &t.Month, &t.Day) != 3 ||
      std::sscanf(time.c_str(), "%d-%d-%d", &t.Hour, &t.Minute, &t.Second) != 3) {
    return std::nullopt;
  }
  return WallSeconds(t);
}

std::optional<std::pair<dev_t, ino_t>> Identity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(st.st_dev, st.st_ino);
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  return names;
}

}  // namespace

std::vector<std::string> FindRunLeftovers(const RunLeftoverSearch& search) {
  std::vector<std::string> found;
  const CTaskItem& task = *search.Task;
  const BackupSettings& settings = task.BackupSettings;
  if (settings.FileMode == 1 || settings.BackupFolder.empty()) return found;
  const std::optional<NamePattern> pattern = MakeNamePattern(search);
  const std::optional<std::int64_t> runStart = WallSeconds(search.RunStart);
  if (!pattern || !runStart) return found;

  // Whatever a copy lists stays, by path or by identity.
  std::set<std::string> recorded(search.CurrentFiles.begin(), search.CurrentFiles.end());
  for (const BackupCopy& copy : task.BackupHistory) {
    for (const std::string& file : copy.CopyFiles) {
      recorded.insert(file.find('/') == std::string::npos && !copy.CopyFolder.empty()
                          ? copy.CopyFolder + "/" + file
                          : file);
    }
  }
  std::set<std::pair<dev_t, ino_t>> recordedIdentities;
  for (const std::string& file : recorded) {
    if (auto identity = Identity(file)) recordedIdentities.insert(*identity);
  }
  // A run that wrote its manifest but could not record its copy leaves that manifest too;
  // the manifests of recorded copies (and of this run) are never leftovers.
  std::set<std::string> recordedManifests;
  for (const BackupCopy& copy : task.BackupHistory) recordedManifests.insert(ManifestPathOf(copy));
  for (const std::string& file : search.CurrentFiles) {
    recordedManifests.insert(file + std::string(kManifestSuffix));
    recordedManifests.insert(file.substr(0, file.rfind('/')) + std::string(kManifestSuffix));
  }
  const auto takeManifest = [&](const std::string& manifest) {
    struct stat st {};
    if (!recordedManifests.contains(manifest) && ::stat(manifest.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode)) {
      found.push_back(manifest);
    }
  };

  std::string base = settings.BackupFolder;
  if (base.back() != '/') base += '/';
  // Returns whether it found any.
  const auto scan = [&](const std::string& folder, std::optional<std::int64_t> folderMoment) {
    const std::size_t before = found.size();
    for (const std::string& name : FileNames(base + folder)) {
      std::smatch match;
      if (!std::regex_match(name, match, pattern->Pattern)) continue;
      const bool incomplete = match[match.size() - 1].matched;
      if (!incomplete && !pattern->HasTaskName) continue;
      std::optional<std::int64_t> moment = folderMoment;
      if (pattern->DateGroup != 0 && pattern->TimeGroup != 0) {
        moment = Moment(match[pattern->DateGroup].str(), match[pattern->TimeGroup].str());
      }
      if (!moment || *moment >= *runStart) continue;  // not from an earlier run
      const std::string path = base + folder + name;
      if (recorded.contains(path)) continue;
      const auto identity = Identity(path);
      if (!identity || recordedIdentities.contains(*identity)) continue;
      found.push_back(path);
      if (!incomplete) takeManifest(path + std::string(kManifestSuffix));
    }
    return found.size() > before;
  };
  scan("", std::nullopt);
  for (const std::string& name : FileNames(base)) {
    // A run's DATE_TIME folder, "YYYY-MM-DD_HH-MM-SS", names its run.
    const auto underscore = name.find('_');
    if (underscore == std::string::npos) continue;
    const std::optional<std::int64_t> moment =
        Moment(name.substr(0, underscore), name.substr(underscore + 1));
    if (moment && DateTimeFolderName(FromWallSeconds(*moment)) == name &&
        scan(name + "/", moment)) {
      takeManifest(base + name + std::string(kManifestSuffix));
    }
  }
  return found;
}

}  // namespace brevanto
