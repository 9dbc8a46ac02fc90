#include "core/Age.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>

#include "core/Sha256.h"

namespace brevanto {

namespace {

constexpr std::string_view kVersionLine = "age-encryption.org/v1\n";
constexpr std::string_view kArmorStart = "-----BEGIN AGE ENCRYPTED FILE-----";
constexpr std::size_t kTagSize = 16;
constexpr std::size_t kSealedChunkSize = kAgeChunkSize + kTagSize;
constexpr std::size_t kMaxHeaderBytes = std::size_t{1} << 20;
using Key32 = std::array<std::uint8_t, 32>;

std::string_view AsText(const std::uint8_t* bytes, std::size_t size) {
  return {reinterpret_cast<const char*>(bytes), size};
}

// --- Encodings (the format's, not cryptography) ---

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Standard alphabet without padding, as the format writes every binary value.
std::string Base64(std::string_view bytes) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : bytes) {
    bits = (bits << 8) | c;
    count += 8;
    while (count >= 6) {
      count -= 6;
      out += kBase64[(bits >> count) & 0x3f];
    }
  }
  if (count > 0) out += kBase64[(bits << (6 - count)) & 0x3f];
  return out;
}

// Strict: no padding, no line breaks, unused trailing bits zero (the format refuses any
// other spelling of the same bytes, so a header has exactly one valid form).
bool FromBase64(std::string_view text, std::string& out) {
  out.clear();
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const char* at = std::strchr(kBase64, c);
    if (c == '\0' || at == nullptr) return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(at - kBase64);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xff);
    }
  }
  if (count >= 6) return false;                         // a lone trailing character
  if ((bits & ((1u << count) - 1)) != 0) return false;  // non-canonical
  return true;
}

constexpr char kBech32[] = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";

std::uint32_t Bech32Polymod(const std::vector<std::uint8_t>& values) {
  static constexpr std::uint32_t kGen[5] = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd,
                                            0x2a1462b3};
  std::uint32_t chk = 1;
  for (std::uint8_t v : values) {
    const std::uint32_t top = chk >> 25;
    chk = ((chk & 0x1ffffff) << 5) ^ v;
    for (int i = 0; i < 5; ++i) {
      if ((top >> i) & 1) chk ^= kGen[i];
    }
  }
  return chk;
}

std::vector<std::uint8_t> HrpExpand(std::string_view hrp) {
  std::vector<std::uint8_t> out;
  for (char c : hrp) out.push_back(static_cast<std::uint8_t>(c) >> 5);
  out.push_back(0);
  for (char c : hrp) out.push_back(static_cast<std::uint8_t>(c) & 31);
  return out;
}

std::string Bech32Encode(std::string_view hrp, const Key32& key) {
  std::vector<std::uint8_t> data;
  std::uint32_t bits = 0;
  int count = 0;
  for (std::uint8_t b : key) {
    bits = (bits << 8) | b;
    count += 8;
    while (count >= 5) {
      count -= 5;
      data.push_back((bits >> count) & 31);
    }
  }
  if (count > 0) data.push_back((bits << (5 - count)) & 31);
  std::vector<std::uint8_t> values = HrpExpand(hrp);
  values.insert(values.end(), data.begin(), data.end());
  values.insert(values.end(), 6, 0);
  const std::uint32_t mod = Bech32Polymod(values) ^ 1;
  std::string out(hrp);
  out += '1';
  for (std::uint8_t d : data) out += kBech32[d];
  for (int i = 0; i < 6; ++i) out += kBech32[(mod >> (5 * (5 - i))) & 31];
  return out;
}

