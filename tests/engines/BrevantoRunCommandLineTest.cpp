// brevanto-run without a server: its command line in the GNU forms admins type, and a
// task's list entry and log as text and as JSON for scripts.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "appcore/ApplicationCore.h"
#include "core/Age.h"
#include "logs/TaskLog.h"
#include "tasks/BackupFileName.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::RunBrevanto;

// A folder with the task "Nightly" (manual, stopped) and one run in its log: started at
// 10:00:00, a warning at 10:00:20, finished at 10:00:40 on 2026-03-05.
class BrevantoRunCommandLineTest : public testing::Test {
 protected:
  void SetUp() override {
    test::FakeClock clock(test::MakeTime(2026, 3, 5, 9, 0, 0));
    CApplicationCore core(m_dir.path(), clock);
    core.Start();
    CTaskItem task;
    task.TaskName = "Nightly";
    task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    task.CreatedTime = clock.Now();
    task.LogFileName = MakeLogFileName(task.TaskName, task.CreatedTime);
    core.TaskLog().AppendEntry(task.LogFileName, LogLevel::General, "Create task");
    clock.SetNow(test::MakeTime(2026, 3, 5, 10, 0, 0));
    task.LastRunTime = clock.Now();
    core.TaskLog().AppendEntry(task.LogFileName, LogLevel::General, "Running...");
    clock.SetNow(test::MakeTime(2026, 3, 5, 10, 0, 20));
    core.TaskLog().AppendEntry(task.LogFileName, LogLevel::Warning, "Table shop.tmp is empty");
    clock.SetNow(test::MakeTime(2026, 3, 5, 10, 0, 40));
    core.TaskLog().AppendEntry(task.LogFileName, LogLevel::General, "Finished");
    core.Tasks().AddTask(task);
    ASSERT_TRUE(core.SaveTasks());
  }

  std::string Folder() const { return "'" + m_dir.path() + "'"; }

  test::TempDir m_dir;
};

TEST_F(BrevantoRunCommandLineTest, OptionsInAnyOrderAndWithEqualsSigns) {
  const struct {
    std::string arguments;
    int status;
    std::string start;  // what the output starts with
  } cases[] = {
      {"--folder=" + Folder() + " --list", 0, "Nightly\t"},
      {"--list --folder " + Folder(), 0, "Nightly\t"},
      {"--folder " + Folder() + " --export --with-passwords Nightly", 0, "["},
      {"--export Nightly --folder=" + Folder(), 0, "["},
      {"--run=Nobody --folder " + Folder(), 2, "brevanto-run: no task named \"Nobody\""},
      // A usage error is one line and the way to the help, never the whole help text.
      {"--frobnicate", 2,
       "brevanto-run: unknown option --frobnicate\n"
       "Try 'brevanto-run --help' for more information.\n"},
      {"--list stray", 2, "brevanto-run: unexpected argument: stray\nTry"},
      {"--folder=", 2, "brevanto-run: --folder needs a folder\nTry"},
      {"--list=yes", 2, "brevanto-run: --list takes no value\nTry"},
      // --verify takes one copy after the name, and a task must have one.
      {"--verify Nightly one two --folder " + Folder(), 2,
       "brevanto-run: unexpected argument: one\nTry"},
      {"--verify=Nightly --folder " + Folder(), 2,
       "brevanto-run: \"Nightly\" has no recorded backup copies"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const test::RunResult result = RunBrevanto(c.arguments);
    EXPECT_EQ(result.status, c.status) << result.output;
    EXPECT_EQ(result.output.rfind(c.start, 0), 0u) << result.output;
    if (c.status == 2) EXPECT_EQ(result.output.find("usage:"), std::string::npos);
  }
}

TEST_F(BrevantoRunCommandLineTest, ListShowsNextRunAndLastResult) {
  test::RunResult result = RunBrevanto("--folder " + Folder() + " --list");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(result.output,
            "Nightly\tBackup to files\tManual\tnext run: never\t"
            "last run: 2026-03-05 10:00:00 OK\n");

  result = RunBrevanto("--folder " + Folder() + " --list --json");
  ASSERT_EQ(result.status, 0) << result.output;
  const nlohmann::json list = nlohmann::json::parse(result.output);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["name"], "Nightly");
  EXPECT_EQ(list[0]["type"], "Backup to files");
  EXPECT_EQ(list[0]["schedule"], "Manual");
  EXPECT_EQ(list[0]["status"], "stopped");
  EXPECT_TRUE(list[0]["nextRun"].is_null());
  EXPECT_EQ(list[0]["lastRun"], "2026-03-05 10:00:00");
  EXPECT_EQ(list[0]["lastResult"], "OK");
}

