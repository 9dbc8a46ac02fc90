#include "logs/TaskLog.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "tasks/TaskItem.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::MakeTime;
using test::ReadWholeFile;
using test::WriteWholeFile;

std::string U32(std::uint32_t v) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return bytes;
}

// The older format, written by hand: magic, then level, seven date fields, length, text.
std::string LegacyLog(const std::vector<std::string>& texts) {
  std::string bytes = U32(kLegacyTaskLogMagic);
  for (const std::string& text : texts) {
    bytes += '\x01';
    for (int v : {2006, 3, 5, 9, 7, 2, 1}) bytes += U32(static_cast<std::uint32_t>(v));
    bytes += U32(static_cast<std::uint32_t>(text.size())) + text;
  }
  return bytes;
}

class TaskLogTest : public ::testing::Test {
 protected:
  TaskLogTest() : m_clock(MakeTime(2006, 3, 5, 9, 7, 2)), m_log(m_dir.path() + "Logs/", m_clock) {}

  std::string PathOf(const std::string& name) { return m_dir.path() + "Logs/" + name; }
  std::size_t SizeOf(const std::string& name) { return ReadWholeFile(PathOf(name)).size(); }
  void Append(int count, const std::string& name = "t.log") {
    for (int i = 1; i <= count; ++i) m_log.AppendEntry(name, LogLevel::General, "entry " + std::to_string(i));
  }
  std::vector<CTaskLogEntry> All(const std::string& name = "t.log") {
    std::vector<CTaskLogEntry> entries;
    m_log.ReadAll(name, entries);
    return entries;
  }
  std::vector<CTaskLogEntry> Last(std::size_t count, const std::string& name = "t.log") {
    std::vector<CTaskLogEntry> entries;
    m_log.ReadLast(name, entries, count);
    return entries;
  }

  test::TempDir m_dir;
  test::FakeClock m_clock;
  CTaskLog m_log;
};

