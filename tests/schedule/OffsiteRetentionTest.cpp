// Local retention of a task with an off-site target: a copy that exists nowhere else is
// never deleted, one in the store loses only its local files and stays in the history, and
// KeepLocalCopies picks which copies keep theirs. Also the list's Result of such runs.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "logs/TaskLog.h"
#include "schedule/ExpiredCopies.h"
#include "schedule/LastRunResult.h"
#include "schedule/RunStatusText.h"
#include "tasks/CopyManifest.h"
#include "tasks/OffsiteRecord.h"
#include "tasks/RemoteOptions.h"
#include "tasks/TaskFile.h"
#include "tests/schedule/RunnerFixture.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::MakeTime;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class OffsiteRetentionTest : public ::testing::Test {
 protected:
  // A copy of day `day` in its DATE_TIME folder: one file and a manifest, and an off-site
  // record when `offsite` (removed from the store when `removed`).
  BackupCopy Copy(int day, bool offsite, bool removed = false) {
    const TaskDateTime made = MakeTime(2024, 2, day);
    BackupCopy copy{{made.Year, made.Month, made.Day, 0, 0, 0}, 2, 1, 0, {}, {}};
    copy.CopyFolder = m_dir.file(DateTimeFolder(day));
    ::mkdir(copy.CopyFolder.c_str(), 0700);
    copy.CopyFiles.push_back(copy.CopyFolder + "/db.sql");
    EXPECT_TRUE(test::WriteWholeFile(copy.CopyFiles[0], "dump"));
    EXPECT_TRUE(test::WriteWholeFile(ManifestPathOf(copy), "{}"));
    if (offsite) {
      OffsiteRecord record;
      record.Target = "rclone t:x/";
      record.Uploaded = "2024-02-01T00:00:00Z";
      if (removed) record.Removed = "2024-02-05T00:00:00Z";
      EXPECT_TRUE(WriteOffsiteRecord(OffsitePathOf(ManifestPathOf(copy)), record).ok());
    }
    return copy;
  }

  static std::string DateTimeFolder(int day) {
    return "2024-02-" + std::string(day < 10 ? "0" : "") + std::to_string(day) + "_00-00-00";
  }

  CTaskItem Task(std::uint32_t keepCopies, int keepLocal, std::vector<BackupCopy> history) {
    CTaskItem task;
    task.BackupSettings.AutoDeleteMode = static_cast<std::uint8_t>(AutoDeleteMode::KeepCopies);
    task.BackupSettings.AutoDeleteValue = keepCopies;
    task.BackupHistory = std::move(history);
    RemoteOptions remote;
    remote.Kind = RemoteKind::Rclone;
    remote.RcloneRemote = "t";
    remote.KeepLocalCopies = keepLocal;
    SetRemoteOptions(task, remote);
    return task;
  }

  test::TempDir m_dir;
  const TaskDateTime m_now = MakeTime(2024, 3, 1, 12, 0, 0);
};

TEST_F(OffsiteRetentionTest, TheTasksRuleWaitsForCopiesNotOffsiteAndKeepsOffsiteOnesInTheHistory) {
  CTaskItem task =
      Task(1, -1, {Copy(1, true), Copy(2, false), Copy(3, true, true), Copy(4, false)});
  const std::vector<BackupCopy> before = task.BackupHistory;
  ExpiredCopies expired = FindExpiredCopies(task, m_now);
  ASSERT_EQ(expired.Waiting.size(), 1u);
  EXPECT_EQ(expired.Waiting[0], before[1]);
  EXPECT_NE(WaitingCopyText(before[1]).find("2024-02-02 00:00:00"), std::string::npos);
  EXPECT_TRUE(DeleteCopyFiles(expired).empty());
  std::size_t localOnly = 0;
  EXPECT_EQ(DropCopies(task.BackupHistory, expired, &localOnly), 2u);
  EXPECT_EQ(localOnly, 1u);

  // Day 1 is off-site: its file went, its manifest and record stay, the history keeps it.
  EXPECT_FALSE(Exists(before[0].CopyFiles[0]));
  EXPECT_FALSE(Exists(before[0].CopyFolder));
  EXPECT_TRUE(Exists(ManifestPathOf(before[0])));
  EXPECT_TRUE(Exists(OffsitePathOf(ManifestPathOf(before[0]))));
  // Day 2 exists nowhere else: untouched.
  EXPECT_TRUE(Exists(before[1].CopyFiles[0]));
  // Day 3 was retired from the store: it goes whole, its record too.
  EXPECT_FALSE(Exists(before[2].CopyFiles[0]));
  EXPECT_FALSE(Exists(ManifestPathOf(before[2])));
  EXPECT_FALSE(Exists(OffsitePathOf(ManifestPathOf(before[2]))));

  ASSERT_EQ(task.BackupHistory.size(), 3u);
  EXPECT_TRUE(LocalFilesDeleted(task.BackupHistory[0]));
  EXPECT_TRUE(SameCopy(task.BackupHistory[0], before[0]));
  EXPECT_EQ(task.BackupHistory[1], before[1]);
  EXPECT_EQ(task.BackupHistory[2], before[3]);

  // Nothing more goes, and a copy whose local files went is not found again.
  expired = FindExpiredCopies(task, m_now);
  EXPECT_TRUE(expired.empty());
  EXPECT_EQ(expired.Waiting.size(), 1u);
}

