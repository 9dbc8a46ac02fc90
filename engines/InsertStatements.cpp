#include "engines/InsertStatements.h"

#include <algorithm>
#include <utility>

namespace brevanto {
namespace {

// Room for what follows a statement in a packet or a file: the command byte, the
// terminator, a PHP line's wrapping.
constexpr std::size_t kPacketReserve = 1024;

}  // namespace

InsertShape ChooseInsertShape(bool taskMultiRow, std::uint32_t statementBytes,
                              std::size_t maxPacket) {
  InsertShape shape;
  shape.MultiRow = taskMultiRow;
  if (statementBytes > 0) {
    shape.MultiRow = true;
    shape.MaxBytes = statementBytes;
    shape.MaxRows = 0;
  }
  if (maxPacket > 2 * kPacketReserve) {
    shape.MaxBytes = std::min(shape.MaxBytes, maxPacket - kPacketReserve);
  } else if (maxPacket > 0) {
    shape.MaxBytes = std::min(shape.MaxBytes, maxPacket);
  }
  return shape;
}

CInsertStatements::CInsertStatements(std::string prefix, bool multiRow, std::size_t maxBytes)
    : CInsertStatements(std::move(prefix),
                        InsertShape{multiRow, maxBytes, kRowsPerMultiRowInsert}) {}

CInsertStatements::CInsertStatements(std::string prefix, const InsertShape& shape)
    : m_prefixSize(prefix.size()),
      m_multiRow(shape.MultiRow),
      m_maxBytes(shape.MaxBytes),
      m_maxRows(shape.MaxRows),
      m_statement(std::move(prefix)) {
  // Filled statements are written or sent whole: one allocation for the table.
  if (m_maxRows == 0) m_statement.reserve(m_maxBytes + m_maxBytes / 8);
}

bool CInsertStatements::RowAdded(std::size_t rowStart) {
  if (!m_multiRow) {
    m_readyRows = 1;
    m_pending = 0;
    return true;
  }
  if (m_pending > 1 && m_statement.size() > m_maxBytes) {
    // The row goes first into the next statement; this one ends before its comma.
    m_carried.assign(m_statement, rowStart, std::string::npos);
    m_statement.resize(rowStart - 1);
    m_hasCarried = true;
    m_readyRows = m_pending - 1;
    m_pending = 1;
    return true;
  }
  if (m_maxRows == 0 || m_pending < m_maxRows) return false;
  m_readyRows = m_pending;
  m_pending = 0;
  return true;
}

bool CInsertStatements::Finish() {
  if (m_pending == 0) return false;
  m_readyRows = m_pending;
  m_pending = 0;
  return true;
}

void CInsertStatements::Sent() {
  m_statement.resize(m_prefixSize);
  StartNext();
}

std::string CInsertStatements::TakeReady(std::string spare) {
  std::string ready = std::move(m_statement);
  m_statement = std::move(spare);
  m_statement.assign(ready, 0, m_prefixSize);
  if (m_maxRows == 0) m_statement.reserve(m_maxBytes + m_maxBytes / 8);
  StartNext();
  return ready;
}

void CInsertStatements::StartNext() {
  m_readyRows = 0;
  if (m_hasCarried) {
    m_statement += m_carried;
    m_hasCarried = false;
  }
}

}  // namespace brevanto
