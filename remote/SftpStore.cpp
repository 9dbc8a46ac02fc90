#include "remote/SftpStore.h"

namespace brevanto {

Status MakeSftpStore(const RemoteOptions& options, const TransferControl&,
                     std::unique_ptr<RemoteStore>&) {
  return Status::Error("Off-site copies to " + RemoteTargetText(options) +
                       " are not available yet");
}

}  // namespace brevanto