TEST_F(OffsiteRetentionTest, KeepLocalCopiesReplacesTheTasksRuleForLocalFiles) {
  struct Case {
    int keepLocal;
    std::vector<bool> filesLeft;  // per copy, oldest first
  } cases[] = {
      {0, {false, false, false}},  // every copy in the store loses its local files
      {2, {false, true, true}},    // the newest two keep theirs
      {5, {true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keepLocal);
    // The task's own rule (keep 100) would delete nothing.
    CTaskItem task = Task(100, c.keepLocal, {Copy(1, true), Copy(2, true), Copy(3, true)});
    const std::vector<BackupCopy> before = task.BackupHistory;
    (void)DeleteExpiredCopies(task, m_now);
    ASSERT_EQ(task.BackupHistory.size(), 3u);
    for (std::size_t i = 0; i < before.size(); ++i) {
      EXPECT_EQ(Exists(before[i].CopyFiles[0]), c.filesLeft[i]) << i;
      EXPECT_EQ(LocalFilesDeleted(task.BackupHistory[i]), !c.filesLeft[i]) << i;
      EXPECT_TRUE(Exists(ManifestPathOf(before[i])));
    }
  }
}

TEST_F(OffsiteRetentionTest, ACopyNotOffsiteKeepsItsFilesEvenWithKeepLocalCopiesZero) {
  CTaskItem task = Task(1, 0, {Copy(1, false), Copy(2, true)});
  const std::vector<BackupCopy> before = task.BackupHistory;
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_TRUE(Exists(before[0].CopyFiles[0]));
  EXPECT_FALSE(Exists(before[1].CopyFiles[0]));
  EXPECT_EQ(task.BackupHistory[0], before[0]);
  EXPECT_TRUE(LocalFilesDeleted(task.BackupHistory[1]));
}

TEST_F(OffsiteRetentionTest, WithoutATargetTheRuleIsAsBeforeAndAnOffsiteOnlyCopyLeavesOthersFiles) {
  // The section was removed after a copy lost its local files; a later run wrote a file
  // at the same path. Dropping the old copy never deletes that file.
  CTaskItem task = Task(1, -1, {Copy(1, true), Copy(2, false)});
  SetRemoteOptions(task, RemoteOptions());
  task.BackupHistory[0].Spare |= kCopyLocalFilesDeleted;
  const std::vector<BackupCopy> before = task.BackupHistory;
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  ASSERT_EQ(task.BackupHistory.size(), 1u);
  EXPECT_TRUE(Exists(before[0].CopyFiles[0]));
  EXPECT_FALSE(Exists(ManifestPathOf(before[0])));
  EXPECT_FALSE(Exists(OffsitePathOf(ManifestPathOf(before[0]))));
}

TEST(OffsiteRecordTest, RoundTripsAndRefusesWhatIsNotOne) {
  OffsiteRecord record;
  record.Target = "s3://b/p/";
  record.Uploaded = "2026-12-08T03:00:00Z";
  record.Objects = {{"2026-12-08_03-00-00/db/t.sql.zst", 123},
                    {"2026-12-08_03-00-00.manifest.json", 9}};
  OffsiteRecord read;
  ASSERT_TRUE(OffsiteRecordFromJson(OffsiteRecordToJson(record), read).ok());
  EXPECT_EQ(read, record);
  EXPECT_TRUE(read.InStore());
  record.Removed = "2026-12-09T03:00:00Z";
  ASSERT_TRUE(OffsiteRecordFromJson(OffsiteRecordToJson(record), read).ok());
  EXPECT_FALSE(read.InStore());
  for (const char* bad :
       {"", "[]", R"({"format":2,"uploaded":"x","objects":[]})", R"({"format":1,"objects":[]})",
        R"({"format":1,"uploaded":"x","objects":[{"name":"a","size":-1}]})"}) {
    EXPECT_FALSE(OffsiteRecordFromJson(bad, read).ok()) << bad;
  }
  EXPECT_EQ(OffsitePathOf("/b/2026-12-08_03-00-00.manifest.json"),
            "/b/2026-12-08_03-00-00.offsite.json");
  EXPECT_EQ(OffsitePathOf("/b/x.json"), "");
}

CTaskLogEntry Entry(LogLevel level, const std::string& text) {
  CTaskLogEntry entry;
  entry.level = static_cast<std::uint8_t>(level);
  entry.text = text;
  return entry;
}

TEST(OffsiteResultTest, TheListSaysWhetherTheCopyWentOffsiteOrWhyNot) {
  const CTaskLogEntry start = Entry(LogLevel::General, "Running...");
  const CTaskLogEntry finished = Entry(LogLevel::General, "Finished");
  const CTaskLogEntry offsite =
      Entry(LogLevel::General, std::string(kCopyOffsiteText) + "rclone t:x/");
  const CTaskLogEntry notSent = Entry(
      LogLevel::Error, std::string(kCopyNotOffsiteText) + "rclone t:x/ (directory not found)");
  struct Case {
    const char* name;
    std::vector<CTaskLogEntry> entries;
    std::string text;
  } cases[] = {
      {"sent", {start, offsite, finished}, "OK, off-site"},
      {"not sent", {start, notSent}, "Failed, not off-site (directory not found)"},
      {"sent before, not now",
       {start, offsite, finished, start, notSent},
       "Failed, not off-site (directory not found)"},
      // A task without a target, or a backup that failed before any copy: as ever.
      {"no target", {start, finished}, "OK"},
      {"backup failed",
       {start, Entry(LogLevel::Error, "Failed to use database a")},
       "Failed (1 error)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LastResultText(LastRunResultOf(c.entries)), c.text);
  }
}

}  // namespace
}  // namespace brevanto

