#include "engines/SqlQuoting.h"

namespace brevanto {

std::string EscapeLiteral(MYSQL* handle, const std::string& text) {
  std::string out(text.size() * 2 + 1, '\0');
  out.resize(mysql_real_escape_string(handle, out.data(), text.data(), text.size()));
  return out;
}

std::string QuoteName(const std::string& name, bool quote) {
  if (!quote) return name;
  std::string quoted = "`";
  for (char c : name) {
    // A backtick inside a name is doubled, or the statement would end the name there.
    if (c == '`') quoted += '`';
    quoted += c;
  }
  quoted += '`';
  return quoted;
}

std::string ExactLikePattern(MYSQL* handle, const std::string& name) {
  // LIKE's own escapes first, then the literal's.
  std::string pattern;
  for (char c : name) {
    if (c == '\\' || c == '_' || c == '%') pattern += '\\';
    pattern += c;
  }
  return EscapeLiteral(handle, pattern);
}

}  // namespace brevanto
