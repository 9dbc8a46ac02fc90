// A server that accepts the TCP connection and never answers: the run must end with a
// clear Error entry instead of "Connecting..." forever. Takes the connect time-out (30 s).

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

TEST(HungServerTest, ABackupRunGivesUpOnAServerThatNeverAnswers) {
  // The kernel completes the handshake of a listening socket; nobody ever reads or writes.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, ::listen(listener, 4));
  socklen_t length = sizeof address;
  ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));

  test::TempDir dir;
  CTaskItem task;
  task.TaskName = "Hung";
  task.SourceServer.Host = "127.0.0.1";
  task.SourceServer.Port = ntohs(address.sin_port);
  task.SourceServer.UserName = "root";
  task.BackupSettings.BackupFolder = dir.path() + "out/";
  task.BackupDatabases = {DatabaseItem{1, "db", {{1, 1, "db", "t"}}}};
  test::FakeRunContext context(task);
  EXPECT_EQ(RunOutcome::Failed, RunBackupToFiles(context, dir.path()));
  ::close(listener);

  const auto errors = context.Texts(LogLevel::Error);
  ASSERT_EQ(1u, errors.size()) << context.AllText();
  EXPECT_EQ(0u, errors[0].find("Failed to connect to the MySQL server!  Error NO. 2013  ")) << errors[0];
  EXPECT_TRUE(context.copies.empty());
}

}  // namespace
}  // namespace brevanto
