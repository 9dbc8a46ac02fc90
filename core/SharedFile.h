#pragma once
// Files the program writes for other users to read, such as a monitor's metrics: replaced
// whole as core/AtomicFile.h replaces the program's own files, but with the mode given
// instead of 0600. Such a file must hold nothing private.

#include <sys/types.h>

#include <string>
#include <string_view>

#include "core/Status.h"

namespace brevanto {

Status WriteSharedFileAtomically(const std::string& path, std::string_view bytes, mode_t mode);

}  // namespace brevanto
