#include "schedule/ExpiredCopies.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

#include "schedule/Calendar.h"
#include "tasks/BackupFileName.h"
#include "tasks/CopyManifest.h"
#include "tasks/CopyVerdict.h"
#include "tasks/OffsiteRecord.h"
#include "tasks/RemoteOptions.h"

namespace brevanto {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::optional<std::int64_t> CopyTime(const BackupCopy& copy) {
  const BackupTimeStamp& t = copy.BackupTime;
  TaskDateTime moment;
  moment.Year = t.Year;
  moment.Month = t.Month;
  moment.Day = t.Day;
  moment.Hour = t.Hour;
  moment.Minute = t.Minute;
  moment.Second = t.Second;
  return WallSeconds(moment);
}

// Marks the copies the rule drops. A value of 0 can only come from a damaged file; it
// would delete every backup as soon as it is made, so it means "no rule".
std::vector<bool> MarkExpired(const CTaskItem& task, const TaskDateTime& now) {
  const std::vector<BackupCopy>& history = task.BackupHistory;
  const std::uint32_t keep = task.BackupSettings.AutoDeleteValue;
  std::vector<bool> expired;
  if (history.empty() || keep == 0) return expired;
  switch (static_cast<AutoDeleteMode>(task.BackupSettings.AutoDeleteMode)) {
    case AutoDeleteMode::OlderThanDays: {
      // Whole days of age, the fraction dropped: N days and one second is N days old.
      std::optional<std::int64_t> current = WallSeconds(now);
      if (!current) return expired;
      const std::int64_t cutoff = *current - std::int64_t{keep} * kSecondsPerDay;
      // A copy with a damaged time is kept: its age is unknown.
      auto isOld = [&](const BackupCopy& copy) {
        std::optional<std::int64_t> made = CopyTime(copy);
        return made && *made <= cutoff;
      };
      // The newest copy is never old enough: a task whose server has been down for weeks,
      // or a clock set forward, must not lose its last backup. Asked on every poll of a
      // waiting worker: allocate only when something expired.
      if (std::none_of(history.begin(), history.end() - 1, isOld)) return expired;
      for (const BackupCopy& copy : history) expired.push_back(isOld(copy));
      expired.back() = false;
      return expired;
    }
    case AutoDeleteMode::KeepCopies:
      if (history.size() <= keep) return expired;
      expired.assign(history.size(), false);
      for (std::size_t i = 0; i < history.size() - keep; ++i) expired[i] = true;
      return expired;
    default:
      return expired;
  }
}

// The copies whose local files may go under a task with an off-site target: the task's
// own rule (`keepLocal` -1), every copy (0), or all but the newest `keepLocal`.
std::vector<bool> MarkLocalExpired(const CTaskItem& task, const TaskDateTime& now, int keepLocal) {
  const std::size_t count = task.BackupHistory.size();
  if (keepLocal < 0) return MarkExpired(task, now);
  const auto keep = static_cast<std::size_t>(keepLocal);
  if (count <= keep) return {};
  std::vector<bool> expired(count, false);
  for (std::size_t i = 0; i < count - keep; ++i) expired[i] = true;
  return expired;
}

// Only a folder named for the copy's own run time can be the DATE_TIME folder the run
// made; a task file from elsewhere may name any folder.
bool IsCopyDateTimeFolder(const BackupCopy& copy) {
  const std::string& folder = copy.CopyFolder;
  const auto slash = folder.rfind('/');
  const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
  TaskDateTime moment;
  moment.Year = copy.BackupTime.Year;
  moment.Month = copy.BackupTime.Month;
  moment.Day = copy.BackupTime.Day;
  moment.Hour = copy.BackupTime.Hour;
  moment.Minute = copy.BackupTime.Minute;
  moment.Second = copy.BackupTime.Second;
  return slash != std::string::npos && name == DateTimeFolderName(moment);
}

// Device and inode: the same file reached through another spelling of its path (a
// symlinked folder, "dir/./a.sql") is the same file.
std::optional<std::pair<dev_t, ino_t>> FileIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(st.st_dev, st.st_ino);
}

// A backup run writes only .sql and .php files, SQL ones possibly compressed. The history
// comes from a task file, which Load From may take from anywhere: a recorded path of any
// other kind is never deleted.
bool IsBackupFileName(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // SQL dumps may be compressed.
  for (const char* suffix : {".sql", ".php", ".sql.gz", ".sql.zst"}) {
    if (lower.ends_with(suffix)) return true;
  }
  return false;
}

