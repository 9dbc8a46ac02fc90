#include "engines/CompressedOutput.h"

#include <algorithm>
#include <cctype>

#include <zlib.h>
#include <zstd.h>

namespace brevanto {
namespace {

// zlib's counters are 32-bit: input is handed over in pieces no larger than this.
constexpr std::size_t kMaxZlibPiece = std::size_t{1} << 30;

class CGzipCompressor final : public CStreamCompressor {
 public:
  explicit CGzipCompressor(int level) : m_level(level == 0 ? Z_DEFAULT_COMPRESSION : level) {}
  ~CGzipCompressor() override {
    if (m_started) deflateEnd(&m_stream);
  }

  const char* Name() const override { return "gzip"; }
  Status Transform(std::string_view input, std::string& output, bool flush) override {
    if (Status s = Start(); !s.ok()) return s;
    do {
      const std::size_t piece = std::min(input.size(), kMaxZlibPiece);
      const bool last = piece == input.size();
      m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
      m_stream.avail_in = static_cast<uInt>(piece);
      if (Status s = Drain(output, last && flush ? Z_SYNC_FLUSH : Z_NO_FLUSH); !s.ok()) return s;
      input.remove_prefix(piece);
    } while (!input.empty());
    return Status::Ok();
  }

  Status Finish(std::string& output) override {
    if (!m_started) return Status::Ok();
    m_stream.avail_in = 0;
    Status s = Drain(output, Z_FINISH);
    deflateEnd(&m_stream);
    m_started = false;
    return s;
  }

 private:
  Status Start() {
    if (m_started) return Status::Ok();
    m_stream = z_stream{};
    // 15 + 16: the largest window with a gzip header and trailer, as gzip writes.
    if (deflateInit2(&m_stream, m_level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      return Status::Error("Failed to start gzip compression");
    }
    m_started = true;
    return Status::Ok();
  }

  // Runs deflate until it has taken all input and, for a flush or finish, emitted all
  // output.
  Status Drain(std::string& output, int mode) {
    char buffer[64 * 1024];
    for (;;) {
      m_stream.next_out = reinterpret_cast<Bytef*>(buffer);
      m_stream.avail_out = sizeof buffer;
      const int result = deflate(&m_stream, mode);
      if (result == Z_STREAM_ERROR) return Status::Error("gzip compression failed");
      output.append(buffer, sizeof buffer - m_stream.avail_out);
      if (mode == Z_FINISH) {
        if (result == Z_STREAM_END) return Status::Ok();
        continue;
      }
      if (m_stream.avail_in == 0 && m_stream.avail_out != 0) return Status::Ok();
    }
  }

  const int m_level;
  z_stream m_stream{};
  bool m_started = false;
};

// Level 1 rather than the library's 3: on dump text it compresses about as well at twice
// the speed, so a compressed dump keeps up with a plain one.
constexpr int kDefaultZstdLevel = 1;

class CZstdCompressor final : public CStreamCompressor {
 public:
  explicit CZstdCompressor(int level) : m_level(level == 0 ? kDefaultZstdLevel : level) {}
  ~CZstdCompressor() override { ZSTD_freeCCtx(m_context); }

  const char* Name() const override { return "zstd"; }
  Status Transform(std::string_view input, std::string& output, bool flush) override {
    if (Status s = Start(); !s.ok()) return s;
    m_open = true;
    return Run(input, output, flush ? ZSTD_e_flush : ZSTD_e_continue);
  }

  Status Finish(std::string& output) override {
    if (!m_open) return Status::Ok();
    m_open = false;
    return Run({}, output, ZSTD_e_end);
  }

 private:
  Status Start() {
    if (m_context != nullptr) return Status::Ok();
    m_context = ZSTD_createCCtx();
    if (m_context == nullptr ||
        ZSTD_isError(ZSTD_CCtx_setParameter(m_context, ZSTD_c_compressionLevel, m_level)) ||
        // A checksum per frame lets a damaged file be told from a short one.
        ZSTD_isError(ZSTD_CCtx_setParameter(m_context, ZSTD_c_checksumFlag, 1))) {
      return Status::Error("Failed to start zstd compression");
    }
    return Status::Ok();
  }

  Status Run(std::string_view input, std::string& output, ZSTD_EndDirective mode) {
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    char buffer[64 * 1024];
    for (;;) {
      ZSTD_outBuffer out{buffer, sizeof buffer, 0};
      const std::size_t remaining = ZSTD_compressStream2(m_context, &out, &in, mode);
      if (ZSTD_isError(remaining)) {
        return Status::Error(std::string("zstd compression failed: ") +
                             ZSTD_getErrorName(remaining));
      }
      output.append(buffer, out.pos);
      const bool done = mode == ZSTD_e_continue ? in.pos == in.size : remaining == 0;
      if (done) return Status::Ok();
    }
  }

  const int m_level;
  ZSTD_CCtx* m_context = nullptr;
  bool m_open = false;  // a frame was started and not yet ended
};

}  // namespace

std::unique_ptr<CStreamCompressor> CStreamCompressor::Create(Compression compression, int level) {
  switch (compression) {
    case Compression::Gzip:
      return std::make_unique<CGzipCompressor>(level);
    case Compression::Zstd:
      return std::make_unique<CZstdCompressor>(level);
    case Compression::None:
      break;
  }
  return nullptr;
}

const char* CompressedFileSuffix(Compression compression) {
  switch (compression) {
    case Compression::Gzip:
      return ".gz";
    case Compression::Zstd:
      return ".zst";
    case Compression::None:
      break;
  }
  return "";
}

std::string WithCompressedFileSuffix(const std::string& path, Compression compression) {
  const std::string_view suffix = CompressedFileSuffix(compression);
  if (suffix.empty() || path.empty()) return path;
  if (path.size() > suffix.size() &&
      std::equal(suffix.rbegin(), suffix.rend(), path.rbegin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
      })) {
    return path;
  }
  return path + std::string(suffix);
}

}  // namespace brevanto