// Decodes a Bech32 string of one case into its (lower-case) prefix and 32-byte key.
bool Bech32Decode(std::string_view text, std::string& hrp, Key32& key) {
  const bool hasLower =
      std::any_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  const bool hasUpper =
      std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  if (hasLower && hasUpper) return false;
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto separator = lower.rfind('1');
  if (separator == std::string::npos || separator == 0 || separator + 7 > lower.size())
    return false;
  hrp = lower.substr(0, separator);
  std::vector<std::uint8_t> data;
  for (std::size_t i = separator + 1; i < lower.size(); ++i) {
    const char* at = std::strchr(kBech32, lower[i]);
    if (lower[i] == '\0' || at == nullptr) return false;
    data.push_back(static_cast<std::uint8_t>(at - kBech32));
  }
  std::vector<std::uint8_t> values = HrpExpand(hrp);
  values.insert(values.end(), data.begin(), data.end());
  if (Bech32Polymod(values) != 1) return false;
  data.resize(data.size() - 6);
  std::uint32_t bits = 0;
  int count = 0;
  std::size_t n = 0;
  for (std::uint8_t d : data) {
    bits = (bits << 5) | d;
    count += 5;
    if (count >= 8) {
      count -= 8;
      if (n == key.size()) return false;
      key[n++] = static_cast<std::uint8_t>((bits >> count) & 0xff);
    }
  }
  return n == key.size() && count < 5 && (bits & ((1u << count) - 1)) == 0;
}

// --- OpenSSL primitives ---

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

bool X25519(const Key32& scalar, const Key32& point, Key32& shared) {
  Pkey own(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), scalar.size()));
  Pkey peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, point.data(), point.size()));
  if (!own || !peer) return false;
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
      EVP_PKEY_CTX_new(own.get(), nullptr), &EVP_PKEY_CTX_free);
  std::size_t length = shared.size();
  if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 ||
      EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1 ||
      EVP_PKEY_derive(ctx.get(), shared.data(), &length) != 1 || length != shared.size()) {
    return false;
  }
  // A low-order point gives all zeros; the format says to refuse it.
  const Key32 zero{};
  return CRYPTO_memcmp(shared.data(), zero.data(), zero.size()) != 0;
}

Key32 PublicOf(const Key32& scalar) {
  Key32 pub{};
  Pkey own(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), scalar.size()));
  std::size_t length = pub.size();
  if (own) EVP_PKEY_get_raw_public_key(own.get(), pub.data(), &length);
  return pub;
}

Key32 RandomKey() {
  Key32 key{};
  if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1)
    throw std::runtime_error("RAND_bytes");
  return key;
}

bool Hkdf(std::string_view ikm, std::string_view salt, std::string_view info, Key32& out) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  if (kdf == nullptr) return false;
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  EVP_KDF_free(kdf);
  if (ctx == nullptr) return false;
  char digest[] = "SHA256";
  // An empty salt is left out: HKDF then uses the hash length of zeros, as RFC 5869 says.
  OSSL_PARAM params[5];
  OSSL_PARAM* p = params;
  *p++ = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0);
  *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(ikm.data()),
                                           ikm.size());
  if (!salt.empty()) {
    *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()),
                                             salt.size());
  }
  *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(info.data()),
                                           info.size());
  *p = OSSL_PARAM_construct_end();
  const bool ok = EVP_KDF_derive(ctx, out.data(), out.size(), params) == 1;
  EVP_KDF_CTX_free(ctx);
  return ok;
}

bool Scrypt(const std::string& passphrase, std::string_view salt, int logN, Key32& out) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "SCRYPT", nullptr);
  if (kdf == nullptr) return false;
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  EVP_KDF_free(kdf);
  if (ctx == nullptr) return false;
  std::uint64_t n = std::uint64_t{1} << logN;
  std::uint32_t r = 8, p = 1;
  std::uint64_t maxMemory = (std::uint64_t{128} * r * (n + p + 2)) + (std::uint64_t{1} << 20);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD,
                                        const_cast<char*>(passphrase.data()), passphrase.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()),
                                        salt.size()),
      OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
      OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
      OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
      OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_MAXMEM, &maxMemory),
      OSSL_PARAM_construct_end()};
  const bool ok = EVP_KDF_derive(ctx, out.data(), out.size(), params) == 1;
  EVP_KDF_CTX_free(ctx);
  return ok;
}