namespace brevanto {
namespace {

// Through the runner: a waiting worker says once why a copy past the rule stays; a run
// that sent it asks for retention again, forgets copies gone everywhere, and its Result
// says the copy went off-site.
class OffsiteRunnerTest : public test::RunnerFixture {};

TEST_F(OffsiteRunnerTest, AWaitingCopyIsSaidOnceAndGoesOnceOffsiteAndTheResultSaysSo) {
  const std::string folder = m_dir.file("2024-03-01_00-00-00");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const BackupCopy old{{2024, 3, 1, 0, 0, 0}, 2, 1, 0, folder, {folder + "/db.sql"}};
  const BackupCopy gone{{2024, 3, 2, 0, 0, 0},  2,  1,
                        kCopyLocalFilesDeleted, "", {m_dir.file("g.sql")}};
  ASSERT_TRUE(test::WriteWholeFile(old.CopyFiles[0], "dump"));
  ASSERT_TRUE(test::WriteWholeFile(ManifestPathOf(old), "{}"));
  m_owner.SetRoutine(TaskType::BackupToFiles, [&](TaskRunContext& run) {
    OffsiteRecord record;
    record.Target = "rclone t:x/";
    record.Uploaded = "2024-03-05T08:00:00Z";
    EXPECT_TRUE(WriteOffsiteRecord(OffsitePathOf(ManifestPathOf(old)), record).ok());
    run.DeleteExpiredCopies();
    EXPECT_TRUE(run.ForgetBackupCopies({gone}).ok());
    run.Log(LogLevel::General, std::string(kCopyOffsiteText) + record.Target);
    return RunOutcome::Finished;
  });
  const int index = Add("backup", ScheduleKind::EveryDay, TaskType::BackupToFiles);
  m_list.Update(index, [&](CTaskItem& task) {
    task.BackupSettings.AutoDeleteMode = static_cast<std::uint8_t>(AutoDeleteMode::OlderThanDays);
    task.BackupSettings.AutoDeleteValue = 2;
    task.BackupHistory = {old, gone};
    task.BackupHistory.push_back(
        BackupCopy{{2024, 3, 5, 0, 0, 0}, 2, 1, 0, "", {m_dir.file("n.sql")}});
    RemoteOptions remote;
    remote.Kind = RemoteKind::Rclone;
    remote.RcloneRemote = "t";
    SetRemoteOptions(task, remote);
  });
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  for (int poll = 0; poll < 5; ++poll) {
    ASSERT_TRUE(m_clock.WaitForSleepers(1));
    m_clock.Advance(100);
  }
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_EQ(Entries(index), std::vector<std::string>{WaitingCopyText(old)});
  EXPECT_TRUE(Exists(old.CopyFiles[0]));

  m_list.Update(index, [](CTaskItem& task) { task.RunImmediately = 1; });
  m_clock.Advance(100);
  ASSERT_TRUE(test::Eventually([&] { return Entries(index).back() == "Finished"; }));
  EXPECT_FALSE(Exists(old.CopyFiles[0]));
  EXPECT_TRUE(Exists(ManifestPathOf(old)));
  const std::vector<BackupCopy> history = m_list.At(index).BackupHistory;
  ASSERT_EQ(history.size(), 2u);
  EXPECT_TRUE(SameCopy(history[0], old));
  EXPECT_TRUE(LocalFilesDeleted(history[0]));
  const std::vector<std::string> entries = Entries(index);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), LocalFilesDeletedText(1)), 1);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), WaitingCopyText(old)), 1);
  EXPECT_EQ(LastResultText(m_list.LastResultAt(index)), "OK, off-site");
  std::vector<CTaskItem> saved;
  ASSERT_EQ(ReadTaskFile(m_dir.file("tasks_se.tsk"), saved), TaskFileReadResult::Loaded);
  ASSERT_EQ(saved[0].BackupHistory.size(), 2u);
  EXPECT_EQ(saved[0].BackupHistory[0].Spare, kCopyLocalFilesDeleted);
}

}  // namespace
}  // namespace brevanto
