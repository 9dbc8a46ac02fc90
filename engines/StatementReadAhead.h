#pragma once
// CStatementReadAhead: splits an input's statements on a thread of its own while the
// caller runs the ones before, so reading, decompressing and splitting overlap with the
// server's work. Only a few statements wait in its queue (bounded in count and bytes), so
// memory stays flat. A statement that may change how the next ones split (anything but
// INSERT or REPLACE: SET sql_mode may turn NO_BACKSLASH_ESCAPES on) holds the reader until
// the caller has run it and said how backslashes read now, so the statements come out
// exactly as CStatementSplitter gives them one by one.
// Next and Ran are for one thread, the caller's; the destructor stops and joins the reader.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engines/StatementSplitter.h"

namespace brevanto {

class CSqlInput;

class CStatementReadAhead {
 public:
  // Starts reading at once. `backslashEscapes`: how the session reads backslashes now.
  CStatementReadAhead(std::unique_ptr<CSqlInput> input, std::size_t maxStatementBytes,
                      bool backslashEscapes);
  ~CStatementReadAhead();
  CStatementReadAhead(const CStatementReadAhead&) = delete;
  CStatementReadAhead& operator=(const CStatementReadAhead&) = delete;

  // As CStatementSplitter::Next; waits for the reader when nothing is queued. Throws what
  // the reader threw, after the statements it queued before.
  SplitResult Next(SqlStatement& statement);
  // After TooLong or Error: what and where.
  const std::string& ErrorText() const { return m_error; }
  // After the statement of the last Next ran (or failed): how backslashes read now.
  void Ran(bool backslashEscapes);

 private:
  struct Item {
    SplitResult Result = SplitResult::End;
    SqlStatement Statement;
    std::string Error;
    bool Holds = false;  // the reader waits for Ran() after it
  };

  void ReadAll();
  void ReadStatements();
  bool HasRoomFor(std::size_t bytes) const;

  std::unique_ptr<CSqlInput> m_input;
  const std::size_t m_maxStatementBytes;

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<Item> m_queue;
  std::size_t m_queuedBytes = 0;
  std::vector<std::string> m_spare;  // used texts handed back, to keep their buffers
  bool m_backslashEscapes;
  bool m_held = false;  // the reader waits until the held statement ran
  bool m_stop = false;
  bool m_done = false;  // the reader has ended
  std::exception_ptr m_thrown;  // what ended the reader, for the caller's thread

  // The caller's side only.
  std::string m_error;
  bool m_lastHolds = false;

  std::thread m_reader;  // last: starts once everything above is set
};

}  // namespace brevanto
