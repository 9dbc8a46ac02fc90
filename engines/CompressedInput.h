#pragma once
// The transforms of an input (engines/SqlInput.h), mirroring the compressing transforms
// of the output chain (engines/CompressedOutput.h): readers that decompress gzip (zlib)
// and zstd (libzstd) streams block by block, so a compressed dump restores with the same
// flat memory as a plain one. Both accept several concatenated members or frames, as
// `cat a.gz b.gz` makes, and report input that ends inside a member instead of taking it
// for the end.

#include <memory>

#include "core/Status.h"
#include "engines/SqlInput.h"

namespace brevanto {

// Wrap `raw` (positioned at the compressed stream's first byte) in a decompressing
// input. Fail only when the decoder cannot be set up.
Status OpenGzipInput(std::unique_ptr<CSqlInput> raw, std::unique_ptr<CSqlInput>& input);
Status OpenZstdInput(std::unique_ptr<CSqlInput> raw, std::unique_ptr<CSqlInput>& input);

}  // namespace brevanto
