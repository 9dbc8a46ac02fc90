#include "app/run/Output.h"

#include <cstdio>

namespace brevanto::run {

namespace {
bool g_quiet = false;
}

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

void Error(const std::string& text) {
  std::fprintf(stderr, "brevanto-run: %s\n", text.c_str());
  std::fflush(stderr);
}

void Say(const std::string& text) {
  if (g_quiet) return;
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace brevanto::run