bool HmacSha256(const Key32& key, std::string_view message, std::string& mac) {
  EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (hmac == nullptr) return false;
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(hmac);
  EVP_MAC_free(hmac);
  if (ctx == nullptr) return false;
  char digest[] = "SHA256";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                         OSSL_PARAM_construct_end()};
  std::uint8_t out[32];
  std::size_t length = 0;
  const bool ok = EVP_MAC_init(ctx, key.data(), key.size(), params) == 1 &&
                  EVP_MAC_update(ctx, reinterpret_cast<const unsigned char*>(message.data()),
                                 message.size()) == 1 &&
                  EVP_MAC_final(ctx, out, &length, sizeof out) == 1 && length == sizeof out;
  EVP_MAC_CTX_free(ctx);
  if (ok) mac.assign(reinterpret_cast<const char*>(out), sizeof out);
  return ok;
}

// One ChaCha20-Poly1305 context kept per stream: re-keying it for every chunk would cost
// more than the chunk's encryption.
class ChaChaPoly {
 public:
  ChaChaPoly() : m_ctx(EVP_CIPHER_CTX_new()) {}
  ~ChaChaPoly() { EVP_CIPHER_CTX_free(m_ctx); }
  ChaChaPoly(const ChaChaPoly&) = delete;
  ChaChaPoly& operator=(const ChaChaPoly&) = delete;

  bool Seal(const Key32& key, const std::array<std::uint8_t, 12>& nonce, std::string_view plain,
            std::string& out) {
    if (m_ctx == nullptr || EVP_EncryptInit_ex(m_ctx, EVP_chacha20_poly1305(), nullptr, key.data(),
                                               nonce.data()) != 1) {
      return false;
    }
    const std::size_t start = out.size();
    out.resize(start + plain.size() + kTagSize);
    auto* dest = reinterpret_cast<unsigned char*>(out.data() + start);
    int length = 0, final = 0;
    if (EVP_EncryptUpdate(m_ctx, dest, &length,
                          reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(m_ctx, dest + length, &final) != 1 ||
        EVP_CIPHER_CTX_ctrl(m_ctx, EVP_CTRL_AEAD_GET_TAG, kTagSize, dest + plain.size()) != 1) {
      out.resize(start);
      return false;
    }
    return true;
  }

  bool Open(const Key32& key, const std::array<std::uint8_t, 12>& nonce, std::string_view sealed,
            std::string& out) {
    if (sealed.size() < kTagSize || m_ctx == nullptr ||
        EVP_DecryptInit_ex(m_ctx, EVP_chacha20_poly1305(), nullptr, key.data(), nonce.data()) !=
            1) {
      return false;
    }
    const std::size_t plainSize = sealed.size() - kTagSize;
    const std::size_t start = out.size();
    out.resize(start + plainSize);
    auto* dest = reinterpret_cast<unsigned char*>(out.data() + start);
    std::array<unsigned char, kTagSize> tag{};
    std::memcpy(tag.data(), sealed.data() + plainSize, kTagSize);
    int length = 0, final = 0;
    if (EVP_DecryptUpdate(m_ctx, dest, &length,
                          reinterpret_cast<const unsigned char*>(sealed.data()),
                          static_cast<int>(plainSize)) != 1 ||
        EVP_CIPHER_CTX_ctrl(m_ctx, EVP_CTRL_AEAD_SET_TAG, kTagSize, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(m_ctx, dest + length, &final) != 1) {
      OPENSSL_cleanse(dest, plainSize);
      out.resize(start);
      return false;
    }
    return true;
  }

 private:
  EVP_CIPHER_CTX* m_ctx;
};

constexpr std::array<std::uint8_t, 12> kZeroNonce{};

std::array<std::uint8_t, 12> ChunkNonce(std::uint64_t counter, bool last) {
  std::array<std::uint8_t, 12> nonce{};
  for (int i = 0; i < 8; ++i) nonce[10 - i] = static_cast<std::uint8_t>(counter >> (8 * i));
  nonce[11] = last ? 1 : 0;
  return nonce;
}

// A stanza's body in lines of 64 columns, the last one shorter (possibly empty).
std::string StanzaBody(std::string_view bytes) {
  const std::string text = Base64(bytes);
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t take = std::min<std::size_t>(64, text.size() - at);
    out.append(text, at, take);
    out += '\n';
    at += take;
    if (take < 64) break;
  }
  return out;
}

struct Stanza {
  std::string Type;
  std::vector<std::string> Args;
  std::string Body;
};

std::vector<std::string> SplitSpaces(std::string_view line) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= line.size()) {
    const auto space = line.find(' ', at);
    const std::size_t end = space == std::string_view::npos ? line.size() : space;
    parts.emplace_back(line.substr(at, end - at));
    if (space == std::string_view::npos) break;
    at = space + 1;
  }
  return parts;
}

