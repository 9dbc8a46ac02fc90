#include "core/BinaryIO.h"

#include <cstdio>

namespace brevanto {

std::string ScrambleText(std::string_view text, std::uint8_t key) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ key);
  return out;
}

void BinaryWriter::U16(std::uint16_t v) {
  U8(static_cast<std::uint8_t>(v));
  U8(static_cast<std::uint8_t>(v >> 8));
}

void BinaryWriter::U32(std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) U8(static_cast<std::uint8_t>(v >> shift));
}

void BinaryWriter::Text(std::string_view text, std::uint8_t key) {
  Count(text.size());
  m_bytes += ScrambleText(text, key);
}

void BinaryReader::Fail(const char* field, std::size_t offset, const std::string& reason) {
  if (m_failed) return;
  m_failed = true;
  m_problem = std::string(field) + " at offset " + std::to_string(offset) + ": " + reason;
  m_offset = m_bytes.size();  // nothing more is read after a failure
}

bool BinaryReader::Take(std::size_t size, const char* field, const unsigned char*& data) {
  if (m_failed) return false;
  if (size > Remaining()) {
    Fail(field, m_offset,
         "needs " + std::to_string(size) + " bytes, " + std::to_string(Remaining()) + " left");
    return false;
  }
  data = reinterpret_cast<const unsigned char*>(m_bytes.data()) + m_offset;
  m_offset += size;
  return true;
}

bool BinaryReader::U8(std::uint8_t& v, const char* field) {
  const unsigned char* p = nullptr;
  v = 0;
  if (!Take(1, field, p)) return false;
  v = p[0];
  return true;
}

bool BinaryReader::U16(std::uint16_t& v, const char* field) {
  const unsigned char* p = nullptr;
  v = 0;
  if (!Take(2, field, p)) return false;
  v = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  return true;
}

bool BinaryReader::U32(std::uint32_t& v, const char* field) {
  const unsigned char* p = nullptr;
  v = 0;
  if (!Take(4, field, p)) return false;
  v = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return true;
}

bool BinaryReader::I32(std::int32_t& v, const char* field) {
  std::uint32_t u = 0;
  bool ok = U32(u, field);
  v = static_cast<std::int32_t>(u);
  return ok;
}

bool BinaryReader::Text(std::string& text, const char* field, std::uint8_t key) {
  text.clear();
  std::size_t start = m_offset;
  std::uint32_t size = 0;
  if (!U32(size, field)) return false;
  if (size > Remaining()) {
    Fail(field, start,
         "text of " + std::to_string(size) + " bytes, " + std::to_string(Remaining()) + " left");
    return false;
  }
  text = ScrambleText(m_bytes.substr(m_offset, size), key);
  m_offset += size;
  return true;
}

bool BinaryReader::Count(std::uint32_t& count, std::size_t minElementSize, const char* field) {
  std::size_t start = m_offset;
  if (!U32(count, field)) return false;
  if (minElementSize > 0 && count > Remaining() / minElementSize) {
    Fail(field, start,
         "count " + std::to_string(count) + " exceeds the " + std::to_string(Remaining()) +
             " bytes left");
    count = 0;
    return false;
  }
  return true;
}

bool BinaryReader::Expect(std::uint32_t expected, const char* field) {
  std::size_t start = m_offset;
  std::uint32_t value = 0;
  if (!U32(value, field)) return false;
  if (value != expected) {
    char text[64];
    std::snprintf(text, sizeof text, "found 0x%08X, expected 0x%08X", value, expected);
    Fail(field, start, text);
    return false;
  }
  return true;
}

}  // namespace brevanto
