#include "engines/StatementSplitter.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "engines/SqlInput.h"

namespace brevanto {
namespace {

// A read block and room for what is looked ahead at most ("delimiter" and a blank).
constexpr std::size_t kBufferSize = 256 * 1024 + 16;
// What a statement that is too long keeps of itself for the log.
constexpr std::size_t kTooLongKept = 1024;
constexpr std::size_t kMaxDelimiterLine = 1024;

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Control bytes that never occur in SQL text outside a string: a sign of binary data.
bool IsBinary(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 && !IsBlank(c);
}

// Bytes that may change the state outside quotes; everything else is copied in runs.
const std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = !IsBlank(static_cast<char>(c));
  for (unsigned char c : {'\'', '"', '`', '#', '-', '/', '\r'}) table[c] = true;
  return table;
}();

bool IsSpecial(char c) {
  return kSpecial[static_cast<unsigned char>(c)];
}

// Bytes a quoted string or a block comment ends its runs at.
bool EndsRun(char c, char stop, bool escapes) {
  return c == stop || c == '\r' || (escapes && c == '\\');
}

bool EqualsIgnoringCase(const char* text, const char* lowerWord, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerWord[i]) return false;
  }
  return true;
}

std::string Where(std::uint64_t statement, std::uint64_t offset) {
  return "statement " + std::to_string(statement) + " (byte " + std::to_string(offset) + ")";
}

}  // namespace

CStatementSplitter::CStatementSplitter(CSqlInput& input, std::size_t maxStatementBytes)
    : m_input(input),
      m_maxStatementBytes(maxStatementBytes),
      m_buffer(std::make_unique_for_overwrite<char[]>(kBufferSize)) {}

bool CStatementSplitter::Fill(std::size_t need) {
  while (m_end - m_pos < need) {
    if (m_inputEnded) return false;
    if (m_pos > 0) {
      std::memmove(m_buffer.get(), m_buffer.get() + m_pos, m_end - m_pos);
      m_bufferOffset += m_pos;
      m_end -= m_pos;
      m_pos = 0;
    }
    std::size_t got = 0;
    const Status status = m_input.Read(m_buffer.get() + m_end, kBufferSize - m_end, got);
    if (!status.ok()) {
      m_inputEnded = true;
      m_readError = status.message();
      return false;
    }
    if (got == 0) {
      m_inputEnded = true;
      return false;
    }
    m_end += got;
  }
  return true;
}

void CStatementSplitter::Append(const char* data, std::size_t size) {
  m_statementBytes += size;
  if (!m_tooLong && m_text.size() + size > m_maxStatementBytes) {
    // Only the start is kept, for the log; the rest is scanned but not held.
    m_tooLong = true;
    m_text.resize(std::min(m_text.size(), kTooLongKept));
    m_text.shrink_to_fit();
  }
  if (m_tooLong) {
    if (m_text.size() < kTooLongKept)
      m_text.append(data, std::min(size, kTooLongKept - m_text.size()));
    return;
  }
  m_text.append(data, size);
}

void CStatementSplitter::Start() {
  if (m_started) return;
  m_started = true;
  m_statementOffset = Offset();
}

CStatementSplitter::Step CStatementSplitter::Fail(std::uint64_t offset, const std::string& what) {
  m_failed = true;
  m_error = Where(m_count + 1, offset) + ": " + what;
  return Step::Fail;
}

SplitResult CStatementSplitter::Next(SqlStatement& statement) {
  if (m_failed) return SplitResult::Error;
  try {
    for (;;) {
      Step step = Step::Continue;
      if (m_pos == m_end && !Fill(1)) {
        step = AtEnd();
        if (step == Step::Continue) return SplitResult::End;
      } else {
        switch (m_state) {
          case State::Normal: step = m_started ? ScanNormal() : ScanBeforeStatement(); break;
          case State::Quoted: ScanQuoted(); break;
          case State::LineComment: ScanLineComment(); break;
          case State::BlockComment: step = ScanBlockComment(); break;
          case State::DelimiterCommand: step = ScanDelimiterCommand(); break;
        }
      }
      if (step == Step::Emit) return Emit(statement);
      if (step == Step::Fail) return SplitResult::Error;
    }
  } catch (const std::bad_alloc&) {
    const std::uint64_t size = m_text.size();
    std::string().swap(m_text);
    Fail(m_statementOffset, "out of memory after " + std::to_string(size) + " bytes");
    return SplitResult::Error;
  }
}

