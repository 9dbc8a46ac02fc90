#include "engines/ExportFormat.h"

#include <string_view>
#include <utility>

#include "engines/ValueRenderer.h"

namespace brevanto {
namespace {

constexpr std::uint8_t kCsv = 1;
constexpr std::uint8_t kXml = 2;
constexpr std::uint8_t kHtml = 3;

bool IsStringLike(int type) {
  return type == MYSQL_TYPE_VARCHAR || (type >= MYSQL_TYPE_ENUM && type <= MYSQL_TYPE_STRING);
}

// BIT and GEOMETRY values are raw bytes: trimming or blanking them would change the data.
bool IsBinaryValue(int type) {
  return type == MYSQL_TYPE_BIT || type == MYSQL_TYPE_GEOMETRY;
}

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Appends `value` to `out` without white space at either end.
void AppendTrimmed(std::string& out, const char* value, std::size_t length) {
  std::size_t begin = 0;
  while (begin < length && IsBlank(value[begin])) ++begin;
  while (length > begin && IsBlank(value[length - 1])) --length;
  out.append(value + begin, length - begin);
}

// Replaces every occurrence of `from`, scanning left to right; replaced text is not
// scanned again.
void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::size_t pos = text.find(from);
  if (pos == std::string::npos) return;
  std::string result;
  result.reserve(text.size());
  std::size_t start = 0;
  while (pos != std::string::npos) {
    result.append(text, start, pos - start);
    result.append(to);
    start = pos + from.size();
    pos = text.find(from, start);
  }
  result.append(text, start, std::string::npos);
  text = std::move(result);
}

// Entities already in the data are turned back first so that they are not doubled.
void UnescapeMarkup(std::string& value, bool html) {
  if (value.find('&') == std::string::npos) return;
  ReplaceAll(value, "&amp;", "&");
  ReplaceAll(value, "&amp", "&");
  if (html) {
    ReplaceAll(value, "&nbsp;", " ");
    ReplaceAll(value, "&nbsp", " ");
  }
  ReplaceAll(value, "&gt;", ">");
  ReplaceAll(value, "&gt", ">");
  ReplaceAll(value, "&lt;", "<");
  ReplaceAll(value, "&lt", "<");
}

void AppendMarkupEscaped(std::string& out, const std::string& value, bool html) {
  for (const char c : value) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '>': out += "&gt;"; break;
      case '<': out += "&lt;"; break;
      case ' ':
        if (html) {
          out += "&nbsp;";
        } else {
          out += c;
        }
        break;
      default: out += c; break;
    }
  }
}

void RemoveLastCharacter(std::string& text) {
  if (!text.empty()) text.pop_back();
}

}  // namespace

std::vector<ExportColumn> ExportColumnsOf(const MYSQL_FIELD* fields, unsigned int count) {
  std::vector<ExportColumn> columns;
  columns.reserve(count);
  for (unsigned int i = 0; i < count; ++i) {
    columns.push_back({fields[i].name ? fields[i].name : "", static_cast<int>(fields[i].type)});
  }
  return columns;
}

const char* XmlFieldType(int type) {
  switch (type) {
    case 0:
    case 246: return "Decimal";
    case 1: return "Tiny";
    case 2: return "SmallInt";
    case 3: return "Integer";
    case 4: return "Float";
    case 5: return "Double";
    case 6: return "Null";
    case 7: return "TimeStamp";
    case 8: return "BigInt";
    case 9: return "MediumInt";
    case 10:
    case 14: return "Date";
    case 11: return "Time";
    case 12: return "DateTime";
    case 13: return "Year";
    case 15:
    case 253: return "Varchar";
    case 16: return "Bit";
    case 247: return "Enum";
    case 248: return "Set";
    case 249: return "TinyText";
    case 250: return "MediumText";
    case 251: return "LongText";
    case 252: return "Text";
    case 254: return "Char";
    case 255: return "Geometry";
    default: return "";
  }
}

CExportFormatter::CExportFormatter(std::vector<ExportColumn> columns,
                                   const ExportSettings& settings, MYSQL* session)
    : m_columns(std::move(columns)), m_settings(settings), m_session(session) {}

