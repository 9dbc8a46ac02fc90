#include "tasks/CopyCatalogue.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "core/Sha256.h"
#include "tasks/OffsiteRecord.h"

namespace brevanto {
namespace {

// Two spellings of one path ("a//b", "a/./b") compare equal.
std::string Normal(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

void ReadManifestOf(CatalogueCopy& entry) {
  struct stat st {};
  if (::stat(entry.ManifestPath.c_str(), &st) != 0 && errno == ENOENT) {
    entry.Manifest = ManifestState::Missing;
    return;
  }
  CopyManifest manifest;
  if (Status status = ReadManifest(entry.ManifestPath, manifest); !status.ok()) {
    entry.Manifest = ManifestState::Invalid;
    entry.ManifestProblem = status.message();
    return;
  }
  std::set<std::string> recorded;
  for (const std::string& file : entry.Copy.CopyFiles) {
    recorded.insert(Normal(RecordedFilePath(entry.Copy, file)));
  }
  std::set<std::string> described;
  for (const ManifestFile& file : manifest.Files) {
    described.insert(Normal(ManifestFilePath(entry.ManifestPath, file.Name)));
  }
  entry.Manifest = recorded == described ? ManifestState::Present : ManifestState::OtherFiles;
  if (entry.Manifest == ManifestState::OtherFiles) {
    entry.ManifestProblem =
        "The manifest names other files than the copy records! - " + entry.ManifestPath;
  }
  entry.Details = std::move(manifest);
}

void CheckFile(CatalogueFile& file, const CatalogueCheck& check) {
  struct stat st {};
  if (::stat(file.Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    file.State = CopyFileState::Missing;
    return;
  }
  file.Exists = true;
  file.Size = static_cast<std::uint64_t>(st.st_size);
  if (file.ExpectedSize && *file.ExpectedSize != file.Size) {
    file.State = CopyFileState::SizeChanged;
    return;
  }
  if (!check.Content) return;
  std::uint64_t hashed = 0;
  if (Status status = Sha256OfFile(file.Path, file.Sha256, &hashed); !status.ok()) {
    file.Sha256.clear();
    file.State = CopyFileState::Unreadable;
    file.Problem = status.message();
    return;
  }
  // Read whole, it may have changed since the stat above.
  if (file.ExpectedSize && hashed != *file.ExpectedSize) {
    file.Size = hashed;
    file.State = CopyFileState::SizeChanged;
  } else if (!file.ExpectedSha256.empty() && file.Sha256 != file.ExpectedSha256) {
    file.State = CopyFileState::ContentChanged;
  }
}

}  // namespace

std::string RecordedFilePath(const BackupCopy& copy, const std::string& file) {
  if (file.find('/') != std::string::npos || copy.CopyFolder.empty()) return file;
  return copy.CopyFolder + "/" + file;
}

std::vector<CatalogueCopy> ListCopies(const CTaskItem& task, const CatalogueCheck& check) {
  std::vector<CatalogueCopy> copies;
  const std::vector<BackupCopy>& history = task.BackupHistory;
  for (std::size_t i = 0; i < history.size(); ++i) {
    CatalogueCopy entry;
    entry.Copy = history[i];
    entry.ManifestPath = ManifestPathOf(entry.Copy);
    for (std::size_t later = i + 1; later < history.size() && !entry.ManifestPath.empty();
         ++later) {
      if (ManifestPathOf(history[later]) == entry.ManifestPath) entry.Replaced = true;
    }
    if (!entry.ManifestPath.empty()) ReadManifestOf(entry);
    if (entry.Manifest == ManifestState::Present && !entry.Replaced) {
      for (const ManifestFile& described : entry.Details->Files) {
        CatalogueFile file;
        file.Path = ManifestFilePath(entry.ManifestPath, described.Name);
        file.ExpectedSize = described.Size;
        file.ExpectedSha256 = described.Sha256;
        entry.Files.push_back(std::move(file));
      }
    } else {
      for (const std::string& recorded : entry.Copy.CopyFiles) {
        CatalogueFile file;
        file.Path = RecordedFilePath(entry.Copy, recorded);
        entry.Files.push_back(std::move(file));
      }
    }
    entry.OffsiteOnly = LocalFilesDeleted(entry.Copy);
    for (CatalogueFile& file : entry.Files) {
      if (entry.OffsiteOnly) {
        file.State = CopyFileState::Offsite;
        continue;
      }
      // A replaced copy's files are the later copy's: only their presence is shown.
      CheckFile(file, entry.Replaced ? CatalogueCheck{} : check);
      if (file.Exists) entry.Size += file.Size;
    }
    copies.push_back(std::move(entry));
  }
  return copies;
}

std::vector<std::string> CopyProblems(const CatalogueCopy& copy, bool requireManifest) {
  std::vector<std::string> problems;
  if (copy.Replaced) return problems;
  switch (copy.Manifest) {
    case ManifestState::Present: break;
    case ManifestState::Missing:
      // A copy of no files has nothing a manifest could prove.
      if (requireManifest && !copy.ManifestPath.empty()) {
        problems.push_back("manifest missing: " + copy.ManifestPath);
      }
      break;
    case ManifestState::Invalid:
    case ManifestState::OtherFiles: problems.push_back(copy.ManifestProblem); break;
  }
  for (const CatalogueFile& file : copy.Files) {
    switch (file.State) {
      case CopyFileState::Ok:
      case CopyFileState::Offsite: break;
      case CopyFileState::Missing: problems.push_back("missing: " + file.Path); break;
      case CopyFileState::SizeChanged:
        problems.push_back("size changed: " + file.Path + " (" + std::to_string(file.Size) +
                           " bytes, the manifest says " + std::to_string(*file.ExpectedSize) + ")");
        break;
      case CopyFileState::ContentChanged:
        problems.push_back("content changed: " + file.Path + " (SHA-256 " + file.Sha256 +
                           ", the manifest says " + file.ExpectedSha256 + ")");
        break;
      case CopyFileState::Unreadable: problems.push_back("unreadable: " + file.Problem); break;
    }
  }
  return problems;
}

const char* CopyFileStateName(CopyFileState state) {
  switch (state) {
    case CopyFileState::Ok: return "ok";
    case CopyFileState::Missing: return "missing";
    case CopyFileState::SizeChanged: return "size changed";
    case CopyFileState::ContentChanged: return "content changed";
    case CopyFileState::Unreadable: return "unreadable";
    case CopyFileState::Offsite: return "off-site";
  }
  return "unknown";
}

const char* ManifestStateName(ManifestState state) {
  switch (state) {
    case ManifestState::Present: return "present";
    case ManifestState::Missing: return "missing";
    case ManifestState::Invalid: return "invalid";
    case ManifestState::OtherFiles: return "other files";
  }
  return "unknown";
}

}  // namespace brevanto
