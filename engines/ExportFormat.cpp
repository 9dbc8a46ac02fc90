#include "engines/ExportFormat.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "engines/ValueRenderer.h"

namespace brevanto {
namespace {

constexpr std::uint8_t kCsv = 1;
constexpr std::uint8_t kXml = 2;
constexpr std::uint8_t kHtml = 3;
constexpr std::uint8_t kText = 4;

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

// The collation number of binary strings.
constexpr unsigned int kBinaryCharset = 63;
constexpr char32_t kInvalidCodePoint = 0xFFFFFFFF;

// Decodes the UTF-8 character at `i` and moves past it; a byte that starts no valid
// character gives kInvalidCodePoint and is passed alone.
char32_t NextCodePoint(const std::string& text, std::size_t& i) {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(i);
  int length = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    c = lead & 0x07;
  } else {
    ++i;
    return kInvalidCodePoint;
  }
  if (i + length > text.size()) {
    ++i;
    return kInvalidCodePoint;
  }
  for (int k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return kInvalidCodePoint;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  i += length;
  return c;
}

bool IsXmlNameStartChar(char32_t c) {
  return (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') ||
         (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
         (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0xEFFFF);
}

// Colons are left out on purpose: in an attribute name they would mean a namespace.
bool IsXmlNameChar(char32_t c, bool first) {
  if (IsXmlNameStartChar(c)) return true;
  if (first) return false;
  return c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "_xHHHH_" or "_xHHHHHHHH_" at `at`.
bool LooksLikeNameEscape(const std::string& name, std::size_t at) {
  for (const std::size_t digits : {4u, 8u}) {
    if (at + digits + 3 > name.size() || name[at + 1] != 'x' || name[at + 2 + digits] != '_') {
      continue;
    }
    bool hex = true;
    for (std::size_t k = 0; k < digits; ++k) hex = hex && IsHexDigit(name[at + 2 + k]);
    if (hex) return true;
  }
  return false;
}

void AppendNameEscape(std::string& out, char32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, c > 0xFFFF ? "_x%08X_" : "_x%04X_",
                static_cast<unsigned int>(c));
  out += text;
}

void AppendAttributeEscaped(std::string& out, const std::string& value) {
  for (const char c : value) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
          // XML 1.0 has no form for most control characters, not even as references.
          char text[8];
          std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned int>(c));
          out += text;
        } else {
          out += c;
        }
        break;
    }
  }
}

void AppendHex(std::string& out, const char* value, unsigned long length) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (unsigned long i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
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
    const int type = static_cast<int>(fields[i].type);
    const bool binary =
        IsBinaryValue(type) || (IsStringLike(type) && fields[i].charsetnr == kBinaryCharset);
    columns.push_back({fields[i].name ? fields[i].name : "", type, binary});
  }
  return columns;
}

std::string XmlName(const std::string& name) {
  std::string out;
  std::size_t i = 0;
  bool first = true;
  while (i < name.size()) {
    const std::size_t start = i;
    const char32_t c = NextCodePoint(name, i);
    // A literal "_x" that starts what reads as an escape is escaped itself, so that
    // decoding gives back exactly the original.
    const bool literalEscape = c == '_' && LooksLikeNameEscape(name, start);
    if (!literalEscape && c != kInvalidCodePoint && IsXmlNameChar(c, first)) {
      out.append(name, start, i - start);
    } else {
      AppendNameEscape(out, c == kInvalidCodePoint
                                ? static_cast<unsigned char>(name[start])
                                : c);
    }
    first = false;
  }
  if (out.empty()) out = "_x0000_";  // an empty name has no XML form; NUL is not a name
  return out;
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
                                   const ExportSettings& settings, MYSQL* session, bool nullMarker)
    : m_columns(std::move(columns)),
      m_settings(settings),
      m_session(session),
      m_nullMarker(nullMarker && (settings.Format == kCsv || settings.Format == kText)) {
  if (m_settings.Format != kText) return;
  // A TAB is never part of a multibyte character; other separator bytes may be in sets
  // such as sjis, where a backslash in front would break the character.
  m_separators = "\t";
  if (session != nullptr && session->charset != nullptr && session->charset->csname != nullptr) {
    m_byteSafe = session->charset->char_maxlen == 1 ||
                 std::strncmp(session->charset->csname, "utf8", 4) == 0;
  }
  if (!m_byteSafe) return;
  for (const std::string* separator :
       {&m_settings.FieldsTerminatedBy, &m_settings.LinesTerminatedBy}) {
    // The escaping writes these as a backslash and a letter already.
    static constexpr std::string_view kEscaped("\0\n\r\\'\"\032\t", 9);
    if (separator->empty() || kEscaped.find(separator->front()) != std::string_view::npos) continue;
    if (m_separators.find(separator->front()) == std::string::npos)
      m_separators += separator->front();
  }
}