std::string Fingerprint(std::string_view text) {
  return "age-sha256:" + Sha256Hex(text).substr(0, 16);
}

}  // namespace

// --- Keys ---

std::string AgeRecipient::Text() const {
  return Bech32Encode("age", Key);
}
std::string AgeRecipient::Fingerprint() const {
  return brevanto::Fingerprint(Text());
}

std::string AgeIdentity::Text() const {
  std::string text = Bech32Encode("age-secret-key-", Key);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

AgeRecipient AgeIdentity::Recipient() const {
  return AgeRecipient{PublicOf(Key)};
}

namespace {
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}
}  // namespace

Status ParseAgeRecipient(std::string_view text, AgeRecipient& recipient) {
  text = Trimmed(text);
  std::string hrp;
  Key32 key{};
  if (text.rfind("ssh-", 0) == 0) {
    return Status::Error("Only age public keys (age1...) are supported as recipients");
  }
  if (!Bech32Decode(text, hrp, key) || hrp != "age" || text.front() != 'a') {
    return Status::Error("Not an age public key (age1...): " + std::string(text.substr(0, 80)));
  }
  recipient.Key = key;
  return Status::Ok();
}

Status ParseAgeRecipients(const std::vector<std::string>& texts,
                          std::vector<AgeRecipient>& recipients) {
  std::vector<AgeRecipient> parsed(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (Status status = ParseAgeRecipient(texts[i], parsed[i]); !status.ok()) return status;
  }
  recipients = std::move(parsed);
  return Status::Ok();
}

Status ParseAgeIdentity(std::string_view text, AgeIdentity& identity) {
  text = Trimmed(text);
  std::string hrp;
  Key32 key{};
  if (!Bech32Decode(text, hrp, key) || hrp != "age-secret-key-" || text.front() != 'A') {
    return Status::Error("Not an age identity (AGE-SECRET-KEY-1...)");
  }
  identity.Key = key;
  return Status::Ok();
}

bool IsPassphraseProtectedIdentityFile(std::string_view text) {
  return text.substr(0, kVersionLine.size()) == kVersionLine ||
         Trimmed(text).substr(0, kArmorStart.size()) == kArmorStart;
}

