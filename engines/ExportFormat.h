#pragma once
// The texts of the four export formats (CSV, XML data packet, HTML table, TEXT): the
// header, one line per fetched row, and the trailer. Formatting only; ExportFile writes
// the texts. One formatter serves one table on one thread.

#include <cstdint>
#include <string>
#include <vector>

#include <mysql.h>

#include "tasks/TaskItem.h"

namespace brevanto {

// A column of an exported table: its name and client-library type code.
struct ExportColumn {
  std::string Name;
  int Type = 0;
  // Raw bytes rather than text (BIT, GEOMETRY, and BINARY, VARBINARY, BLOB): XML writes
  // them as hexadecimal.
  bool Binary = false;
};

// `name` as an XML name: every character an XML name cannot hold at its place (and ":",
// and the "_x" of a literal "_xHHHH_") becomes "_xHHHH_" with its code point in hex,
// four digits or eight beyond U+FFFF. Names that are valid already stay unchanged.
std::string XmlName(const std::string& name);

// The columns of a field listing (mysql_list_fields) or of a result set.
std::vector<ExportColumn> ExportColumnsOf(const MYSQL_FIELD* fields, unsigned int count);

// The XML FieldType name of a type code; empty for codes it does not know.
const char* XmlFieldType(int type);

// Builds the texts of one export file.
class CExportFormatter {
 public:
  // `session` escapes character data in its character set; null uses the escaping that
  // holds for every ASCII-compatible character set where no multibyte character carries
  // an ASCII byte (pure tests). `session` must outlive the formatter. With `nullMarker`
  // CSV and TEXT write NULL as \N (never enclosed) and the text "NULL" as it is, instead
  // of both as an empty value.
  CExportFormatter(std::vector<ExportColumn> columns, const ExportSettings& settings,
                   MYSQL* session, bool nullMarker = false);

  // The file's header: XML and HTML always have one; CSV and TEXT only with the column
  // names on top (otherwise empty).
  std::string Header() const;

  // The text of one row. `values` and `lengths` come from mysql_fetch_row and
  // mysql_fetch_lengths of a result with the formatter's columns. The returned text
  // lives until the next call.
  const std::string& Row(const MYSQL_ROW values, const unsigned long* lengths);

  // XML and HTML close their document; CSV and TEXT have no trailer (empty).
  static std::string Trailer(std::uint8_t format);

 private:
  // The value as written: escaped when string-like, trimmed, and "NULL" made empty; byte
  // strings are never trimmed or emptied, as their blanks are data.
  void PrepareValue(std::size_t column, const char* value, unsigned long length);
  // TEXT has no enclosure: a TAB, and a separator's first byte that the escaping left as
  // it is, get a backslash as the client's batch output gives them, or columns shift.
  void EscapeSeparators();
  void AppendSeparatedRow(const MYSQL_ROW values, const unsigned long* lengths);
  void AppendXmlRow(const MYSQL_ROW values, const unsigned long* lengths);
  void AppendHtmlRow(const MYSQL_ROW values, const unsigned long* lengths);

  std::vector<ExportColumn> m_columns;
  ExportSettings m_settings;
  MYSQL* m_session;
  bool m_nullMarker;
  std::string m_value;   // the prepared value of the current column
  std::string m_escape;  // scratch for escaping
  std::string m_separated;   // scratch for EscapeSeparators
  std::string m_separators;  // the bytes EscapeSeparators escapes
  bool m_byteSafe = true;    // no byte of a character is a separator byte in the session's set
  std::string m_row;     // the text of the current row
  std::vector<std::string> m_xmlNames;  // XmlName of each column, made at the first row
};

}  // namespace brevanto
