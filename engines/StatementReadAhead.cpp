#include "engines/StatementReadAhead.h"

#include <utility>

#include "engines/LoadTransaction.h"
#include "engines/SqlInput.h"

namespace brevanto {
namespace {

// Enough for the reader to stay a statement or two ahead of 1 MB statements; a statement
// larger than this still goes through, alone.
constexpr std::size_t kQueueBytes = 2 * 1024 * 1024;
constexpr std::size_t kQueueStatements = 16;

}  // namespace

CStatementReadAhead::CStatementReadAhead(std::unique_ptr<CSqlInput> input,
                                         std::size_t maxStatementBytes, bool backslashEscapes)
    : m_input(std::move(input)),
      m_maxStatementBytes(maxStatementBytes),
      m_backslashEscapes(backslashEscapes),
      m_reader([this] { ReadAll(); }) {}

CStatementReadAhead::~CStatementReadAhead() {
  {
    std::lock_guard lock(m_lock);
    m_stop = true;
  }
  m_changed.notify_all();
  m_reader.join();
}

bool CStatementReadAhead::HasRoomFor(std::size_t bytes) const {
  return m_queue.empty() ||
         (m_queue.size() < kQueueStatements && m_queuedBytes + bytes <= kQueueBytes);
}

void CStatementReadAhead::ReadAll() {
  struct Done {
    CStatementReadAhead& reader;
    ~Done() {
      {
        std::lock_guard lock(reader.m_lock);
        reader.m_done = true;
      }
      reader.m_changed.notify_all();
    }
  } done{*this};
  try {
    ReadStatements();
  } catch (...) {
    // Thrown on here it would end the process: Next() throws it on the caller's thread
    // once the statements read before it were taken.
    std::lock_guard lock(m_lock);
    m_thrown = std::current_exception();
  }
}

void CStatementReadAhead::ReadStatements() {
  CStatementSplitter splitter(*m_input, m_maxStatementBytes);
  for (;;) {
    Item item;
    {
      std::lock_guard lock(m_lock);
      splitter.SetBackslashEscapes(m_backslashEscapes);
      if (!m_spare.empty()) {
        item.Statement.Text = std::move(m_spare.back());
        m_spare.pop_back();
      }
    }
    item.Statement.Text.clear();
    item.Result = splitter.Next(item.Statement);
    if (item.Result == SplitResult::TooLong || item.Result == SplitResult::Error) {
      item.Error = splitter.ErrorText();
    }
    const bool last = item.Result == SplitResult::End || item.Result == SplitResult::Error;
    item.Holds = item.Result == SplitResult::Statement && InsertTarget(item.Statement.Text).empty();
    const std::size_t bytes = item.Statement.Text.size();
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_stop || HasRoomFor(bytes); });
    if (m_stop) return;
    m_held = item.Holds;
    m_queuedBytes += bytes;
    m_queue.push_back(std::move(item));
    m_changed.notify_all();
    if (last) return;
    m_changed.wait(lock, [&] { return m_stop || !m_held; });
    if (m_stop) return;
  }
}

SplitResult CStatementReadAhead::Next(SqlStatement& statement) {
  std::unique_lock lock(m_lock);
  m_changed.wait(lock, [&] { return m_done || !m_queue.empty(); });
  if (m_queue.empty() && m_thrown) std::rethrow_exception(m_thrown);
  // Past the end, as the splitter does.
  if (m_queue.empty()) return SplitResult::End;
  Item& item = m_queue.front();
  m_queuedBytes -= item.Statement.Text.size();
  // A buffer grown by one huge statement is let go rather than kept for small ones.
  const std::size_t capacity = statement.Text.capacity();
  if (capacity > 0 && capacity <= kQueueBytes) m_spare.push_back(std::move(statement.Text));
  statement = std::move(item.Statement);
  m_error = std::move(item.Error);
  m_lastHolds = item.Holds;
  const SplitResult result = item.Result;
  m_queue.pop_front();
  m_changed.notify_all();
  return result;
}

void CStatementReadAhead::Ran(bool backslashEscapes) {
  if (!m_lastHolds) return;
  m_lastHolds = false;
  {
    std::lock_guard lock(m_lock);
    m_backslashEscapes = backslashEscapes;
    m_held = false;
  }
  m_changed.notify_all();
}

}  // namespace brevanto
