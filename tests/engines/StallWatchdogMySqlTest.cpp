// A run whose server stops answering mid-statement (a middlebox that keeps the TCP session
// and forwards nothing) ends with an Error instead of waiting forever, while a statement
// that is merely long goes on. The watchdog's minute is shortened here.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engines/MySqlConnection.h"
#include "engines/ScriptWorker.h"
#include "engines/ServerCopyWorker.h"
#include "engines/StatementWatchdog.h"
#include "tests/engines/RecordingRunContext.h"
#include "tests/engines/StallingProxy.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

class StallWatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(test::ServerB());
    m_saved = StatementWatchdogTiming();
    StatementWatchdogTiming() = {200, 20, 2};
  }
  void TearDown() override { StatementWatchdogTiming() = m_saved; }

  // Waits in real time, up to `seconds`, for `condition`.
  template <typename Condition>
  static bool Within(int seconds, Condition condition) {
    for (int i = 0; i < seconds * 20; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
  }

  // Test server B, reached through `proxy`.
  static CServerInfo ThroughProxy(const test::StallingProxy& proxy) {
    CServerInfo server = test::AsServerInfo(test::ServerB());
    server.Host = "127.0.0.1";
    server.Port = proxy.Port();
    return server;
  }

  // A routine running on a thread of its own; join `thread` before reading the rest.
  struct BackgroundRun {
    BackgroundRun(const TaskRoutine& routine, TaskRunContext& context)
        : thread([this, routine, &context] {
            outcome = routine(context);
            done = true;
          }) {}
    std::atomic<bool> done{false};
    RunOutcome outcome = RunOutcome::Finished;
    std::thread thread;  // last: started once the members above exist
  };

  WatchdogTiming m_saved;
};

TEST_F(StallWatchdogTest, AScriptWhoseServerStopsAnsweringEndsWithAnError) {
  struct Case {
    const char* name;
    bool killSession;  // the server ends the session; new connections still get through
    const char* error;
  };
  for (const Case& c :
       {Case{"silent", false, "The MySQL server (127.0.0.1) stopped answering: "},
        Case{"session gone", true, "The MySQL server (127.0.0.1) no longer has the session "}}) {
    SCOPED_TRACE(c.name);
    test::StallingProxy proxy(test::ServerB().port);
    ASSERT_NE(proxy.Port(), 0u);
    CTaskItem task;
    task.TaskName = "stall";
    task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
    task.SourceServer = ThroughProxy(proxy);
    const std::string marker = std::string("stall_") + (c.killSession ? "gone" : "silent");
    task.ScriptStatements = {"SELECT 1;", "SELECT SLEEP(30), '" + marker + "';", "SELECT 2;"};
    test::RecordingRunContext context(task);
    BackgroundRun run(ScriptWorker, context);
    const std::string session = "SELECT ID FROM information_schema.PROCESSLIST WHERE INFO LIKE "
                                "'SELECT SLEEP(30), ''" + marker + "''';";
    std::string id;
    EXPECT_TRUE(Within(10, [&] { return !(id = test::RunClient(test::ServerB(), session)).empty(); }));
    // Well past the shortened minute, the long statement was checked and left alone.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_FALSE(run.done) << "a statement that still runs was cut";

    proxy.Freeze(!c.killSession);
    if (c.killSession && !id.empty()) test::RunClient(test::ServerB(), "KILL " + id);
    const bool ended = Within(15, [&] { return run.done.load(); });
    EXPECT_TRUE(ended) << "the run still waits for a server that does not answer";
    proxy.CloseAll();  // a run that still waits ends now
    run.thread.join();
    if (!c.killSession && !id.empty()) test::RunClient(test::ServerB(), "KILL " + id);

    EXPECT_EQ(run.outcome, RunOutcome::Failed);
    const std::vector<std::string> errors = context.Errors();
    ASSERT_FALSE(errors.empty()) << context.Dump();
    EXPECT_EQ(0u, errors[0].find(c.error)) << context.Dump();
    EXPECT_EQ(context.Lines().back().level, LogLevel::Error) << context.Dump();
  }
}

