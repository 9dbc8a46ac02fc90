// Backups that can be trusted: a run that fails records no copy and leaves no file that
// looks complete, earlier good copies stay as they were, and runs in the same second
// never share a file.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/OutputFile.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/KillingRunContext.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;
using test::ServerA;
using test::ServerB;

// Records backup copies, and kills the run's session as a dropped link would.
using SessionKillingContext = test::KillingRunContextOf<FakeRunContext>;

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (!std::filesystem::exists(folder)) return names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class BackupTrustMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    m_user = "e9_user_" + std::to_string(getpid());
    CreateSourceDatabase("e9_trust_",
                         "CREATE TABLE small (id INT PRIMARY KEY, t VARCHAR(20)) ENGINE=InnoDB;"
                         "INSERT INTO small SELECT seq, CONCAT('row ', seq) FROM seq_1_to_50;"
                         "CREATE TABLE big (id INT PRIMARY KEY, t VARCHAR(40)) ENGINE=InnoDB;"
                         "INSERT INTO big SELECT seq, CONCAT('row ', seq) FROM seq_1_to_20000;"
                         "CREATE TABLE secret (id INT PRIMARY KEY) ENGINE=InnoDB;"
                         "INSERT INTO secret VALUES (1);");
    if (HasFatalFailure() || IsSkipped()) return;
    // A user who may read every table but one.
    test::RunClient(ServerA(), "DROP USER IF EXISTS '" + m_user + "'@'%';"
                               "CREATE USER '" + m_user + "'@'%' IDENTIFIED BY 'pw';"
                               "GRANT SELECT ON `" + m_db + "`.small TO '" +
                                   m_user + "'@'%';"
                               "GRANT SELECT ON `" + m_db + "`.big TO '" + m_user + "'@'%';");
  }

  void TearDown() override {
    if (m_db.empty() || !test::IsReachable(ServerA())) return;
    SourceDatabaseTest::TearDown();
    test::RunClient(ServerA(), "DROP USER IF EXISTS '" + m_user + "'@'%';");
  }

  CTaskItem MakeTask(const std::vector<std::string>& tables) {
    CTaskItem task;
    task.TaskName = "Nightly";
    task.LogFileName = "Nightly_20060305090702.log";
    task.SourceServer = test::AsServerInfo(ServerA());
    task.BackupSettings.FileMode = 2;
    task.BackupSettings.FileGrouping = 1;
    task.BackupSettings.BackupFolder = Folder();
    task.BackupSettings.SameFilePath = m_dir.file("same.sql");
    DatabaseItem database;
    database.Selected = 1;
    database.DatabaseName = m_db;
    for (const auto& t : tables) database.Tables.push_back({1, 1, m_db, t});
    task.BackupDatabases = {database};
    return task;
  }
  CTaskItem AsLimitedUser(CTaskItem task) {
    task.SourceServer.UserName = m_user;
    task.SourceServer.Password = "pw";
    return task;
  }
  std::string Folder() { return m_dir.path() + "out/"; }

  // A good copy made before each failing run; it must come through untouched.
  std::string MakeGoodCopy() {
    FakeRunContext context(MakeTask({"small"}), {2006, 3, 5, 9, 0, 0, 1});
    EXPECT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    return context.copies.at(0).CopyFiles.at(0);
  }

  std::string m_user;
};

