#pragma once
// An SFTP folder through libssh; the host key is always checked.
//
// Objects live under RemoteOptions::Path (relative to the login folder, or absolute), in
// folders made as needed. An upload goes to ".<name>.brevanto-part-<random>" beside its
// object, never listed, and is renamed over the object once the server holds every byte.
//
// One connection per store, made on first use and made again after it is lost; a store
// and its writers are used by one thread at a time, and writers end before their store.

#include <memory>
#include <string>

#include "remote/RemoteStore.h"

namespace brevanto {

// `knownHostsFile` replaces the user's ~/.ssh/known_hosts when not empty.
[[nodiscard]] Status MakeSftpStore(const RemoteOptions& options, const TransferControl& control,
                                   std::unique_ptr<RemoteStore>& store,
                                   const std::string& knownHostsFile = "");

}  // namespace brevanto
