#pragma once
// The output side of a run's files, the mirror of the input side (engines/SqlInput.h):
//
//   input:   source (CFileSqlInput)  -> transforms (CompressedInput.h: gzip, zstd)  -> reader
//   output:  writer -> transforms (CompressedOutput.h: gzip, zstd; later encryption)
//                   -> DigestOutput (SHA-256 and size as stored) -> sink (LocalFileSink.h)
//
// Every stage takes and passes on whole pieces (a statement, a header, a row, or what a
// transform emits at a flush), so whatever the disk or the upload holds when a run stops
// ends on a whole statement. COutputFile (engines/OutputFile.h) assembles a chain; the
// writers see only it. Stages do not own the next one; the chain owns them all.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/Sha256.h"
#include "core/Status.h"

namespace brevanto {

class OutputStage {
 public:
  virtual ~OutputStage() = default;
  // Takes one whole piece. A stage may hold it back, but passes on only whole pieces.
  [[nodiscard]] virtual Status Write(std::string_view bytes) = 0;
  // The stream is complete: a transform passes on what it holds and its trailer, then
  // ends the next stage.
  [[nodiscard]] virtual Status End() = 0;
};

// What a transform does to the bytes (compress, encrypt), apart from passing them on.
class OutputTransform {
 public:
  virtual ~OutputTransform() = default;
  // As a copy's manifest lists it: "gzip", "zstd".
  virtual const char* Name() const = 0;
  // Transforms `input`, appending what comes out to `output`. With `flush`, the output so
  // far decodes to every byte handed over so far.
  [[nodiscard]] virtual Status Transform(std::string_view input, std::string& output,
                                         bool flush) = 0;
  // Ends the stream (gzip trailer, zstd end of frame). Transforming again afterwards
  // starts a new member or frame.
  [[nodiscard]] virtual Status Finish(std::string& output) = 0;
};

// Runs a transform and passes its output on at flushes only: a flush after every
// statement would cost most of the compression, while one every kFlushBytes of input,
// always at a piece's end, still leaves a cut-off file holding whole statements. The
// first transform of a chain flushes so; those after it get only flushed pieces and
// flush after each (`flushBytes` 0), or a cut-off file would end inside one.
class TransformOutput final : public OutputStage {
 public:
  static constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

  // `label` ends the transform's error messages (" - " + label): the file's name.
  TransformOutput(std::unique_ptr<OutputTransform> transform, OutputStage& next,
                  std::size_t flushBytes, std::string label)
      : m_transform(std::move(transform)),
        m_next(next),
        m_flushBytes(flushBytes),
        m_label(std::move(label)) {}

  Status Write(std::string_view bytes) override;
  Status End() override;
  const OutputTransform& Transform() const { return *m_transform; }

 private:
  std::unique_ptr<OutputTransform> m_transform;
  OutputStage& m_next;
  const std::size_t m_flushBytes;
  const std::string m_label;
  std::string m_held;                 // transformed, not yet passed on
  std::size_t m_inputSinceFlush = 0;  // input since the transform's last flush
};

// Passes every piece on and takes the SHA-256 and size of those the next stage took, so
// a copy's manifest describes the bytes as stored without reading them again.
class DigestOutput final : public OutputStage {
 public:
  explicit DigestOutput(OutputStage& next) : m_next(next) {}

  Status Write(std::string_view bytes) override;
  Status End() override { return m_next.End(); }
  std::uint64_t Size() const { return m_size; }
  // The digest of everything passed on, once at the end.
  std::string FinishHex() { return m_hash.FinishHex(); }

 private:
  OutputStage& m_next;
  Sha256 m_hash;
  std::uint64_t m_size = 0;
};

// Where the stored bytes go. Written under a name no reader takes for a backup; only a
// complete stream gets its final name.
class OutputSink : public OutputStage {
 public:
  // How Commit treats a final name that already exists.
  enum class Existing {
    Replace,    // the atomic rename replaces it (same-file mode, exports)
    AddSuffix,  // never replaced: "name_2.ext", "name_3.ext", ... instead
  };

  // Makes the stored bytes durable under their final name (see Existing). Afterwards
  // Path() is the name they got.
  [[nodiscard]] virtual Status Commit(Existing existing) = 0;
  // Keeps what was written under a name that plainly says it is unfinished.
  [[nodiscard]] virtual Status KeepIncomplete() = 0;
  virtual bool IsOpen() const = 0;
  // The final name asked for, or after Commit / KeepIncomplete the name the bytes got.
  virtual const std::string& Path() const = 0;
  Status End() override { return Status::Ok(); }
};

}  // namespace brevanto
