#include "schedule/ExpiredCopies.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <mutex>
#include <stdexcept>
#include <vector>

#include "schedule/Calendar.h"
#include "tasks/TaskFile.h"
#include "tests/schedule/RunnerFixture.h"

namespace brevanto {
namespace {

using test::Eventually;
using test::MakeTime;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

BackupTimeStamp Stamp(const TaskDateTime& t) {
  return BackupTimeStamp{t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second};
}

class ExpiredCopiesTest : public ::testing::Test {
 protected:
  // A copy made at `made` whose files (created on disk) are `names` in `folder`.
  BackupCopy Copy(const TaskDateTime& made, const std::vector<std::string>& names,
                  const std::string& folder = "") {
    BackupCopy copy{Stamp(made), 2, 1, 0, folder.empty() ? "" : m_dir.file(folder), {}};
    if (!folder.empty()) ::mkdir(m_dir.file(folder).c_str(), 0700);
    for (const std::string& name : names) {
      const std::string path = m_dir.file(folder.empty() ? name : folder + "/" + name);
      EXPECT_TRUE(test::WriteWholeFile(path, "dump"));
      copy.CopyFiles.push_back(path);
    }
    return copy;
  }

  CTaskItem Task(AutoDeleteMode mode, std::uint32_t value, std::vector<BackupCopy> history) {
    CTaskItem task;
    task.BackupSettings.AutoDeleteMode = static_cast<std::uint8_t>(mode);
    task.BackupSettings.AutoDeleteValue = value;
    task.BackupHistory = std::move(history);
    return task;
  }

