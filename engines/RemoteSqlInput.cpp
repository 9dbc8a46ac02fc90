#include "engines/RemoteSqlInput.h"

#include <algorithm>
#include <cstring>

#include "remote/RemoteCopyFetch.h"

namespace brevanto {

namespace {

// Small pieces from the store are joined up to this size before the reader sees them.
constexpr std::size_t kPieceBytes = 256 * 1024;

}  // namespace

CRemoteSqlInput::CRemoteSqlInput(std::unique_ptr<RemoteStore> store, std::string objectName,
                                 ManifestFile expected)
    : m_store(std::move(store)),
      m_name(std::move(objectName)),
      m_expected(std::move(expected)),
      m_thread([this] { Fetch(); }) {}

CRemoteSqlInput::~CRemoteSqlInput() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_abandoned = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void CRemoteSqlInput::Fetch() {
  Status status = GetCheckedObject(*m_store, m_name, m_expected,
                                   [this](std::string_view bytes) { return Take(bytes); });
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_done = true;
    m_end = std::move(status);
  }
  m_changed.notify_all();
}

Status CRemoteSqlInput::Take(std::string_view bytes) {
  std::unique_lock<std::mutex> lock(m_lock);
  m_changed.wait(lock, [&] { return m_abandoned || m_queued < kQueueBytes; });
  if (m_abandoned) return Status::Error("the read was ended");
  if (!m_pieces.empty() && m_pieces.back().size() + bytes.size() <= kPieceBytes) {
    m_pieces.back().append(bytes);
  } else {
    m_pieces.emplace_back(bytes);
  }
  m_queued += bytes.size();
  lock.unlock();
  m_changed.notify_all();
  return Status::Ok();
}

Status CRemoteSqlInput::Read(char* buffer, std::size_t capacity, std::size_t& got) {
  got = 0;
  std::unique_lock<std::mutex> lock(m_lock);
  m_changed.wait(lock, [&] { return m_done || m_queued > 0; });
  if (m_queued == 0) return m_end;
  while (got < capacity && !m_pieces.empty()) {
    const std::string& piece = m_pieces.front();
    const std::size_t n = std::min(capacity - got, piece.size() - m_offset);
    std::memcpy(buffer + got, piece.data() + m_offset, n);
    got += n;
    m_offset += n;
    m_queued -= n;
    if (m_offset == piece.size()) {
      m_pieces.pop_front();
      m_offset = 0;
    }
  }
  lock.unlock();
  m_changed.notify_all();
  return Status::Ok();
}

}  // namespace brevanto
