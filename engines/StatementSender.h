#pragma once
// CStatementSender: runs one table's row statements on the destination from a thread of
// its own, so that reading and rendering the next rows overlaps the server's work on the
// last ones. At most `depth` statements wait, so memory stays a few statements whatever
// the table's size. Made, fed and finished by one reading thread; the connection that
// `send` uses belongs to the sender until Finish() or the destructor returns.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace brevanto {

class CStatementSender {
 public:
  // `send` runs on the sender's thread, once per statement, in order. False keeps that
  // statement as Failed() and drops whatever waits behind it; so does an exception, which
  // the next Push() or Finish() throws again on the reading thread.
  CStatementSender(std::function<bool(const std::string&)> send, std::size_t depth);
  // Drops the statements not yet started and waits for the one being sent.
  ~CStatementSender();
  CStatementSender(const CStatementSender&) = delete;
  CStatementSender& operator=(const CStatementSender&) = delete;

  // Queues `statement`, waiting while `depth` statements wait. False, with the statement
  // dropped, once a send failed.
  bool Push(std::string statement);
  // Waits until every queued statement was sent and ends the thread. False when a send
  // failed. REQUIRES: called once.
  bool Finish();
  // After Finish() returned false: the statement whose send failed.
  const std::string& Failed() const { return m_failedStatement; }
  // A sent statement's buffer to build the next one in (empty when none is free yet).
  std::string TakeSpare();

 private:
  void Loop();

  const std::function<bool(const std::string&)> m_send;
  const std::size_t m_depth;
  std::mutex m_lock;  // guards the members below
  std::condition_variable m_changed;
  std::deque<std::string> m_queue;
  std::string m_spare;
  std::string m_failedStatement;
  bool m_failed = false;
  std::exception_ptr m_thrown;  // what `send` threw, for the reading thread
  bool m_closing = false;
  std::thread m_thread;  // last: started once the members above exist
};

}  // namespace brevanto
