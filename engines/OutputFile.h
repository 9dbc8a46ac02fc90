#pragma once
// COutputFile: one output file of a run (a dump, a PHP script, an export), as the writers
// see it: an output chain (engines/OutputChain.h) of transforms (compression) into a sink,
// a local file under a temporary name (engines/LocalFileSink.h) given its final name only
// once complete. Every Write takes one complete statement (or header, or row); what
// reaches the file always ends on a whole one. On Commit it reports the file as stored
// (size, SHA-256, transforms) for the copy's manifest. A file left open at destruction is
// kept as incomplete. Move-only; used by one thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Status.h"
#include "engines/CompressedOutput.h"
#include "engines/LocalFileSink.h"
#include "engines/OutputChain.h"
#include "tasks/CopyManifest.h"

namespace brevanto {

class COutputFile {
 public:
  using Existing = OutputSink::Existing;

  COutputFile() = default;
  ~COutputFile();
  COutputFile(COutputFile&& other) noexcept;
  COutputFile& operator=(COutputFile&& other) noexcept;
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // Creates a new temporary file in the folder of `finalPath` (keeping any file open
  // before as incomplete). `tag` names the task (TemporaryFileTag). `ownerOnly` gives
  // 0600, otherwise 0666 less the umask. The error message is strerror + " - " + finalPath.
  Status Create(const std::string& finalPath, const std::string& tag, bool ownerOnly);
  // Writes into `sink` instead of a local file (an upload, a test's sink).
  void Create(std::unique_ptr<OutputSink> sink);
  // Writes `bytes` through the chain. On failure the file holds what it held before the
  // call and the message is strerror + " - " + the final path.
  Status Write(std::string_view bytes);
  // Ends the transforms, makes the file durable under its final name (see Existing).
  // Afterwards Path() is the name the file got and Stored() describes it.
  Status Commit(Existing existing);
  // Ends the transforms and renames the unfinished file to "<final>.incomplete" (or
  // "<stem>_2<ext>.incomplete" ...). Afterwards Path() is that name.
  Status KeepIncomplete();

  // Compresses every later Write (gzip or zstd; None writes plain again), replacing the
  // transforms set so far. Compressed bytes reach the file in flushed pieces of about
  // kCompressedFlushBytes of input, each ending on a whole statement.
  void SetCompression(Compression compression, int level);
  // Applies `transform` after those set so far (compression, then encryption). Before the
  // first Write.
  void AddTransform(std::unique_ptr<OutputTransform> transform);
  static constexpr std::size_t kCompressedFlushBytes = TransformOutput::kFlushBytes;

  bool IsOpen() const { return m_sink && m_sink->IsOpen(); }
  // The final path asked for, or after Commit / KeepIncomplete the name the file got.
  const std::string& Path() const;
  // The local file's temporary name while it is written; empty for another sink.
  const std::string& TemporaryPath() const;
  // Bytes stored so far (after the transforms).
  std::uint64_t Size() const { return m_digest ? m_digest->Size() : 0; }
  // After Commit: the file as stored, Name its full path.
  const ManifestFile& Stored() const { return m_stored; }

 private:
  // Links the transforms, the digest and the sink, first to last, once before the first
  // piece.
  OutputStage& Head();
  // Ends the transforms (their trailers reach the sink) and removes them from the chain.
  Status EndTransforms();

  std::unique_ptr<OutputSink> m_sink;
  std::unique_ptr<DigestOutput> m_digest;
  std::vector<std::unique_ptr<OutputTransform>> m_pending;     // transforms not yet linked
  std::vector<std::unique_ptr<TransformOutput>> m_transforms;  // in writing order
  std::vector<std::string> m_transformNames;
  OutputStage* m_head = nullptr;
  ManifestFile m_stored;
};

// `text` followed by the system's reason of a failed operation of a COutputFile (its
// message without the path), e.g. "Failed to write ...! - /b/x.sql (No space left on device)".
std::string WithFileError(const std::string& text, const Status& status);

}  // namespace brevanto
