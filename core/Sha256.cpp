#include "core/Sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace brevanto {

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
  void Start() {
    if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
      throw std::runtime_error("SHA-256 is not available");
    }
  }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) { m_state->Start(); }
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(std::string_view bytes) {
  if (!bytes.empty()) EVP_DigestUpdate(m_state->context, bytes.data(), bytes.size());
}

std::array<std::uint8_t, 32> Sha256::Finish() {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(m_state->context, digest.data(), &length);
  m_state->Start();
  return digest;
}

std::string Sha256::FinishHex() {
  const auto digest = Finish();
  return ToHex(digest.data(), digest.size());
}

std::string ToHex(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 0x0f];
  }
  return hex;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.FinishHex();
}

Status Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t* size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::Error(std::string(std::strerror(errno)) + " - " + path);
  Sha256 hash;
  std::vector<char> buffer(std::size_t{1} << 20);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      return Status::Error(std::string(std::strerror(error)) + " - " + path);
    }
    if (got == 0) break;
    hash.Update(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    total += static_cast<std::uint64_t>(got);
  }
  ::close(fd);
  hex = hash.FinishHex();
  if (size != nullptr) *size = total;
  return Status::Ok();
}

}  // namespace brevanto
