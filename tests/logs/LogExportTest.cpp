#include "logs/LogExport.h"

#include <gtest/gtest.h>

#include <string>

#include "logs/TaskLog.h"
#include "tasks/TaskItem.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

TEST(LogExportTest, LogCopyKeepsWholeEntriesWhenAnAppendIsUnderWay) {
  test::TempDir dir;
  test::FakeClock clock;
  CTaskLog log(dir.file("Logs/"), clock);
  ASSERT_TRUE(log.AppendEntry("t.log", LogLevel::General, "Running..."));
  ASSERT_TRUE(log.AppendEntry("t.log", LogLevel::General, "Finished"));
  const std::string whole = test::ReadWholeFile(log.PathOf("t.log"));
  ASSERT_EQ(whole.size(), 4 + 2 * kLogEntrySize);

  // Half of a third entry, as a worker's write in progress leaves it.
  ASSERT_TRUE(test::WriteWholeFile(log.PathOf("t.log"), whole + std::string(100, 'x')));
  ASSERT_TRUE(ExportLogFile(log.PathOf("t.log"), dir.file("copy.log")).ok());
  EXPECT_EQ(test::ReadWholeFile(dir.file("copy.log")), whole);

  // A file in another format is copied byte for byte.
  ASSERT_TRUE(test::WriteWholeFile(dir.file("other.log"), "foreign bytes"));
  ASSERT_TRUE(ExportLogFile(dir.file("other.log"), dir.file("copy2.log")).ok());
  EXPECT_EQ(test::ReadWholeFile(dir.file("copy2.log")), "foreign bytes");
}

}  // namespace
}  // namespace brevanto
