#include "engines/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace brevanto {

std::string WithFileError(const std::string& text, const Status& status) {
  const std::string& message = status.message();
  const auto dash = message.find(" - ");
  return text + " (" + (dash == std::string::npos ? message : message.substr(0, dash)) + ")";
}

COutputFile::~COutputFile() {
  if (IsOpen()) (void)KeepIncomplete();
}

COutputFile::COutputFile(COutputFile&& other) noexcept {
  *this = std::move(other);
}

COutputFile& COutputFile::operator=(COutputFile&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) (void)KeepIncomplete();
    m_sink = std::move(other.m_sink);
    m_digest = std::move(other.m_digest);
    m_pending = std::move(other.m_pending);
    m_transforms = std::move(other.m_transforms);
    m_transformNames = std::move(other.m_transformNames);
    m_head = std::exchange(other.m_head, nullptr);
    m_stored = std::move(other.m_stored);
  }
  return *this;
}

Status COutputFile::Create(const std::string& finalPath, const std::string& tag, bool ownerOnly) {
  if (IsOpen()) (void)KeepIncomplete();
  auto sink = std::make_unique<LocalFileSink>();
  Status opened = sink->Open(finalPath, tag, ownerOnly);
  // Kept when not open: its path names the file in the errors of later calls.
  Create(std::move(sink));
  return opened;
}

void COutputFile::Create(std::unique_ptr<OutputSink> sink) {
  if (IsOpen()) (void)KeepIncomplete();
  m_head = nullptr;
  m_transforms.clear();
  m_pending.clear();
  m_transformNames.clear();
  m_stored = {};
  m_digest.reset();
  m_sink = std::move(sink);
  if (m_sink) m_digest = std::make_unique<DigestOutput>(*m_sink);
}

const std::string& COutputFile::Path() const {
  static const std::string none;
  return m_sink ? m_sink->Path() : none;
}

const std::string& COutputFile::TemporaryPath() const {
  static const std::string none;
  const auto* local = dynamic_cast<const LocalFileSink*>(m_sink.get());
  return local != nullptr ? local->TemporaryPath() : none;
}

void COutputFile::SetCompression(Compression compression, int level) {
  m_head = nullptr;
  m_transforms.clear();
  m_pending.clear();
  m_transformNames.clear();
  if (auto compressor = CStreamCompressor::Create(compression, level)) {
    AddTransform(std::move(compressor));
  }
}

void COutputFile::AddTransform(std::unique_ptr<OutputTransform> transform) {
  m_transformNames.emplace_back(transform->Name());
  m_pending.push_back(std::move(transform));
  m_head = nullptr;
}

OutputStage& COutputFile::Head() {
  if (m_head != nullptr) return *m_head;
  m_head = m_digest.get();
  // Built from the sink's end: each transform passes on to the one after it.
  for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it) {
    const bool first = it + 1 == m_pending.rend();
    m_transforms.insert(
        m_transforms.begin(),
        std::make_unique<TransformOutput>(std::move(*it), *m_head,
                                          first ? TransformOutput::kFlushBytes : 0, Path()));
    m_head = m_transforms.front().get();
  }
  m_pending.clear();
  return *m_head;
}

Status COutputFile::Write(std::string_view bytes) {
  if (!IsOpen()) return Status::Error(std::string(std::strerror(EBADF)) + " - " + Path());
  return Head().Write(bytes);
}

Status COutputFile::EndTransforms() {
  Status ended = Status::Ok();
  if (!m_transforms.empty() || !m_pending.empty()) ended = Head().End();
  // Ended once: a Commit that failed at the rename is followed by KeepIncomplete.
  m_transforms.clear();
  m_pending.clear();
  m_head = m_digest.get();
  return ended;
}

Status COutputFile::Commit(Existing existing) {
  if (!IsOpen()) return Status::Error(std::string(std::strerror(EBADF)) + " - " + Path());
  if (Status ended = EndTransforms(); !ended.ok()) return ended;
  Status committed = m_sink->Commit(existing);
  if (committed.ok()) {
    m_stored =
        ManifestFile{m_sink->Path(), m_digest->Size(), m_digest->FinishHex(), m_transformNames};
  }
  return committed;
}

Status COutputFile::KeepIncomplete() {
  if (!m_sink) return Status::Error(std::string(std::strerror(EBADF)) + " - ");
  // Ended, so that what was written decompresses without a complaint about its end.
  if (m_sink->IsOpen()) (void)EndTransforms();
  m_transforms.clear();
  m_pending.clear();
  return m_sink->KeepIncomplete();
}

}  // namespace brevanto
