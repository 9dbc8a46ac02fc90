#include "engines/StatementSplitter.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevanto {
namespace {

// The single-byte white-space set: blank, tab, line feed, vertical tab, form feed, CR.
bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool StartsWithLetter(const std::string& text) {
  const char c = text.front();
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void TrimLeft(std::string& text) {
  std::size_t n = 0;
  while (n < text.size() && IsBlank(text[n])) ++n;
  if (n > 0) text.erase(0, n);
}

void TrimRight(std::string& text) {
  std::size_t n = text.size();
  while (n > 0 && IsBlank(text[n - 1])) --n;
  text.resize(n);
}

}  // namespace

bool CStatementSplitter::Feed(const char** data, const char* end, std::string& statement) {
  const char* p = *data;
  while (p < end) {
    const char* lineEnd = p;
    while (lineEnd < end && *lineEnd != '\r' && *lineEnd != '\n') ++lineEnd;
    m_current.append(p, lineEnd);
    if (lineEnd == end) {
      p = end;
      break;
    }
    p = lineEnd + 1;
    if (EndLine(statement)) {
      *data = p;
      return true;
    }
  }
  *data = p;
  return false;
}

bool CStatementSplitter::EndLine(std::string& statement) {
  if (m_current.empty()) return false;
  TrimLeft(m_current);
  if (m_current.empty()) return false;
  if (!StartsWithLetter(m_current)) {
    m_current.clear();
    return false;
  }
  if (m_current.back() != ';') return false;
  // Swapping hands the statement over and keeps the grown buffer for the next one.
  statement.swap(m_current);
  m_current.clear();
  return true;
}

bool CStatementSplitter::Finish(std::string& statement) {
  TrimLeft(m_current);
  TrimRight(m_current);
  // Trailing blanks after the last statement yield nothing rather than a lone ";".
  if (m_current.empty() || !StartsWithLetter(m_current)) {
    m_current.clear();
    return false;
  }
  if (m_current.back() != ';') m_current.push_back(';');
  statement.swap(m_current);
  m_current.clear();
  return true;
}

std::vector<std::string> SplitSqlStatements(std::string_view text) {
  std::vector<std::string> statements;
  CStatementSplitter splitter;
  const char* p = text.data();
  const char* end = p + text.size();
  std::string statement;
  while (splitter.Feed(&p, end, statement)) statements.push_back(std::move(statement));
  if (splitter.Finish(statement)) statements.push_back(std::move(statement));
  return statements;
}

CSqlFileReader::~CSqlFileReader() {
  if (m_fd >= 0) ::close(m_fd);
}

bool CSqlFileReader::Open(const std::string& path) {
  if (path.empty() || m_fd >= 0) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return false;
  }
  m_fd = fd;
  m_buffer.resize(kBufferSize);
  m_pos = m_end = m_buffer.data();
  return true;
}

bool CSqlFileReader::Next(std::string& statement) {
  if (m_fd < 0) return false;
  for (;;) {
    if (m_splitter.Feed(&m_pos, m_end, statement)) return true;
    if (m_atEnd) return false;
    ssize_t got;
    do {
      got = ::read(m_fd, m_buffer.data(), m_buffer.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      m_readFailed = true;
      m_atEnd = true;
      return false;
    }
    if (got == 0) {
      m_atEnd = true;
      return m_splitter.Finish(statement);
    }
    m_pos = m_buffer.data();
    m_end = m_pos + got;
  }
}

bool ReadSqlFileStatements(const std::string& path, std::vector<std::string>& statements) {
  CSqlFileReader reader;
  if (!reader.Open(path)) return false;
  std::string statement;
  while (reader.Next(statement)) statements.push_back(std::move(statement));
  return !reader.ReadFailed();
}

}  // namespace brevanto
