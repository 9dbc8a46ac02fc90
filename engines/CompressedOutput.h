#pragma once
// CStreamCompressor: gzip (zlib) or zstd (libzstd) compression of a stream handed over
// in pieces, the compressing transforms of an output chain (engines/OutputChain.h) for
// compressed dumps and exports; engines/CompressedInput.h holds their mirror, the
// decompressing readers. Output is produced as the libraries make it; a flush makes
// everything handed over so far decodable, so a file cut off after a flush still
// decompresses to whole statements. Not thread-safe; one per output file.

#include <memory>
#include <string>
#include <string_view>

#include "core/Status.h"
#include "engines/OutputChain.h"
#include "tasks/AdvancedOptions.h"

namespace brevanto {

class CStreamCompressor : public OutputTransform {
 public:
  // A compressor for `compression` (null for None). `level` 0 takes the library's default.
  // Named "gzip" or "zstd"; a stream compressed again after Finish gets a new member or
  // frame, which decompressors read as a continuation.
  static std::unique_ptr<CStreamCompressor> Create(Compression compression, int level);
};

// ".gz", ".zst" or "" for None: what a compressed file's name ends with.
const char* CompressedFileSuffix(Compression compression);
// `path` with that ending, unless the user's own name already has it ("db.sql.gz" stays).
std::string WithCompressedFileSuffix(const std::string& path, Compression compression);

}  // namespace brevanto