TEST_F(StallWatchdogTest, AServerThatRefusesTheCheckItselfHasAnswered) {
  // An account allowed one connection: the check's own login is refused by the server
  // (error 1226), which is an answer, so the long statement runs to its end.
  test::RunClient(test::ServerB(),
                  "DROP USER IF EXISTS 'one_conn'@'%'; CREATE USER 'one_conn'@'%' IDENTIFIED BY "
                  "'one' WITH MAX_USER_CONNECTIONS 1;");
  CTaskItem task;
  task.TaskName = "refused check";
  task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
  task.SourceServer = test::AsServerInfo(test::ServerB());
  task.SourceServer.UserName = "one_conn";
  task.SourceServer.Password = "one";
  task.ScriptStatements = {"SELECT SLEEP(2);"};
  test::RecordingRunContext context(task);
  const RunOutcome outcome = ScriptWorker(context);
  test::RunClient(test::ServerB(), "DROP USER IF EXISTS 'one_conn'@'%';");
  EXPECT_EQ(outcome, RunOutcome::Finished) << context.Dump();
  EXPECT_TRUE(context.Errors().empty()) << context.Dump();
}

TEST_F(StallWatchdogTest, ACopyWhoseDestinationStopsAnsweringEndsWithAnError) {
  BREVANTO_REQUIRE_SERVER(test::ServerA());
  const std::string db = "e13_stall_copy";
  test::RunClient(test::ServerA(), "DROP DATABASE IF EXISTS " + db + "; CREATE DATABASE " + db +
                                       "; CREATE TABLE " + db + ".a (id INT PRIMARY KEY);"
                                       " INSERT INTO " + db + ".a VALUES (1), (2);");
  test::RunClient(test::ServerB(), "DROP DATABASE IF EXISTS " + db + "; CREATE DATABASE " + db +
                                       "; CREATE TABLE " + db + ".a (id INT);");
  // Another session holds the destination table: the copy's statement waits there, long
  // but alive, until the link in between goes silent.
  CMySQLConnection holder;
  MySqlError error;
  ASSERT_TRUE(ConnectServer(test::AsServerInfo(test::ServerB()), holder, error)) << error.Text;
  ASSERT_TRUE(holder.Execute("LOCK TABLES " + db + ".a WRITE"));

  test::StallingProxy proxy(test::ServerB().port);
  ASSERT_NE(proxy.Port(), 0u);
  CTaskItem task;
  task.TaskName = "stall copy";
  task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToServer);
  task.SourceServer = test::AsServerInfo(test::ServerA());
  task.DestinationServer = ThroughProxy(proxy);
  task.BackupDatabases.push_back({1, db, {{1, 1, db, "a"}}});
  task.BackupSettings.IncludeStructure = 0;
  task.BackupSettings.AddCreateDatabase = 0;
  test::RecordingRunContext context(task);
  BackgroundRun run(ServerCopyWorker, context);
  const std::string waiting = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB='" +
                              db + "' AND STATE LIKE 'Waiting for table metadata lock';";
  EXPECT_TRUE(Within(10, [&] { return test::RunClient(test::ServerB(), waiting) == "1\n"; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_FALSE(run.done) << "a statement that still waits was cut";

  proxy.Freeze(true);
  const bool ended = Within(15, [&] { return run.done.load(); });
  EXPECT_TRUE(ended) << "the copy still waits for a destination that does not answer";
  proxy.CloseAll();
  (void)holder.Execute("UNLOCK TABLES");
  run.thread.join();

  EXPECT_EQ(run.outcome, RunOutcome::Failed);
  const std::vector<std::string> errors = context.Errors();
  ASSERT_FALSE(errors.empty()) << context.Dump();
  EXPECT_EQ(0u, errors[0].find("The MySQL server (127.0.0.1) stopped answering: "))
      << context.Dump();
  test::RunClient(test::ServerA(), "DROP DATABASE " + db + ";");
  test::RunClient(test::ServerB(), "DROP DATABASE " + db + ";");
}

}  // namespace
}  // namespace brevanto