CStatementSplitter::Step CStatementSplitter::AtEnd() {
  if (!m_readError.empty()) {
    // Whatever was gathered is not known to be complete.
    return Fail(m_bufferOffset + m_end, "reading failed: " + m_readError);
  }
  switch (m_state) {
    case State::Quoted:
      return Fail(m_openedAt, std::string("the string opened by ") + m_quote +
                                  " here is not closed at the end of the file");
    case State::BlockComment:
      return Fail(m_openedAt, "the comment opened here is not closed at the end of the file");
    case State::DelimiterCommand: return EndDelimiterCommand();
    case State::LineComment:
      if (m_commentKept) {
        Append("\n", 1);
        m_keepLength = m_text.size();
      }
      m_state = State::Normal;
      break;
    case State::Normal: break;
  }
  if (m_state != State::Normal) return Step::Continue;
  return m_started ? Step::Emit : Step::Continue;
}

CStatementSplitter::Step CStatementSplitter::ScanBeforeStatement() {
  const char c = m_buffer[m_pos];
  if (IsBlank(c)) {
    ++m_pos;
    return Step::Continue;
  }
  if (Offset() == 0 && c == '\xef' && Fill(3) &&
      std::memcmp(&m_buffer[m_pos], "\xef\xbb\xbf", 3) == 0) {
    m_pos += 3;  // UTF-8 byte-order mark
    return Step::Continue;
  }
  if ((c == 'd' || c == 'D') && Fill(9) && EqualsIgnoringCase(&m_buffer[m_pos], "delimiter", 9) &&
      (!Fill(10) || IsBlank(m_buffer[m_pos + 9]))) {
    m_state = State::DelimiterCommand;
    m_openedAt = Offset();
    m_text.clear();
    m_pos += 9;
    return Step::Continue;
  }
  return ScanNormal();
}

CStatementSplitter::Step CStatementSplitter::ScanNormal() {
  const char c = m_buffer[m_pos];
  if (c == m_delimiter[0] && Fill(m_delimiter.size()) &&
      std::memcmp(&m_buffer[m_pos], m_delimiter.data(), m_delimiter.size()) == 0) {
    m_pos += m_delimiter.size();
    return m_started ? Step::Emit : Step::Continue;
  }
  switch (c) {
    case '\r':
      if (AtCrLf()) {
        ++m_pos;
        return Step::Continue;
      }
      break;
    case '\'':
    case '"':
    case '`':
      Start();
      m_quote = c;
      m_openedAt = Offset();
      m_state = State::Quoted;
      Append(&c, 1);
      ++m_pos;
      return Step::Continue;
    case '#':
      m_state = State::LineComment;
      m_commentKept = m_started;
      return Step::Continue;
    case '-':
      if (Fill(2) && m_buffer[m_pos + 1] == '-' && (!Fill(3) || IsBlank(m_buffer[m_pos + 2]))) {
        m_state = State::LineComment;
        m_commentKept = m_started;
        return Step::Continue;
      }
      break;
    case '/':
      if (Fill(2) && m_buffer[m_pos + 1] == '*') {
        const bool conditional =
            Fill(3) && (m_buffer[m_pos + 2] == '!' ||
                        (m_buffer[m_pos + 2] == 'M' && Fill(4) && m_buffer[m_pos + 3] == '!'));
        if (!conditional) {
          m_state = State::BlockComment;
          m_commentKept = m_started;
          m_openedAt = Offset();
          if (m_commentKept) Append("/*", 2);
          m_pos += 2;
          return Step::Continue;
        }
        // The server reads a conditional comment's text by its version: it is text here.
        Start();
        Append("/*", 2);
        m_pos += 2;
        return Step::Continue;
      }
      break;
    default:
      if (IsBinary(c)) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        return Fail(Offset(), std::string("binary data (byte ") + hex + "), not SQL text");
      }
      break;
  }
  Start();
  // A run of bytes that cannot end the statement or change the state.
  std::size_t end = m_pos + 1;
  const char first = m_delimiter[0];
  while (end < m_end && !IsSpecial(m_buffer[end]) && m_buffer[end] != first) ++end;
  Append(&m_buffer[m_pos], end - m_pos);
  m_pos = end;
  return Step::Continue;
}

