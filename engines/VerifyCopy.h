#pragma once
// Proves one local copy by a restore: each file's SHA-256 against the manifest, then the
// copy restored into a private scratch server (engines/ScratchServer.h) with our own
// restore, then every table of the manifest with its row count and rows digest and every
// view, trigger, routine and event with its definition digest, and nothing else there.
// Each difference is one Error entry naming the object and both values. The verdict goes
// beside the manifest (tasks/CopyVerdict.h). Runs on the calling (worker) thread.

#include <cstdint>
#include <string>

#include "engines/ScratchServer.h"
#include "schedule/TaskRoutine.h"
#include "tasks/CopyManifest.h"
#include "tasks/CopyVerdict.h"

namespace brevanto {

struct VerifyCopyRequest {
  std::string ManifestPath;      // "<copy>.manifest.json"
  std::string IdentityFile;      // opens encrypted files (see RestoreFilesRequest)
  ScratchServerOptions Scratch;  // NeededBytes is filled in from the manifest
  int Threads = 2;               // files restored at a time
};

// Free space a restore of the copy needs: its files' sizes, more for compressed ones.
std::uint64_t ScratchSpaceFor(const CopyManifest& manifest);

// Finished when the copy is verified, Failed when a difference was found (or the check
// could not be made: then no verdict is written), Canceled on a stop request. `verdict`,
// when given, receives what was written.
RunOutcome VerifyCopy(TaskRunContext& context, const VerifyCopyRequest& request,
                      CopyVerdict* verdict = nullptr);

}  // namespace brevanto
