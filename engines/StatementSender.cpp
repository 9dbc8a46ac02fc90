#include "engines/StatementSender.h"

#include <utility>

namespace brevanto {

CStatementSender::CStatementSender(std::function<bool(const std::string&)> send, std::size_t depth)
    : m_send(std::move(send)), m_depth(depth == 0 ? 1 : depth), m_thread([this] { Loop(); }) {}

CStatementSender::~CStatementSender() {
  {
    std::lock_guard lock(m_lock);
    m_queue.clear();
    m_closing = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void CStatementSender::Loop() {
  std::unique_lock lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [this] { return !m_queue.empty() || m_closing; });
    if (m_queue.empty()) return;
    std::string statement = std::move(m_queue.front());
    m_queue.pop_front();
    m_changed.notify_all();  // room for the reader's next statement
    lock.unlock();
    bool sent = false;
    std::exception_ptr thrown;
    try {
      sent = m_send(statement);
    } catch (...) {
      // Thrown on here it would end the process: the reading thread owns the failure.
      thrown = std::current_exception();
    }
    lock.lock();
    if (!sent) {
      m_failed = true;
      m_thrown = thrown;
      m_failedStatement = std::move(statement);
      m_queue.clear();
      m_changed.notify_all();
      return;
    }
    if (m_spare.capacity() < statement.capacity()) m_spare = std::move(statement);
    m_changed.notify_all();
  }
}

bool CStatementSender::Push(std::string statement) {
  std::unique_lock lock(m_lock);
  m_changed.wait(lock, [this] { return m_failed || m_queue.size() < m_depth; });
  if (m_failed) {
    if (m_thrown) std::rethrow_exception(m_thrown);
    return false;
  }
  m_queue.push_back(std::move(statement));
  lock.unlock();
  m_changed.notify_all();
  return true;
}

bool CStatementSender::Finish() {
  {
    std::lock_guard lock(m_lock);
    m_closing = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
  if (m_thrown) std::rethrow_exception(m_thrown);
  return !m_failed;
}

std::string CStatementSender::TakeSpare() {
  std::lock_guard lock(m_lock);
  std::string spare = std::move(m_spare);
  m_spare = std::string();
  return spare;
}

}  // namespace brevanto
