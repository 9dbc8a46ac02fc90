#include "appcore/ApplicationCore.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/AtomicFile.h"
#include "core/BinaryIO.h"
#include "core/Clock.h"
#include "tasks/TaskFile.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

class StoppedClock final : public Clock {
 public:
  TaskDateTime Now() override { return {2026, 12, 7, 9, 30, 0, 2}; }
  std::int64_t MonotonicMs() override { return m_ms; }
  void SleepMs(int ms) override { m_ms += ms; }

 private:
  std::int64_t m_ms = 0;
};

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

CTaskItem Task(const std::string& name, ScheduleKind kind) {
  CTaskItem t;
  t.TaskName = name;
  t.LogFileName = name + ".log";
  t.Schedule.Kind = static_cast<std::uint8_t>(kind);
  return t;
}

class ApplicationCoreTest : public ::testing::Test {
 protected:
  std::string folder() const { return m_dir.path(); }
  std::string file(const std::string& name) const { return m_dir.file(name); }

  TempDir m_dir;
  StoppedClock m_clock;
};

TEST_F(ApplicationCoreTest, FirstStartInAnEmptyFolder) {
  CApplicationCore core(folder(), m_clock);
  core.Start();

  EXPECT_TRUE(IsFolder(file("Data")));
  EXPECT_TRUE(IsFolder(file("Logs")));
  EXPECT_EQ(core.Options().DefaultBackupFolder, folder() + "Data/");
  EXPECT_EQ(core.Servers().Count(), 0);
  EXPECT_EQ(core.Tasks().Count(), 0);
  EXPECT_FALSE(core.HasScheduledTask());
  // Loading writes nothing but the log-upgrade marker.
  EXPECT_FALSE(FileExists(file("myserver.dll")));
  EXPECT_FALSE(FileExists(file("opt_se.dll")));
  EXPECT_EQ(ReadWholeFile(file("Logs/log200se.dll")).size(), 3072u);
}

TEST_F(ApplicationCoreTest, LoadsWhatTheLastRunSaved) {
  CSystemOptions options;
  options.DefaultBackupFolder = "/srv/backups/";
  options.LimitLogSize = 1;
  options.MaxLogSizeKB = 64;
  ASSERT_TRUE(SaveOptions(folder(), options));
  BinaryWriter older;  // a saved-server file of the earlier layout
  older.U32(0xBFDFAEBAu);
  older.Text("db.example", kLegacyTextKey);
  older.U32(3306);
  for (int i = 0; i < 4; ++i) older.Text("", kLegacyTextKey);
  for (int i = 0; i < 3; ++i) older.U8(0);
  ASSERT_TRUE(WriteWholeFile(file("myserver.dll"), older.Take()));
  CTaskItem running = Task("scheduled", ScheduleKind::EveryDay);
  running.SetStatus(TaskStatus::Running);
  ASSERT_TRUE(WriteTaskFile(file("tasks_se.tsk"), {Task("manual", ScheduleKind::Manual), running}));

  CApplicationCore core(folder(), m_clock);
  core.Start();

  EXPECT_EQ(core.Options().DefaultBackupFolder, "/srv/backups/");
  EXPECT_TRUE(core.LimitLogSize());
  EXPECT_EQ(core.MaxLogSizeKB(), 64);
  ASSERT_EQ(core.Servers().Count(), 1);
  EXPECT_EQ(core.Servers().At(0).ConnectionName, "db.example");
  EXPECT_EQ(ReadWholeFile(file("myserver.dll")).substr(0, 4), "\xE0\xF9\xBD\xCA");
  ASSERT_EQ(core.Tasks().Count(), 2);
  EXPECT_EQ(core.Tasks().At(0).TaskName, "manual");
  EXPECT_EQ(core.Tasks().At(1).GetStatus(), TaskStatus::Stop);
  EXPECT_TRUE(core.HasScheduledTask());
  EXPECT_FALSE(core.HasRunningTask());
}

TEST_F(ApplicationCoreTest, SavesOptionsAndTasksAtExitAndEmptiesTheList) {
  {
    CApplicationCore core(folder(), m_clock);
    core.Start();
    core.Options().TipIndex = 4;
    core.Tasks().AddTask(Task("nightly", ScheduleKind::Manual));
    core.SaveAtExit();
    EXPECT_EQ(core.Tasks().Count(), 0);
  }
  CApplicationCore next(folder(), m_clock);
  next.Start();
  EXPECT_EQ(next.Options().TipIndex, 4);
  ASSERT_EQ(next.Tasks().Count(), 1);
  EXPECT_EQ(next.Tasks().At(0).TaskName, "nightly");
}

