#pragma once
// A backup copy's description of itself: "<copy>.manifest.json", written beside the copy's
// files once they are all complete (docs/formats/manifest.md). What is learned about a copy
// later (verified, uploaded) goes into files of its own beside it, never into the manifest.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Status.h"
#include "tasks/TaskItem.h"

namespace brevanto {

// One file of the copy, as stored.
struct ManifestFile {
  std::string Name;  // relative to the manifest's folder ("db/t.sql.gz" in a DATE_TIME folder)
  std::uint64_t Size = 0;
  std::string Sha256;                   // lowercase hex of the bytes as stored
  std::vector<std::string> Transforms;  // applied in order when writing: "gzip", "zstd", ...
  friend bool operator==(const ManifestFile&, const ManifestFile&) = default;
};

// One base table, as the run's snapshot saw it.
struct ManifestTable {
  std::string Database;
  std::string Name;
  std::string Engine;
  std::uint64_t Rows = 0;
  std::string Digest;  // the rows digest (docs/formats/manifest.md), empty when not taken
  friend bool operator==(const ManifestTable&, const ManifestTable&) = default;
};

// A view, trigger, procedure, function or event and a digest of its definition.
struct ManifestObject {
  std::string Kind;  // "view", "trigger", "procedure", "function", "event"
  std::string Database;
  std::string Name;
  std::string Digest;  // SHA-256 (hex) of the definition as the copy holds it
  friend bool operator==(const ManifestObject&, const ManifestObject&) = default;
};

struct ManifestServer {
  std::string Host;
  int Port = 0;
  std::string Version;   // @@version
  std::string Hostname;  // @@hostname
  std::uint64_t ServerId = 0;
  friend bool operator==(const ManifestServer&, const ManifestServer&) = default;
};

// Where the server's binary log stood at the snapshot.
struct ManifestBinlog {
  std::string File;
  std::uint64_t Position = 0;
  std::string GtidPosition;  // @@gtid_binlog_pos as of the snapshot; empty when none
  friend bool operator==(const ManifestBinlog&, const ManifestBinlog&) = default;
};

struct CopyManifest {
  static constexpr int kFormat = 1;
  int Format = kFormat;
  std::string TaskName;
  std::string TaskKind;        // "BackupToFiles", ...
  std::string Started;         // UTC, ISO 8601 ("2026-12-08T01:02:03Z")
  std::string Ended;           // UTC, ISO 8601
  std::string ProgramVersion;
  ManifestServer Server;
  std::string SnapshotMode;  // "consistent" (one snapshot), "locked" (tables locked), "none"
  std::vector<ManifestFile> Files;
  std::vector<ManifestTable> Tables;
  std::vector<ManifestObject> Objects;
  std::optional<ManifestBinlog> Binlog;  // absent when the server writes no binary log
  // Fingerprints of the public keys the files are encrypted to (AgeRecipient::Fingerprint);
  // empty for files that are not encrypted.
  std::vector<std::string> Recipients;
  friend bool operator==(const CopyManifest&, const CopyManifest&) = default;
};

std::string ManifestToJson(const CopyManifest& manifest);
// Ok and `manifest` filled, or an Error naming what is wrong. Unknown keys are ignored, so
// a later program's manifest still reads.
Status ManifestFromJson(std::string_view json, CopyManifest& manifest);

// Written under a temporary name, fsynced, renamed (0600).
Status WriteManifest(const std::string& path, const CopyManifest& manifest);
Status ReadManifest(const std::string& path, CopyManifest& manifest);

// Where a recorded copy's manifest lives: "<CopyFolder>.manifest.json" beside its DATE_TIME
// folder when it has one, else "<first file>.manifest.json". Empty for a copy with no files.
std::string ManifestPathOf(const BackupCopy& copy);
inline constexpr std::string_view kManifestSuffix = ".manifest.json";

// `path` relative to the folder of `manifestPath` when inside it, else `path` unchanged.
std::string ManifestRelativeName(const std::string& manifestPath, const std::string& path);
// The absolute path of a file the manifest at `manifestPath` names.
std::string ManifestFilePath(const std::string& manifestPath, const std::string& name);

}  // namespace brevanto