// The manifest a copy of ours has: beside the DATE_TIME folder its run made, or beside its
// first file, a backup file. A copy from a foreign task file implies no file to delete.
std::string OwnManifestPath(const BackupCopy& copy) {
  if (!copy.CopyFolder.empty()) return IsCopyDateTimeFolder(copy) ? ManifestPathOf(copy) : "";
  if (copy.CopyFiles.empty() || !IsBackupFileName(copy.CopyFiles.front())) return {};
  return ManifestPathOf(copy);
}

// A folder that still holds something, or is gone already, is no failure.
bool FolderRemovedOrInUse(const std::string& folder) {
  return ::rmdir(folder.c_str()) == 0 || errno == ENOTEMPTY || errno == EEXIST || errno == ENOENT;
}

}  // namespace

ExpiredCopies FindExpiredCopies(const CTaskItem& task, const TaskDateTime& now) {
  ExpiredCopies found;
  const std::vector<BackupCopy>& history = task.BackupHistory;
  // Asked on every poll: most tasks have no option sections to parse.
  const RemoteOptions remote =
      task.OptionSections.empty() ? RemoteOptions() : RemoteOptionsOf(task);
  std::vector<bool> expired =
      remote.Empty() ? MarkExpired(task, now) : MarkLocalExpired(task, now, remote.KeepLocalCopies);
  if (expired.empty()) return found;
  std::vector<bool> localOnly(history.size(), false);
  if (!remote.Empty()) {
    bool any = false;
    for (std::size_t i = 0; i < history.size(); ++i) {
      if (!expired[i]) continue;
      // Nothing of it is here any more; the store's retention decides its end.
      if (LocalFilesDeleted(history[i])) {
        expired[i] = false;
        continue;
      }
      switch (OffsiteStateOf(history[i])) {
        case OffsiteState::None:
          expired[i] = false;
          found.Waiting.push_back(history[i]);
          continue;
        case OffsiteState::InStore: localOnly[i] = true; break;
        case OffsiteState::Removed:
          break;  // it went off-site once and was retired there: it goes as any copy
      }
      any = true;
    }
    if (!any) return found;
  }

  // Paths a remaining copy still lists (a same-file backup lists one path every time).
  // Same-file mode also rewrites one manifest every run; a copy that is off-site keeps
  // its manifest.
  std::set<std::string> stillListed;
  std::set<std::string> stillDescribed;
  for (std::size_t i = 0; i < history.size(); ++i) {
    if (expired[i] && localOnly[i]) {
      if (std::string manifest = ManifestPathOf(history[i]); !manifest.empty()) {
        stillDescribed.insert(std::move(manifest));
      }
    }
    if (expired[i]) continue;
    stillListed.insert(history[i].CopyFiles.begin(), history[i].CopyFiles.end());
    if (std::string manifest = ManifestPathOf(history[i]); !manifest.empty()) {
      stillDescribed.insert(std::move(manifest));
    }
  }
  std::set<std::string> queued;
  for (std::size_t i = 0; i < history.size(); ++i) {
    if (!expired[i]) continue;
    found.Indices.push_back(i);
    found.Copies.push_back(history[i]);
    found.LocalOnly.push_back(localOnly[i]);
    // A copy whose local files went already lists paths a later run may have taken.
    if (!LocalFilesDeleted(history[i])) {
      for (const std::string& file : history[i].CopyFiles) {
        if (IsBackupFileName(file) && !stillListed.contains(file) && queued.insert(file).second) {
          found.Files.push_back(file);
        }
      }
    }
    std::string manifest = OwnManifestPath(history[i]);
    found.Manifests.push_back(stillDescribed.contains(manifest) ? "" : std::move(manifest));
    if (IsCopyDateTimeFolder(history[i])) found.Folders.push_back(history[i].CopyFolder);
  }
  found.Kept.assign(stillListed.begin(), stillListed.end());
  found.Kept.insert(found.Kept.end(), stillDescribed.begin(), stillDescribed.end());
  return found;
}

