#include "app/run/Output.h"

#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace brevanto::run {

namespace {

bool g_quiet = false;
std::string g_progressLine;  // what the terminal shows of it; empty when cleared

// Back to the line's start and erase to its end.
constexpr const char* kEraseLine = "\r\x1b[K";

}  // namespace

void SetQuiet(bool quiet) {
  g_quiet = quiet;
}

bool Quiet() {
  return g_quiet;
}

std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

bool ProgressLineShown() {
  static const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  return terminal && !g_quiet;
}

void ShowProgressLine(const std::string& line) {
  if (!ProgressLineShown() || line == g_progressLine) return;
  std::fputs(kEraseLine, stdout);
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
  g_progressLine = line;
}

void ClearProgressLine() {
  if (g_progressLine.empty()) return;
  std::fputs(kEraseLine, stdout);
  std::fflush(stdout);
  g_progressLine.clear();
}

std::size_t TerminalColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void Error(const std::string& text) {
  ClearProgressLine();
  std::fprintf(stderr, "brevanto-run: %s\n", text.c_str());
  std::fflush(stderr);
}

void Say(const std::string& text) {
  if (g_quiet) return;
  ClearProgressLine();
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace brevanto::run
