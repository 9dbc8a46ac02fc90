#pragma once
// Quoting names and escaping literals for the statements the engines build.

#include <string>

#include "engines/MySqlHandles.h"

namespace brevanto {

// Backticks around `name` (a backtick inside doubled) when `quote`, else the bare name.
std::string QuoteName(const std::string& name, bool quote);

// `name` as a LIKE pattern that matches only itself, escaped for a quoted literal on
// `handle`: "_" and "%" would otherwise match other tables or columns, and a quote
// would end the literal.
std::string ExactLikePattern(MYSQL* handle, const std::string& name);

// `text` escaped for a quoted literal on `handle`, in the connection's character set.
std::string EscapeLiteral(MYSQL* handle, const std::string& text);

}  // namespace brevanto