TEST_F(BackupTrustMySqlTest, AFailedRunRecordsNoCopyAndLeavesNoFileThatLooksComplete) {
  struct Case {
    const char* name;
    bool limitedUser;
    bool killSession;
    bool fullDisk;
    const char* errorStart;
  };
  const Case cases[] = {
      {"a table the user may not SELECT", true, false, false, "No result of list table fields: secret"},
      {"the session killed mid-table", false, true, false, "Failed to get all records of table big !"},
      {"a disk that fills up", false, false, true, "Failed to write a record to the backup file! - "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Folder());
    const std::string good = MakeGoodCopy();
    const std::string goodBytes = test::ReadWholeFile(good);

    CTaskItem task = MakeTask({"small", "big", "secret"});
    if (c.limitedUser) task = AsLimitedUser(task);
    SessionKillingContext context(task, c.killSession ? "Backing up the table " + m_db + ".big..." : "",
                                  1, ServerA(), m_db);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    if (c.fullDisk) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limited = old;
      limited.rlim_cur = 20000;
      setrlimit(RLIMIT_FSIZE, &limited);
    }
    const RunOutcome outcome = RunBackupToFiles(context, m_dir.path());
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(RunOutcome::Failed, outcome) << context.AllText();
    EXPECT_TRUE(context.copies.empty());
    ASSERT_FALSE(context.entries.empty());
    EXPECT_EQ(LogLevel::Error, context.entries.back().first) << context.AllText();
    const auto errors = context.Texts(LogLevel::Error);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(0u, errors[0].find(c.errorStart)) << context.AllText();
    if (c.killSession) {
      // One entry naming the server's reason, not one per remaining table.
      EXPECT_EQ(1u, errors.size()) << context.AllText();
      EXPECT_NE(std::string::npos, errors[0].find("(error ")) << errors[0];
    }
    // The earlier copy is untouched, its manifest beside it; the failed run's file says it
    // is incomplete, and the failed run wrote no manifest.
    EXPECT_EQ(goodBytes, test::ReadWholeFile(good));
    std::vector<std::string> files = FilesIn(Folder());
    ASSERT_EQ(3u, files.size()) << ::testing::PrintToString(files);
    const std::string goodName = std::filesystem::path(good).filename().string();
    EXPECT_EQ(1, std::erase(files, goodName));
    EXPECT_EQ(1, std::erase(files, goodName + ".manifest.json"));
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(EndsWith(files[0], ".incomplete")) << files[0];
  }
}

TEST_F(BackupTrustMySqlTest, RunsInTheSameSecondNeverShareAFile) {
  std::vector<std::string> paths;
  for (int run = 0; run < 2; ++run) {
    CTaskItem task = MakeTask({"small"});
    task.BackupSettings.FileNameFormat = "%HOST%_%DATE%_%TIME%";
    FakeRunContext context(task);
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    paths.push_back(context.copies.at(0).CopyFiles.at(0));
  }
  EXPECT_EQ(Folder() + "127.0.0.1_2006-03-05_09-07-02.sql", paths[0]);
  EXPECT_EQ(Folder() + "127.0.0.1_2006-03-05_09-07-02_2.sql", paths[1]);
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);  // the whole data set is in it
    RestoreWithClient({path});
    EXPECT_EQ(test::Checksum(ServerA(), m_db, "small"), test::Checksum(ServerB(), m_db, "small"));
  }
}

TEST_F(BackupTrustMySqlTest, SameFileModeKeepsThePreviousCopyWhenARunFails) {
  CTaskItem task = MakeTask({"small"});
  task.BackupSettings.FileMode = 1;
  {
    FakeRunContext context(task);
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
  }
  const std::string before = test::ReadWholeFile(m_dir.file("same.sql"));
  task.BackupDatabases[0].Tables.push_back({1, 1, m_db, "secret"});
  FakeRunContext failing(AsLimitedUser(task));
  EXPECT_EQ(RunOutcome::Failed, RunBackupToFiles(failing, m_dir.path()));
  EXPECT_EQ(before, test::ReadWholeFile(m_dir.file("same.sql")));
  EXPECT_TRUE(std::filesystem::exists(m_dir.file("same.sql.incomplete")));
}

TEST_F(BackupTrustMySqlTest, TheNextRunRemovesWhatAKilledRunLeft) {
  const CTaskItem task = MakeTask({"small"});
  ::mkdir(Folder().c_str(), 0700);
  const std::string dateTime = Folder() + "2006-03-04_01-02-03";
  ::mkdir(dateTime.c_str(), 0700);
  const std::string tag = TemporaryFileTag(task.LogFileName);
  const std::vector<std::string> leftovers = {
      Folder() + ".all.sql." + tag + "-77-0.brevanto-part",
      dateTime + "/.all.sql." + tag + "-77-1.brevanto-part"};
  const std::string othersTask =
      Folder() + ".all.sql." + TemporaryFileTag("Other.log") + "-77-2.brevanto-part";
  for (const auto& path : leftovers) ASSERT_TRUE(test::WriteWholeFile(path, "INSERT"));
  ASSERT_TRUE(test::WriteWholeFile(othersTask, "INSERT"));

  FakeRunContext context(task);
  ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
  for (const auto& path : leftovers) EXPECT_FALSE(std::filesystem::exists(path)) << path;
  EXPECT_TRUE(std::filesystem::exists(othersTask));
}

}  // namespace
}  // namespace brevanto
