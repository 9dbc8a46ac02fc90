#pragma once
// A run context (RecordingRunContext unless told otherwise) that kills a session of a
// test server, as a dropped network link or a server restart would, at the n-th stop
// check after a given log line.

#include <string>
#include <utility>

#include "tests/engines/FakeRunContext.h"
#include "tests/engines/RecordingRunContext.h"
#include "tests/support/TestServer.h"

namespace brevanto::test {

template <typename Base>
class KillingRunContextOf : public Base {
 public:
  KillingRunContextOf(CTaskItem task, std::string afterLine, int checksAfter,
                      const TestServerInfo& server, std::string database)
      : Base(std::move(task)),
        m_afterLine(std::move(afterLine)),
        m_checksAfter(checksAfter),
        m_server(server),
        m_database(std::move(database)) {}

  void Log(LogLevel level, const std::string& text) override {
    Base::Log(level, text);
    if (text == m_afterLine) m_counting = true;
  }
  bool StopRequested() override {
    if (m_counting && --m_checksAfter == 0) {
      RunClient(m_server,
                "SELECT CONCAT('KILL ', ID) FROM information_schema.PROCESSLIST WHERE DB='" +
                    m_database +
                    "' AND ID <> CONNECTION_ID() LIMIT 1 INTO @k; "
                    "PREPARE s FROM @k; EXECUTE s;");
    }
    return Base::StopRequested();
  }

 private:
  std::string m_afterLine;
  int m_checksAfter;
  bool m_counting = false;
  const TestServerInfo& m_server;
  std::string m_database;
};

using KillingRunContext = KillingRunContextOf<RecordingRunContext>;

}  // namespace brevanto::test