TEST_F(TaskLogTest, NewLogIsTheMagicAloneAndOwnerOnly) {
  ASSERT_TRUE(m_log.AppendEntry("t.log", LogLevel::General, ""));
  EXPECT_EQ(ReadWholeFile(PathOf("t.log")), U32(kTaskLogMagic));
  EXPECT_TRUE(All().empty());
  struct stat st {};
  ASSERT_EQ(::stat(PathOf("t.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(m_log.AppendEntry("", LogLevel::General, "x"));
}

TEST_F(TaskLogTest, EntriesKeepTheirStampLevelAndTextUpToTheFieldSize) {
  const struct {
    std::size_t length;
    std::size_t kept;
  } cases[] = {{1, 1}, {330, 330}, {331, 331}, {332, 331}, {1000, 331}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    m_log.DeleteLog("t.log");
    std::string text(c.length, 'x');
    text[0] = 'A';
    ASSERT_TRUE(m_log.AppendEntry("t.log", static_cast<std::uint8_t>(5), text));
    EXPECT_EQ(SizeOf("t.log"), 4 + kLogEntrySize);
    std::vector<CTaskLogEntry> entries = All();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (CTaskLogEntry{5, 2006, 3, 5, 9, 7, 2, 1, text.substr(0, c.kept)}));
  }
}

TEST_F(TaskLogTest, ReadLastGivesTheNewestOldestFirst) {
  Append(250);
  std::vector<CTaskLogEntry> last = Last(200);
  ASSERT_EQ(last.size(), 200u);
  EXPECT_EQ(last.front().text, "entry 51");
  EXPECT_EQ(last.back().text, "entry 250");
  Append(10, "small.log");
  EXPECT_EQ(Last(200, "small.log").size(), 10u);

  std::vector<CTaskLogEntry> untouched(3);
  m_log.ReadLast("t.log", untouched, 0);
  EXPECT_EQ(untouched.size(), 3u);
}

TEST_F(TaskLogTest, SizeLimitDeletesOnlyAFileThatReachedIt) {
  const struct {
    const char* name;
    int entries;
    bool limitOn;
    int maxKB;
    bool kept;
  } cases[] = {
      {"1084 bytes is 1 KB", 3, true, 1, false},
      {"724 bytes is 0 KB", 2, true, 1, true},
      {"limit off", 3, false, 1, true},
      {"size 0 means no limit", 3, true, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_log.DeleteLog("t.log");
    Append(c.entries);
    m_log.ApplySizeLimit("t.log", c.limitOn, c.maxKB);
    EXPECT_EQ(m_log.Exists("t.log"), c.kept);
  }
  m_log.ApplySizeLimit("missing.log", true, 1);
  EXPECT_FALSE(m_log.Exists("missing.log"));
}

TEST_F(TaskLogTest, OlderFormatIsReadByReadAllOnlyAndConvertedOnce) {
  test::TempDir empty;
  CTaskLog noTasks(empty.path(), m_clock);
  noTasks.ConvertLegacyLogs({});
  EXPECT_EQ(ReadWholeFile(empty.file(kLogConversionMarker)).size(), kLogConversionMarkerSize);

  ::mkdir((m_dir.path() + "Logs").c_str(), 0700);
  ASSERT_TRUE(WriteWholeFile(PathOf("old.log"), LegacyLog({"one", "two", std::string(400, 'z')})));
  ASSERT_TRUE(WriteWholeFile(PathOf("empty.log"), LegacyLog({})));
  EXPECT_TRUE(Last(200, "old.log").empty());
  ASSERT_EQ(All("old.log").size(), 3u);

  m_log.ConvertLegacyLogs({"old.log", "empty.log", "", "missing.log"});
  EXPECT_EQ(SizeOf("old.log"), 1084u);
  std::vector<CTaskLogEntry> converted = Last(200, "old.log");
  ASSERT_EQ(converted.size(), 3u);
  EXPECT_EQ(converted[0], (CTaskLogEntry{1, 2006, 3, 5, 9, 7, 2, 1, "one"}));
  EXPECT_EQ(converted[2].text, std::string(331, 'z'));
  EXPECT_EQ(ReadWholeFile(PathOf("empty.log")), LegacyLog({}));  // nothing to convert
  EXPECT_EQ(SizeOf(kLogConversionMarker), kLogConversionMarkerSize);

  // With the marker present nothing is converted again.
  ASSERT_TRUE(WriteWholeFile(PathOf("later.log"), LegacyLog({"x"})));
  m_log.ConvertLegacyLogs({"later.log"});
  EXPECT_EQ(ReadWholeFile(PathOf("later.log")), LegacyLog({"x"}));
}

// Writing the current magic over an older-format log would turn its entries into noise.
TEST_F(TaskLogTest, AppendingToAnOlderFormatLogKeepsItsEntries) {
  ::mkdir((m_dir.path() + "Logs").c_str(), 0700);
  ASSERT_TRUE(WriteWholeFile(PathOf("old.log"), LegacyLog({"one", "two"})));
  ASSERT_TRUE(m_log.AppendEntry("old.log", LogLevel::Warning, "three"));
  std::vector<CTaskLogEntry> entries = Last(10, "old.log");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].text, "one");
  EXPECT_EQ(entries[2].text, "three");
}

// A full disk during that conversion must not cost the older entries: the new entry is
// dropped instead.
TEST_F(TaskLogTest, AnOlderFormatLogSurvivesAConversionThatCannotBeWritten) {
  ::mkdir((m_dir.path() + "Logs").c_str(), 0700);
  const std::string legacy = LegacyLog({"one", "two", "three"});
  ASSERT_TRUE(WriteWholeFile(PathOf("old.log"), legacy));
  // Files may not grow past 400 bytes: room for one new entry, not for the converted log.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 400;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool appended = m_log.AppendEntry("old.log", LogLevel::General, "four");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(appended);
  EXPECT_EQ(ReadWholeFile(PathOf("old.log")), legacy);
  EXPECT_EQ(All("old.log").size(), 3u);
}

TEST_F(TaskLogTest, DamagedFilesReadWithoutHarm) {
  Append(2);
  // A crash left half an entry: the next append replaces it, every read stays aligned.
  std::string bytes = ReadWholeFile(PathOf("t.log"));
  ASSERT_TRUE(WriteWholeFile(PathOf("t.log"), bytes + std::string(100, '\x7f')));
  EXPECT_EQ(Last(5).back().text, "entry 2");
  Append(1);
  std::vector<CTaskLogEntry> entries = All();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].text, "entry 1");

  // An older-format length beyond the end stops the reading; foreign files read as empty.
  std::string lying = LegacyLog({"fine"}) + LegacyLog({"x"}).substr(4);
  lying[lying.size() - 5] = '\x7f';
  ASSERT_TRUE(WriteWholeFile(PathOf("lying.log"), lying));
  EXPECT_EQ(All("lying.log").size(), 1u);
  ASSERT_TRUE(WriteWholeFile(PathOf("foreign.log"), "hello world, not a log"));
  EXPECT_TRUE(All("foreign.log").empty());
  EXPECT_TRUE(Last(5, "foreign.log").empty());
}

TEST_F(TaskLogTest, NamesNeverLeaveTheLogsFolder) {
  EXPECT_EQ(m_log.PathOf("..\\..\\x.log"), PathOf("x.log"));
  EXPECT_EQ(m_log.PathOf("../../x.log"), PathOf("x.log"));
  EXPECT_EQ(m_log.PathOf("dir/.."), "");
  EXPECT_EQ(m_log.PathOf(""), "");
  EXPECT_FALSE(m_log.DeleteLog(""));
}

TEST_F(TaskLogTest, ConcurrentAppendsAreAllKeptWhole) {
  constexpr int kThreads = 8;
  constexpr int kEach = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) {
        m_log.AppendEntry("shared.log", LogLevel::General,
                          "thread " + std::to_string(t) + " entry " + std::to_string(i));
        if (i % 50 == 0) Last(20, "shared.log");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<CTaskLogEntry> entries = All("shared.log");
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kEach));
  std::vector<int> next(kThreads, 0);
  for (const CTaskLogEntry& entry : entries) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(entry.text.c_str(), "thread %d entry %d", &t, &i), 2) << entry.text;
    ASSERT_EQ(i, next[static_cast<std::size_t>(t)]++);  // each thread's entries in order
  }
}

}  // namespace
}  // namespace brevanto