  test::TempDir m_dir;
  const TaskDateTime m_now = MakeTime(2024, 3, 1, 12, 0, 0);
};

TEST_F(ExpiredCopiesTest, KeepingNCopiesDeletesTheOldestFilesAndEmptyFolder) {
  CTaskItem task = Task(AutoDeleteMode::KeepCopies, 3,
                        {Copy(MakeTime(2024, 2, 1), {"a.sql", "b.sql"}, "2024-02-01_00-00-00"),
                         Copy(MakeTime(2024, 2, 2), {"c.sql"}), Copy(MakeTime(2024, 2, 3), {"d.sql"}),
                         Copy(MakeTime(2024, 2, 4), {"e.sql"})});
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_FALSE(Exists(m_dir.file("2024-02-01_00-00-00/a.sql")));
  EXPECT_FALSE(Exists(m_dir.file("2024-02-01_00-00-00")));
  ASSERT_EQ(task.BackupHistory.size(), 3u);
  EXPECT_EQ(task.BackupHistory[0].BackupTime.Day, 2);
  EXPECT_TRUE(Exists(m_dir.file("c.sql")));
  EXPECT_FALSE(DeleteExpiredCopies(task, m_now));  // nothing more to do
}

TEST_F(ExpiredCopiesTest, KeepingNDaysDeletesCopiesAtLeastNWholeDaysOld) {
  CTaskItem task = Task(AutoDeleteMode::OlderThanDays, 7,
                        {Copy(MakeTime(2024, 2, 23, 13, 0, 0), {"young.sql"}),  // 6 days 23 h
                         Copy(MakeTime(2024, 2, 23, 11, 59, 0), {"old.sql"}),   // 7 days 1 min
                         Copy(MakeTime(2024, 2, 29, 0, 0, 0), {"new.sql"})});
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_FALSE(Exists(m_dir.file("old.sql")));
  EXPECT_TRUE(Exists(m_dir.file("young.sql")));
  ASSERT_EQ(task.BackupHistory.size(), 2u);
  EXPECT_EQ(task.BackupHistory[0].CopyFiles[0], m_dir.file("young.sql"));
}

TEST_F(ExpiredCopiesTest, RulesThatDropNothing) {
  const struct {
    const char* name;
    AutoDeleteMode mode;
    std::uint32_t value;
  } cases[] = {{"no rule", AutoDeleteMode::None, 1},
               {"count within the limit", AutoDeleteMode::KeepCopies, 2},
               {"keep 0 copies (damaged file)", AutoDeleteMode::KeepCopies, 0},
               {"0 days (damaged file)", AutoDeleteMode::OlderThanDays, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CTaskItem task = Task(c.mode, c.value,
                          {Copy(MakeTime(2020, 1, 1), {"x.sql"}), Copy(MakeTime(2020, 1, 2), {"y.sql"})});
    EXPECT_FALSE(DeleteExpiredCopies(task, m_now));
    EXPECT_EQ(task.BackupHistory.size(), 2u);
    EXPECT_TRUE(Exists(m_dir.file("x.sql")));
  }
}

TEST_F(ExpiredCopiesTest, NeverDeletesAPathAStayingCopyListsOrAFileItDidNotRecord) {
  // Same-file mode lists one path in every copy.
  CTaskItem task = Task(AutoDeleteMode::KeepCopies, 1,
                        {Copy(MakeTime(2024, 2, 1), {"same.sql"}, "run"), Copy(MakeTime(2024, 2, 2), {"same.sql"})});
  task.BackupHistory[1].CopyFiles = task.BackupHistory[0].CopyFiles;
  ASSERT_TRUE(test::WriteWholeFile(m_dir.file("run/foreign.txt"), "not ours"));
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_EQ(task.BackupHistory.size(), 1u);
  EXPECT_TRUE(Exists(m_dir.file("run/same.sql")));
  EXPECT_TRUE(Exists(m_dir.file("run/foreign.txt")));  // and its folder stays with it

  // A history from a foreign task file may name any file: only backup files are deleted.
  CTaskItem foreign = Task(AutoDeleteMode::KeepCopies, 1,
                           {Copy(MakeTime(2024, 2, 1), {"thesis.odt", "old.SQL", "dump.php",
                                                        "photos.tar.gz", "a.sql.gz", "b.SQL.ZST"}),
                            Copy(MakeTime(2024, 2, 2), {"new.sql"})});
  ASSERT_TRUE(DeleteExpiredCopies(foreign, m_now));
  EXPECT_EQ(foreign.BackupHistory.size(), 1u);
  EXPECT_TRUE(Exists(m_dir.file("thesis.odt")));
  EXPECT_TRUE(Exists(m_dir.file("photos.tar.gz")));
  EXPECT_FALSE(Exists(m_dir.file("old.SQL")));
  EXPECT_FALSE(Exists(m_dir.file("dump.php")));
  EXPECT_FALSE(Exists(m_dir.file("a.sql.gz")));  // compressed dumps are backups too
  EXPECT_FALSE(Exists(m_dir.file("b.SQL.ZST")));

  // Files already removed by hand: the copy is dropped all the same.
  CTaskItem gone = Task(AutoDeleteMode::KeepCopies, 1,
                        {Copy(MakeTime(2024, 2, 1), {"gone.sql"}), Copy(MakeTime(2024, 2, 2), {"kept.sql"})});
  ::unlink(m_dir.file("gone.sql").c_str());
  EXPECT_TRUE(DeleteExpiredCopies(gone, m_now));
  EXPECT_EQ(gone.BackupHistory.size(), 1u);
}

TEST_F(ExpiredCopiesTest, NumberedCompressedCopiesExpireLikePlainOnes) {
  // Runs in the same second number their files; compressed ones keep ".sql.gz" whole.
  CTaskItem task =
      Task(AutoDeleteMode::KeepCopies, 2,
           {Copy(MakeTime(2024, 2, 1), {"n.sql.gz"}), Copy(MakeTime(2024, 2, 1), {"n_2.sql.gz"}),
            Copy(MakeTime(2024, 2, 1), {"n_3.sql.zst"}), Copy(MakeTime(2024, 2, 1), {"n_4.sql"})});
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_FALSE(Exists(m_dir.file("n.sql.gz")));
  EXPECT_FALSE(Exists(m_dir.file("n_2.sql.gz")));
  EXPECT_TRUE(Exists(m_dir.file("n_3.sql.zst")));
  EXPECT_TRUE(Exists(m_dir.file("n_4.sql")));
  ASSERT_EQ(task.BackupHistory.size(), 2u);
  EXPECT_EQ(task.BackupHistory[0].CopyFiles, std::vector<std::string>{m_dir.file("n_3.sql.zst")});
}

TEST_F(ExpiredCopiesTest, ComparesFilesByIdentityNotBySpelling) {
  // The staying copy reaches the same file through a symlinked folder and through "./".
  CTaskItem task = Task(AutoDeleteMode::KeepCopies, 1,
                        {Copy(MakeTime(2024, 2, 1), {"same.sql"}, "real"),
                         Copy(MakeTime(2024, 2, 2), {"other.sql"})});
  ASSERT_EQ(0, ::symlink(m_dir.file("real").c_str(), m_dir.file("link").c_str()));
  task.BackupHistory[1].CopyFiles = {m_dir.file("link/same.sql"), m_dir.file("real/./other.sql")};
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_TRUE(Exists(m_dir.file("real/same.sql")));
}

TEST_F(ExpiredCopiesTest, RemovesOnlyTheEmptyDateTimeFolderOfTheCopysOwnRun) {
  // A task file from elsewhere may name any folder; an empty folder of the user's stays.
  CTaskItem task = Task(AutoDeleteMode::KeepCopies, 1,
                        {Copy(MakeTime(2024, 2, 1), {"a.sql"}, "Documents"),
                         Copy(MakeTime(2024, 2, 2), {"b.sql"}, "2024-02-01_00-00-00"),
                         Copy(MakeTime(2024, 2, 3), {"c.sql"}, "2024-02-03_00-00-00")});
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_FALSE(Exists(m_dir.file("Documents/a.sql")));
  EXPECT_TRUE(Exists(m_dir.file("Documents")));
  EXPECT_TRUE(Exists(m_dir.file("2024-02-01_00-00-00")));  // not the folder of a 2 Feb run
  EXPECT_TRUE(Exists(m_dir.file("2024-02-03_00-00-00/c.sql")));
}

TEST_F(ExpiredCopiesTest, NeverDropsTheOnlyCopyWhateverTheClockSays) {
  CTaskItem task = Task(AutoDeleteMode::OlderThanDays, 1, {Copy(MakeTime(2024, 2, 1), {"only.sql"})});
  EXPECT_FALSE(DeleteExpiredCopies(task, MakeTime(2099, 1, 1)));
  EXPECT_TRUE(Exists(m_dir.file("only.sql")));
}

// A path unlink refuses even to root: the copy keeps it, and the others still go.
TEST_F(ExpiredCopiesTest, AFileThatCannotBeDeletedKeepsItsCopyInTheHistory) {
  CTaskItem task = Task(AutoDeleteMode::KeepCopies, 1,
                        {Copy(MakeTime(2024, 2, 1), {"gone.sql"}), Copy(MakeTime(2024, 2, 2), {}),
                         Copy(MakeTime(2024, 2, 3), {"new.sql"})});
  ASSERT_EQ(::mkdir(m_dir.file("stuck.sql").c_str(), 0700), 0);
  task.BackupHistory[1].CopyFiles = {m_dir.file("stuck.sql")};
  std::vector<CopyFileFailure> failures;
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now, &failures));
  EXPECT_FALSE(Exists(m_dir.file("gone.sql")));
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].Path, m_dir.file("stuck.sql"));
  EXPECT_EQ(CopyFileFailureText(failures[0]), "Failed to delete the expired backup file! - " +
                                                  m_dir.file("stuck.sql") + " (Is a directory)");
  ASSERT_EQ(task.BackupHistory.size(), 2u);
  EXPECT_EQ(task.BackupHistory[0].CopyFiles[0], m_dir.file("stuck.sql"));
}

