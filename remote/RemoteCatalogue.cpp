#include "remote/RemoteCatalogue.h"

#include <algorithm>
#include <map>

namespace brevanto {

namespace {

bool EndsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string RemoteObjectName(const std::string& manifestName, const std::string& fileName) {
  const std::size_t slash = manifestName.rfind('/');
  return slash == std::string::npos ? fileName : manifestName.substr(0, slash + 1) + fileName;
}

std::string RemoteNameOf(const std::string& backupFolder, const std::string& localPath) {
  std::string folder = backupFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (folder.empty() || localPath.size() <= folder.size() ||
      localPath.compare(0, folder.size(), folder) != 0) {
    return {};
  }
  return localPath.substr(folder.size());
}

Status ListRemoteCopies(RemoteStore& store, std::vector<RemoteCopy>& copies) {
  copies.clear();
  std::vector<RemoteObject> objects;
  if (Status status = store.List("", objects); !status.ok()) return status;
  std::map<std::string, std::uint64_t> sizes;
  for (const RemoteObject& object : objects) sizes[object.Name] = object.Size;

  for (const RemoteObject& object : objects) {
    if (!EndsWith(object.Name, kManifestSuffix)) continue;
    RemoteCopy copy;
    copy.ManifestName = object.Name;
    std::string text;
    Status got = store.Get(object.Name, [&](std::string_view bytes) {
      // A manifest is small; anything this big is not one of ours.
      if (text.size() + bytes.size() > (std::size_t{64} << 20)) {
        return Status::Error("the manifest is too large");
      }
      text.append(bytes);
      return Status::Ok();
    });
    CopyManifest manifest;
    if (got.ok()) got = ManifestFromJson(text, manifest);
    if (!got.ok()) {
      copy.Problem = "manifest unreadable: " + got.message();
      copies.push_back(std::move(copy));
      continue;
    }
    copy.Complete = true;
    for (const ManifestFile& file : manifest.Files) {
      std::string name = RemoteObjectName(object.Name, file.Name);
      const auto found = sizes.find(name);
      if (found == sizes.end()) {
        if (copy.Complete) copy.Problem = "missing: " + name;
        copy.Complete = false;
      } else {
        copy.Size += found->second;
        if (found->second != file.Size && copy.Complete) {
          copy.Problem = "size changed: " + name;
          copy.Complete = false;
        }
      }
      copy.ObjectNames.push_back(std::move(name));
    }
    copy.Manifest = std::move(manifest);
    copies.push_back(std::move(copy));
  }
  std::stable_sort(copies.begin(), copies.end(), [](const RemoteCopy& a, const RemoteCopy& b) {
    const std::string left = a.Manifest ? a.Manifest->Started : std::string();
    const std::string right = b.Manifest ? b.Manifest->Started : std::string();
    return left != right ? left < right : a.ManifestName < b.ManifestName;
  });
  return Status::Ok();
}

}  // namespace brevanto
