#include "core/ServerInfo.h"

#include <cctype>

namespace brevanto {

std::string CanonicalFingerprint(const std::string& text) {
  constexpr std::size_t kDigits = 64;
  const auto first = text.find_first_not_of(" \t\r\n");
  const auto last = text.find_last_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const std::string trimmed = text.substr(first, last - first + 1);
  const bool colons = trimmed.find(':') != std::string::npos;
  if (trimmed.size() != (colons ? kDigits + kDigits / 2 - 1 : kDigits)) return {};
  std::string out;
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(trimmed[i]);
    // With colons, every third character is one and no other is.
    if (colons && i % 3 == 2) {
      if (c != ':') return {};
      continue;
    }
    if (!std::isxdigit(c)) return {};
    if (!out.empty() && out.size() % 3 == 2) out += ':';
    out += static_cast<char>(std::toupper(c));
  }
  return out;
}

}  // namespace brevanto
