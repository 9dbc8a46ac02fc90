// brevanto-run as an administrator uses it: tasks imported from JSON run and export back
// unchanged, a refused import changes nothing, and the headless scheduler owns the folder,
// takes in an import while it runs and saves everything when SIGTERM stops it.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/Clock.h"
#include "core/InstanceLock.h"
#include "logs/TaskLog.h"
#include "tasks/RemoteOptions.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskOptionsStore.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

class BrevantoRunAdminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(test::BrevantoRunPath())) {
      GTEST_SKIP() << "brevanto-run is not built";
    }
    BREVANTO_REQUIRE_SERVER(test::ServerA());
  }

  // A script task against server A, as JSON.
  std::string ScriptTask(const std::string& name, const std::string& extra = "") const {
    const CServerInfo server = test::AsServerInfo(test::ServerA());
    return R"({"TaskName": ")" + name + R"(", "TaskType": 5, "SourceServer": {"Host": ")" +
           server.Host + R"(", "Port": )" + std::to_string(server.Port) + R"(, "UserName": ")" +
           server.UserName + R"(", "Password": ")" + server.Password +
           R"("}, "ScriptStatements": ["SELECT 1"])" + extra + "}";
  }
  std::string Write(const std::string& name, const std::string& text) const {
    test::WriteWholeFile(m_dir.file(name), text);
    return m_dir.file(name);
  }
  std::string Folder() const { return "--folder " + m_dir.path() + "data "; }
  std::vector<CTaskItem> Tasks() const {
    std::vector<CTaskItem> tasks;
    ReadTaskFile(m_dir.file("data/tasks_se.tsk"), tasks);
    return tasks;
  }

  test::TempDir m_dir;
};

TEST_F(BrevantoRunAdminTest, ImportedTasksRunAndExportBackUnchanged) {
  // A name with a control character is refused; it would be printed raw elsewhere.
  const test::RunResult refused = test::RunBrevanto(
      Folder() + "--import " + Write("escape.json", "[" + ScriptTask("probe\\u001b[2J") + "]"));
  EXPECT_EQ(1, refused.status) << refused.output;
  EXPECT_NE(std::string::npos, refused.output.find("[0].TaskName: The task name must not hold "
                                                   "control characters"))
      << refused.output;
  // Control characters in names asked for are never printed raw either.
  const test::RunResult unknown = test::RunBrevanto(Folder() + "--run \"$(printf 'probe\\033[2J')\"");
  EXPECT_EQ(2, unknown.status);
  EXPECT_NE(std::string::npos, unknown.output.find("probe\\x1b[2J")) << unknown.output;

  const std::string file = Write("tasks.json", "[" + ScriptTask(" probe ") + "]");
  const test::RunResult imported = test::RunBrevanto(Folder() + "--import " + file);
  ASSERT_EQ(0, imported.status) << imported.output;
  EXPECT_NE(std::string::npos, imported.output.find("imported: probe\n")) << imported.output;
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_FALSE(Tasks()[0].LogFileName.empty());

  const test::RunResult ran = test::RunBrevanto(Folder() + "--run probe");
  EXPECT_EQ(0, ran.status) << ran.output;
  EXPECT_NE(std::string::npos, ran.output.find("Finished")) << ran.output;
  EXPECT_EQ(0, test::RunBrevanto(Folder() + "--quiet --run probe").output.size());

  // Export, import again with --replace: the list is as before.
  const test::RunResult exported =
      test::RunBrevanto(Folder() + "--export --with-passwords 2>/dev/null");
  ASSERT_EQ(0, exported.status);
  const std::string again = Write("again.json", exported.output);
  EXPECT_EQ(1, test::RunBrevanto(Folder() + "--import " + again).status);  // the name is taken
  const test::RunResult replaced = test::RunBrevanto(Folder() + "--import " + again + " --replace");
  EXPECT_EQ(0, replaced.status) << replaced.output;
  EXPECT_EQ(exported.output,
            test::RunBrevanto(Folder() + "--export --with-passwords 2>/dev/null").output);

  EXPECT_EQ(0, test::RunBrevanto(Folder() + "--delete probe").status);
  EXPECT_TRUE(Tasks().empty());
}

