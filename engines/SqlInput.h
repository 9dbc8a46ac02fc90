#pragma once
// Where the statement splitter takes its bytes from: a small block-reader interface with
// a plain-file and an in-memory source, read through the transforms that undo what the
// writer applied (engines/CompressedInput.h). It mirrors the output chain
// (engines/OutputChain.h): there transforms write into a sink, here a source is read
// through transforms; OpenSqlInput() assembles an input as COutputFile assembles an
// output, recognising compressed files by their first bytes, so a compressed reader
// plugs in without the splitter or the restore knowing. One input serves one reader on
// one thread.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Age.h"
#include "core/Status.h"

namespace brevanto {

class CSqlInput {
 public:
  virtual ~CSqlInput() = default;

  // Reads up to `capacity` bytes into `buffer`, sets `got` (0 only at the end of the
  // input). A failed read returns the error's text (strerror or the decoder's reason).
  virtual Status Read(char* buffer, std::size_t capacity, std::size_t& got) = 0;
};

// Reads an open file descriptor, which it owns.
class CFileSqlInput : public CSqlInput {
 public:
  explicit CFileSqlInput(int fd) : m_fd(fd) {}
  ~CFileSqlInput() override;
  CFileSqlInput(const CFileSqlInput&) = delete;
  CFileSqlInput& operator=(const CFileSqlInput&) = delete;

  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override;

 private:
  int m_fd;
};

// Reads a text held elsewhere. REQUIRES: the text outlives the input.
class CTextSqlInput : public CSqlInput {
 public:
  explicit CTextSqlInput(std::string_view text) : m_rest(text) {}
  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override;

 private:
  std::string_view m_rest;
};

// The compression a file's first bytes announce.
enum class SqlCompression { None, Gzip, Zstd };
SqlCompression DetectCompression(std::string_view firstBytes);

// Opens the file at `path` for reading, decompressing it when its first bytes say it is
// compressed. On failure `input` stays empty and the message says why (the system's
// text, or that the format cannot be read), without the path.
Status OpenSqlInput(const std::string& path, std::unique_ptr<CSqlInput>& input);
// As above; a file in the age format (core/Age.h) is decrypted with `identities` first,
// then decompressed when what it holds is compressed.
Status OpenSqlInput(const std::string& path, const std::vector<AgeIdentity>& identities,
                    std::unique_ptr<CSqlInput>& input);

// As above, for a stream positioned at a file's first byte (an object of an off-site store).
Status OpenSqlInputStream(std::unique_ptr<CSqlInput> raw,
                          const std::vector<AgeIdentity>& identities,
                          std::unique_ptr<CSqlInput>& input);

// The whole (decompressed) text of the file at `path`, for loading a script to edit.
Status ReadWholeSqlFile(const std::string& path, std::string& text);

}  // namespace brevanto
