#include "tasks/CopyVerdict.h"

#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"
#include "tasks/CopyManifest.h"

namespace brevanto {

using nlohmann::json;

std::string VerdictPathOf(const std::string& manifestPath) {
  if (manifestPath.ends_with(kManifestSuffix)) {
    return manifestPath.substr(0, manifestPath.size() - kManifestSuffix.size()) +
           std::string(kVerdictSuffix);
  }
  return manifestPath + std::string(kVerdictSuffix);
}

std::string VerdictToJson(const CopyVerdict& verdict) {
  const json object{{"format", verdict.Format},
                    {"verified", verdict.Verified},
                    {"result", verdict.Ok ? "ok" : "failed"},
                    {"first_difference", verdict.FirstDifference},
                    {"differences", verdict.Differences},
                    {"checked",
                     {{"files", verdict.Files},
                      {"restored", verdict.Restored},
                      {"tables", verdict.Tables},
                      {"objects", verdict.Objects},
                      {"where", verdict.Where}}}};
  return object.dump(2) + "\n";
}

Status VerdictFromJson(std::string_view text, CopyVerdict& verdict) {
  try {
    const json object = json::parse(text);
    CopyVerdict read;
    read.Format = object.at("format").get<int>();
    if (read.Format > CopyVerdict::kFormat) {
      return Status::Error("The verification record has a newer format (" +
                           std::to_string(read.Format) + ")");
    }
    read.Verified = object.at("verified").get<std::string>();
    const std::string result = object.at("result").get<std::string>();
    if (result != "ok" && result != "failed") {
      return Status::Error("The verification record's result is \"" + result + "\"");
    }
    read.Ok = result == "ok";
    read.FirstDifference = object.value("first_difference", std::string());
    read.Differences = object.value("differences", std::uint64_t{0});
    if (const auto checked = object.find("checked"); checked != object.end()) {
      read.Files = checked->value("files", std::uint64_t{0});
      read.Restored = checked->value("restored", false);
      read.Tables = checked->value("tables", std::uint64_t{0});
      read.Objects = checked->value("objects", std::uint64_t{0});
      read.Where = checked->value("where", std::string());
    }
    verdict = std::move(read);
    return Status::Ok();
  } catch (const json::exception& e) {
    return Status::Error(std::string("The verification record is not valid! - ") + e.what());
  }
}

Status WriteVerdict(const std::string& path, const CopyVerdict& verdict) {
  return WriteFileAtomically(path, VerdictToJson(verdict));
}

Status ReadVerdict(const std::string& path, CopyVerdict& verdict) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes, 1u << 20)) return Status::Error("Cannot read " + path);
  Status status = VerdictFromJson(bytes, verdict);
  if (!status.ok()) return Status::Error(status.message() + " (" + path + ")");
  return status;
}

std::string VerdictSummary(const CopyVerdict& verdict) {
  return verdict.Ok ? "verified" : "failed: " + verdict.FirstDifference;
}

}  // namespace brevanto
