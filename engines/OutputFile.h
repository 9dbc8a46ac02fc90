#pragma once
// COutputFile: one output file of a run (a dump, a PHP script, an export), written under a
// temporary name in its final folder and given its final name only once it is complete.
//
// Every Write hands one complete statement (or header, or row) to the OS at once; a failed
// or short write is cut back, so the file always ends on a whole statement. The temporary
// name (".<name>.<tag>-<unique>.brevanto-part") is one that no cleanup or restore picker
// takes for a backup; the writer holds an exclusive flock on it, so the leftover removal
// of a later run never takes a file that is still being written. Commit fsyncs the file,
// renames it and fsyncs the folder; KeepIncomplete gives an unfinished file a name that
// plainly says so ("<name>.incomplete"). A file left open at destruction is kept as
// incomplete. Move-only; used by one thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/Status.h"
#include "engines/CompressedOutput.h"

namespace brevanto {

class COutputFile {
 public:
  // How Commit treats a final name that already exists.
  enum class Existing {
    Replace,    // the atomic rename replaces it (same-file mode, exports)
    AddSuffix,  // never replaced: "name_2.ext", "name_3.ext", ... instead
  };

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
  // Writes `bytes` through to the OS. On failure the file is cut back to its length
  // before the call and the message is strerror + " - " + the final path.
  Status Write(std::string_view bytes);
  // Flushes the file to the disk, renames it to its final name (see Existing) and makes
  // the rename durable. Afterwards Path() is the name the file got.
  Status Commit(Existing existing);
  // Renames the unfinished file to "<final>.incomplete" (or "<stem>_2<ext>.incomplete"
  // ...), flushed like a complete one. Afterwards Path() is that name.
  Status KeepIncomplete();

  // Compresses every later Write (gzip or zstd; None writes plain again). Compressed
  // bytes reach the OS in flushed pieces of about kCompressedFlushBytes of input, each
  // ending on a whole statement; Commit and KeepIncomplete end the stream first.
  void SetCompression(Compression compression, int level);
  static constexpr std::size_t kCompressedFlushBytes = std::size_t{1} << 20;

  bool IsOpen() const { return m_fd >= 0; }
  // The final path asked for, or after Commit / KeepIncomplete the name the file got.
  const std::string& Path() const { return m_path; }
  const std::string& TemporaryPath() const { return m_temporaryPath; }
  std::uint64_t Size() const { return m_size; }

 private:
  // Renames the temporary file to the first free name `candidate(n)` gives, n = 1, 2 ...
  // (or to candidate(1) replacing it) and closes it.
  template <typename Candidate>
  Status Finish(bool replace, Candidate candidate);
  void Release();
  Status WriteThrough(std::string_view bytes);
  // Writes what the compressor still holds and ends its stream; Ok when not compressing.
  Status FinishCompression();

  int m_fd = -1;
  std::unique_ptr<CStreamCompressor> m_compressor;
  std::string m_compressed;           // compressor output not yet written
  std::size_t m_inputSinceFlush = 0;  // bytes given to the compressor since its last flush
  std::string m_path;
  std::string m_temporaryPath;
  std::uint64_t m_size = 0;
  std::uint64_t m_writebackFrom = 0;  // start of the bytes whose disk write is not yet asked for
  static constexpr std::uint64_t kWritebackBytes = std::uint64_t{8} << 20;
};

// `text` followed by the system's reason of a failed operation of a COutputFile (its
// message without the path), e.g. "Failed to write ...! - /b/x.sql (No space left on device)".
std::string WithFileError(const std::string& text, const Status& status);

// A short stable name for the temporary files of one task (a hash of its log file name,
// which stays the same for the task's whole life).
std::string TemporaryFileTag(const std::string& taskIdentity);

// Deletes the temporary files tagged `tag` in `folder` that nobody is writing (a run
// that was killed left them). Files of other tasks, and files whose writer still holds
// them, are left alone. Returns the number removed.
int RemoveLeftoverTemporaryFiles(const std::string& folder, const std::string& tag);

// The folder part of `path` ("." for a bare name), without a trailing "/".
std::string FolderOf(const std::string& path);

}  // namespace brevanto
