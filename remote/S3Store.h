#pragma once
// An S3-compatible bucket through libcurl, which signs each request (AWS Signature V4).
//
// Objects live under the options' Prefix. A file up to one part is sent with one PUT; a
// larger one, or a written object growing past one part, as a multipart upload with
// several parts in flight, completed only when every part arrived and aborted otherwise.
// Every object and part carries its SHA-256 (x-amz-checksum-sha256, and as
// x-amz-content-sha256 so that the signature covers the bytes) and its MD5 (Content-MD5),
// which the server checks.

#include <cstdint>
#include <memory>

#include "remote/RemoteStore.h"

namespace brevanto {

struct S3Limits {
  // Bytes per part (S3 wants at least 5 MiB for every part but the last) and parts sent at
  // once: memory held for an upload is at most their product.
  std::uint64_t PartBytes = 8 * 1024 * 1024;
  int PartsInFlight = 4;
  // A file up to this size goes up in one PUT read from the disk rather than in parts: no
  // part held in memory, one request, and no reassembly by the server.
  std::uint64_t SinglePutBytes = 256 * 1024 * 1024;
  // Parts of one upload, as S3 allows: parts grow past PartBytes for larger objects.
  int MaxParts = 10000;
  int ListPageSize = 1000;  // keys per ListObjectsV2 request
};

[[nodiscard]] Status MakeS3Store(const RemoteOptions& options, const TransferControl& control,
                                 std::unique_ptr<RemoteStore>& store, const S3Limits& limits = {});

}  // namespace brevanto
