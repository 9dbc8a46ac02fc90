#pragma once
// An S3-compatible bucket through libcurl, which signs each request (AWS Signature V4).

#include <memory>

#include "remote/RemoteStore.h"

namespace brevanto {

[[nodiscard]] Status MakeS3Store(const RemoteOptions& options, const TransferControl& control,
                                 std::unique_ptr<RemoteStore>& store);

}  // namespace brevanto
