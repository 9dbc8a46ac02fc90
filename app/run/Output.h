#pragma once
// What brevanto-run prints: errors to standard error (always), log entries and results to
// standard output (unless --quiet). Names and texts from files are printed with control
// characters escaped, so a task name cannot move the cursor or fake another line.

#include <cstddef>
#include <string>

namespace brevanto::run {

void SetQuiet(bool quiet);
bool Quiet();

// `text` with control characters as \n, \t, \r, \\ stays as it is, others as \xNN.
std::string Escaped(const std::string& text);

// "brevanto-run: <text>\n" on standard error.
void Error(const std::string& text);
// `text` and a newline on standard output unless quiet.
void Say(const std::string& text);

// The progress line: drawn over itself with a carriage return, on a terminal only (and
// not when quiet); Error and Say clear it before their line. Returns whether it can show.
bool ProgressLineShown();
void ShowProgressLine(const std::string& line);
void ClearProgressLine();
// The terminal's width in columns, 80 when unknown.
std::size_t TerminalColumns();

}  // namespace brevanto::run