// A full disk at exit must not pass for a saved list.
TEST_F(ApplicationCoreTest, ASaveAtExitThatFailsSaysSo) {
  CApplicationCore core(folder(), m_clock);
  core.Start();
  core.Tasks().AddTask(Task("nightly", ScheduleKind::Manual));
  bool saved = true;
  {
    const test::FileSizeLimit full(16);
    saved = core.SaveAtExit();
  }
  EXPECT_FALSE(saved);
  EXPECT_FALSE(FileExists(file("tasks_se.tsk")));
}

TEST_F(ApplicationCoreTest, AnUnreadableTaskFileIsMovedAsideInsteadOfDeleted) {
  struct Case {
    const char* name;
    std::string content;
  } cases[] = {
      {"damaged record", SerializeTaskFile({Task("a", ScheduleKind::Manual)}).substr(0, 300)},
      {"foreign file", "this is not a task list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("tasks_se.tsk"), c.content));
    CApplicationCore core(dir.path(), m_clock);
    core.Start();
    EXPECT_EQ(core.Tasks().Count(), 0);
    EXPECT_EQ(core.SetAsideTaskFile(), dir.file("tasks_se.tsk.damaged"));
    core.SaveAtExit();  // saving the empty list must not take the user's tasks with it
    EXPECT_EQ(ReadWholeFile(dir.file("tasks_se.tsk.damaged")), c.content);
  }

  // A readable file without tasks is simply an empty list.
  ASSERT_TRUE(WriteWholeFile(file("tasks_se.tsk"), std::string("\xE0\xF9\xBD\xCA\0\0\0\0", 8)));
  CApplicationCore core(folder(), m_clock);
  core.Start();
  EXPECT_EQ(core.SetAsideTaskFile(), "");
}

TEST_F(ApplicationCoreTest, OptionsConfirmationFillsTheFolderAndSaves) {
  CApplicationCore core(folder(), m_clock);
  core.Start();
  CSystemOptions edited = core.Options();
  edited.DefaultBackupFolder.clear();
  edited.LoginUserName.clear();
  edited.LoginPassword = "orphan";
  edited.LimitLogSize = 1;
  edited.MaxLogSizeKB = 10;
  ASSERT_TRUE(core.ApplyOptions(edited));

  EXPECT_EQ(core.Options().DefaultBackupFolder, folder() + "Data/");
  EXPECT_EQ(core.Options().LoginPassword, "");
  EXPECT_EQ(core.OptionsSnapshot(), core.Options());
  EXPECT_EQ(core.MaxLogSizeKB(), 10);
  CSystemOptions saved;
  ASSERT_TRUE(LoadOptions(folder(), saved));
  EXPECT_EQ(saved, core.Options());
}

TEST_F(ApplicationCoreTest, OlderLogsOfLoadedTasksAreConvertedOnce) {
  ASSERT_TRUE(MakeFolder(file("Logs")));
  BinaryWriter log;  // the older log layout: variable-length entries
  log.U32(0xBFDFAEB0u);
  log.U8(0);
  for (int v : {2005, 1, 5, 9, 7, 3, 4}) log.I32(v);
  log.Text("Finished", 0);
  ASSERT_TRUE(WriteWholeFile(file("Logs/nightly.log"), log.Take()));
  ASSERT_TRUE(WriteTaskFile(file("tasks_se.tsk"), {Task("nightly", ScheduleKind::Manual)}));

  CApplicationCore core(folder(), m_clock);
  core.Start();
  const std::string converted = ReadWholeFile(file("Logs/nightly.log"));
  EXPECT_EQ(converted.size(), 4u + 360u);
  EXPECT_EQ(converted.substr(0, 4), "\xE0\xF9\xBD\xCA");
  EXPECT_EQ(ReadWholeFile(file("Logs/log200se.dll")).size(), 3072u);
}

TEST_F(ApplicationCoreTest, TheRunnerGetsTheRoutineOfEachType) {
  CApplicationCore core(folder(), m_clock);
  core.Start();
  int calls = 0;
  TaskRoutineTable routines;
  routines[TaskType::ExecuteScript] = [&calls](TaskRunContext&) {
    ++calls;
    return RunOutcome::Finished;
  };
  ASSERT_EQ(core.StartRunner(routines), 0);
  EXPECT_EQ(core.StartRunner({}), -5001);
  ASSERT_NE(core.RoutineFor(TaskType::ExecuteScript), nullptr);
  EXPECT_EQ(core.RoutineFor(TaskType::BackupToFiles), nullptr);
  EXPECT_EQ(core.Shutdown(), 0);
}

}  // namespace
}  // namespace brevanto