Status ParseAgeIdentityFile(std::string_view text, const std::string& passphrase,
                            std::vector<AgeIdentity>& identities) {
  if (IsPassphraseProtectedIdentityFile(text)) {
    if (passphrase.empty()) {
      return Status::Error("The identity file is protected by a passphrase; give the passphrase");
    }
    AgeDecryptor decryptor({}, passphrase);
    std::string plain;
    Status status = decryptor.Update(text, plain);
    if (status.ok()) status = decryptor.Finish(plain);
    if (!status.ok()) return Status::Error("Failed to open the identity file: " + status.message());
    Status parsed = ParseAgeIdentityFile(plain, {}, identities);
    OPENSSL_cleanse(plain.data(), plain.size());
    return parsed;
  }
  std::vector<AgeIdentity> found;
  std::size_t at = 0;
  int lineNumber = 0;
  while (at < text.size()) {
    const auto end = text.find('\n', at);
    const std::string_view line =
        Trimmed(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    at = end == std::string_view::npos ? text.size() : end + 1;
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    AgeIdentity identity;
    if (!ParseAgeIdentity(line, identity).ok()) {
      return Status::Error("The identity file holds something that is not an age identity (line " +
                           std::to_string(lineNumber) + ")");
    }
    found.push_back(identity);
  }
  if (found.empty()) return Status::Error("The identity file holds no age identity");
  identities = std::move(found);
  return Status::Ok();
}

AgeIdentity GenerateAgeIdentity() {
  return AgeIdentity{RandomKey()};
}

std::string AgeIdentityFileText(const AgeIdentity& identity, const std::string& createdUtc) {
  return "# created: " + createdUtc + "\n# public key: " + identity.Recipient().Text() + "\n" +
         identity.Text() + "\n";
}

bool LooksLikeAgeFile(std::string_view start) {
  const std::size_t n = std::min(start.size(), kVersionLine.size());
  if (n > 0 && start.substr(0, n) == kVersionLine.substr(0, n)) return true;
  const std::size_t a = std::min(start.size(), kArmorStart.size());
  return a > 0 && start.substr(0, a) == kArmorStart.substr(0, a);
}

// --- Encryption ---

struct AgeEncryptor::Keys {
  Key32 fileKey{};  // only the first 16 bytes are the file key
  Key32 payloadKey{};
  ChaChaPoly cipher;
  ~Keys() {
    OPENSSL_cleanse(fileKey.data(), fileKey.size());
    OPENSSL_cleanse(payloadKey.data(), payloadKey.size());
  }
};

AgeEncryptor::AgeEncryptor() : m_keys(std::make_unique<Keys>()) {}
AgeEncryptor::~AgeEncryptor() = default;

namespace {

Status FinishHeader(const Key32& fileKey, std::string header, Key32& payloadKey,
                    std::string& complete) {
  const std::string_view file = AsText(fileKey.data(), 16);
  Key32 macKey{};
  std::string mac;
  header += "---";
  if (!Hkdf(file, {}, "header", macKey) || !HmacSha256(macKey, header, mac)) {
    return Status::Error("Encryption is not available (OpenSSL)");
  }
  header += " " + Base64(mac) + "\n";
  std::array<std::uint8_t, 16> nonce{};
  if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1 ||
      !Hkdf(file, AsText(nonce.data(), nonce.size()), "payload", payloadKey)) {
    return Status::Error("Encryption is not available (OpenSSL)");
  }
  header.append(AsText(nonce.data(), nonce.size()));
  complete = std::move(header);
  return Status::Ok();
}

}  // namespace

Status AgeEncryptor::Create(const std::vector<AgeRecipient>& recipients,
                            std::unique_ptr<AgeEncryptor>& encryptor) {
  if (recipients.empty()) return Status::Error("No recipient to encrypt to");
  std::unique_ptr<AgeEncryptor> made(new AgeEncryptor());
  Keys& keys = *made->m_keys;
  keys.fileKey = RandomKey();
  const std::string_view file = AsText(keys.fileKey.data(), 16);
  std::string header(kVersionLine);
  for (const AgeRecipient& recipient : recipients) {
    const Key32 ephemeral = RandomKey();
    const Key32 share = PublicOf(ephemeral);
    Key32 shared{}, wrapKey{};
    std::string salt(AsText(share.data(), share.size()));
    salt.append(AsText(recipient.Key.data(), recipient.Key.size()));
    std::string body;
    if (!X25519(ephemeral, recipient.Key, shared) ||
        !Hkdf(AsText(shared.data(), shared.size()), salt, "age-encryption.org/v1/X25519",
              wrapKey) ||
        !keys.cipher.Seal(wrapKey, kZeroNonce, file, body)) {
      return Status::Error("Cannot encrypt to the recipient " + recipient.Text());
    }
    header += "-> X25519 " + Base64(AsText(share.data(), share.size())) + "\n" + StanzaBody(body);
  }
  Status status = FinishHeader(keys.fileKey, std::move(header), keys.payloadKey, made->m_header);
  if (!status.ok()) return status;
  encryptor = std::move(made);
  return Status::Ok();
}

