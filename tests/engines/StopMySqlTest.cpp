// Stopping a run that waits in the server: the statement must end on the server too, not
// only on our side of the socket.

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engines/MySqlConnection.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::ServerA;

TEST(StopMySqlTest, ACancelledStatementEndsOnTheServerAndChangesNothing) {
  BREVANTO_REQUIRE_SERVER(ServerA());
  const std::string db = "e9_stop_" + std::to_string(getpid());
  test::RunClient(ServerA(), "DROP DATABASE IF EXISTS " + db + "; CREATE DATABASE " + db +
                                 "; CREATE TABLE " + db + ".t (id INT) ENGINE=InnoDB;");
  CMySQLConnection connection;
  MySqlError error;
  ASSERT_TRUE(ConnectServer(test::AsServerInfo(ServerA()), connection, error)) << error.Text;
  ASSERT_EQ(0, mysql_select_db(connection.Handle(), db.c_str()));

  std::thread worker([&] { (void)connection.Execute("INSERT INTO t SELECT SLEEP(10)"); });
  const std::string running =
      "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE 'INSERT INTO t "
      "SELECT SLEEP%';";
  for (int i = 0; i < 200 && test::RunClient(ServerA(), running) != "1\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ("1\n", test::RunClient(ServerA(), running));
  connection.CancelHandle()->Cancel();  // what the runner does after 3000 ms
  worker.join();

  // Gone from the server well before its ten seconds, and nothing was inserted.
  for (int i = 0; i < 300 && test::RunClient(ServerA(), running) != "0\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ("0\n", test::RunClient(ServerA(), "SELECT COUNT(*) FROM " + db + ".t;"));
  test::RunClient(ServerA(), "DROP DATABASE " + db + ";");
}

}  // namespace
}  // namespace brevanto
