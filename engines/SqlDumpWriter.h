#pragma once
// CSqlDumpWriter: writes the parts of a dump file (header, CREATE DATABASE, statements,
// prologue and epilogue) as SQL or, for FileType 2, as PHP script lines. Each call hands
// one complete piece to the output file. Used by one worker thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/DateTime.h"
#include "core/ServerInfo.h"
#include "core/Status.h"

namespace brevanto {

class COutputFile;
struct BackupSettings;

// The header of an SQL dump, ten lines each ending in `eol`.
std::string FormatSqlHeader(const std::string& host, const std::string& serverVersionText,
                            const TaskDateTime& runTime, const std::string& eol);

class CSqlDumpWriter {
 public:
  // `file` must stay alive while the writer is used. `fileType` 2 writes PHP.
  CSqlDumpWriter(COutputFile& file, std::uint8_t fileType, std::string eol);

  bool IsPhp() const { return m_php; }
  const std::string& Eol() const { return m_eol; }
  COutputFile& File() { return m_file; }

  Status WriteFileHeader(const CServerInfo& source, const std::string& serverVersionText,
                         const TaskDateTime& runTime);
  Status WritePhpConnect(const CServerInfo& source);
  Status WritePhpTrailer();
  // CREATE DATABASE IF NOT EXISTS (with DEFAULT CHARACTER SET when `charsetClause` and
  // `charset` is not empty, and then COLLATE when `collation` is not) and USE.
  Status WriteCreateDatabase(const std::string& database, bool quote, bool charsetClause,
                             const std::string& charset, const std::string& collation = {});
  // The statement with ";" (unless it ends in one) and the line end, or its PHP line.
  Status AppendStatement(std::string_view statement);
  // The same for a statement the caller rebuilds anyway: an SQL statement gets its
  // terminator appended in place, which saves a copy per row.
  Status AppendStatementInPlace(std::string& statement);

  // The SET statements that open a file. Write results are not checked, as the next
  // real statement reports the same failure.
  void WritePrologue(const BackupSettings& settings, const std::string& serverCharset,
                     unsigned long serverVersion);
  // The SET statements that close a file; nothing follows them to report a failed write,
  // so the first failure is returned.
  Status WriteEpilogue(const BackupSettings& settings, const std::string& serverCharset);
  // The SET statements for one table's character set.
  void WriteCharsetStatements(const std::string& charset, unsigned long serverVersion);
  // Without the SET statements a file must still say what its bytes are in: one
  // version-comment SET NAMES whenever `charset` differs from the last one declared.
  void DeclareCharset(const std::string& charset);
  // The character set the file's last SET statements chose; empty before any.
  const std::string& CurrentCharset() const { return m_charset; }

 private:
  Status Write(const std::string& text);

  COutputFile& m_file;
  bool m_php;
  std::string m_eol;
  std::string m_buffer;  // reused for every statement
  std::string m_charset;
  Status m_failure;  // the first failed write; later writes repeat it
};

}  // namespace brevanto