Status AgeEncryptor::CreateWithPassphrase(const std::string& passphrase, int logN,
                                          std::unique_ptr<AgeEncryptor>& encryptor) {
  if (passphrase.empty()) return Status::Error("The passphrase is empty");
  std::unique_ptr<AgeEncryptor> made(new AgeEncryptor());
  Keys& keys = *made->m_keys;
  keys.fileKey = RandomKey();
  std::array<std::uint8_t, 16> salt{};
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
    return Status::Error("Encryption is not available (OpenSSL)");
  }
  std::string label = "age-encryption.org/v1/scrypt";
  label.append(AsText(salt.data(), salt.size()));
  Key32 wrapKey{};
  std::string body;
  if (!Scrypt(passphrase, label, logN, wrapKey) ||
      !keys.cipher.Seal(wrapKey, kZeroNonce, AsText(keys.fileKey.data(), 16), body)) {
    return Status::Error("Encryption is not available (OpenSSL scrypt)");
  }
  std::string header(kVersionLine);
  header += "-> scrypt " + Base64(AsText(salt.data(), salt.size())) + " " + std::to_string(logN) +
            "\n" + StanzaBody(body);
  Status status = FinishHeader(keys.fileKey, std::move(header), keys.payloadKey, made->m_header);
  if (!status.ok()) return status;
  encryptor = std::move(made);
  return Status::Ok();
}

Status AgeEncryptor::SealChunk(std::string_view plain, bool last, std::string& out) {
  if (!m_keys->cipher.Seal(m_keys->payloadKey, ChunkNonce(m_counter, last), plain, out)) {
    return Status::Error("Encryption failed (OpenSSL)");
  }
  ++m_counter;
  return Status::Ok();
}

Status AgeEncryptor::Update(std::string_view plain, std::string& out) {
  if (m_finished) return Status::Error("Encryption already finished");
  if (!m_header.empty()) {
    out += m_header;
    m_header.clear();
  }
  // A full chunk is sealed only once a byte after it is known: the last chunk must carry
  // the last flag, and a stream that ends on a chunk boundary ends with that full chunk.
  if (!m_pending.empty()) {
    const std::size_t take = std::min(plain.size(), kAgeChunkSize - m_pending.size());
    m_pending.append(plain.substr(0, take));
    plain.remove_prefix(take);
    if (m_pending.size() < kAgeChunkSize || plain.empty()) return Status::Ok();
    if (Status s = SealChunk(m_pending, false, out); !s.ok()) return s;
    m_pending.clear();
  }
  while (plain.size() > kAgeChunkSize) {
    if (Status s = SealChunk(plain.substr(0, kAgeChunkSize), false, out); !s.ok()) return s;
    plain.remove_prefix(kAgeChunkSize);
  }
  m_pending.assign(plain);
  return Status::Ok();
}

Status AgeEncryptor::Finish(std::string& out) {
  if (m_finished) return Status::Error("Encryption already finished");
  if (!m_header.empty()) {
    out += m_header;
    m_header.clear();
  }
  m_finished = true;
  Status status = SealChunk(m_pending, true, out);
  OPENSSL_cleanse(m_pending.data(), m_pending.size());
  m_pending.clear();
  return status;
}

// --- Decryption ---

struct AgeDecryptor::Keys {
  Key32 payloadKey{};
  ChaChaPoly cipher;
  ~Keys() { OPENSSL_cleanse(payloadKey.data(), payloadKey.size()); }
};

AgeDecryptor::AgeDecryptor(std::vector<AgeIdentity> identities, std::string passphrase)
    : m_identities(std::move(identities)),
      m_passphrase(std::move(passphrase)),
      m_keys(std::make_unique<Keys>()) {}

AgeDecryptor::~AgeDecryptor() {
  for (AgeIdentity& identity : m_identities)
    OPENSSL_cleanse(identity.Key.data(), identity.Key.size());
  OPENSSL_cleanse(m_passphrase.data(), m_passphrase.size());
}

