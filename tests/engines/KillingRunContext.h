#pragma once
// A RecordingRunContext that kills a session of a test server, as a dropped network link
// or a server restart would, at the n-th stop check after a given log line.

#include <string>
#include <utility>

#include "tests/engines/RecordingRunContext.h"
#include "tests/support/TestServer.h"

namespace brevanto::test {

class KillingRunContext : public RecordingRunContext {
 public:
  KillingRunContext(CTaskItem task, std::string afterLine, int checksAfter,
                    const TestServerInfo& server, std::string database)
      : RecordingRunContext(std::move(task)),
        m_afterLine(std::move(afterLine)),
        m_checksAfter(checksAfter),
        m_server(server),
        m_database(std::move(database)) {}

  void Log(LogLevel level, const std::string& text) override {
    RecordingRunContext::Log(level, text);
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
    return RecordingRunContext::StopRequested();
  }

 private:
  std::string m_afterLine;
  int m_checksAfter;
  bool m_counting = false;
  const TestServerInfo& m_server;
  std::string m_database;
};

}  // namespace brevanto::test
