#pragma once
// LocalFileSink: the end of an output chain that stores its bytes in a local file, written
// under a temporary name in its final folder and given its final name only once complete.
//
// Every Write hands one whole piece to the OS at once; a failed or short write is cut
// back, so the file always ends on a whole piece. The temporary name
// (".<name>.<tag>-<unique>.brevanto-part") is one that no cleanup or restore picker takes
// for a backup; the sink holds an exclusive flock on it, so the leftover removal of a
// later run never takes a file that is still being written. Commit fsyncs the file,
// renames it and fsyncs the folder; KeepIncomplete gives an unfinished file a name that
// plainly says so ("<name>.incomplete"). A file left open at destruction is kept as
// incomplete. Used by one thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "engines/OutputChain.h"

namespace brevanto {

class LocalFileSink final : public OutputSink {
 public:
  LocalFileSink() = default;
  ~LocalFileSink() override;
  LocalFileSink(const LocalFileSink&) = delete;
  LocalFileSink& operator=(const LocalFileSink&) = delete;

  // Creates the temporary file in the folder of `finalPath`. `tag` names the task
  // (TemporaryFileTag). `ownerOnly` gives 0600, otherwise 0666 less the umask. The error
  // message is strerror + " - " + finalPath; Path() is `finalPath` either way.
  [[nodiscard]] Status Open(const std::string& finalPath, const std::string& tag, bool ownerOnly);

  // On failure the file is cut back to its length before the call and the message is
  // strerror + " - " + the final path.
  Status Write(std::string_view bytes) override;
  Status Commit(Existing existing) override;
  // Renames the unfinished file to "<final>.incomplete" (or "<stem>_2<ext>.incomplete"
  // ...), flushed like a complete one.
  Status KeepIncomplete() override;
  bool IsOpen() const override { return m_fd >= 0; }
  const std::string& Path() const override { return m_path; }
  const std::string& TemporaryPath() const { return m_temporaryPath; }
  std::uint64_t Size() const { return m_size; }

 private:
  // Renames the temporary file to the first free name `candidate(n)` gives, n = 1, 2 ...
  // (or to candidate(1) replacing it) and closes it.
  template <typename Candidate>
  Status Finish(bool replace, Candidate candidate);
  void Release();

  int m_fd = -1;
  std::string m_path;
  std::string m_temporaryPath;
  std::uint64_t m_size = 0;
  std::uint64_t m_writebackFrom = 0;  // start of the bytes whose disk write is not yet asked for
  static constexpr std::uint64_t kWritebackBytes = std::uint64_t{8} << 20;
};

// A short stable name for the temporary files of one task (a hash of its log file name,
// which stays the same for the task's whole life).
std::string TemporaryFileTag(const std::string& taskIdentity);

// Deletes the temporary files tagged `tag` in `folder` that nobody is writing (a run
// that was killed left them). Files of other tasks, and files whose writer still holds
// them, are left alone. Returns the number removed.
int RemoveLeftoverTemporaryFiles(const std::string& folder, const std::string& tag);

// "dir/name.sql" with n = 1, 2, 3: "dir/name.sql", "dir/name_2.sql", "dir/name_3.sql",
// each followed by `extra`; "dir/name.sql.gz" gives "dir/name_2.sql.gz". The names a
// numbered file gets, wherever it is stored.
std::string NumberedName(const std::string& path, int n, const char* extra = "");

// The folder part of `path` ("." for a bare name), without a trailing "/".
std::string FolderOf(const std::string& path);

}  // namespace brevanto