TEST_F(BrevantoRunCommandLineTest, LogAsTextAsJsonAndSinceATime) {
  test::RunResult result = RunBrevanto("--folder " + Folder() + " --log Nightly");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(result.output,
            "2026-03-05 09:00:00  General  Create task\n"
            "2026-03-05 10:00:00  General  Running...\n"
            "2026-03-05 10:00:20  Warning  Table shop.tmp is empty\n"
            "2026-03-05 10:00:40  General  Finished\n");

  result = RunBrevanto("--json --since '2026-03-05 10:00:20' --folder " + Folder() +
                       " --log=Nightly");
  EXPECT_EQ(result.status, 0) << result.output;
  std::istringstream lines(result.output);
  std::string line;
  std::vector<nlohmann::json> entries;
  while (std::getline(lines, line)) entries.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(entries.size(), 2u) << result.output;
  EXPECT_EQ(entries[0], nlohmann::json({{"time", "2026-03-05 10:00:20"},
                                        {"level", "Warning"},
                                        {"text", "Table shop.tmp is empty"}}));
  EXPECT_EQ(entries[1]["text"], "Finished");

  result = RunBrevanto("--folder " + Folder() + " --log Nightly --since 2026-03-06");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  result = RunBrevanto("--folder " + Folder() + " --log Nightly --since yesterday");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.output.rfind("brevanto-run: --since needs a time", 0), 0u) << result.output;
  result = RunBrevanto("--folder " + Folder() + " --log Nobody");
  EXPECT_EQ(result.status, 2);
}

TEST_F(BrevantoRunCommandLineTest, ATaskOfAnUnknownTypeIsRefusedWithItsReason) {
  {
    test::FakeClock clock(test::MakeTime(2026, 3, 5, 11, 0, 0));
    CApplicationCore core(m_dir.path(), clock);
    core.Start();
    CTaskItem task;
    task.TaskName = "From the future";
    task.TaskType = 200;
    task.CreatedTime = clock.Now();
    task.LogFileName = MakeLogFileName(task.TaskName, task.CreatedTime);
    core.Tasks().AddTask(task);
    ASSERT_TRUE(core.SaveTasks());
  }
  const test::RunResult run = RunBrevanto("--folder " + Folder() + " --run 'From the future'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("is of type 200, which this program cannot run"), std::string::npos)
      << run.output;
}

TEST(BrevantoRunKeygenTest, WritesAnOwnerOnlyIdentityOnceAndPrintsItsKey) {
  test::TempDir dir;
  const std::string key = dir.file("key.txt");
  const test::RunResult made = RunBrevanto("--quiet --keygen '" + key + "'");
  ASSERT_EQ(made.status, 0) << made.output;
  struct stat info {};
  ASSERT_EQ(::stat(key.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::vector<AgeIdentity> identities;
  ASSERT_TRUE(ParseAgeIdentityFile(test::ReadWholeFile(key), {}, identities).ok());
  ASSERT_EQ(identities.size(), 1u);
  EXPECT_EQ(made.output, identities[0].Recipient().Text() + "\n");
  EXPECT_NE(test::ReadWholeFile(key).find("# public key: " + identities[0].Recipient().Text()),
            std::string::npos);

  // A second run must never replace a key whose backups may exist.
  const std::string before = test::ReadWholeFile(key);
  const test::RunResult again = RunBrevanto("--keygen '" + key + "'");
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.output.find("exists already"), std::string::npos) << again.output;
  EXPECT_EQ(test::ReadWholeFile(key), before);
  EXPECT_EQ(RunBrevanto("--keygen '" + dir.file("no/such/folder/key.txt") + "'").status, 1);
}

}  // namespace
}  // namespace brevanto