void CStatementSplitter::ScanQuoted() {
  const bool escapes = m_backslashEscapes && m_quote != '`';
  std::size_t end = m_pos;
  while (end < m_end && !EndsRun(m_buffer[end], m_quote, escapes)) ++end;
  Append(&m_buffer[m_pos], end - m_pos);
  m_pos = end;
  if (m_pos == m_end) return;
  if (m_buffer[m_pos] == '\r') {
    if (!AtCrLf()) Append("\r", 1);
    ++m_pos;
    return;
  }
  if (m_buffer[m_pos] == m_quote) {
    // A doubled quote reads as two adjacent strings, which splits the same way.
    Append(&m_quote, 1);
    ++m_pos;
    m_state = State::Normal;
    return;
  }
  // A backslash and the byte it escapes; at the end of the input the string stays open.
  if (!Fill(2)) {
    Append(&m_buffer[m_pos], 1);
    ++m_pos;
    return;
  }
  if (m_buffer[m_pos + 1] == '\r' && Fill(3) && m_buffer[m_pos + 2] == '\n') {
    Append("\\\n", 2);  // the line end it escapes, without its CR
    m_pos += 3;
    return;
  }
  Append(&m_buffer[m_pos], 2);
  m_pos += 2;
}

bool CStatementSplitter::AtCrLf() {
  return m_buffer[m_pos] == '\r' && Fill(2) && m_buffer[m_pos + 1] == '\n';
}

void CStatementSplitter::ScanLineComment() {
  std::size_t end = m_pos;
  while (end < m_end && m_buffer[end] != '\n' && m_buffer[end] != '\r') ++end;
  if (m_commentKept) Append(&m_buffer[m_pos], end - m_pos);
  m_pos = end;
  if (m_pos == m_end) return;
  const char lineEnd = m_buffer[m_pos];
  ++m_pos;
  m_state = State::Normal;
  if (!m_commentKept) return;
  if (lineEnd == '\r' && Fill(1) && m_buffer[m_pos] == '\n') {
    ++m_pos;  // a CR LF line end reads as LF, as elsewhere
  } else if (lineEnd == '\r') {
    // The server ends a comment at a line feed only: a lone CR gets one.
    Append("\r\n", 2);
    m_keepLength = m_text.size();
    return;
  }
  Append("\n", 1);
  m_keepLength = m_text.size();
}

CStatementSplitter::Step CStatementSplitter::ScanBlockComment() {
  std::size_t end = m_pos;
  while (end < m_end && !EndsRun(m_buffer[end], '*', false)) ++end;
  if (m_commentKept) Append(&m_buffer[m_pos], end - m_pos);
  m_pos = end;
  if (m_pos == m_end) return Step::Continue;
  if (m_buffer[m_pos] == '\r') {
    if (!AtCrLf() && m_commentKept) Append("\r", 1);
    ++m_pos;
    return Step::Continue;
  }
  if (!Fill(2)) {
    if (m_commentKept) Append("*", 1);
    ++m_pos;
    return Step::Continue;
  }
  if (m_buffer[m_pos + 1] == '/') {
    if (m_commentKept) Append("*/", 2);
    m_pos += 2;
    m_state = State::Normal;
  } else {
    if (m_commentKept) Append("*", 1);
    ++m_pos;
  }
  return Step::Continue;
}

