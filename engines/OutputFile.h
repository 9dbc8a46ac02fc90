#pragma once
// COutputFile: one output file kept open for a run. Every Write hands one complete
// statement (or header) to the OS at once, so a cancelled or killed run leaves only
// whole statements; a failed or short write is cut back, so neither does a full disk.
// Move-only; used by one thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Status.h"

namespace brevanto {

class COutputFile {
 public:
  COutputFile() = default;
  ~COutputFile();
  COutputFile(COutputFile&& other) noexcept;
  COutputFile& operator=(COutputFile&& other) noexcept;
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // Creates or truncates `path` (closing any file open before). `ownerOnly` gives 0600
  // (files holding passwords), otherwise 0666 less the umask. The error message is
  // strerror + " - " + path.
  Status Create(const std::string& path, bool ownerOnly = false);
  // Opens an existing file for appending at its end.
  Status OpenForAppend(const std::string& path);
  // Writes `bytes` through to the OS. On failure the file is cut back to its length
  // before the call and the message is strerror + " - " + path.
  Status Write(std::string_view bytes);
  void Close();

  bool IsOpen() const { return m_fd >= 0; }
  const std::string& Path() const { return m_path; }
  std::uint64_t Size() const { return m_size; }

 private:
  int m_fd = -1;
  std::string m_path;
  std::uint64_t m_size = 0;
};

}  // namespace brevanto
