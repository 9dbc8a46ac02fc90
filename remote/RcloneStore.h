#pragma once
// Any remote the user configured for rclone, through the rclone program (one run per
// operation, no shell): "<RcloneRemote>:<Path>/<name>". Uploads go to a hidden part name
// (".<name>.brevanto-part-<unique>", never listed) and are moved to the name once complete
// and checked. rclone finds its config as it would for the user (RCLONE_CONFIG is honoured);
// the config password (RemoteOptions::Password) reaches it in RCLONE_CONFIG_PASS, never on
// its command line. Calls may run on several threads at once.

#include <memory>

#include "remote/RemoteStore.h"

namespace brevanto {

[[nodiscard]] Status MakeRcloneStore(const RemoteOptions& options, const TransferControl& control,
                                     std::unique_ptr<RemoteStore>& store);

}  // namespace brevanto
