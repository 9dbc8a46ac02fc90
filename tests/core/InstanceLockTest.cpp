// The application-folder lock: one holder at a time, also across processes, released
// when its holder goes, however it goes.

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/InstanceLock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

// Whether a child process can take the lock on `folder` right now.
bool OtherProcessCanLock(const std::string& folder) {
  const pid_t pid = fork();
  if (pid == 0) _exit(InstanceLock::TryAcquire(folder) ? 0 : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(InstanceLockTest, OneHolderAtATime) {
  test::TempDir dir;
  EXPECT_EQ(dir.path() + ".brevanto.lock", InstanceLock::LockFilePath(dir.path()));
  std::string bare = dir.path();
  bare.pop_back();
  EXPECT_EQ(dir.path() + ".brevanto.lock", InstanceLock::LockFilePath(bare));
  {
    auto held = InstanceLock::TryAcquire(dir.path());
    ASSERT_TRUE(held);
    EXPECT_FALSE(InstanceLock::TryAcquire(bare));
    EXPECT_FALSE(OtherProcessCanLock(dir.path()));
  }
  EXPECT_TRUE(OtherProcessCanLock(dir.path()));
  EXPECT_TRUE(InstanceLock::TryAcquire(dir.path()));
}

TEST(InstanceLockTest, AHolderThatDiesReleasesIt) {
  test::TempDir dir;
  const pid_t pid = fork();
  if (pid == 0) {
    auto held = InstanceLock::TryAcquire(dir.path());
    _exit(held ? 0 : 1);  // no destructor runs
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(InstanceLock::TryAcquire(dir.path()));
}

TEST(InstanceLockTest, TheLockFileNamesItsHolder) {
  test::TempDir dir;
  {
    auto held = InstanceLock::TryAcquire(dir.path(), kHolderDaemon);
    ASSERT_TRUE(held);
    const LockHolder holder = InstanceLock::Holder(dir.path());
    EXPECT_EQ(holder.kind, kHolderDaemon);
    EXPECT_EQ(holder.pid, static_cast<long>(::getpid()));
    EXPECT_EQ(InstanceLock::Describe(holder), "the Brevanto scheduler (brevanto-run --daemon) (process " +
                                                  std::to_string(::getpid()) + ")");
  }
  // A longer text before must not leave a tail behind.
  auto held = InstanceLock::TryAcquire(dir.path(), kHolderRun);
  EXPECT_EQ(InstanceLock::Holder(dir.path()).kind, kHolderRun);
  EXPECT_EQ(InstanceLock::Describe({}), "another Brevanto program");
}

TEST(InstanceLockTest, AMissingFolderCannotBeLocked) {
  EXPECT_FALSE(InstanceLock::TryAcquire("/nonexistent-brevanto-folder/"));
}

}  // namespace
}  // namespace brevanto
