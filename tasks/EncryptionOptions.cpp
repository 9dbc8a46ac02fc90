#include "tasks/EncryptionOptions.h"

#include <nlohmann/json.hpp>

#include "core/Age.h"
#include "tasks/TaskOptionsStore.h"

namespace brevanto {

using nlohmann::json;

std::string EncryptionOptionsProblem(const EncryptionOptions& options) {
  std::vector<AgeRecipient> recipients;
  if (Status status = ParseAgeRecipients(options.Recipients, recipients); !status.ok()) {
    return status.message();
  }
  if (!options.IdentityFile.empty() && options.IdentityFile.front() != '/') {
    return "The identity file must be given by its full path: " + options.IdentityFile;
  }
  return {};
}

json EncryptionOptionsToJson(const EncryptionOptions& options) {
  json out = json::object();
  if (!options.Recipients.empty()) out["Recipients"] = options.Recipients;
  if (!options.IdentityFile.empty()) out["IdentityFile"] = options.IdentityFile;
  return out;
}

EncryptionOptions EncryptionOptionsFromJson(const json& object) {
  EncryptionOptions options;
  if (!object.is_object()) return options;
  if (const auto it = object.find("Recipients"); it != object.end() && it->is_array()) {
    for (const json& item : *it) {
      if (item.is_string()) options.Recipients.push_back(item.get<std::string>());
    }
  }
  if (const auto it = object.find("IdentityFile"); it != object.end() && it->is_string()) {
    options.IdentityFile = it->get<std::string>();
  }
  return options;
}

EncryptionOptions EncryptionOptionsOf(const CTaskItem& task) {
  return EncryptionOptionsFromJson(GetTaskSection(task, kEncryptionSection));
}

void SetEncryptionOptions(CTaskItem& task, const EncryptionOptions& options) {
  SetTaskSection(task, kEncryptionSection,
                 options.Empty() ? json() : EncryptionOptionsToJson(options));
}

}  // namespace brevanto
