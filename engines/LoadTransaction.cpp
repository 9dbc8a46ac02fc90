#include "engines/LoadTransaction.h"

#include <algorithm>

#include "engines/InsertStatements.h"
#include "engines/MySqlConnection.h"

namespace brevanto {
namespace {

// Statements per commit. A long transaction made the server spend more CPU on every row
// it loads (about twice as much over a whole 22 MB table as with a commit every
// megabyte), while a commit per filled statement costs next to nothing.
constexpr std::size_t kStatementsPerCommit = 1;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsWordByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$';
}

// The next word at `i` in upper case, `i` moved past it and the blanks after it.
std::string NextWord(const std::string& text, std::size_t& i) {
  std::string word;
  while (i < text.size() && IsWordByte(text[i])) {
    char c = text[i++];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    word.push_back(c);
  }
  while (i < text.size() && IsBlank(text[i])) ++i;
  return word;
}

// A name at `i`: a backtick-quoted or bare word, moved past.
std::string NextName(const std::string& text, std::size_t& i) {
  const std::size_t start = i;
  if (i < text.size() && text[i] == '`') {
    for (++i; i < text.size(); ++i) {
      if (text[i] != '`') continue;
      if (i + 1 < text.size() && text[i + 1] == '`') {
        ++i;
        continue;
      }
      ++i;
      return text.substr(start, i - start);
    }
    return {};
  }
  while (i < text.size() && IsWordByte(text[i])) ++i;
  return text.substr(start, i - start);
}

}  // namespace

std::size_t LoadCommitBytes(std::uint32_t statementBytes) {
  const std::size_t statement = std::max<std::size_t>(statementBytes, kMaxMultiRowInsertBytes);
  return statement * kStatementsPerCommit;
}

bool BeginFastLoad(CMySQLConnection& connection) {
  return connection.Execute(
      "SET @BREVANTO_UNIQUE_CHECKS=@@UNIQUE_CHECKS, "
      "@BREVANTO_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS, UNIQUE_CHECKS=0, FOREIGN_KEY_CHECKS=0");
}

bool EndFastLoad(CMySQLConnection& connection) {
  return connection.Execute(
      "SET UNIQUE_CHECKS=IFNULL(@BREVANTO_UNIQUE_CHECKS, 1), "
      "FOREIGN_KEY_CHECKS=IFNULL(@BREVANTO_FOREIGN_KEY_CHECKS, 1)");
}

std::string InsertTarget(const std::string& statement) {
  std::size_t i = 0;
  while (i < statement.size() && IsBlank(statement[i])) ++i;
  const std::string verb = NextWord(statement, i);
  if (verb != "INSERT" && verb != "REPLACE") return {};
  for (int words = 0; words < 4; ++words) {
    const std::string word = NextWord(statement, i);
    if (word == "INTO") break;
    if (word != "LOW_PRIORITY" && word != "DELAYED" && word != "HIGH_PRIORITY" &&
        word != "IGNORE") {
      return {};
    }
  }
  return NameAt(statement, i);
}

std::string NameAt(const std::string& statement, std::size_t& i) {
  std::string name = NextName(statement, i);
  if (name.empty()) return {};
  if (i < statement.size() && statement[i] == '.') {
    ++i;
    const std::string table = NextName(statement, i);
    if (table.empty()) return {};
    name += "." + table;
  }
  return name;
}

TableLockChange TableLockChangeOf(const std::string& statement) {
  std::size_t i = 0;
  while (i < statement.size() && IsBlank(statement[i])) ++i;
  const std::string verb = NextWord(statement, i);
  if (verb != "LOCK" && verb != "UNLOCK") return TableLockChange::None;
  const std::string object = NextWord(statement, i);
  if (object != "TABLES" && object != "TABLE") return TableLockChange::None;
  return verb == "LOCK" ? TableLockChange::Lock : TableLockChange::Unlock;
}

bool CLoadTransaction::Begin() {
  if (m_open) return true;
  m_bytes = 0;
  m_open = m_connection.Execute("START TRANSACTION");
  return m_open;
}

bool CLoadTransaction::Sent(std::size_t bytes) {
  m_bytes += bytes;
  if (!m_open || m_bytes < m_commitBytes) return true;
  return Commit() && Begin();
}

bool CLoadTransaction::Commit() {
  if (!m_open) return true;
  m_open = false;
  return m_connection.Execute("COMMIT");
}

}  // namespace brevanto