// A copy's manifest goes with it, after its files; one a remaining copy names stays.
TEST_F(ExpiredCopiesTest, AnExpiredCopysManifestGoesButOneAStayingCopyNamesStays) {
  CTaskItem task = Task(AutoDeleteMode::KeepCopies, 2,
                        {Copy(MakeTime(2024, 2, 1), {"a.sql"}, "2024-02-01_00-00-00"),
                         Copy(MakeTime(2024, 2, 2), {"b.sql.gz"}),
                         Copy(MakeTime(2024, 2, 3), {"same.sql"}), Copy(MakeTime(2024, 2, 4), {})});
  // Same-file mode: the last two runs wrote one file and one manifest.
  task.BackupHistory[3].CopyFiles = task.BackupHistory[2].CopyFiles;
  for (const char* manifest : {"2024-02-01_00-00-00.manifest.json", "b.sql.gz.manifest.json",
                               "same.sql.manifest.json", "foreign.txt.manifest.json"}) {
    ASSERT_TRUE(test::WriteWholeFile(m_dir.file(manifest), "{}"));
  }
  // Verdicts of verifications go and stay with their manifests.
  for (const char* verdict : {"2024-02-01_00-00-00.verified.json", "same.sql.verified.json"}) {
    ASSERT_TRUE(test::WriteWholeFile(m_dir.file(verdict), "{}"));
  }
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_FALSE(Exists(m_dir.file("2024-02-01_00-00-00.verified.json")));
  EXPECT_TRUE(Exists(m_dir.file("same.sql.verified.json")));
  EXPECT_FALSE(Exists(m_dir.file("2024-02-01_00-00-00.manifest.json")));
  EXPECT_FALSE(Exists(m_dir.file("2024-02-01_00-00-00")));
  EXPECT_FALSE(Exists(m_dir.file("b.sql.gz.manifest.json")));
  EXPECT_TRUE(Exists(m_dir.file("same.sql.manifest.json")));
  ASSERT_EQ(task.BackupHistory.size(), 2u);

  // Only the manifest a copy of ours implies: never one beside a file it did not record.
  CTaskItem foreign =
      Task(AutoDeleteMode::KeepCopies, 1,
           {Copy(MakeTime(2024, 2, 1), {"foreign.txt"}), Copy(MakeTime(2024, 2, 2), {"n.sql"})});
  ASSERT_TRUE(DeleteExpiredCopies(foreign, m_now));
  EXPECT_TRUE(Exists(m_dir.file("foreign.txt.manifest.json")));
}

