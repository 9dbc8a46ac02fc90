#pragma once
// CStreamCompressor: gzip (zlib) or zstd (libzstd) compression of a stream handed over
// in pieces, for compressed dumps and exports. Output is produced as the libraries make
// it; a flush makes everything handed over so far decodable, so a file cut off after a
// flush still decompresses to whole statements. Not thread-safe; one per output file.

#include <memory>
#include <string>
#include <string_view>

#include "core/Status.h"
#include "tasks/AdvancedOptions.h"

namespace brevanto {

class CStreamCompressor {
 public:
  // A compressor for `compression` (null for None). `level` 0 takes the library's default.
  static std::unique_ptr<CStreamCompressor> Create(Compression compression, int level);
  virtual ~CStreamCompressor() = default;

  // Compresses `input`, appending what the library emits to `output`. With `flush`, the
  // output then decodes to every byte handed over so far.
  [[nodiscard]] virtual Status Compress(std::string_view input, std::string& output,
                                        bool flush) = 0;
  // Ends the stream (gzip trailer, zstd end of frame). Compressing again afterwards
  // starts a new member or frame, which decompressors read as a continuation.
  [[nodiscard]] virtual Status Finish(std::string& output) = 0;
};

// ".gz", ".zst" or "" for None: what a compressed file's name ends with.
const char* CompressedFileSuffix(Compression compression);
// `path` with that ending, unless the user's own name already has it ("db.sql.gz" stays).
std::string WithCompressedFileSuffix(const std::string& path, Compression compression);

}  // namespace brevanto
