#pragma once
// The copies an off-site store holds, read from their manifests: a copy's files lie in the
// store as they lie in the task's backup folder (object names are paths relative to it),
// and its manifest ("....manifest.json") is uploaded last, so a copy without one is not
// there yet. Copies made by another host into the same place are listed as well.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Status.h"
#include "remote/RemoteStore.h"
#include "tasks/CopyManifest.h"

namespace brevanto {

struct RemoteCopy {
  std::string ManifestName;              // relative to the store's place
  std::optional<CopyManifest> Manifest;  // when it could be read
  std::vector<std::string> ObjectNames;  // the files' object names, in the manifest's order
  std::uint64_t Size = 0;                // of the files the store holds
  bool Complete = false;                 // every file there with the manifest's size
  std::string Problem;                   // why not complete: the first thing wrong
};

// Every copy in `store`, ordered by the manifest's start time (unreadable ones first), then
// by name. Fails only when the store cannot be listed; an unreadable manifest is a copy
// with a Problem.
[[nodiscard]] Status ListRemoteCopies(RemoteStore& store, std::vector<RemoteCopy>& copies);

// The object name of a file that the manifest object `manifestName` names ("db/t.sql").
std::string RemoteObjectName(const std::string& manifestName, const std::string& fileName);

// The object name of a local file of a task whose backup folder is `backupFolder`: its path
// relative to that folder. Empty for a path outside it.
std::string RemoteNameOf(const std::string& backupFolder, const std::string& localPath);

}  // namespace brevanto