// Killed after the files went: the copy is still recorded and still expired, so the next
// deletion finishes it, manifest and history entry.
TEST_F(ExpiredCopiesTest, AnInterruptedDeletionIsFinishedByTheNextOne) {
  CTaskItem task = Task(AutoDeleteMode::KeepCopies, 1,
                        {Copy(MakeTime(2024, 2, 1), {"a.sql", "b.sql"}, "2024-02-01_00-00-00"),
                         Copy(MakeTime(2024, 2, 2), {"c.sql"})});
  const std::string manifest = m_dir.file("2024-02-01_00-00-00.manifest.json");
  ASSERT_TRUE(test::WriteWholeFile(manifest, "{}"));
  for (const std::string& file : task.BackupHistory[0].CopyFiles) ::unlink(file.c_str());
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now));
  EXPECT_FALSE(Exists(manifest));
  EXPECT_FALSE(Exists(m_dir.file("2024-02-01_00-00-00")));
  ASSERT_EQ(task.BackupHistory.size(), 1u);
}

// A manifest unlink refuses even to root keeps its copy recorded for a later run; a folder
// that cannot be removed for a reason other than holding files is said, not swallowed.
TEST_F(ExpiredCopiesTest, AManifestOrFolderThatCannotBeDeletedIsAWarning) {
  CTaskItem task =
      Task(AutoDeleteMode::KeepCopies, 1,
           {Copy(MakeTime(2024, 2, 1), {"a.sql"}), Copy(MakeTime(2024, 2, 2), {"b.sql"}),
            Copy(MakeTime(2024, 2, 3), {"c.sql"})});
  const std::string stuck = m_dir.file("a.sql.manifest.json");
  ASSERT_EQ(::mkdir(stuck.c_str(), 0700), 0);
  ASSERT_TRUE(test::WriteWholeFile(stuck + "/x", "x"));
  // The second copy's DATE_TIME folder is a file: rmdir says "Not a directory".
  const std::string notFolder = m_dir.file("2024-02-02_00-00-00");
  ASSERT_TRUE(test::WriteWholeFile(notFolder, "x"));
  task.BackupHistory[1].CopyFolder = notFolder;
  std::vector<CopyFileFailure> failures;
  ASSERT_TRUE(DeleteExpiredCopies(task, m_now, &failures));
  EXPECT_FALSE(Exists(m_dir.file("a.sql")));
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(
      CopyFileFailureText(failures[0]),
      "Failed to delete the expired backup copy's manifest! - " + stuck + " (Is a directory)");
  EXPECT_EQ(
      CopyFileFailureText(failures[1]),
      "Failed to remove the expired backup copy's folder! - " + notFolder + " (Not a directory)");
  ASSERT_EQ(task.BackupHistory.size(), 2u);
  EXPECT_EQ(task.BackupHistory[0].CopyFiles[0], m_dir.file("a.sql"));
}