Status AgeDecryptor::ReadHeader() {
  const auto bad = [] {
    return Status::Error("The age header is damaged or not in the age format");
  };
  if (m_buffer.compare(0, kVersionLine.size(), kVersionLine) != 0) {
    if (m_buffer.compare(0, kArmorStart.size(), kArmorStart) == 0) {
      return Status::Error(
          "The file is an ASCII-armored age file; remove the armor first (age -d writes the "
          "plain file)");
    }
    return Status::Error("Not an age-encrypted file");
  }
  std::vector<Stanza> stanzas;
  std::size_t at = kVersionLine.size();
  std::size_t macStart = 0;
  std::string mac;
  for (;;) {
    const auto end = m_buffer.find('\n', at);
    if (end == std::string::npos) return bad();
    const std::string_view line(m_buffer.data() + at, end - at);
    if (line.rfind("--- ", 0) == 0) {
      macStart = at;
      if (!FromBase64(line.substr(4), mac) || mac.size() != 32) return bad();
      at = end + 1;
      break;
    }
    if (line.rfind("-> ", 0) != 0) return bad();
    std::vector<std::string> parts = SplitSpaces(line.substr(3));
    if (parts.empty() || parts[0].empty()) return bad();
    for (const std::string& part : parts) {
      if (part.empty()) return bad();
    }
    Stanza stanza;
    stanza.Type = parts[0];
    stanza.Args.assign(parts.begin() + 1, parts.end());
    at = end + 1;
    std::string bodyText;
    for (;;) {
      const auto bodyEnd = m_buffer.find('\n', at);
      if (bodyEnd == std::string::npos || bodyEnd - at > 64) return bad();
      bodyText.append(m_buffer, at, bodyEnd - at);
      const bool lastLine = bodyEnd - at < 64;
      at = bodyEnd + 1;
      if (lastLine) break;
    }
    if (!FromBase64(bodyText, stanza.Body)) return bad();
    stanzas.push_back(std::move(stanza));
  }
  if (stanzas.empty()) return bad();

  std::string fileKey;
  bool scryptSeen = false;
  for (const Stanza& stanza : stanzas) {
    if (stanza.Type == "scrypt") {
      scryptSeen = true;
      if (stanzas.size() != 1) return bad();
      if (stanza.Args.size() != 2 || stanza.Body.size() != 32) return bad();
      std::string salt;
      if (!FromBase64(stanza.Args[0], salt) || salt.size() != 16) return bad();
      const std::string& logText = stanza.Args[1];
      if (logText.empty() || logText.size() > 2 || logText[0] == '0' ||
          !std::all_of(logText.begin(), logText.end(),
                       [](char c) { return c >= '0' && c <= '9'; })) {
        return bad();
      }
      const int logN = std::stoi(logText);
      if (m_passphrase.empty()) return Status::Error("The file is protected by a passphrase");
      if (logN > 22) return Status::Error("The file's passphrase work factor is too high");
      Key32 wrapKey{};
      std::string opened;
      if (!Scrypt(m_passphrase, "age-encryption.org/v1/scrypt" + salt, logN, wrapKey)) return bad();
      if (m_keys->cipher.Open(wrapKey, kZeroNonce, stanza.Body, opened)) fileKey = opened;
      break;
    }
    if (stanza.Type != "X25519") continue;
    std::string shareBytes;
    if (stanza.Args.size() != 1 || !FromBase64(stanza.Args[0], shareBytes) ||
        shareBytes.size() != 32 || stanza.Body.size() != 32) {
      return bad();
    }
    Key32 share{};
    std::memcpy(share.data(), shareBytes.data(), share.size());
    for (const AgeIdentity& identity : m_identities) {
      const Key32 own = PublicOf(identity.Key);
      Key32 shared{}, wrapKey{};
      if (!X25519(identity.Key, share, shared)) continue;
      std::string salt(shareBytes);
      salt.append(AsText(own.data(), own.size()));
      std::string opened;
      if (Hkdf(AsText(shared.data(), shared.size()), salt, "age-encryption.org/v1/X25519",
               wrapKey) &&
          m_keys->cipher.Open(wrapKey, kZeroNonce, stanza.Body, opened)) {
        fileKey = opened;
        break;
      }
    }
    if (!fileKey.empty()) break;
  }
  if (fileKey.size() != 16) {
    if (scryptSeen) return Status::Error("The passphrase does not open the file");
    return Status::Error("No given identity opens the file (a wrong key, or a changed header)");
  }
  Key32 macKey{};
  std::string expected;
  if (!Hkdf(fileKey, {}, "header", macKey) ||
      !HmacSha256(macKey, std::string_view(m_buffer.data(), macStart + 3), expected) ||
      CRYPTO_memcmp(expected.data(), mac.data(), 32) != 0) {
    return Status::Error("The age header was changed (its MAC does not match)");
  }
  if (m_buffer.size() < at + 16) return Status::Error("The encrypted file is cut short");
  if (!Hkdf(fileKey, std::string_view(m_buffer.data() + at, 16), "payload", m_keys->payloadKey)) {
    return bad();
  }
  OPENSSL_cleanse(fileKey.data(), fileKey.size());
  m_buffer.erase(0, at + 16);
  m_haveHeader = true;
  return Status::Ok();
}

