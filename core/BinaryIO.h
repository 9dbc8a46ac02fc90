#pragma once
// Little-endian encoding shared by the program's own binary files (task file, options,
// saved servers): a writer that appends to a byte string and a bounds-checked reader
// cursor. Texts are a u32 byte count and the bytes, each XOR-ed with a one-byte key.
// Layouts: docs/formats/task-file.md.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace brevanto {

// The first u32 of every current-version data file, and the task records' marker.
inline constexpr std::uint32_t kCurrentMagic = 0xCABDF9E0u;
// The text key of the current version (task file, options and server file).
inline constexpr std::uint8_t kTextKey = 0x5A;
// The key of the earlier versions' server texts (task file and server file).
inline constexpr std::uint8_t kLegacyTextKey = 0xA5;

// `text` with every byte XOR-ed with `key` (its own inverse).
std::string ScrambleText(std::string_view text, std::uint8_t key);

class BinaryWriter {
 public:
  void U8(std::uint8_t v) { m_bytes.push_back(static_cast<char>(v)); }
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  // A u32 byte count, then the bytes scrambled with `key`.
  void Text(std::string_view text, std::uint8_t key = kTextKey);
  // A container size as u32. REQUIRES: size fits in 32 bits.
  void Count(std::size_t size) { U32(static_cast<std::uint32_t>(size)); }

  const std::string& Bytes() const { return m_bytes; }
  std::string Take() { return std::move(m_bytes); }

 private:
  std::string m_bytes;
};

// Reads from bytes it does not own (they must outlive the reader). The first failure
// sticks: later reads yield zeros and empty texts, and Failed() stays true, so a parser
// may read a whole record and test once. The failure names the field and its offset.
class BinaryReader {
 public:
  explicit BinaryReader(std::string_view bytes) : m_bytes(bytes) {}

  bool U8(std::uint8_t& v, const char* field);
  bool U16(std::uint16_t& v, const char* field);
  bool U32(std::uint32_t& v, const char* field);
  bool I32(std::int32_t& v, const char* field);
  // Fails, reading nothing, when the stored count exceeds the bytes left.
  bool Text(std::string& text, const char* field, std::uint8_t key = kTextKey);
  // Reads an element count and fails when `count` elements of at least `minElementSize`
  // bytes each cannot fit in the bytes left, so no caller allocates for a lying count.
  bool Count(std::uint32_t& count, std::size_t minElementSize, const char* field);
  // Fails with "`field`: expected <expected>" unless the next u32 equals `expected`.
  bool Expect(std::uint32_t expected, const char* field);

  std::size_t Offset() const { return m_offset; }
  std::size_t Remaining() const { return m_bytes.size() - m_offset; }
  bool AtEnd() const { return m_offset >= m_bytes.size(); }
  bool Failed() const { return m_failed; }
  // "<field> at offset <n>: <reason>" for the first failure; empty while none occurred.
  const std::string& Problem() const { return m_problem; }
  // Records a failure found by the caller (for example a wrong marker value).
  void Fail(const char* field, std::size_t offset, const std::string& reason);

 private:
  bool Take(std::size_t size, const char* field, const unsigned char*& data);

  std::string_view m_bytes;
  std::size_t m_offset = 0;
  bool m_failed = false;
  std::string m_problem;
};

}  // namespace brevanto
