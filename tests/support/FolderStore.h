// An off-site store over a local folder, for tests of what reads copies back (listing,
// fetching, restoring) without a server. Objects are files under the folder; a Get hands
// the bytes on in small pieces, as a network store would.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/AtomicFile.h"
#include "remote/RemoteStore.h"

namespace brevanto::test {

class FolderStore : public RemoteStore {
 public:
  explicit FolderStore(std::string folder) : m_folder(std::move(folder)) {
    if (m_folder.back() != '/') m_folder += '/';
  }

  std::string Describe() const override { return "folder " + m_folder; }

  Status OpenWriter(const std::string&, std::unique_ptr<ObjectWriter>&) override {
    return Status::Error("not offered by the test store");
  }
  Status PutFile(const std::string& localPath, const std::string& name) override {
    std::string bytes;
    if (!ReadFileBytes(localPath, bytes)) return Status::Error("cannot read " + localPath);
    return PutBytes(name, bytes);
  }
  Status PutBytes(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path(m_folder + name);
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    return WriteFileAtomically(path.string(), bytes);
  }
  Status Get(const std::string& name,
             const std::function<Status(std::string_view)>& consume) override {
    ++Gets;
    std::ifstream in(m_folder + name, std::ios::binary);
    if (!in) return Status::Error("no such object: " + name + " - " + Describe());
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
      if (Status status = consume(std::string_view(buffer, in.gcount())); !status.ok()) {
        return status;
      }
    }
    return Status::Ok();
  }
  Status List(const std::string& under, std::vector<RemoteObject>& objects) override {
    objects.clear();
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(m_folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (!it->is_regular_file()) continue;
      const std::string name = it->path().string().substr(m_folder.size());
      if (name.rfind(under, 0) == 0) objects.push_back({name, it->file_size()});
    }
    if (error) return Status::Error("cannot list " + m_folder + ": " + error.message());
    std::sort(objects.begin(), objects.end(),
              [](const RemoteObject& a, const RemoteObject& b) { return a.Name < b.Name; });
    return Status::Ok();
  }
  Status Delete(const std::string& name) override {
    RemoveFileIfExists(m_folder + name);
    return Status::Ok();
  }

  int Gets = 0;

 private:
  std::string m_folder;
};

}  // namespace brevanto::test
