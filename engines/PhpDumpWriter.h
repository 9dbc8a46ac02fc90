#pragma once
// The PHP wrapping of a dump: a script that connects to the server it was made from and
// replays every statement through mysql_query. Pure text functions; the dump writer
// decides where they go.

#include <string>
#include <string_view>

#include "core/DateTime.h"
#include "core/ServerInfo.h"

namespace brevanto {

// For PHP single-quoted strings: backslashes doubled first, then quotes escaped.
std::string PhpEscape(std::string_view text);

// The comment block that opens a PHP dump, ending with the "<?" that starts the code.
std::string FormatPhpHeader(const std::string& host, const std::string& serverVersionText,
                            const TaskDateTime& runTime, const std::string& eol);

// "  $conn = mysql_connect(...)" with the source's host, port, user and password.
std::string FormatPhpConnect(const CServerInfo& source, const std::string& eol);

// Appends one statement (given without or with its ";") as a mysql_query line to `out`.
void AppendPhpStatement(std::string& out, std::string_view statement, const std::string& eol);

// The CREATE DATABASE and select-database lines.
std::string FormatPhpCreateDatabase(const std::string& statement, const std::string& database,
                                    const std::string& eol);

std::string FormatPhpTrailer(const std::string& eol);

}  // namespace brevanto
