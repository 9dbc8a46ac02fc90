#include "engines/AgeOutput.h"

namespace brevanto {
namespace {

class AgeTransform final : public OutputTransform {
 public:
  explicit AgeTransform(std::unique_ptr<AgeEncryptor> encryptor)
      : m_encryptor(std::move(encryptor)) {}
  const char* Name() const override { return "age"; }
  Status Transform(std::string_view input, std::string& output, bool) override {
    if (m_finished) return Status::Error("The encrypted stream was already ended");
    return m_encryptor->Update(input, output);
  }
  Status Finish(std::string& output) override {
    // Compression may end one frame and begin another; an age file has one end only, so a
    // second Finish is refused rather than started as a new file inside this one.
    if (m_finished) return Status::Ok();
    m_finished = true;
    return m_encryptor->Finish(output);
  }

 private:
  std::unique_ptr<AgeEncryptor> m_encryptor;
  bool m_finished = false;
};

}  // namespace

std::string WithEncryptedFileSuffix(const std::string& path) {
  const std::string suffix = kAgeFileSuffix;
  if (path.size() >= suffix.size() &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return path;
  }
  return path + suffix;
}

Status MakeAgeTransform(const std::vector<AgeRecipient>& recipients,
                        std::unique_ptr<OutputTransform>& transform) {
  std::unique_ptr<AgeEncryptor> encryptor;
  if (Status status = AgeEncryptor::Create(recipients, encryptor); !status.ok()) return status;
  transform = std::make_unique<AgeTransform>(std::move(encryptor));
  return Status::Ok();
}

}  // namespace brevanto