// Through the runner: a backup routine records copies; the count rule applies after each.
class ExpiredCopiesRunnerTest : public test::RunnerFixture {
 protected:
  // A manual backup task keeping `keep` copies whose every run writes and records
  // copy1.sql, copy2.sql, ...; returns its index.
  int AddCopyMakingTask(std::uint32_t keep) {
    m_owner.SetRoutine(TaskType::BackupToFiles, [this](TaskRunContext& run) {
      const std::string path = m_dir.file("copy" + std::to_string(++m_made) + ".sql");
      EXPECT_TRUE(test::WriteWholeFile(path, "dump"));
      const Status recorded =
          run.RecordBackupCopy(BackupCopy{Stamp(run.RunStartTime()), 2, 1, 0, "", {path}});
      std::lock_guard lock(m_recordedLock);
      m_recorded.push_back(recorded.ok());
      return RunOutcome::Finished;
    });
    const int index = Add("backup", ScheduleKind::Manual, TaskType::BackupToFiles);
    m_list.Update(index, [keep](CTaskItem& task) {
      task.BackupSettings.AutoDeleteMode = static_cast<std::uint8_t>(AutoDeleteMode::KeepCopies);
      task.BackupSettings.AutoDeleteValue = keep;
    });
    return index;
  }

  // Runs the task once now and waits for its worker to end.
  void RunOnce(int index) {
    m_list.Update(index, [](CTaskItem& task) { task.RunImmediately = 1; });
    m_runner.LaunchTask(index);
    ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(index); }));
  }

  std::atomic<int> m_made{0};
  std::mutex m_recordedLock;
  std::vector<bool> m_recorded;  // what RecordBackupCopy answered, run by run
};

TEST_F(ExpiredCopiesRunnerTest, RecordedCopiesBeyondTheLimitAreDeletedSavedAndLogged) {
  const int index = AddCopyMakingTask(3);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  for (int run = 1; run <= 4; ++run) RunOnce(index);
  EXPECT_FALSE(Exists(m_dir.file("copy1.sql")));
  EXPECT_TRUE(Exists(m_dir.file("copy2.sql")));
  EXPECT_EQ(m_list.At(index).BackupHistory.size(), 3u);
  std::vector<CTaskItem> saved;
  ASSERT_EQ(ReadTaskFile(m_dir.file("tasks_se.tsk"), saved), TaskFileReadResult::Loaded);
  EXPECT_EQ(saved[0].BackupHistory.size(), 3u);
  const std::vector<std::string> entries = Entries(index);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), kExpiredCopiesDeleted), 1);
  EXPECT_EQ(entries.back(), "Finished");
}

// A run killed between deleting an expired copy's files and its manifest left both the
// manifest and the history entry: the next run deletes the one and saves without the other.
TEST_F(ExpiredCopiesRunnerTest, TheNextRunFinishesADeletionThatWasInterrupted) {
  const int index = AddCopyMakingTask(1);
  const std::string gone = m_dir.file("2024-02-01_00-00-00");
  const std::string manifest = gone + ".manifest.json";
  ASSERT_TRUE(test::WriteWholeFile(manifest, "{}"));
  m_list.Update(index, [&](CTaskItem& task) {
    task.BackupHistory.push_back(
        BackupCopy{Stamp(MakeTime(2024, 2, 1)), 2, 1, 0, gone, {gone + "/shop.sql"}});
  });
  ASSERT_TRUE(m_list.SaveTaskFile(m_dir.file("tasks_se.tsk")));
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  RunOnce(index);
  EXPECT_FALSE(Exists(manifest));
  std::vector<CTaskItem> saved;
  ASSERT_EQ(ReadTaskFile(m_dir.file("tasks_se.tsk"), saved), TaskFileReadResult::Loaded);
  ASSERT_EQ(saved[0].BackupHistory.size(), 1u);
  EXPECT_EQ(saved[0].BackupHistory[0].CopyFiles, std::vector<std::string>{m_dir.file("copy1.sql")});
  const std::vector<std::string> entries = Entries(index);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), kExpiredCopiesDeleted), 1);
}

