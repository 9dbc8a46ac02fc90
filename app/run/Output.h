#pragma once
// What brevanto-run prints: errors to standard error (always), log entries and results to
// standard output (unless --quiet). Names and texts from files are printed with control
// characters escaped, so a task name cannot move the cursor or fake another line.

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

}  // namespace brevanto::run
