#pragma once
// Bytes spelled as hexadecimal digit pairs, for tests that check binary file layouts.

#include <cstddef>
#include <string>

namespace brevanto::test {

// "0aff" -> the two bytes 0x0a 0xff; a trailing odd digit is ignored.
inline std::string Hex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace brevanto::test
