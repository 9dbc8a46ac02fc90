#pragma once
// SHA-256 of a stream handed over in pieces (OpenSSL's implementation), for the digests a
// backup copy's manifest records and the checks that recompute them.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/Status.h"

namespace brevanto {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void Update(std::string_view bytes);
  // The digest of everything handed over; the hash starts again afterwards.
  std::array<std::uint8_t, 32> Finish();
  // As Finish, in lowercase hex.
  std::string FinishHex();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

std::string Sha256Hex(std::string_view bytes);
std::string ToHex(const std::uint8_t* bytes, std::size_t size);

// The SHA-256 (hex) of the file at `path`, read in pieces; `size` receives its length.
Status Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t* size = nullptr);

}  // namespace brevanto
