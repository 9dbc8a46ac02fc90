#pragma once
// The line-based SQL statement splitter shared by the script page and the restore from
// SQL files. It knows nothing of quotes or comments: a line break ends a statement when
// the text gathered so far starts with a letter and ends with ";"; text that starts with
// anything else (comment lines, stray values) is dropped at the line break. Line breaks
// themselves are never kept, so the last byte of a line touches the first of the next.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brevanto {

// Incremental form of the rule: bytes go in chunk by chunk, statements come out one at a
// time. One instance serves one text; not thread-safe.
class CStatementSplitter {
 public:
  // Consumes bytes of [*data, end) until a statement completes or the bytes run out.
  // Returns true with the statement (trimmed, ending in ";") in `statement` and *data
  // just past the line break that completed it; false when every byte was consumed.
  bool Feed(const char** data, const char* end, std::string& statement);

  // The end of the text: returns true with the last statement (";" appended when it has
  // none) when the text left over starts with a letter.
  bool Finish(std::string& statement);

 private:
  bool EndLine(std::string& statement);

  std::string m_current;
};

// Splits a whole text into statements.
std::vector<std::string> SplitSqlStatements(std::string_view text);

// Streams the statements of one SQL file with buffered reads, so memory holds one read
// buffer and one statement whatever the file's size. Not thread-safe.
class CSqlFileReader {
 public:
  CSqlFileReader() = default;
  ~CSqlFileReader();
  CSqlFileReader(const CSqlFileReader&) = delete;
  CSqlFileReader& operator=(const CSqlFileReader&) = delete;

  // False when the path is empty or names nothing that can be read as a file.
  bool Open(const std::string& path);

  // The next statement; false at the end of the file or when a read fails (ReadFailed()).
  // REQUIRES: Open() returned true.
  bool Next(std::string& statement);

  bool ReadFailed() const { return m_readFailed; }

 private:
  static constexpr std::size_t kBufferSize = 256 * 1024;

  int m_fd = -1;
  bool m_atEnd = false;
  bool m_readFailed = false;
  std::vector<char> m_buffer;
  const char* m_pos = nullptr;
  const char* m_end = nullptr;
  CStatementSplitter m_splitter;
};

// Reads every statement of the file at `path` into `statements` (appended). False when
// the path is empty or the file cannot be opened or read; true also for a file without
// statements.
bool ReadSqlFileStatements(const std::string& path, std::vector<std::string>& statements);

}  // namespace brevanto
