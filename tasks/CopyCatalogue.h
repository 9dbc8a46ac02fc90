#pragma once
// A backup task's copies as its history records them, each with what its manifest says
// (tasks/CopyManifest.h) and what is on the disk now: for `brevanto-run --copies` and
// anything else that needs to know whether a copy can still be restored. Only reads.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Status.h"
#include "tasks/CopyManifest.h"
#include "tasks/TaskItem.h"

namespace brevanto {

enum class CopyFileState {
  Ok,              // present, and its size (and SHA-256, when checked) as the manifest says
  Missing,         // no file at its path, or something other than a file
  SizeChanged,     // its size is not the manifest's
  ContentChanged,  // same size, other SHA-256 (only when checked)
  Unreadable,      // could not be read to take its SHA-256
  Offsite,         // the copy is off-site only: its local files were deleted on purpose
};

enum class ManifestState {
  Present,
  Missing,     // no manifest beside the copy: older copies and other tools have none
  Invalid,     // a file is there but cannot be read or is not a manifest
  OtherFiles,  // a valid manifest that names other files than the history records
};

struct CatalogueFile {
  std::string Path;  // absolute
  bool Exists = false;
  std::uint64_t Size = 0;                     // on the disk, when it exists
  std::optional<std::uint64_t> ExpectedSize;  // from the manifest
  std::string ExpectedSha256;                 // from the manifest, "" without one
  std::string Sha256;                         // taken when checked and readable, else ""
  CopyFileState State = CopyFileState::Ok;
  std::string Problem;  // why it is unreadable
};

struct CatalogueCopy {
  BackupCopy Copy;           // as the history records it
  std::string ManifestPath;  // "" for a copy without files
  ManifestState Manifest = ManifestState::Missing;
  std::string ManifestProblem;          // the reason when Invalid or OtherFiles
  std::optional<CopyManifest> Details;  // when Present or OtherFiles
  std::vector<CatalogueFile> Files;     // from the manifest when Present, else as recorded
  std::uint64_t Size = 0;               // of the files that exist
  // A later copy names the same files and manifest (same-file mode rewrites them every
  // run): what is on the disk belongs to that copy, so this one is not checked.
  bool Replaced = false;
  // The copy is off-site and its local files were deleted (tasks/OffsiteRecord.h): its
  // files are Offsite, not missing.
  bool OffsiteOnly = false;
};

// Whether to take each file's SHA-256 and compare it with the manifest's.
struct CatalogueCheck {
  bool Content = false;
};

// The copies of `task`, oldest first, as BackupHistory holds them. Reads each manifest and
// stats (with a content check, reads) each file; never fails as a whole: what cannot be
// read is a state of its copy or file.
std::vector<CatalogueCopy> ListCopies(const CTaskItem& task, const CatalogueCheck& check);

// The problems of one copy, one text each ("missing: /path"), none when it is intact.
// `requireManifest` (a --check) counts a missing manifest: every copy must be provable.
std::vector<std::string> CopyProblems(const CatalogueCopy& copy, bool requireManifest);

// "ok", "missing", "size changed", "content changed", "unreadable", "off-site".
const char* CopyFileStateName(CopyFileState state);
// "present", "missing", "invalid", "other files".
const char* ManifestStateName(ManifestState state);

// A recorded file's absolute path: a bare name lies in the copy's folder.
std::string RecordedFilePath(const BackupCopy& copy, const std::string& file);

}  // namespace brevanto
