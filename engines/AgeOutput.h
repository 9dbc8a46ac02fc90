#pragma once
// Encryption as a transform of the output chain (engines/OutputChain.h): the bytes after
// compression are written in the age format to the task's recipients. A flush cannot make
// an encrypted file readable before its end (the last chunk authenticates it), so pieces
// go on as whole 64 KiB chunks fill and the rest at the end.

#include <memory>
#include <string>
#include <vector>

#include "core/Age.h"
#include "core/Status.h"
#include "engines/OutputChain.h"

namespace brevanto {

Status MakeAgeTransform(const std::vector<AgeRecipient>& recipients,
                        std::unique_ptr<OutputTransform>& transform);

// ".age": what an encrypted file's name ends with.
inline constexpr const char* kAgeFileSuffix = ".age";
// `path` with that ending, unless the user's own name already has it.
std::string WithEncryptedFileSuffix(const std::string& path);

}  // namespace brevanto
