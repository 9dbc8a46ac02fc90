#include "engines/OutputChain.h"

#include <utility>

namespace brevanto {

Status TransformOutput::Write(std::string_view bytes) {
  m_inputSinceFlush += bytes.size();
  const bool flush = m_inputSinceFlush >= m_flushBytes;
  if (Status s = m_transform->Transform(bytes, m_held, flush); !s.ok()) {
    return Status::Error(s.message() + " - " + m_label);
  }
  if (!flush) return Status::Ok();
  m_inputSinceFlush = 0;
  Status written = m_next.Write(m_held);
  m_held.clear();
  return written;
}

Status TransformOutput::End() {
  Status s = m_transform->Finish(m_held);
  if (!s.ok()) s = Status::Error(s.message() + " - " + m_label);
  if (s.ok()) s = m_next.Write(m_held);
  m_held.clear();
  m_inputSinceFlush = 0;
  if (s.ok()) s = m_next.End();
  return s;
}

Status DigestOutput::Write(std::string_view bytes) {
  Status s = m_next.Write(bytes);
  // A piece the next stage refused is not stored (a sink cuts it back).
  if (s.ok()) {
    m_hash.Update(bytes);
    m_size += bytes.size();
  }
  return s;
}

}  // namespace brevanto
