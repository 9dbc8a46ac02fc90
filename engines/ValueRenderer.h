#pragma once
// Renders fetched rows as the value lists of INSERT statements. Pure apart from the
// connection used for escaping; safe to call from any thread that owns the connection.

#include <string>

#include <mysql.h>

namespace brevanto {

// Appends "(" value "," ... ")" for one row to `out`. `row` and `lengths` come from
// mysql_fetch_row / mysql_fetch_lengths; `fields` describe the columns (only `type` is
// read). `connection` escapes character data in its character set; null uses the
// character-set-independent escaping (pure tests).
void AppendRenderedRow(std::string& out, MYSQL_ROW row, const unsigned long* lengths,
                       const MYSQL_FIELD* fields, unsigned int count, MYSQL* connection);

// The same, as a new text.
std::string RenderRow(MYSQL_ROW row, const unsigned long* lengths, const MYSQL_FIELD* fields,
                      unsigned int count, MYSQL* connection);

// The client library's escaping for a single-byte character set, into `to` (room for
// 2 * length bytes); returns the bytes written. (The library's own mysql_escape_string
// needs an initialised connection.)
unsigned long EscapeWithoutCharset(char* to, const char* from, unsigned long length);

}  // namespace brevanto
