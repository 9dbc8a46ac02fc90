#include "engines/InsertStatements.h"

#include <utility>

namespace brevanto {

CInsertStatements::CInsertStatements(std::string prefix, bool multiRow, std::size_t maxBytes)
    : m_prefixSize(prefix.size()),
      m_multiRow(multiRow),
      m_maxBytes(maxBytes),
      m_statement(std::move(prefix)) {}

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
  if (m_pending < kRowsPerMultiRowInsert) return false;
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
  m_readyRows = 0;
  if (m_hasCarried) {
    m_statement += m_carried;
    m_hasCarried = false;
  }
}

}  // namespace brevanto