// A worker stopped while its save waits (behind a slow save of another thread, say) must
// not write the task file once the runner has emptied the list: that would lose every task.
TEST_F(ExpiredCopiesRunnerTest, AnAbandonedWorkerNeverSavesTheEmptiedList) {
  m_owner.SetRoutine(TaskType::BackupToFiles, [&](TaskRunContext& run) {
    (void)run.RecordBackupCopy(
        BackupCopy{Stamp(run.RunStartTime()), 2, 1, 0, "", {m_dir.file("b.sql")}});
    return RunOutcome::Finished;
  });
  test::Gate saving, release;
  m_owner.BeforeSave = [&] {
    saving.Open();
    release.Wait();
  };
  Add("backup", ScheduleKind::Manual, TaskType::BackupToFiles);
  Add("other", ScheduleKind::Manual);
  ASSERT_TRUE(m_list.SaveTaskFile(m_dir.file("tasks_se.tsk")));
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  std::weak_ptr<TaskSlot> slot = m_list.SlotAt(0);
  m_list.Update(0, [](CTaskItem& task) { task.RunImmediately = 1; });
  m_runner.LaunchTask(0);
  saving.Wait();

  // The program exits: the runner is stopped and gives up on the worker after 3000 ms.
  std::thread stopper([&] { EXPECT_EQ(m_runner.Stop(), 0); });
  EXPECT_TRUE(m_clock.WaitForSleepers(1));  // no ASSERT: the stopper must be joined
  m_clock.Advance(3000);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // time to empty the list
  release.Open();
  stopper.join();
  ASSERT_TRUE(Eventually([&] { return slot.expired(); }));

  std::vector<CTaskItem> saved;
  ASSERT_EQ(ReadTaskFile(m_dir.file("tasks_se.tsk"), saved), TaskFileReadResult::Loaded);
  EXPECT_EQ(saved.size(), 2u);
}

TEST_F(ExpiredCopiesRunnerTest, AWaitingBackupTaskDropsCopiesThatAgedOutButNeverItsNewest) {
  const std::string aged = m_dir.file("aged.sql");
  const std::string newest = m_dir.file("newest.sql");
  ASSERT_TRUE(test::WriteWholeFile(aged, "dump"));
  ASSERT_TRUE(test::WriteWholeFile(newest, "dump"));
  const int index = Add("backup", ScheduleKind::EveryDay, TaskType::BackupToFiles);
  m_list.Update(index, [&](CTaskItem& task) {
    task.BackupSettings.AutoDeleteMode = static_cast<std::uint8_t>(AutoDeleteMode::OlderThanDays);
    task.BackupSettings.AutoDeleteValue = 2;
    task.BackupHistory.push_back(BackupCopy{Stamp(MakeTime(2024, 3, 3, 8, 0, 1)), 2, 1, 0, "", {aged}});
    // Made a second later; the server has been down since, so no newer copy comes.
    task.BackupHistory.push_back(
        BackupCopy{Stamp(MakeTime(2024, 3, 3, 8, 0, 2)), 2, 1, 0, "", {newest}});
  });
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_TRUE(Exists(aged));  // one second short of two days
  m_clock.Advance(1000);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_FALSE(Exists(aged));
  EXPECT_EQ(m_list.At(index).BackupHistory.size(), 1u);
  EXPECT_EQ(Entries(index), std::vector<std::string>{kExpiredCopiesDeleted});
  EXPECT_GE(m_owner.Saves, 1);
  // Weeks later the last copy is still there.
  m_clock.Advance(30LL * 24 * 3600 * 1000);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_TRUE(Exists(newest));
  EXPECT_EQ(m_list.At(index).BackupHistory.size(), 1u);
}

// A task file that cannot be saved must not cost the copies it still lists: the run fails
// and the earlier copy stays, on disk and in the history.
TEST_F(ExpiredCopiesRunnerTest, ARunWhoseCopyCannotBeSavedFailsAndDeletesNoCopy) {
  const int index = AddCopyMakingTask(1);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  RunOnce(index);
  m_owner.FailSaves = true;
  RunOnce(index);
  EXPECT_TRUE(Exists(m_dir.file("copy1.sql")));
  EXPECT_EQ(m_list.At(index).BackupHistory.size(), 1u);
  EXPECT_EQ(m_list.LastResultAt(index).Kind, RunResultKind::Failed);
  {
    // The routine is told, so it can leave its own clean-up for a run that is recorded.
    std::lock_guard lock(m_recordedLock);
    EXPECT_EQ(m_recorded, (std::vector<bool>{true, false}));
  }
  const std::vector<std::string> entries = Entries(index);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), kExpiredCopiesDeleted), 0);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "Finished"), 1);  // the first run's
  EXPECT_NE(std::find_if(entries.begin(), entries.end(),
                         [](const std::string& e) {
                           return e.starts_with("Failed to save the task file!");
                         }),
            entries.end());
}

