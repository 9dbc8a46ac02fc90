#include "remote/RemoteCopyFetch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/AtomicFile.h"
#include "core/Sha256.h"

namespace brevanto {

namespace {

// A name from a manifest may come from any host: it must stay inside the folder.
bool SafeRelativeName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t slash = name.find('/', start);
    if (slash == std::string::npos) slash = name.size();
    const std::string part = name.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Every folder of `relative` above its last part, below `folder` (made too when missing).
Status MakeParents(const std::string& folder, const std::string& relative) {
  const std::string path = folder + relative;
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string parent = path.substr(0, slash);
    if (!MakeFolder(parent))
      return Status::Error(SystemError("Could not create the folder", parent));
  }
  return Status::Ok();
}

// One downloaded file under its temporary name until Land renames it.
struct PendingFile {
  std::string temporary;
  std::string final;
};

Status WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::Error(SystemError("Could not write", path));
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return Status::Ok();
}

Status Download(RemoteStore& store, const std::string& objectName, const ManifestFile& expected,
                const std::string& finalPath, PendingFile& pending) {
  std::string temporary = finalPath + ".part-XXXXXX";
  const int fd = ::mkstemp(temporary.data());  // 0600
  if (fd < 0) return Status::Error(SystemError("Could not create", temporary));
  pending = {temporary, finalPath};
  Status status = GetCheckedObject(store, objectName, expected, [&](std::string_view bytes) {
    return WriteAll(fd, bytes, temporary);
  });
  if (status.ok() && ::fsync(fd) != 0)
    status = Status::Error(SystemError("Could not write", temporary));
  if (::close(fd) != 0 && status.ok()) {
    status = Status::Error(SystemError("Could not write", temporary));
  }
  return status;
}

}  // namespace

std::string RemoteCopyName(const RemoteCopy& copy) {
  const std::string& name = copy.ManifestName;
  if (name.size() >= kManifestSuffix.size() &&
      name.compare(name.size() - kManifestSuffix.size(), kManifestSuffix.size(), kManifestSuffix) ==
          0) {
    return name.substr(0, name.size() - kManifestSuffix.size());
  }
  return name;
}

std::string ManifestTimeText(const std::string& iso) {
  if (iso.size() != 20 || iso[10] != 'T' || iso[19] != 'Z') return iso;
  return iso.substr(0, 10) + " " + iso.substr(11, 8);
}

const RemoteCopy* ChooseRemoteCopy(const std::vector<RemoteCopy>& copies, const std::string& wanted,
                                   std::string& problem) {
  problem.clear();
  if (wanted.empty()) {
    for (auto it = copies.rbegin(); it != copies.rend(); ++it) {
      if (it->Complete) return &*it;
    }
    problem = copies.empty() ? "the target holds no copies" : "the target holds no complete copy";
    return nullptr;
  }
  const RemoteCopy* found = nullptr;
  for (const RemoteCopy& copy : copies) {
    const bool named = RemoteCopyName(copy) == wanted || copy.ManifestName == wanted ||
                       (copy.Manifest && ManifestTimeText(copy.Manifest->Started) == wanted);
    if (!named) continue;
    if (found != nullptr) {
      problem = "more than one copy started at " + wanted + "; name it by its name";
      return nullptr;
    }
    found = &copy;
  }
  if (found == nullptr) {
    problem = "the target holds no copy named " + wanted;
  } else if (!found->Complete) {
    problem = "the copy " + RemoteCopyName(*found) + " is not complete: " + found->Problem;
    found = nullptr;
  }
  return found;
}

Status GetCheckedObject(RemoteStore& store, const std::string& objectName,
                        const ManifestFile& expected,
                        const std::function<Status(std::string_view)>& consume) {
  Sha256 hash;
  std::uint64_t size = 0;
  Status status = store.Get(objectName, [&](std::string_view bytes) {
    size += bytes.size();
    if (size > expected.Size) {
      return Status::Error("The file is larger than its manifest says! " + objectName +
                           ": more than " + std::to_string(expected.Size) + " bytes");
    }
    hash.Update(bytes);
    return consume(bytes);
  });
  if (!status.ok()) return status;
  if (size != expected.Size) {
    return Status::Error("The file's size does not match its manifest! " + objectName + ": " +
                         std::to_string(size) + " bytes, the manifest says " +
                         std::to_string(expected.Size));
  }
  const std::string sha = hash.FinishHex();
  if (sha != expected.Sha256) {
    return Status::Error("The file's SHA-256 does not match its manifest! " + objectName + ": " +
                         sha + ", the manifest says " + expected.Sha256);
  }
  return Status::Ok();
}

Status FetchRemoteCopy(RemoteStore& store, const RemoteCopy& copy, const std::string& folder,
                       const std::function<void(const std::string&)>& fetched) {
  std::string base = folder;
  if (base.empty()) base = "./";
  if (base.back() != '/') base += '/';
  // The manifest as it is now: the files are checked against what will lie beside them.
  std::string manifestText;
  Status status = store.Get(copy.ManifestName, [&](std::string_view bytes) {
    if (manifestText.size() + bytes.size() > (std::size_t{64} << 20)) {
      return Status::Error("the manifest is too large");
    }
    manifestText.append(bytes);
    return Status::Ok();
  });
  CopyManifest manifest;
  if (status.ok()) status = ManifestFromJson(manifestText, manifest);
  if (!status.ok())
    return Status::Error("The manifest is not valid! - " + status.message() + " - " +
                         copy.ManifestName);

  std::vector<std::pair<std::string, const ManifestFile*>> files;  // object name, record
  for (const ManifestFile& file : manifest.Files) {
    files.emplace_back(RemoteObjectName(copy.ManifestName, file.Name), &file);
  }
  for (const std::string& name : [&] {
         std::vector<std::string> names{copy.ManifestName};
         for (const auto& file : files) names.push_back(file.first);
         return names;
       }()) {
    if (!SafeRelativeName(name)) {
      return Status::Error("The copy names a file outside its folder! - " + name);
    }
    if (FileExists(base + name)) return Status::Error("The file exists already! - " + base + name);
  }

  std::vector<PendingFile> pending;
  // What was written goes again on a failure: a half copy must not look fetched.
  std::size_t landed = 0;
  auto undo = [&](Status failed) {
    std::string message = failed.message();
    for (std::size_t i = 0; i < pending.size(); ++i) {
      const std::string& path = i < landed ? pending[i].final : pending[i].temporary;
      if (!RemoveFileIfExists(path)) message += "; could not remove " + path;
    }
    return Status::Error(message);
  };
  for (const auto& [name, record] : files) {
    status = MakeParents(base, name);
    PendingFile file;
    if (status.ok()) status = Download(store, name, *record, base + name, file);
    if (!file.temporary.empty()) pending.push_back(file);
    if (!status.ok()) return undo(status);
  }
  for (; landed < pending.size(); ++landed) {
    if (::rename(pending[landed].temporary.c_str(), pending[landed].final.c_str()) != 0) {
      return undo(Status::Error(SystemError("Could not rename a file to", pending[landed].final)));
    }
  }
  status = MakeParents(base, copy.ManifestName);
  if (status.ok()) status = WriteFileAtomically(base + copy.ManifestName, manifestText);
  if (!status.ok()) return undo(status);
  for (const PendingFile& file : pending) {
    if (fetched) fetched(file.final);
  }
  if (fetched) fetched(base + copy.ManifestName);
  return Status::Ok();
}

}  // namespace brevanto
