#pragma once
// What is known of a backup copy's off-site life, kept beside its manifest as
// "<copy>.offsite.json" (the manifest's path with ".manifest.json" replaced): written once
// every file and then the manifest are in the off-site store, so its presence is what
// makes a copy count as off-site; rewritten when the store's retention deletes the copy
// there. Owner-only, replaced atomically.
//
// A copy whose local files were deleted because it is off-site (or that was written
// straight to the store) stays in the task's history; bit kCopyLocalFilesDeleted of its
// BackupCopy::Spare says so, so the task file keeps its layout and older tasks their bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Status.h"
#include "tasks/TaskItem.h"

namespace brevanto {

struct OffsiteObject {
  std::string Name;  // the object's name in the store
  std::uint64_t Size = 0;
  friend bool operator==(const OffsiteObject&, const OffsiteObject&) = default;
};

struct OffsiteRecord {
  static constexpr int kFormat = 1;
  int Format = kFormat;
  std::string Target;                  // RemoteTargetText of the store it went to
  std::string Uploaded;                // UTC, ISO 8601: when the manifest arrived
  std::vector<OffsiteObject> Objects;  // the files, then the manifest
  // UTC, ISO 8601: when the store's retention deleted the copy there; empty while it is
  // there. A copy once off-site is never sent again.
  std::string Removed;
  bool InStore() const { return Removed.empty(); }
  friend bool operator==(const OffsiteRecord&, const OffsiteRecord&) = default;
};

inline constexpr std::string_view kOffsiteSuffix = ".offsite.json";

// "<copy>.offsite.json" for the manifest "<copy>.manifest.json"; empty for another name.
std::string OffsitePathOf(const std::string& manifestPath);

std::string OffsiteRecordToJson(const OffsiteRecord& record);
// Ok and `record` filled, or an Error naming what is wrong. Unknown keys are ignored.
Status OffsiteRecordFromJson(std::string_view json, OffsiteRecord& record);

// 0600, temporary name, fsync, rename.
Status WriteOffsiteRecord(const std::string& path, const OffsiteRecord& record);
Status ReadOffsiteRecord(const std::string& path, OffsiteRecord& record);

// BackupCopy::Spare bits.
inline constexpr std::uint8_t kCopyLocalFilesDeleted = 0x01;
inline bool LocalFilesDeleted(const BackupCopy& copy) {
  return (copy.Spare & kCopyLocalFilesDeleted) != 0;
}
// The same copy whatever its Spare bits say: a history entry changes them in place.
bool SameCopy(const BackupCopy& a, const BackupCopy& b);

enum class OffsiteState {
  None,     // no record: never sent (or the record is unreadable)
  InStore,  // complete in the store
  Removed,  // was complete there; the store's retention deleted it since
};
// Reads the copy's record beside its manifest.
OffsiteState OffsiteStateOf(const BackupCopy& copy);

}  // namespace brevanto