Status AgeDecryptor::OpenChunk(std::string_view sealed, bool last, std::string& out) {
  if (last && sealed.size() == kTagSize && m_counter > 0) {
    return Status::Error("The encrypted file is damaged (an empty last chunk)");
  }
  if (!m_keys->cipher.Open(m_keys->payloadKey, ChunkNonce(m_counter, last), sealed, out)) {
    if (last) {
      return Status::Error("The encrypted file is cut short or was changed (chunk " +
                           std::to_string(m_counter + 1) + " does not authenticate)");
    }
    return Status::Error("The encrypted file was changed (chunk " + std::to_string(m_counter + 1) +
                         " does not authenticate)");
  }
  ++m_counter;
  return Status::Ok();
}

Status AgeDecryptor::Update(std::string_view cipher, std::string& out) {
  if (m_failed) return Status::Error("The encrypted file could not be read");
  if (m_sawLast) {
    if (cipher.empty()) return Status::Ok();
    m_failed = true;
    return Status::Error("The encrypted file has data after its last chunk");
  }
  m_buffer.append(cipher);
  if (!m_haveHeader) {
    const auto macLine = m_buffer.find("\n--- ");
    const bool headerEnded = macLine != std::string::npos &&
                             m_buffer.find('\n', macLine + 1) != std::string::npos &&
                             m_buffer.size() >= m_buffer.find('\n', macLine + 1) + 1 + 16;
    if (m_buffer.compare(0, kArmorStart.size(), kArmorStart) == 0) {
      m_failed = true;
      return ReadHeader();  // names the armor
    }
    if (!headerEnded) {
      const bool foreign = !LooksLikeAgeFile(m_buffer);
      if (foreign || m_buffer.size() > kMaxHeaderBytes) {
        m_failed = true;
        return Status::Error(foreign ? "Not an age-encrypted file"
                                     : "The age header is damaged or not in the age format");
      }
      return Status::Ok();
    }
    if (Status s = ReadHeader(); !s.ok()) {
      m_failed = true;
      return s;
    }
  }
  // A full sealed chunk opens as not-last only once a byte after it has arrived.
  std::size_t at = 0;
  while (m_buffer.size() - at > kSealedChunkSize) {
    if (Status s = OpenChunk(std::string_view(m_buffer).substr(at, kSealedChunkSize), false, out);
        !s.ok()) {
      m_failed = true;
      return s;
    }
    at += kSealedChunkSize;
  }
  m_buffer.erase(0, at);
  return Status::Ok();
}

Status AgeDecryptor::Finish(std::string& out) {
  if (m_failed) return Status::Error("The encrypted file could not be read");
  if (m_sawLast) return Status::Ok();
  if (!m_haveHeader) {
    m_failed = true;
    return m_buffer.empty() || LooksLikeAgeFile(m_buffer)
               ? Status::Error("The encrypted file is cut short (no complete header)")
               : Status::Error("Not an age-encrypted file");
  }
  if (m_buffer.size() < kTagSize) {
    m_failed = true;
    return Status::Error("The encrypted file is cut short (its last chunk is missing)");
  }
  Status status = OpenChunk(m_buffer, true, out);
  m_buffer.clear();
  if (!status.ok()) {
    m_failed = true;
    return status;
  }
  m_sawLast = true;
  return Status::Ok();
}

}  // namespace brevanto