TEST_F(BrevantoRunAdminTest, ARefusedImportSaysWhyAndChangesNothing) {
  ASSERT_EQ(0, test::RunBrevanto(Folder() + "--import " +
                                 Write("one.json", "[" + ScriptTask("one") + "]"))
                   .status);
  const std::vector<CTaskItem> before = Tasks();
  const std::string bad =
      Write("bad.json", "[" + ScriptTask("two") + ", " +
                            ScriptTask("three", R"(, "Schedule": {"Kind": 2})") + "]");
  const test::RunResult refused = test::RunBrevanto(Folder() + "--import " + bad);
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos,
            refused.output.find(bad + ": [1].Schedule: Please set the Every Week Settings!"))
      << refused.output;
  EXPECT_NE(std::string::npos, refused.output.find("nothing was imported"));
  EXPECT_EQ(Tasks(), before);
  EXPECT_EQ(1, test::RunBrevanto(Folder() + "--import " + m_dir.file("missing.json")).status);

  // Into a new folder: neither logs nor the backup folders of the tasks are made.
  const test::RunResult fresh =
      test::RunBrevanto("--folder " + m_dir.file("fresh") + " --import " + bad);
  EXPECT_EQ(1, fresh.status) << fresh.output;
  EXPECT_FALSE(std::filesystem::exists(m_dir.file("fresh/Logs")));
  EXPECT_FALSE(std::filesystem::exists(m_dir.file("fresh/Data")));
}

TEST_F(BrevantoRunAdminTest, OptionSectionsComeInGoOutAndSurviveAReplaceThatLeavesThemOut) {
  const std::string sections =
      R"(, "Advanced": {"Threads": 4}, "Notifications": {"EmailTo": "ops@example.org"})";
  ASSERT_EQ(0, test::RunBrevanto(Folder() + "--import " +
                                 Write("one.json", "[" + ScriptTask("one", sections) + "]"))
                   .status);
  const auto section = [this](const char* name) { return GetTaskSection(Tasks().at(0), name); };
  EXPECT_EQ(section("Advanced")["Threads"], 4);
  EXPECT_EQ(section("Notifications"), (nlohmann::json{{"EmailTo", "ops@example.org"}}));
  const std::string exported = test::RunBrevanto(Folder() + "--export 2>/dev/null").output;
  EXPECT_NE(std::string::npos, exported.find("\"EmailTo\": \"ops@example.org\"")) << exported;

  // A text without the sections keeps them; an empty one sets the task back to the defaults.
  ASSERT_EQ(0, test::RunBrevanto(Folder() + "--import " +
                                 Write("plain.json", "[" + ScriptTask("one") + "]") + " --replace")
                   .status);
  EXPECT_EQ(section("Advanced")["Threads"], 4);
  EXPECT_EQ(section("Notifications")["EmailTo"], "ops@example.org");
  const std::string cleared = ScriptTask("one", R"(, "Notifications": {})");
  ASSERT_EQ(0, test::RunBrevanto(Folder() + "--import " +
                                 Write("cleared.json", "[" + cleared + "]") + " --replace")
                   .status);
  EXPECT_TRUE(section("Notifications").is_null());
  EXPECT_EQ(section("Advanced")["Threads"], 4);

  EXPECT_EQ(0, test::RunBrevanto(Folder() + "--delete one").status);
  EXPECT_FALSE(std::filesystem::exists(m_dir.file("data/tasks_se.json")));
}

