#pragma once
// The SQL statement reader shared by script tasks and restores. It splits text the way
// the stock command-line client does: quoted strings ('...', "...", `...`) with
// backslash escapes and doubled quotes, comments (-- , #, /* */) outside quotes,
// version-conditional comments (/*!NNNNN ... */, /*M!NNNNNN ... */) kept for the server
// to decide, the DELIMITER command, and line breaks kept inside statements. As the
// client reads its input in lines, the CR of a CR LF line end is dropped everywhere
// (routine bodies and strings too); a lone CR is kept.
//
// Comments and blanks before a statement are dropped; comments inside one are kept, so
// stored routines keep their bodies as written. Input is read in blocks and only the
// current statement is held, so memory stays flat whatever the input's size.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Status.h"

namespace brevanto {

class CSqlInput;

struct SqlStatement {
  // Without its delimiter and trailing blanks. For a statement that was too long, only
  // its first bytes.
  std::string Text;
  std::uint64_t Number = 0;  // 1-based among the input's statements
  std::uint64_t Offset = 0;  // of its first byte in the input
};

enum class SplitResult {
  Statement,  // the next statement is complete
  TooLong,    // the next statement was longer than the limit; reading goes on after it
  End,        // no more statements
  Error,      // the input is not SQL text (ErrorText()); nothing more is read
};

// Reads the statements of one input. Not thread-safe; used by one run or one page.
class CStatementSplitter {
 public:
  static constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

  // `input` must outlive the splitter. Statements longer than `maxStatementBytes` are
  // skipped (SplitResult::TooLong) without being held in memory.
  explicit CStatementSplitter(CSqlInput& input, std::size_t maxStatementBytes = kNoLimit);
  CStatementSplitter(const CStatementSplitter&) = delete;
  CStatementSplitter& operator=(const CStatementSplitter&) = delete;

  SplitResult Next(SqlStatement& statement);

  // After Error or TooLong: what and where, e.g. "statement 3 (byte 120): ...".
  const std::string& ErrorText() const { return m_error; }

  // Whether a backslash escapes the next character inside '...' and "..." strings; off
  // when the server runs with NO_BACKSLASH_ESCAPES. On by default.
  void SetBackslashEscapes(bool on) { m_backslashEscapes = on; }

 private:
  enum class State { Normal, Quoted, LineComment, BlockComment, DelimiterCommand };
  enum class Step { Continue, Emit, Fail };

  bool Fill(std::size_t need);
  std::uint64_t Offset() const { return m_bufferOffset + m_pos; }
  void Append(const char* data, std::size_t size);
  void Start();
  Step ScanNormal();
  Step ScanBeforeStatement();
  void ScanQuoted();
  void ScanLineComment();
  Step ScanBlockComment();
  Step ScanDelimiterCommand();
  Step EndDelimiterCommand();
  Step AtEnd();
  // The byte at m_pos is the CR of a CR LF line end, which the stock client drops.
  bool AtCrLf();
  Step Fail(std::uint64_t offset, const std::string& what);
  SplitResult Emit(SqlStatement& statement);

  CSqlInput& m_input;
  std::size_t m_maxStatementBytes;
  bool m_backslashEscapes = true;

  // Left unzeroed: JoinSqlStatements makes a splitter for every statement it shows.
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_pos = 0;
  std::size_t m_end = 0;
  std::uint64_t m_bufferOffset = 0;  // input offset of m_buffer[0]
  bool m_inputEnded = false;
  std::string m_readError;

  State m_state = State::Normal;
  std::string m_delimiter = ";";
  char m_quote = 0;
  bool m_commentKept = false;
  std::uint64_t m_openedAt = 0;  // where the open string, comment or command began

  std::string m_text;
  bool m_started = false;
  bool m_tooLong = false;
  std::uint64_t m_statementBytes = 0;
  std::uint64_t m_statementOffset = 0;
  std::size_t m_keepLength = 0;  // trailing blanks are trimmed down to here, not below
  std::uint64_t m_count = 0;
  bool m_failed = false;
  std::string m_error;
};

// Splits a whole script text into statements, each ending with ";" as script tasks
// store them. On bad input returns the reason and leaves `statements` empty.
Status SplitSqlStatements(std::string_view text, std::vector<std::string>& statements);

// The text that shows stored statements again: each followed by a blank line; one that
// would not split back into itself (a routine body with ";" inside) is wrapped in a
// DELIMITER block, so splitting the text again gives the same list.
std::string JoinSqlStatements(const std::vector<std::string>& statements);

}  // namespace brevanto
