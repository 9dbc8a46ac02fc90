#include "tasks/OffsiteRecord.h"

#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"
#include "tasks/CopyManifest.h"

namespace brevanto {

using nlohmann::json;

namespace {

// A record lists one line a file; anything bigger is not ours.
constexpr std::size_t kMaxRecordBytes = std::size_t{64} << 20;

Status Bad(const std::string& what) {
  return Status::Error("The off-site record is not valid! - " + what);
}

bool Text(const json& object, const char* key, std::string& value) {
  const auto it = object.find(key);
  if (it == object.end()) return true;
  if (!it->is_string()) return false;
  value = it->get<std::string>();
  return true;
}

}  // namespace

std::string OffsitePathOf(const std::string& manifestPath) {
  if (!manifestPath.ends_with(kManifestSuffix)) return {};
  return manifestPath.substr(0, manifestPath.size() - kManifestSuffix.size()) +
         std::string(kOffsiteSuffix);
}

std::string OffsiteRecordToJson(const OffsiteRecord& record) {
  json objects = json::array();
  for (const OffsiteObject& object : record.Objects) {
    objects.push_back(json{{"name", object.Name}, {"size", object.Size}});
  }
  json out = {{"format", record.Format},
              {"target", record.Target},
              {"uploaded", record.Uploaded},
              {"objects", std::move(objects)}};
  if (!record.Removed.empty()) out["removed"] = record.Removed;
  return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

Status OffsiteRecordFromJson(std::string_view text, OffsiteRecord& record) {
  const json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return Bad("not a JSON object");
  OffsiteRecord read;
  const auto format = parsed.find("format");
  if (format == parsed.end() || !format->is_number_integer()) return Bad("no format");
  read.Format = format->get<int>();
  if (read.Format != OffsiteRecord::kFormat) {
    return Bad("format " + std::to_string(read.Format) + " is not known");
  }
  if (!Text(parsed, "target", read.Target) || !Text(parsed, "uploaded", read.Uploaded) ||
      !Text(parsed, "removed", read.Removed)) {
    return Bad("a text is not a string");
  }
  if (read.Uploaded.empty()) return Bad("no upload time");
  const auto objects = parsed.find("objects");
  if (objects == parsed.end() || !objects->is_array()) return Bad("no objects");
  for (const json& object : *objects) {
    OffsiteObject entry;
    const auto size = object.is_object() ? object.find("size") : object.end();
    if (!object.is_object() || !Text(object, "name", entry.Name) || entry.Name.empty() ||
        size == object.end() || !size->is_number_unsigned()) {
      return Bad("an object has no name or size");
    }
    entry.Size = size->get<std::uint64_t>();
    read.Objects.push_back(std::move(entry));
  }
  record = std::move(read);
  return Status::Ok();
}

Status WriteOffsiteRecord(const std::string& path, const OffsiteRecord& record) {
  return WriteFileAtomically(path, OffsiteRecordToJson(record));
}

Status ReadOffsiteRecord(const std::string& path, OffsiteRecord& record) {
  std::string text;
  if (!ReadFileBytes(path, text, kMaxRecordBytes)) {
    return Status::Error("The off-site record cannot be read! - " + path);
  }
  Status parsed = OffsiteRecordFromJson(text, record);
  return parsed.ok() ? parsed : Status::Error(parsed.message() + " - " + path);
}

bool SameCopy(const BackupCopy& a, const BackupCopy& b) {
  BackupCopy left = a;
  left.Spare = b.Spare;
  return left == b;
}

OffsiteState OffsiteStateOf(const BackupCopy& copy) {
  const std::string path = OffsitePathOf(ManifestPathOf(copy));
  OffsiteRecord record;
  if (path.empty() || !FileExists(path) || !ReadOffsiteRecord(path, record).ok()) {
    return OffsiteState::None;
  }
  return record.InStore() ? OffsiteState::InStore : OffsiteState::Removed;
}

}  // namespace brevanto