void CExportFormatter::EscapeSeparators() {
  if (m_escape.find_first_of(m_separators) == std::string::npos) return;
  m_separated.clear();
  for (std::size_t i = 0; i < m_escape.size(); ++i) {
    const char c = m_escape[i];
    if (c == '\\' && m_byteSafe && i + 1 < m_escape.size()) {
      m_separated.append(m_escape, i++, 2);  // an escape the escaping wrote
    } else if (m_separators.find(c) != std::string::npos) {
      m_separated += '\\';
      m_separated += c == '\t' ? 't' : c;
    } else {
      m_separated += c;
    }
  }
  m_escape.swap(m_separated);
}

std::string CExportFormatter::Header() const {
  std::string text;
  switch (m_settings.Format) {
    case kXml:
      text =
          "<?xml version=\"1.0\" standalone=\"no\"?>\r\n<DATAPACKET Version=\"2.0\">\r\n"
          "<METADATA>\r\n<FIELDS>\r\n";
      for (const ExportColumn& column : m_columns) {
        // FieldName is the attribute name of the rows; the label keeps the column's own.
        text += "<FIELD FieldName=\"" + XmlName(column.Name) + "\" DisplayLabel=\"";
        AppendAttributeEscaped(text, column.Name);
        text += std::string("\" FieldType=\"") + XmlFieldType(column.Type) + "\"/>\r\n";
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
  const ExportColumn& described = m_columns[column];
  if (IsBinaryValue(described.Type)) {
    m_value.assign(value, length);
    return;
  }
  if (IsStringLike(described.Type)) {
    if (length == 0) return;
    m_escape.resize(static_cast<std::size_t>(length) * 2 + 1);
    m_escape.resize(m_session != nullptr
                        ? mysql_real_escape_string(m_session, m_escape.data(), value, length)
                        : EscapeWithoutCharset(m_escape.data(), value, length));
    if (!m_separators.empty()) EscapeSeparators();
    // Blanks at the ends of a byte string are data (VARBINARY 0x0920), not padding.
    if (described.Binary) {
      m_value = m_escape;
      return;
    }
    AppendTrimmed(m_value, m_escape.data(), m_escape.size());
  } else {
    AppendTrimmed(m_value, value, length);
  }
  if (m_value == "NULL" && !m_nullMarker) m_value.clear();
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
    if (values[i] == nullptr && m_nullMarker) {
      m_row += "\\N";
    } else {
      PrepareValue(i, values[i], lengths[i]);
      m_row += enclosure;
      m_row += m_value;
      m_row += enclosure;
    }
    m_row += terminator;
  }
  // An empty terminator leaves nothing of its own to take off the line's end.
  if (!terminator.empty()) RemoveLastCharacter(m_row);
  m_row += m_settings.LinesTerminatedBy;
}

void CExportFormatter::AppendXmlRow(const MYSQL_ROW values, const unsigned long* lengths) {
  if (m_xmlNames.empty()) {
    for (const ExportColumn& column : m_columns) m_xmlNames.push_back(XmlName(column.Name));
  }
  m_row += "<ROW ";
  for (std::size_t i = 0; i < m_columns.size(); ++i) {
    m_row += m_xmlNames[i];
    m_row += "=\"";
    if (m_columns[i].Binary && values[i] != nullptr) {
      AppendHex(m_row, values[i], lengths[i]);
    } else {
      PrepareValue(i, values[i], lengths[i]);
      UnescapeMarkup(m_value, false);
      AppendAttributeEscaped(m_row, m_value);
    }
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
