#include "engines/SqlDumpWriter.h"

#include <cstdio>
#include <utility>

#include "engines/MySqlConnection.h"
#include "engines/OutputFile.h"
#include "engines/PhpDumpWriter.h"
#include "engines/ServerCopyText.h"
#include "tasks/TaskItem.h"

namespace brevanto {

std::string FormatSqlHeader(const std::string& host, const std::string& serverVersionText,
                            const TaskDateTime& runTime, const std::string& eol) {
  char date[64];
  std::snprintf(date, sizeof date, "%d-%02d-%02d %02d:%02d:%02d", runTime.Year, runTime.Month,
                runTime.Day, runTime.Hour, runTime.Minute, runTime.Second);
  std::string out;
  for (const std::string& line :
       {std::string("-- Brevanto Standard Edition 2.0"), std::string("--"), "-- Host: " + host,
        std::string("--"), "-- MySQL Server Version: " + serverVersionText, std::string("--"),
        "-- " + std::string(date), std::string("--"), "-- " + std::string(54, '-'),
        std::string()}) {
    out += line;
    out += eol;
  }
  return out;
}

CSqlDumpWriter::CSqlDumpWriter(COutputFile& file, std::uint8_t fileType, std::string eol)
    : m_file(file), m_php(fileType == 2), m_eol(std::move(eol)) {}

Status CSqlDumpWriter::Write(const std::string& text) {
  // After a lost statement the file takes nothing more: what followed would be replayed
  // after a hole (a table left locked, rows missing) as if it were whole.
  if (!m_failure.ok()) return m_failure;
  Status written = m_file.Write(text);
  if (!written.ok()) m_failure = written;
  return written;
}

Status CSqlDumpWriter::WriteFileHeader(const CServerInfo& source,
                                       const std::string& serverVersionText,
                                       const TaskDateTime& runTime) {
  return Write(m_php ? FormatPhpHeader(source.Host, serverVersionText, runTime, m_eol)
                            : FormatSqlHeader(source.Host, serverVersionText, runTime, m_eol));
}

Status CSqlDumpWriter::WritePhpConnect(const CServerInfo& source) {
  return Write(FormatPhpConnect(source, m_eol));
}

Status CSqlDumpWriter::WritePhpTrailer() {
  return Write(FormatPhpTrailer(m_eol));
}

Status CSqlDumpWriter::WriteCreateDatabase(const std::string& database, bool quote,
                                           bool charsetClause, const std::string& charset,
                                           const std::string& collation) {
  const std::string statement =
      CreateDatabaseStatement(database, quote, charset, charsetClause, collation);
  if (m_php) return Write(FormatPhpCreateDatabase(statement, database, m_eol));
  return Write(statement + ";" + m_eol + "USE " + QuoteName(database, quote) + ";" + m_eol +
                      m_eol);
}

Status CSqlDumpWriter::AppendStatement(std::string_view statement) {
  m_buffer.clear();
  if (m_php) {
    AppendPhpStatement(m_buffer, statement, m_eol);
  } else {
    m_buffer.reserve(statement.size() + 3);
    m_buffer.append(statement);
    if (statement.empty() || statement.back() != ';') m_buffer += ';';
    m_buffer += m_eol;
  }
  return Write(m_buffer);
}

Status CSqlDumpWriter::AppendStatementInPlace(std::string& statement) {
  if (m_php) return AppendStatement(statement);
  if (statement.empty() || statement.back() != ';') statement += ';';
  statement += m_eol;
  return Write(statement);
}

void CSqlDumpWriter::WriteCharsetStatements(const std::string& charset,
                                            unsigned long serverVersion) {
  m_charset = charset;
  (void)AppendStatement("SET CHARACTER_SET_CLIENT='" + charset + "'");
  (void)AppendStatement("SET CHARACTER_SET_RESULTS='" + charset + "'");
  (void)AppendStatement("SET CHARACTER_SET_CONNECTION='" + charset + "'");
  if (HasCharacterSets(serverVersion)) (void)AppendStatement("SET NAMES '" + charset + "'");
}

void CSqlDumpWriter::DeclareCharset(const std::string& charset) {
  if (charset.empty() || charset == m_charset) return;
  m_charset = charset;
  (void)AppendStatement("/*!40101 SET NAMES " + charset + " */");
}

void CSqlDumpWriter::WritePrologue(const BackupSettings& settings, const std::string& serverCharset,
                                   unsigned long serverVersion) {
  if (settings.AddSetNames != 0 && !serverCharset.empty()) {
    (void)AppendStatement("SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT");
    (void)AppendStatement("SET @OLD_CHARACTER_SET_RESULTS=@@CHARACTER_SET_RESULTS");
    (void)AppendStatement("SET @OLD_CHARACTER_SET_CONNECTION=@@CHARACTER_SET_CONNECTION");
    (void)AppendStatement("SET @OLD_COLLATION_CONNECTION=@@COLLATION_CONNECTION");
    WriteCharsetStatements(serverCharset, serverVersion);
  }
  if (settings.AddSetUniqueChecks != 0) {
    (void)AppendStatement("SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS");
    (void)AppendStatement("SET UNIQUE_CHECKS=0");
  }
  if (settings.AddSetForeignKeyChecks != 0) {
    (void)AppendStatement("SET @OLD_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS");
    (void)AppendStatement("SET FOREIGN_KEY_CHECKS=0");
  }
  (void)AppendStatement("SET @OLD_SQL_MODE=@@SQL_MODE");
  (void)AppendStatement("SET SQL_MODE='NO_AUTO_VALUE_ON_ZERO'");
  if (settings.AddSetSqlNotes != 0) {
    (void)AppendStatement("SET @OLD_SQL_NOTES=@@SQL_NOTES");
    (void)AppendStatement("SET SQL_NOTES=0");
  }
  // The rows were read in UTC; a restoring session in another zone would shift every
  // TIMESTAMP by the difference.
  (void)AppendStatement("/*!40103 SET @OLD_TIME_ZONE=@@TIME_ZONE */");
  (void)AppendStatement("/*!40103 SET TIME_ZONE='+00:00' */");
}

Status CSqlDumpWriter::WriteEpilogue(const BackupSettings& settings,
                                     const std::string& serverCharset) {
  (void)AppendStatement("SET SQL_MODE=@OLD_SQL_MODE");
  if (settings.AddSetForeignKeyChecks != 0) {
    (void)AppendStatement("SET FOREIGN_KEY_CHECKS=@OLD_FOREIGN_KEY_CHECKS");
  }
  if (settings.AddSetUniqueChecks != 0) {
    (void)AppendStatement("SET UNIQUE_CHECKS=@OLD_UNIQUE_CHECKS");
  }
  if (settings.AddSetSqlNotes != 0) (void)AppendStatement("SET SQL_NOTES=@OLD_SQL_NOTES");
  if (settings.AddSetNames != 0 && !serverCharset.empty()) {
    (void)AppendStatement("SET CHARACTER_SET_CLIENT=@OLD_CHARACTER_SET_CLIENT");
    (void)AppendStatement("SET CHARACTER_SET_RESULTS=@OLD_CHARACTER_SET_RESULTS");
    (void)AppendStatement("SET CHARACTER_SET_CONNECTION=@OLD_CHARACTER_SET_CONNECTION");
    (void)AppendStatement("SET COLLATION_CONNECTION=@OLD_COLLATION_CONNECTION");
  }
  // After a failed write every later one repeats that failure: the last tells for all.
  return AppendStatement("/*!40103 SET TIME_ZONE=@OLD_TIME_ZONE */");
}

}  // namespace brevanto
