#pragma once
// A task's "Encryption" section beside the task file: the public keys a backup or export is
// encrypted to, and for tasks that read encrypted files (restores, verification) the
// identity file that opens them. Only public keys and a path are stored, never a secret.

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "tasks/TaskItem.h"

namespace brevanto {

inline constexpr const char* kEncryptionSection = "Encryption";

struct EncryptionOptions {
  std::vector<std::string> Recipients;  // "age1...", in the order given
  std::string IdentityFile;             // absolute path, empty for none
  bool Empty() const { return Recipients.empty() && IdentityFile.empty(); }
  friend bool operator==(const EncryptionOptions&, const EncryptionOptions&) = default;
};

// What is wrong with `options` (a recipient that is not an age public key, a relative
// identity path), or empty when nothing is.
std::string EncryptionOptionsProblem(const EncryptionOptions& options);

nlohmann::json EncryptionOptionsToJson(const EncryptionOptions& options);
// Keys of the wrong type are ignored (a damaged section must not stop a run from loading);
// the run then checks the options with EncryptionOptionsProblem.
EncryptionOptions EncryptionOptionsFromJson(const nlohmann::json& object);

EncryptionOptions EncryptionOptionsOf(const CTaskItem& task);
// Stores the options; empty options remove the section.
void SetEncryptionOptions(CTaskItem& task, const EncryptionOptions& options);

}  // namespace brevanto
