#pragma once
// Any remote the user configured for rclone, through the rclone program.

#include <memory>

#include "remote/RemoteStore.h"

namespace brevanto {

[[nodiscard]] Status MakeRcloneStore(const RemoteOptions& options, const TransferControl& control,
                                     std::unique_ptr<RemoteStore>& store);

}  // namespace brevanto