// A save that throws (memory exhaustion, a fault in the owner) on a worker's thread would
// end the whole process. It is a failed save that says why: in a run the copy is not
// recorded and the run fails; a waiting worker warns and goes on waiting.
TEST_F(ExpiredCopiesRunnerTest, ASaveThatThrowsIsAFailedSave) {
  m_owner.BeforeSave = [] { throw std::runtime_error("disk gone"); };
  const std::string thrown = "The task file could not be saved on an internal error: disk gone";
  const int index = AddCopyMakingTask(3);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  RunOnce(index);
  EXPECT_TRUE(m_list.At(index).BackupHistory.empty());
  EXPECT_EQ(m_list.LastResultAt(index).Kind, RunResultKind::Failed);
  EXPECT_EQ(Entries(index),
            (std::vector<std::string>{"Running...", thrown,
                                      "Failed to save the task file! The backup copy is not "
                                      "recorded, and no expired copy was deleted."}));

  const int waiting = Add("waiting", ScheduleKind::EveryDay, TaskType::BackupToFiles);
  m_list.Update(waiting, [&](CTaskItem& task) {
    task.BackupSettings.AutoDeleteMode = static_cast<std::uint8_t>(AutoDeleteMode::OlderThanDays);
    task.BackupSettings.AutoDeleteValue = 2;
    for (const int day : {1, 2}) {
      const std::string file = m_dir.file("day" + std::to_string(day) + ".sql");
      task.BackupHistory.push_back(BackupCopy{Stamp(MakeTime(2024, 3, day)), 2, 1, 0, "", {file}});
    }
  });
  m_runner.LaunchTask(waiting);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_EQ(Entries(waiting), (std::vector<std::string>{thrown, "Failed to save the task file!"}));
  EXPECT_TRUE(m_runner.HasWorker(waiting));
  EXPECT_EQ(StatusOf(waiting), TaskStatus::Waiting);
}

// A copy whose file stays is kept and said once, not at every poll of the waiting worker;
// the next run tries again and says it again.
TEST_F(ExpiredCopiesRunnerTest, AnUndeletableExpiredFileIsWarnedAboutOncePerRun) {
  const std::string stuck = m_dir.file("stuck.sql");
  ASSERT_EQ(::mkdir(stuck.c_str(), 0700), 0);
  m_owner.SetRoutine(TaskType::BackupToFiles, [&](TaskRunContext& run) {
    (void)run.RecordBackupCopy(
        BackupCopy{Stamp(run.RunStartTime()), 2, 1, 0, "", {m_dir.file("n.sql")}});
    return RunOutcome::Finished;
  });
  const int index = Add("backup", ScheduleKind::EveryDay, TaskType::BackupToFiles);
  m_list.Update(index, [&](CTaskItem& task) {
    task.BackupSettings.AutoDeleteMode = static_cast<std::uint8_t>(AutoDeleteMode::OlderThanDays);
    task.BackupSettings.AutoDeleteValue = 2;
    task.BackupHistory.push_back(BackupCopy{Stamp(MakeTime(2024, 3, 1)), 2, 1, 0, "", {stuck}});
    task.BackupHistory.push_back(BackupCopy{Stamp(MakeTime(2024, 3, 2)), 2, 1, 0, "", {"x.sql"}});
  });
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  for (int poll = 0; poll < 5; ++poll) {
    ASSERT_TRUE(m_clock.WaitForSleepers(1));
    m_clock.Advance(100);
  }
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  const std::string warning =
      "Failed to delete the expired backup file! - " + stuck + " (Is a directory)";
  EXPECT_EQ(Entries(index), std::vector<std::string>{warning});
  EXPECT_EQ(m_list.At(index).BackupHistory.size(), 2u);

  m_list.Update(index, [](CTaskItem& task) { task.RunImmediately = 1; });
  m_clock.Advance(100);  // the waiting worker's next poll
  ASSERT_TRUE(Eventually([&] { return Entries(index).back() == "Finished"; }));
  EXPECT_EQ(m_list.At(index).BackupHistory.size(), 2u);
  const std::vector<std::string> entries = Entries(index);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), warning), 2);
  EXPECT_EQ(m_list.At(index).BackupHistory.front().CopyFiles[0], stuck);
}

}  // namespace
}  // namespace brevanto
