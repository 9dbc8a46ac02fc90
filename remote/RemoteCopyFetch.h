#pragma once
// Reading an off-site copy back: naming one of a store's copies, streaming an object while
// its size and SHA-256 are checked against the copy's manifest, and downloading a whole
// copy into a folder in its layout. The bytes are checked as they pass, never read twice.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Status.h"
#include "remote/RemoteCatalogue.h"
#include "remote/RemoteStore.h"
#include "tasks/CopyManifest.h"

namespace brevanto {

// How listings name a copy: its manifest's object name without ".manifest.json"
// ("2026-12-08_03-00").
std::string RemoteCopyName(const RemoteCopy& copy);

// The copy `wanted` names: "" the newest complete one; else its name, its manifest's object
// name, or its start time as listings show it ("2026-12-08 03:00:00", UTC). Null, with
// `problem` saying why, when none or (for a time) more than one fits, or the copy named is
// not complete.
const RemoteCopy* ChooseRemoteCopy(const std::vector<RemoteCopy>& copies, const std::string& wanted,
                                   std::string& problem);

// "2026-12-08T03:00:00Z" as listings show it: "2026-12-08 03:00:00"; other text unchanged.
std::string ManifestTimeText(const std::string& iso);

// Hands the bytes of `objectName` to `consume` while checking them against `expected`: more
// bytes than its size end the read at once; at the end a size or SHA-256 that differs is an
// Error naming the object and both values.
[[nodiscard]] Status GetCheckedObject(RemoteStore& store, const std::string& objectName,
                                      const ManifestFile& expected,
                                      const std::function<Status(std::string_view)>& consume);

// Downloads `copy` into `folder` as it lies in the store ("2026-12-08_03-00/db/t.sql" ...):
// each file under a temporary name (0600), renamed once its size and SHA-256 matched, and
// the manifest last, so a folder with the manifest holds the whole copy. Refuses names
// that would leave `folder` and files that exist already; after a failure no file of the
// copy is under its final name. `fetched` is told each file's final path as it lands.
[[nodiscard]] Status FetchRemoteCopy(RemoteStore& store, const RemoteCopy& copy,
                                     const std::string& folder,
                                     const std::function<void(const std::string&)>& fetched);

}  // namespace brevanto
