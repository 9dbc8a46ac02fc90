#include "tasks/CopyManifest.h"

#include <type_traits>

#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"

namespace brevanto {

using nlohmann::json;

namespace {

// Manifests are small (a line a table); a larger file is not one of ours.
constexpr std::size_t kMaxManifestBytes = std::size_t{256} << 20;

json FileJson(const ManifestFile& file) {
  return json{{"name", file.Name},
              {"size", file.Size},
              {"sha256", file.Sha256},
              {"transforms", file.Transforms}};
}

template <typename T>
bool Take(const json& object, const char* key, T& value) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return true;  // optional, keeps the default
  // The library would convert -1 to 2^64 - 1 and 1.5 to 1 without a word.
  if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
    if (!it->is_number_unsigned()) return false;
  } else if constexpr (std::is_integral_v<T>) {
    if (!it->is_number_integer()) return false;
  }
  try {
    value = it->get<T>();
    return true;
  } catch (const json::exception&) {
    return false;
  }
}

Status Bad(const std::string& what) {
  return Status::Error("The manifest is not valid! - " + what);
}

}  // namespace

std::string ManifestToJson(const CopyManifest& manifest) {
  json files = json::array();
  for (const ManifestFile& file : manifest.Files) files.push_back(FileJson(file));
  json tables = json::array();
  for (const ManifestTable& table : manifest.Tables) {
    tables.push_back(json{{"database", table.Database},
                          {"name", table.Name},
                          {"engine", table.Engine},
                          {"rows", table.Rows},
                          {"digest", table.Digest}});
  }
  json objects = json::array();
  for (const ManifestObject& object : manifest.Objects) {
    objects.push_back(json{{"kind", object.Kind},
                           {"database", object.Database},
                           {"name", object.Name},
                           {"digest", object.Digest}});
  }
  json root{{"format", manifest.Format},
            {"task", json{{"name", manifest.TaskName}, {"kind", manifest.TaskKind}}},
            {"started", manifest.Started},
            {"ended", manifest.Ended},
            {"program_version", manifest.ProgramVersion},
            {"server", json{{"host", manifest.Server.Host},
                            {"port", manifest.Server.Port},
                            {"version", manifest.Server.Version},
                            {"hostname", manifest.Server.Hostname},
                            {"server_id", manifest.Server.ServerId}}},
            {"snapshot", manifest.SnapshotMode},
            {"files", files},
            {"tables", tables},
            {"objects", objects}};
  if (manifest.Binlog) {
    root["binlog"] = json{{"file", manifest.Binlog->File},
                          {"position", manifest.Binlog->Position},
                          {"gtid_binlog_pos", manifest.Binlog->GtidPosition}};
  }
  if (!manifest.Recipients.empty()) {
    root["encryption"] = json{{"format", "age"}, {"recipients", manifest.Recipients}};
  }
  // Invalid UTF-8 in a name (a latin1 table name read as bytes) is kept as U+FFFD rather
  // than failing the whole manifest.
  return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

Status ManifestFromJson(std::string_view text, CopyManifest& manifest) {
  json root = json::parse(text.begin(), text.end(), nullptr, false);
  if (root.is_discarded() || !root.is_object()) return Bad("not a JSON object");
  CopyManifest out;
  if (!Take(root, "format", out.Format) || out.Format < 1) return Bad("format");
  if (const auto task = root.find("task"); task != root.end() && task->is_object()) {
    if (!Take(*task, "name", out.TaskName) || !Take(*task, "kind", out.TaskKind)) {
      return Bad("task");
    }
  }
  if (!Take(root, "started", out.Started) || !Take(root, "ended", out.Ended) ||
      !Take(root, "program_version", out.ProgramVersion) ||
      !Take(root, "snapshot", out.SnapshotMode)) {
    return Bad("run");
  }
  if (const auto server = root.find("server"); server != root.end() && server->is_object()) {
    const json& s = *server;
    if (!Take(s, "host", out.Server.Host) || !Take(s, "port", out.Server.Port) ||
        !Take(s, "version", out.Server.Version) || !Take(s, "hostname", out.Server.Hostname) ||
        !Take(s, "server_id", out.Server.ServerId)) {
      return Bad("server");
    }
  }
  const auto files = root.find("files");
  if (files == root.end() || !files->is_array()) return Bad("no file list");
  for (const json& f : *files) {
    ManifestFile file;
    if (!f.is_object() || !Take(f, "name", file.Name) || !Take(f, "size", file.Size) ||
        !Take(f, "sha256", file.Sha256) || !Take(f, "transforms", file.Transforms) ||
        file.Name.empty()) {
      return Bad("files");
    }
    out.Files.push_back(std::move(file));
  }
  if (const auto tables = root.find("tables"); tables != root.end() && tables->is_array()) {
    for (const json& t : *tables) {
      ManifestTable table;
      if (!t.is_object() || !Take(t, "database", table.Database) || !Take(t, "name", table.Name) ||
          !Take(t, "engine", table.Engine) || !Take(t, "rows", table.Rows) ||
          !Take(t, "digest", table.Digest)) {
        return Bad("tables");
      }
      out.Tables.push_back(std::move(table));
    }
  }
  if (const auto objects = root.find("objects"); objects != root.end() && objects->is_array()) {
    for (const json& o : *objects) {
      ManifestObject object;
      if (!o.is_object() || !Take(o, "kind", object.Kind) ||
          !Take(o, "database", object.Database) || !Take(o, "name", object.Name) ||
          !Take(o, "digest", object.Digest)) {
        return Bad("objects");
      }
      out.Objects.push_back(std::move(object));
    }
  }
  if (const auto binlog = root.find("binlog"); binlog != root.end() && binlog->is_object()) {
    ManifestBinlog b;
    if (!Take(*binlog, "file", b.File) || !Take(*binlog, "position", b.Position) ||
        !Take(*binlog, "gtid_binlog_pos", b.GtidPosition)) {
      return Bad("binlog");
    }
    out.Binlog = std::move(b);
  }
  if (const auto encryption = root.find("encryption");
      encryption != root.end() && encryption->is_object()) {
    if (!Take(*encryption, "recipients", out.Recipients)) return Bad("encryption");
  }
  manifest = std::move(out);
  return Status::Ok();
}

Status WriteManifest(const std::string& path, const CopyManifest& manifest) {
  return WriteFileAtomically(path, ManifestToJson(manifest));
}

Status ReadManifest(const std::string& path, CopyManifest& manifest) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes, kMaxManifestBytes)) {
    return Status::Error("Failed to read the manifest! - " + path);
  }
  Status status = ManifestFromJson(bytes, manifest);
  if (!status.ok()) return Status::Error(status.message() + " - " + path);
  return status;
}

std::string ManifestPathOf(const BackupCopy& copy) {
  if (!copy.CopyFolder.empty()) {
    std::string folder = copy.CopyFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + std::string(kManifestSuffix);
  }
  if (copy.CopyFiles.empty()) return {};
  return copy.CopyFiles.front() + std::string(kManifestSuffix);
}

namespace {
std::string FolderWithSlash(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
}  // namespace

std::string ManifestRelativeName(const std::string& manifestPath, const std::string& path) {
  const std::string folder = FolderWithSlash(manifestPath);
  if (!folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0) {
    return path.substr(folder.size());
  }
  return path;
}

std::string ManifestFilePath(const std::string& manifestPath, const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  return FolderWithSlash(manifestPath) + name;
}

}  // namespace brevanto