std::vector<CopyFileFailure> DeleteCopyFiles(ExpiredCopies& expired) {
  std::set<std::pair<dev_t, ino_t>> kept;
  for (const std::string& file : expired.Kept) {
    if (auto identity = FileIdentity(file)) kept.insert(*identity);
  }
  std::vector<CopyFileFailure> failures;
  std::set<std::string> stayed;
  for (const std::string& file : expired.Files) {
    const auto identity = FileIdentity(file);
    if (identity && kept.contains(*identity)) continue;  // a remaining copy lists it
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
      failures.push_back({file, errno});
      stayed.insert(file);
    }
  }
  // A copy whose file or manifest stays must stay listed, or nothing would ever delete it;
  // its manifest stays while any of its files does.
  std::set<std::string> keptFolders;
  for (std::size_t k = expired.Indices.size(); k-- > 0;) {
    const BackupCopy& copy = expired.Copies[k];
    const std::string& manifest = expired.Manifests[k];
    bool keep = std::any_of(copy.CopyFiles.begin(), copy.CopyFiles.end(),
                            [&](const std::string& f) { return stayed.contains(f); });
    if (!keep && !manifest.empty()) {
      const auto identity = FileIdentity(manifest);
      // The verdict of a verification goes first: it says nothing without its manifest.
      const std::string verdict = VerdictPathOf(manifest);
      if (!(identity && kept.contains(*identity))) {
        if (::unlink(verdict.c_str()) != 0 && errno != ENOENT) {
          failures.push_back({verdict, errno, CopyFileFailure::Kind::Manifest});
          keep = true;
        } else if (::unlink(manifest.c_str()) != 0 && errno != ENOENT) {
          failures.push_back({manifest, errno, CopyFileFailure::Kind::Manifest});
          keep = true;
        }
      }
      // The record goes after the manifest: a record without one describes nothing.
      const std::string record = OffsitePathOf(manifest);
      if (!keep && !record.empty() && ::unlink(record.c_str()) != 0 && errno != ENOENT) {
        failures.push_back({record, errno, CopyFileFailure::Kind::Manifest});
        keep = true;
      }
    }
    if (!keep) continue;
    keptFolders.insert(copy.CopyFolder);
    const auto at = static_cast<std::ptrdiff_t>(k);
    expired.Indices.erase(expired.Indices.begin() + at);
    expired.Copies.erase(expired.Copies.begin() + at);
    expired.Manifests.erase(expired.Manifests.begin() + at);
    if (k < expired.LocalOnly.size()) expired.LocalOnly.erase(expired.LocalOnly.begin() + at);
  }
  // rmdir removes only empty folders: one that still holds other files stays.
  for (const std::string& folder : expired.Folders) {
    if (!keptFolders.contains(folder) && !FolderRemovedOrInUse(folder)) {
      failures.push_back({folder, errno, CopyFileFailure::Kind::Folder});
    }
  }
  return failures;
}

std::vector<std::string> ExpiredPaths(const ExpiredCopies& expired) {
  std::vector<std::string> paths = expired.Files;
  for (const std::string& manifest : expired.Manifests) {
    if (!manifest.empty()) paths.push_back(manifest);
  }
  return paths;
}

std::string CopyFileFailureText(const CopyFileFailure& failure) {
  const char* what = "Failed to delete the expired backup file! - ";
  if (failure.What == CopyFileFailure::Kind::Manifest) {
    what = "Failed to delete the expired backup copy's manifest! - ";
  } else if (failure.What == CopyFileFailure::Kind::Folder) {
    what = "Failed to remove the expired backup copy's folder! - ";
  }
  return what + failure.Path + " (" + std::strerror(failure.Error) + ")";
}

std::size_t DropCopies(std::vector<BackupCopy>& history, const ExpiredCopies& expired,
                       std::size_t* localOnly) {
  std::size_t dropped = 0;
  std::size_t marked = 0;
  for (std::size_t k = expired.Indices.size(); k-- > 0;) {
    const std::size_t i = expired.Indices[k];
    if (i < history.size() && history[i] == expired.Copies[k]) {
      if (k < expired.LocalOnly.size() && expired.LocalOnly[k]) {
        history[i].Spare |= kCopyLocalFilesDeleted;
        ++marked;
      } else {
        history.erase(history.begin() + static_cast<std::ptrdiff_t>(i));
      }
      ++dropped;
    }
  }
  if (localOnly != nullptr) *localOnly = marked;
  return dropped;
}

std::string LocalFilesDeletedText(std::size_t copies) {
  return "Deleted the local files of " + std::to_string(copies) +
         (copies == 1 ? " backup copy that is" : " backup copies that are") +
         " off-site; the history keeps them";
}

std::string WaitingCopyText(const BackupCopy& copy) {
  const BackupTimeStamp& t = copy.BackupTime;
  char when[64];
  std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return std::string("The backup copy of ") + when +
         " is kept although the task's rule would delete it: it is not off-site yet";
}

bool DeleteExpiredCopies(CTaskItem& task, const TaskDateTime& now,
                         std::vector<CopyFileFailure>* failures) {
  ExpiredCopies expired = FindExpiredCopies(task, now);
  if (expired.empty()) return false;
  std::vector<CopyFileFailure> failed = DeleteCopyFiles(expired);
  if (failures != nullptr) *failures = std::move(failed);
  return DropCopies(task.BackupHistory, expired) > 0;
}

}  // namespace brevanto