// An off-site target's secret is kept like a server's password: out of an export without
// --with-passwords, in the owner-only options file, and kept by a replace from such an export.
TEST_F(BrevantoRunAdminTest, AnOffsiteSecretStaysOutOfAnExportAndAReplaceKeepsIt) {
  const std::string backup =
      R"({"TaskName": "offsite", "TaskType": 1, "BackupDatabases": [{"Selected": 1, "DatabaseName": "shop"}],
          "Remote": {"Kind": "sftp", "Host": "vault.example.org", "User": "backup",
                     "Password": "sftp-s3cret", "Path": "db1"}})";
  ASSERT_EQ(
      0, test::RunBrevanto(Folder() + "--import " + Write("one.json", "[" + backup + "]")).status);
  EXPECT_EQ(RemoteOptionsOf(Tasks().at(0)).Password, "sftp-s3cret");
  struct stat info {};
  ASSERT_EQ(::stat(m_dir.file("data/tasks_se.json").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const std::string exported = test::RunBrevanto(Folder() + "--export 2>/dev/null").output;
  EXPECT_EQ(std::string::npos, exported.find("sftp-s3cret")) << exported;
  EXPECT_NE(std::string::npos, exported.find("\"Host\": \"vault.example.org\"")) << exported;
  EXPECT_NE(std::string::npos, test::RunBrevanto(Folder() + "--export --with-passwords 2>/dev/null")
                                   .output.find("sftp-s3cret"));

  const test::RunResult replaced =
      test::RunBrevanto(Folder() + "--import " + Write("again.json", exported) + " --replace");
  ASSERT_EQ(0, replaced.status) << replaced.output;
  const RemoteOptions kept = RemoteOptionsOf(Tasks().at(0));
  EXPECT_EQ(kept.Password, "sftp-s3cret");
  EXPECT_EQ(kept.Path, "db1");
}

// The scheduler, started as a child with its standard error read through a pipe.
class Daemon {
 public:
  explicit Daemon(const std::string& folder) {
    int err[2];
    if (::pipe(err) != 0) return;
    const std::string program = test::BrevantoRunPath();
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(err[1], 2);
      ::close(err[0]);
      ::execl(program.c_str(), program.c_str(), "--folder", folder.c_str(), "--daemon",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(err[1]);
    m_err = err[0];
  }
  ~Daemon() {
    if (m_pid > 0) Stop();
  }
  // Reads its messages until `text` appears; false when it ends first, or says nothing
  // for a minute (a test waiting on a message that never comes fails instead of hanging).
  bool AwaitOutput(const std::string& text) {
    char buffer[4096];
    while (m_output.find(text) == std::string::npos) {
      pollfd ready{m_err, POLLIN, 0};
      if (::poll(&ready, 1, 60000) <= 0) return false;
      const ssize_t n = ::read(m_err, buffer, sizeof buffer);
      if (n <= 0) return false;
      m_output.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  int Stop() {
    ::kill(m_pid, SIGTERM);
    AwaitOutput("\x01never");  // to the end of its output
    ::close(m_err);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return test::ExitStatus(status);
  }
  const std::string& Output() const { return m_output; }

 private:
  pid_t m_pid = -1;
  int m_err = -1;
  std::string m_output;
};

TEST_F(BrevantoRunAdminTest, TheSchedulerOwnsTheFolderTakesInImportsAndSavesAtSigterm) {
  ASSERT_EQ(0, test::RunBrevanto(Folder() + "--import " +
                                 Write("one.json", "[" + ScriptTask("one") + "]"))
                   .status);
  Daemon daemon(m_dir.file("data"));
  ASSERT_TRUE(daemon.AwaitOutput("scheduling 1 task(s)")) << daemon.Output();
  EXPECT_EQ(InstanceLock::Holder(m_dir.file("data")).kind, kHolderDaemon);

  // A run is the scheduler's to make, followed in the log; an import is taken in.
  const test::RunResult ran = test::RunBrevanto(Folder() + "--run one");
  EXPECT_EQ(0, ran.status) << ran.output;
  EXPECT_NE(std::string::npos, ran.output.find("Running...")) << ran.output;
  EXPECT_NE(std::string::npos, ran.output.find("Finished")) << ran.output;
  ASSERT_TRUE(daemon.AwaitOutput("as brevanto-run asked")) << daemon.Output();
  const std::string every =
      ScriptTask("every minute", R"(, "Schedule": {"Kind": 5, "IntervalMinutes": 1})");
  ASSERT_EQ(
      0, test::RunBrevanto(Folder() + "--import " + Write("two.json", "[" + every + "]")).status);
  ASSERT_TRUE(daemon.AwaitOutput("1 added")) << daemon.Output();

  EXPECT_EQ(0, daemon.Stop()) << daemon.Output();
  const std::vector<CTaskItem> saved = Tasks();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].TaskName, "one");
  EXPECT_EQ(saved[1].TaskName, "every minute");
  EXPECT_EQ(saved[1].Schedule.IntervalMinutes, 1);
  EXPECT_TRUE(InstanceLock::TryAcquire(m_dir.file("data")));
}

// A run asked of the scheduler gives the run's own exit code, also for a run already under
// way; an owner that never takes the request up leaves the folder in use as before, and
// the request is withdrawn.
TEST_F(BrevantoRunAdminTest, ARunAskedOfTheOwnerGivesTheRunsExitCode) {
  std::string failing = ScriptTask("failing");
  failing.replace(failing.find("SELECT 1"), 8, "SELECT * FROM no_such_db.no_such_table");
  std::string slow = ScriptTask("slow");
  slow.replace(slow.find("SELECT 1"), 8, "SELECT SLEEP(2)");
  ASSERT_EQ(0, test::RunBrevanto(Folder() + "--import " +
                                 Write("tasks.json", "[" + ScriptTask("one") + ", " + failing +
                                                         ", " + slow + "]"))
                   .status);
  const std::string requests = m_dir.file("data/Requests");
  {
    Daemon daemon(m_dir.file("data"));
    ASSERT_TRUE(daemon.AwaitOutput("scheduling 3 task(s)")) << daemon.Output();
    const test::RunResult failed = test::RunBrevanto(Folder() + "--run failing");
    EXPECT_EQ(1, failed.status) << failed.output;
    EXPECT_NE(std::string::npos, failed.output.find("Error")) << failed.output;
    EXPECT_EQ(0, test::RunBrevanto(Folder() + "--quiet --run one").status);

    // Two asks of one task: the second follows the run the first started.
    auto first = std::async(std::launch::async,
                            [this] { return test::RunBrevanto(Folder() + "--run slow"); });
    ASSERT_TRUE(daemon.AwaitOutput("running \"slow\"")) << daemon.Output();
    const test::RunResult second = test::RunBrevanto(Folder() + "--run slow");
    EXPECT_EQ(0, second.status) << second.output;
    EXPECT_NE(std::string::npos, second.output.find("Finished")) << second.output;
    EXPECT_EQ(0, first.get().status);
    EXPECT_EQ(0, daemon.Stop()) << daemon.Output();
    EXPECT_TRUE(std::filesystem::is_empty(requests));
  }
  std::vector<CTaskLogEntry> entries;
  CTaskLog(m_dir.file("data/Logs/"), SystemClock()).ReadAll(Tasks().at(2).LogFileName, entries);
  int starts = 0;
  for (const CTaskLogEntry& entry : entries) starts += entry.text == "Running..." ? 1 : 0;
  EXPECT_EQ(1, starts);

  const auto hung = InstanceLock::TryAcquire(m_dir.file("data"), kHolderDaemon);
  ASSERT_TRUE(hung);
  const test::RunResult refused = test::RunBrevanto(Folder() + "--run one");
  EXPECT_EQ(3, refused.status) << refused.output;
  EXPECT_NE(std::string::npos, refused.output.find("did not take up")) << refused.output;
  EXPECT_TRUE(std::filesystem::is_empty(requests));
}

// A run stopped by SIGTERM ends in the journal too, not only in its log; and an interval
// task whose time came while no scheduler ran starts at once.
TEST_F(BrevantoRunAdminTest, TheSchedulerPrintsTheEndOfARunItStopsAtSigterm) {
  std::string slow = ScriptTask("slow", R"(, "Schedule": {"Kind": 5, "IntervalMinutes": 1440})");
  slow.replace(slow.find("SELECT 1"), 8, "SELECT SLEEP(60)");
  ASSERT_EQ(
      0, test::RunBrevanto(Folder() + "--import " + Write("slow.json", "[" + slow + "]")).status);
  std::vector<CTaskItem> tasks = Tasks();
  ASSERT_EQ(tasks.size(), 1u);
  tasks[0].LastRunTime = {2026, 1, 1, 9, 0, 0, 5};
  ASSERT_TRUE(WriteTaskFile(m_dir.file("data/tasks_se.tsk"), tasks));
  Daemon daemon(m_dir.file("data"));
  ASSERT_TRUE(daemon.AwaitOutput("Running...")) << daemon.Output();
  EXPECT_EQ(0, daemon.Stop()) << daemon.Output();
  EXPECT_NE(std::string::npos, daemon.Output().find("[slow]")) << daemon.Output();
  EXPECT_NE(std::string::npos, daemon.Output().find("User canceled!")) << daemon.Output();
}

// Replacing a task keeps the copies it made (nothing else would delete them as they
// expire), and replacing one the scheduler is running says that its run is cancelled.
TEST_F(BrevantoRunAdminTest, AReplaceKeepsTheBackupHistoryAndSaysWhenItCancelsARun) {
  ASSERT_EQ(0, test::RunBrevanto(Folder() + "--import " +
                                 Write("one.json", "[" + ScriptTask("one") + "]"))
                   .status);
  std::vector<CTaskItem> tasks = Tasks();
  ASSERT_EQ(tasks.size(), 1u);
  tasks[0].BackupHistory.push_back({{2026, 12, 6, 9, 0, 0}, 2, 1, 0, "", {m_dir.file("one.sql")}});
  ASSERT_TRUE(WriteTaskFile(m_dir.file("data/tasks_se.tsk"), tasks));
  const std::string edited =
      Write("edited.json", "[" + ScriptTask("one", R"(, "Comment": "edited")") + "]");
  const test::RunResult idle = test::RunBrevanto(Folder() + "--import " + edited + " --replace");
  EXPECT_NE(std::string::npos, idle.output.find("replaced: one\n")) << idle.output;
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].Comment, "edited");
  EXPECT_EQ(Tasks()[0].BackupHistory, tasks[0].BackupHistory);

  // The scheduler holds the folder and the task's log shows a run under way.
  CTaskLog(m_dir.file("data/Logs/"), SystemClock())
      .AppendEntry(tasks[0].LogFileName, LogLevel::General, "Running...");
  const auto scheduler = InstanceLock::TryAcquire(m_dir.file("data"), kHolderDaemon);
  ASSERT_TRUE(scheduler);
  const test::RunResult running = test::RunBrevanto(Folder() + "--import " + edited + " --replace");
  EXPECT_EQ(0, running.status) << running.output;
  EXPECT_NE(std::string::npos, running.output.find("replaced: one (cancelled the running task)"))
      << running.output;
}

}  // namespace
}  // namespace brevanto