std::string CExportFormatter::Header() const {
  std::string text;
  switch (m_settings.Format) {
    case kXml:
      text =
          "<?xml version=\"1.0\" standalone=\"no\"?>\r\n<DATAPACKET Version=\"2.0\">\r\n"
          "<METADATA>\r\n<FIELDS>\r\n";
      for (const ExportColumn& column : m_columns) {
        text += "<FIELD FieldName=\"" + column.Name + "\" DisplayLabel=\"" + column.Name +
                "\" FieldType=\"" + XmlFieldType(column.Type) + "\"/>\r\n";
      }
      text += "</FIELDS>\r\n</METADATA>\r\n<ROWDATA>\r\n";
      return text;
    case kHtml:
      text =
          "<html>\r\n<head>\r\n<title>Table Data</title>\r\n<style type=\"text/css\">\r\n"
          "<!--\r\n.normal {  font-family: Verdana, Arial, Helvetica, sans-serif; "
          "font-size: 12px; font-weight: normal; color: #000000}\r\n"
          ".medium {  font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 15px; "
          "font-weight: bold; color: #000000; text-decoration: none}\r\n-->\r\n</style>\r\n"
          "</head>\r\n<table border=1>\r\n<tr>\r\n";
      for (const ExportColumn& column : m_columns) {
        text += "<td bgcolor=silver class='medium'>" + column.Name + "</td>\r\n";
      }
      text += "</tr>\r\n";
      return text;
    default:
      if (!m_settings.AddColumnNamesOnTop) return text;
      for (const ExportColumn& column : m_columns) {
        // TEXT writes the names bare; CSV encloses them like the values.
        if (m_settings.Format == kCsv) text += m_settings.FieldsEnclosedBy;
        text += column.Name;
        if (m_settings.Format == kCsv) text += m_settings.FieldsEnclosedBy;
        text += m_settings.FieldsTerminatedBy;
      }
      // An empty terminator leaves nothing of its own to take off the line's end.
      if (!m_settings.FieldsTerminatedBy.empty()) RemoveLastCharacter(text);
      text += m_settings.LinesTerminatedBy;
      return text;
  }
}

std::string CExportFormatter::Trailer(std::uint8_t format) {
  if (format == kXml) return "</ROWDATA>\r\n</DATAPACKET>\r\n";
  if (format == kHtml) return "</table></body></html>\r\n";
  return {};
}

void CExportFormatter::PrepareValue(std::size_t column, const char* value, unsigned long length) {
  m_value.clear();
  if (value == nullptr) return;
  const int type = m_columns[column].Type;
  if (IsBinaryValue(type)) {
    m_value.assign(value, length);
    return;
  }
  if (IsStringLike(type)) {
    if (length == 0) return;
    m_escape.resize(static_cast<std::size_t>(length) * 2 + 1);
    m_escape.resize(m_session != nullptr
                        ? mysql_real_escape_string(m_session, m_escape.data(), value, length)
                        : EscapeWithoutCharset(m_escape.data(), value, length));
    AppendTrimmed(m_value, m_escape.data(), m_escape.size());
  } else {
    AppendTrimmed(m_value, value, length);
  }
  if (m_value == "NULL") m_value.clear();
}

const std::string& CExportFormatter::Row(const MYSQL_ROW values, const unsigned long* lengths) {
  m_row.clear();
  switch (m_settings.Format) {
    case kXml: AppendXmlRow(values, lengths); break;
    case kHtml: AppendHtmlRow(values, lengths); break;
    default: AppendSeparatedRow(values, lengths); break;
  }
  return m_row;
}

void CExportFormatter::AppendSeparatedRow(const MYSQL_ROW values, const unsigned long* lengths) {
  const std::string& enclosure = m_settings.FieldsEnclosedBy;
  const std::string& terminator = m_settings.FieldsTerminatedBy;
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    PrepareValue(i, values[i], lengths[i]);
    m_row += enclosure;
    m_row += m_value;
    m_row += enclosure;
    m_row += terminator;
  }
  // An empty terminator leaves nothing of its own to take off the line's end.
  if (!terminator.empty()) RemoveLastCharacter(m_row);
  m_row += m_settings.LinesTerminatedBy;
}

void CExportFormatter::AppendXmlRow(const MYSQL_ROW values, const unsigned long* lengths) {
  m_row += "<ROW ";
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    PrepareValue(i, values[i], lengths[i]);
    m_row += m_columns[i].Name;
    m_row += "=\"";
    UnescapeMarkup(m_value, false);
    AppendMarkupEscaped(m_row, m_value, false);
    m_row += "\" ";
  }
  RemoveLastCharacter(m_row);
  m_row += "/>\r\n";
}

void CExportFormatter::AppendHtmlRow(const MYSQL_ROW values, const unsigned long* lengths) {
  m_row += "<tr>\r\n";
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    PrepareValue(i, values[i], lengths[i]);
    m_row += "<td class='normal' valign='top'>";
    if (m_value.empty()) {
      m_row += "&nbsp;";
    } else {
      UnescapeMarkup(m_value, true);
      AppendMarkupEscaped(m_row, m_value, true);
    }
    m_row += "</td>\r\n";
  }
  m_row += "</tr>\r\n";
}

}  // namespace brevanto
