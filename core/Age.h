#pragma once
// Files in the age format (age-encryption.org/v1), so a backup can be opened with the stock
// `age` program and the machine that writes it needs only public keys. The primitives come
// from OpenSSL 3 (X25519, HKDF-SHA-256, HMAC-SHA-256, ChaCha20-Poly1305, scrypt); this file
// only arranges them as the format says. Both directions stream: memory stays at about one
// 64 KiB chunk whatever the file's size.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Status.h"

namespace brevanto {

// An X25519 public key, written "age1..." (Bech32).
struct AgeRecipient {
  std::array<std::uint8_t, 32> Key{};
  std::string Text() const;
  // A short stable name for the key (manifests record it rather than the key itself).
  std::string Fingerprint() const;
  friend bool operator==(const AgeRecipient&, const AgeRecipient&) = default;
};

// An X25519 private key, written "AGE-SECRET-KEY-1..." (Bech32, upper case).
struct AgeIdentity {
  std::array<std::uint8_t, 32> Key{};
  std::string Text() const;
  AgeRecipient Recipient() const;
};

// Parses "age1..." (surrounding blanks allowed). The error says what is wrong with the text.
Status ParseAgeRecipient(std::string_view text, AgeRecipient& recipient);
Status ParseAgeIdentity(std::string_view text, AgeIdentity& identity);
// Every text of `texts` as a recipient, in order; the error of the first that is not one.
Status ParseAgeRecipients(const std::vector<std::string>& texts,
                          std::vector<AgeRecipient>& recipients);
// The identities of an identity file's text as `age-keygen` writes it ("#" comments, one
// key a line). A file that is itself age-encrypted with a passphrase (`age -p`) is opened
// with `passphrase`; without one it is refused with a message that says so.
Status ParseAgeIdentityFile(std::string_view text, const std::string& passphrase,
                            std::vector<AgeIdentity>& identities);
bool IsPassphraseProtectedIdentityFile(std::string_view text);

AgeIdentity GenerateAgeIdentity();
// The text `age-keygen` would write for `identity` (creation time given by the caller, from
// the injectable clock, as "2026-12-08T01:02:03Z").
std::string AgeIdentityFileText(const AgeIdentity& identity, const std::string& createdUtc);

inline constexpr std::size_t kAgeChunkSize = 64 * 1024;

// Encrypts a stream handed over in pieces to every recipient. The header is emitted with
// the first output; Finish emits the last chunk.
class AgeEncryptor {
 public:
  static Status Create(const std::vector<AgeRecipient>& recipients,
                       std::unique_ptr<AgeEncryptor>& encryptor);
  // A file that only the passphrase opens (scrypt, work factor 2^logN), as `age -p` writes.
  static Status CreateWithPassphrase(const std::string& passphrase, int logN,
                                     std::unique_ptr<AgeEncryptor>& encryptor);
  ~AgeEncryptor();

  Status Update(std::string_view plain, std::string& out);
  Status Finish(std::string& out);

 private:
  AgeEncryptor();
  Status SealChunk(std::string_view plain, bool last, std::string& out);
  struct Keys;
  std::unique_ptr<Keys> m_keys;
  std::string m_header;  // emitted with the first output
  std::string m_pending;
  std::uint64_t m_counter = 0;
  bool m_finished = false;
};

// Decrypts a stream handed over in pieces. Nothing is given out before the header's MAC
// and the chunk holding it are authenticated; a file cut short, a changed byte or a missing
// last chunk ends in an Error and no further output.
class AgeDecryptor {
 public:
  explicit AgeDecryptor(std::vector<AgeIdentity> identities, std::string passphrase = {});
  ~AgeDecryptor();

  Status Update(std::string_view cipher, std::string& out);
  Status Finish(std::string& out);

 private:
  Status ReadHeader();
  Status OpenChunk(std::string_view sealed, bool last, std::string& out);
  struct Keys;
  std::vector<AgeIdentity> m_identities;
  std::string m_passphrase;
  std::unique_ptr<Keys> m_keys;
  std::string m_buffer;
  bool m_haveHeader = false;
  bool m_sawLast = false;
  bool m_failed = false;
  std::uint64_t m_counter = 0;
};

// True when `start` begins like an age file (binary or armored).
bool LooksLikeAgeFile(std::string_view start);

}  // namespace brevanto
