#include "engines/AgeInput.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace brevanto {
namespace {

class AgeInput final : public CSqlInput {
 public:
  AgeInput(std::unique_ptr<CSqlInput> raw, std::vector<AgeIdentity> identities)
      : m_raw(std::move(raw)), m_decryptor(std::move(identities)) {}

  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = 0;
    while (m_plain.size() == m_offset && !m_ended) {
      if (!m_failure.ok()) return m_failure;
      m_plain.clear();
      m_offset = 0;
      std::size_t read = 0;
      Status status = m_raw->Read(m_cipher.data(), m_cipher.size(), read);
      if (status.ok()) {
        status = read > 0 ? m_decryptor.Update(std::string_view(m_cipher.data(), read), m_plain)
                          : m_decryptor.Finish(m_plain);
      }
      if (read == 0 && status.ok()) m_ended = true;
      // Plaintext authenticated before the failure still goes out; the failure follows it.
      if (!status.ok()) {
        m_failure = status;
        if (m_plain.empty()) return status;
      }
    }
    got = std::min(capacity, m_plain.size() - m_offset);
    std::memcpy(buffer, m_plain.data() + m_offset, got);
    m_offset += got;
    return Status::Ok();
  }

 private:
  std::unique_ptr<CSqlInput> m_raw;
  AgeDecryptor m_decryptor;
  std::string m_cipher = std::string(256 * 1024, '\0');
  std::string m_plain;
  std::size_t m_offset = 0;
  bool m_ended = false;
  Status m_failure;
};

class Prefixed final : public CSqlInput {
 public:
  Prefixed(std::string prefix, std::unique_ptr<CSqlInput> rest)
      : m_prefix(std::move(prefix)), m_rest(std::move(rest)) {}

  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    if (m_offset < m_prefix.size()) {
      got = std::min(capacity, m_prefix.size() - m_offset);
      std::memcpy(buffer, m_prefix.data() + m_offset, got);
      m_offset += got;
      return Status::Ok();
    }
    return m_rest->Read(buffer, capacity, got);
  }

 private:
  std::string m_prefix;
  std::size_t m_offset = 0;
  std::unique_ptr<CSqlInput> m_rest;
};

}  // namespace

Status OpenAgeInput(std::unique_ptr<CSqlInput> raw, std::vector<AgeIdentity> identities,
                    std::unique_ptr<CSqlInput>& input) {
  if (identities.empty()) {
    return Status::Error("The file is encrypted; the task names no identity file to open it");
  }
  input = std::make_unique<AgeInput>(std::move(raw), std::move(identities));
  return Status::Ok();
}

std::unique_ptr<CSqlInput> PrefixedInput(std::string prefix, std::unique_ptr<CSqlInput> rest) {
  return std::make_unique<Prefixed>(std::move(prefix), std::move(rest));
}

}  // namespace brevanto
