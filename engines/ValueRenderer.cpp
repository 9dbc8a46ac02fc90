#include "engines/ValueRenderer.h"

#include <array>
#include <cstring>
#include <string_view>

namespace brevanto {

namespace {

enum class Rendering { Bare, Quoted, Escaped, Bits, Hex };

Rendering RenderingFor(enum_field_types type) {
  switch (type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
    case MYSQL_TYPE_NULL:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_INT24: return Rendering::Bare;
    // BIT and GEOMETRY values are raw bytes: written as they come they break the
    // statement or lose bytes, so they get binary-safe literals.
    case MYSQL_TYPE_BIT: return Rendering::Bits;
    case MYSQL_TYPE_GEOMETRY: return Rendering::Hex;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_YEAR:
    case MYSQL_TYPE_NEWDATE: return Rendering::Quoted;
    default:
      // Character and byte strings, and any type this code does not know: escaping
      // keeps every byte, so no column is dropped from a row whose INSERT names it.
      return Rendering::Escaped;
  }
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Appends `value` without the blanks at both ends.
void AppendTrimmed(std::string& out, std::string_view value) {
  std::size_t begin = 0;
  std::size_t end = value.size();
  while (begin < end && IsBlank(value[begin])) ++begin;
  while (end > begin && IsBlank(value[end - 1])) --end;
  out.append(value.data() + begin, end - begin);
}

// The escape letter of each byte that needs a backslash, 0 for the others.
constexpr std::array<char, 256> kEscapeLetters = [] {
  std::array<char, 256> letters{};
  letters['\0'] = '0';
  letters['\n'] = 'n';
  letters['\r'] = 'r';
  letters['\\'] = '\\';
  letters['\''] = '\'';
  letters['"'] = '"';
  letters['\032'] = 'Z';
  return letters;
}();

// Whether escaping byte by byte gives what the client library's escaping gives on this
// connection: true where no byte of a multi-byte character is below 0x80 (UTF-8 and the
// single-byte character sets) and backslashes escape. Character sets such as sjis or gbk
// can hide a backslash byte inside a character and keep the library's slower escaping.
bool EscapesByteByByte(const MYSQL* connection) {
  if ((connection->server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0) return false;
  const MARIADB_CHARSET_INFO* charset = connection->charset;
  if (charset == nullptr || charset->csname == nullptr) return false;
  return charset->char_maxlen == 1 || std::strncmp(charset->csname, "utf8", 4) == 0;
}

}  // namespace

unsigned long EscapeWithoutCharset(char* to, const char* from, unsigned long length) {
  char* out = to;
  const char* run = from;  // start of the bytes not yet copied
  const char* const end = from + length;
  for (const char* p = from; p < end; ++p) {
    const char letter = kEscapeLetters[static_cast<unsigned char>(*p)];
    if (letter == 0) continue;
    std::memcpy(out, run, static_cast<std::size_t>(p - run));
    out += p - run;
    *out++ = '\\';
    *out++ = letter;
    run = p + 1;
  }
  std::memcpy(out, run, static_cast<std::size_t>(end - run));
  out += end - run;
  return static_cast<unsigned long>(out - to);
}

namespace {

void AppendEscaped(std::string& out, const char* value, unsigned long length, MYSQL* connection) {
  if (length == 0) {
    out += "''";
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + 1 + 2 * static_cast<std::size_t>(length) + 1);
  out[start] = '\'';
  char* to = out.data() + start + 1;
  const unsigned long written = connection != nullptr && !EscapesByteByByte(connection)
                                    ? mysql_real_escape_string(connection, to, value, length)
                                    : EscapeWithoutCharset(to, value, length);
  out.resize(start + 1 + written);
  out += '\'';
}

void AppendBits(std::string& out, const char* value, unsigned long length) {
  out += "b'";
  for (unsigned long i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    for (int bit = 7; bit >= 0; --bit) out += ((byte >> bit) & 1) != 0 ? '1' : '0';
  }
  out += '\'';
}

void AppendHex(std::string& out, const char* value, unsigned long length) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (length == 0) {
    out += "''";
    return;
  }
  out += "0x";
  for (unsigned long i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
}

}  // namespace

void AppendRenderedRow(std::string& out, MYSQL_ROW row, const unsigned long* lengths,
                       const MYSQL_FIELD* fields, unsigned int count, MYSQL* connection) {
  const std::size_t rowStart = out.size();
  out += '(';
  for (unsigned int i = 0; i < count; ++i) {
    const char* value = row[i];
    if (value == nullptr) {
      out += "NULL,";
      continue;
    }
    const unsigned long length = lengths[i];
    out.reserve(out.size() + 2 * static_cast<std::size_t>(length) + 20);
    const std::size_t valueStart = out.size();
    switch (RenderingFor(fields[i].type)) {
      case Rendering::Bare:
        // Numbers as the server sent them.
        AppendTrimmed(out, std::string_view(value, length));
        break;
      case Rendering::Quoted:
        out += '\'';
        out.append(value, length);
        out += '\'';
        break;
      case Rendering::Escaped: AppendEscaped(out, value, length, connection); break;
      case Rendering::Bits: AppendBits(out, value, length); break;
      case Rendering::Hex: AppendHex(out, value, length); break;
    }
    if (out.size() == valueStart) out += "NULL";
    out += ',';
  }
  if (out.size() - rowStart > 1) out.pop_back();
  out += ')';
}

std::string RenderRow(MYSQL_ROW row, const unsigned long* lengths, const MYSQL_FIELD* fields,
                      unsigned int count, MYSQL* connection) {
  std::string out;
  out.reserve(100);
  AppendRenderedRow(out, row, lengths, fields, count, connection);
  return out;
}

}  // namespace brevanto
