#include "engines/CompressedInput.h"

#include <cstddef>
#include <string>
#include <vector>

#include <zlib.h>
#include <zstd.h>

namespace brevanto {
namespace {

constexpr std::size_t kCompressedBlock = 128 * 1024;

// What both decoders share: the compressed bytes read so far, where the decoder is, and
// the loop that feeds it until it gives output or the input ends.
class CCompressedInput : public CSqlInput {
 public:
  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = 0;
    while (got == 0) {
      bool more = true;
      Status status = Refill(more);
      if (!status.ok()) return status;
      if (!more) {
        if (!m_inMember) return Status::Ok();
        return Status::Error(std::string("the ") + Name() +
                             " data ends early (the file is truncated)");
      }
      status = Decode(buffer, capacity, got);
      if (!status.ok()) return status;
      m_outputHeld = got == capacity;
    }
    return Status::Ok();
  }

 protected:
  // Decodes from m_in[m_inPos, m_inEnd) into `buffer`, advances m_inPos, and sets
  // m_inMember while a member or frame is incomplete.
  virtual Status Decode(char* buffer, std::size_t capacity, std::size_t& got) = 0;
  virtual const char* Name() const = 0;

  explicit CCompressedInput(std::unique_ptr<CSqlInput> raw)
      : m_raw(std::move(raw)), m_in(kCompressedBlock) {}

  // Refills the compressed buffer when the decoder has taken all of it and holds no
  // output back; `more` false at the end of the raw input.
  Status Refill(bool& more) {
    more = true;
    if (m_inPos < m_inEnd || m_outputHeld) return Status::Ok();
    std::size_t got = 0;
    Status status = m_raw->Read(m_in.data(), m_in.size(), got);
    m_inPos = 0;
    m_inEnd = got;
    more = got > 0;
    return status;
  }

  std::unique_ptr<CSqlInput> m_raw;
  std::vector<char> m_in;
  std::size_t m_inPos = 0;
  std::size_t m_inEnd = 0;
  // The last call filled the caller's buffer: the decoder may hold more output.
  bool m_outputHeld = false;
  bool m_inMember = false;
};

class CGzipInput : public CCompressedInput {
 public:
  explicit CGzipInput(std::unique_ptr<CSqlInput> raw) : CCompressedInput(std::move(raw)) {}
  ~CGzipInput() override {
    if (m_ready) inflateEnd(&m_stream);
  }
  CGzipInput(const CGzipInput&) = delete;
  CGzipInput& operator=(const CGzipInput&) = delete;

  Status Init() {
    // 15 + 16: the largest window, gzip framing only.
    if (inflateInit2(&m_stream, 15 + 16) != Z_OK) {
      return Status::Error("the gzip decoder cannot be set up");
    }
    m_ready = true;
    return Status::Ok();
  }

  Status Decode(char* buffer, std::size_t capacity, std::size_t& got) override {
    m_stream.next_in = reinterpret_cast<Bytef*>(m_in.data() + m_inPos);
    m_stream.avail_in = static_cast<uInt>(m_inEnd - m_inPos);
    m_stream.next_out = reinterpret_cast<Bytef*>(buffer);
    m_stream.avail_out = static_cast<uInt>(capacity);
    m_inMember = true;
    const int result = inflate(&m_stream, Z_NO_FLUSH);
    m_inPos = m_inEnd - m_stream.avail_in;
    got = capacity - m_stream.avail_out;
    if (result == Z_STREAM_END) {
      // Another member may follow.
      m_inMember = false;
      inflateReset(&m_stream);
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      return Status::Error(std::string("the gzip data is damaged (") +
                           (m_stream.msg != nullptr ? m_stream.msg : "inflate failed") + ")");
    }
    return Status::Ok();
  }
  const char* Name() const override { return "gzip"; }

 private:
  z_stream m_stream{};
  bool m_ready = false;
};

class CZstdInput : public CCompressedInput {
 public:
  explicit CZstdInput(std::unique_ptr<CSqlInput> raw)
      : CCompressedInput(std::move(raw)), m_stream(ZSTD_createDStream()) {}
  ~CZstdInput() override { ZSTD_freeDStream(m_stream); }
  CZstdInput(const CZstdInput&) = delete;
  CZstdInput& operator=(const CZstdInput&) = delete;

  Status Init() {
    if (m_stream == nullptr || ZSTD_isError(ZSTD_initDStream(m_stream))) {
      return Status::Error("the zstd decoder cannot be set up");
    }
    return Status::Ok();
  }

  Status Decode(char* buffer, std::size_t capacity, std::size_t& got) override {
    ZSTD_inBuffer in{m_in.data(), m_inEnd, m_inPos};
    ZSTD_outBuffer out{buffer, capacity, 0};
    const std::size_t hint = ZSTD_decompressStream(m_stream, &out, &in);
    if (ZSTD_isError(hint)) {
      return Status::Error(std::string("the zstd data is damaged (") + ZSTD_getErrorName(hint) +
                           ")");
    }
    m_inPos = in.pos;
    got = out.pos;
    // 0: a frame is complete and flushed; another may follow.
    m_inMember = hint != 0;
    return Status::Ok();
  }
  const char* Name() const override { return "zstd"; }

 private:
  ZSTD_DStream* m_stream;
};

template <typename Decoder>
Status OpenDecoder(std::unique_ptr<CSqlInput> raw, std::unique_ptr<CSqlInput>& input) {
  auto decoder = std::make_unique<Decoder>(std::move(raw));
  Status status = decoder->Init();
  if (status.ok()) input = std::move(decoder);
  return status;
}

}  // namespace

Status OpenGzipInput(std::unique_ptr<CSqlInput> raw, std::unique_ptr<CSqlInput>& input) {
  return OpenDecoder<CGzipInput>(std::move(raw), input);
}

Status OpenZstdInput(std::unique_ptr<CSqlInput> raw, std::unique_ptr<CSqlInput>& input) {
  return OpenDecoder<CZstdInput>(std::move(raw), input);
}

}  // namespace brevanto
