#pragma once
// An SFTP folder through libssh; the host key is always checked.

#include <memory>

#include "remote/RemoteStore.h"

namespace brevanto {

[[nodiscard]] Status MakeSftpStore(const RemoteOptions& options, const TransferControl& control,
                                   std::unique_ptr<RemoteStore>& store);

}  // namespace brevanto