CStatementSplitter::Step CStatementSplitter::ScanDelimiterCommand() {
  std::size_t end = m_pos;
  while (end < m_end && m_buffer[end] != '\n' && m_buffer[end] != '\r') ++end;
  if (m_text.size() + (end - m_pos) > kMaxDelimiterLine) {
    return Fail(m_openedAt, "the DELIMITER line is too long");
  }
  m_text.append(&m_buffer[m_pos], end - m_pos);
  m_pos = end;
  if (m_pos == m_end) return Step::Continue;
  ++m_pos;
  return EndDelimiterCommand();
}

CStatementSplitter::Step CStatementSplitter::EndDelimiterCommand() {
  // As the stock client: a quoted argument up to its closing quote, else the first word.
  std::size_t begin = 0;
  while (begin < m_text.size() && IsBlank(m_text[begin])) ++begin;
  std::string delimiter;
  if (begin < m_text.size() &&
      (m_text[begin] == '\'' || m_text[begin] == '"' || m_text[begin] == '`')) {
    const std::size_t close = m_text.find(m_text[begin], begin + 1);
    delimiter = m_text.substr(begin + 1,
                              close == std::string::npos ? std::string::npos : close - begin - 1);
  } else {
    std::size_t end = begin;
    while (end < m_text.size() && !IsBlank(m_text[end])) ++end;
    delimiter = m_text.substr(begin, end - begin);
  }
  m_text.clear();
  if (delimiter.empty()) return Fail(m_openedAt, "DELIMITER must be followed by a delimiter");
  if (delimiter.find('\\') != std::string::npos) {
    return Fail(m_openedAt, "DELIMITER cannot contain a backslash");
  }
  m_delimiter = std::move(delimiter);
  m_state = State::Normal;
  return Step::Continue;
}

SplitResult CStatementSplitter::Emit(SqlStatement& statement) {
  ++m_count;
  const bool tooLong = m_tooLong;
  if (tooLong) {
    m_error = Where(m_count, m_statementOffset) + " has " + std::to_string(m_statementBytes) +
              " bytes, more than the " + std::to_string(m_maxStatementBytes) + " allowed";
  } else {
    std::size_t size = m_text.size();
    while (size > m_keepLength && IsBlank(m_text[size - 1])) --size;
    m_text.resize(size);
  }
  // Swapping hands the text over and keeps the grown buffer for the next statement.
  statement.Text.swap(m_text);
  statement.Number = m_count;
  statement.Offset = m_statementOffset;
  m_text.clear();
  m_started = false;
  m_tooLong = false;
  m_statementBytes = 0;
  m_keepLength = 0;
  return tooLong ? SplitResult::TooLong : SplitResult::Statement;
}

Status SplitSqlStatements(std::string_view text, std::vector<std::string>& statements) {
  statements.clear();
  CTextSqlInput input(text);
  CStatementSplitter splitter(input);
  SqlStatement statement;
  for (;;) {
    switch (splitter.Next(statement)) {
      case SplitResult::Statement: statements.push_back(statement.Text + ";"); break;
      case SplitResult::End: return Status::Ok();
      case SplitResult::TooLong:
      case SplitResult::Error: statements.clear(); return Status::Error(splitter.ErrorText());
    }
  }
}

namespace {

// Whether splitting `statement` again gives back exactly `statement`.
bool SplitsBackToItself(const std::string& statement) {
  std::vector<std::string> again;
  return SplitSqlStatements(statement, again).ok() && again.size() == 1 && again[0] == statement;
}

}  // namespace

std::string JoinSqlStatements(const std::vector<std::string>& statements) {
  std::string text;
  for (const std::string& statement : statements) {
    if (statement.empty()) continue;
    const std::string stored = statement.back() == ';' ? statement : statement + ";";
    if (SplitsBackToItself(stored)) {
      text += stored + "\n\n";
      continue;
    }
    std::string body = statement;
    if (body.back() == ';') body.pop_back();
    // A delimiter found nowhere in the body, nor across its end ("SELECT $" + "$$").
    std::string delimiter = "$$";
    for (int n = 1; (body + delimiter).find(delimiter) != body.size(); ++n) {
      delimiter = "$$" + std::to_string(n);
    }
    text += "DELIMITER " + delimiter + "\n" + body + delimiter + "\nDELIMITER ;\n\n";
  }
  return text;
}

}  // namespace brevanto
