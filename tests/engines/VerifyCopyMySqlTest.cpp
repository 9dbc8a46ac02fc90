// Verification of a copy by a restore into a private scratch server: a good copy of each
// grouping verifies, plain, compressed and encrypted; a changed byte in a row, a missing
// or truncated file, a dropped trigger and a table the source never had each fail naming
// the object; the scratch server and its folder are gone afterwards, and a dead one's
// folder is cleaned up.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/Age.h"
#include "core/ApplicationFolder.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/Sha256.h"
#include "engines/BackupToFilesRoutine.h"
#include "engines/ContentDigest.h"
#include "engines/MySqlConnection.h"
#include "engines/ScratchServer.h"
#include "engines/VerifyCopy.h"
#include "tasks/CopyCatalogue.h"
#include "tasks/CopyManifest.h"
#include "tasks/EncryptionOptions.h"
#include "tasks/TaskFile.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;
using test::ServerA;

bool Mentions(const std::vector<std::string>& texts, const std::string& what) {
  for (const std::string& text : texts) {
    if (text.find(what) != std::string::npos) return true;
  }
  return false;
}

// The scratch folders in `folder` (the data folder template that stays is none).
std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("template-")) names.push_back(name);
  }
  return names;
}

class VerifyCopyMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    CreateSourceDatabase(
        "h4_verify_",
        "CREATE TABLE t (id INT PRIMARY KEY, note VARCHAR(100));"
        "INSERT INTO t VALUES (1, 'first value'), (2, 'second value'), (3, NULL);"
        "CREATE TABLE audit (n INT);"
        "INSERT INTO audit VALUES (7);"
        "CREATE VIEW v AS SELECT id FROM t WHERE id > 1;\n"
        "DELIMITER ;;\n"
        "CREATE TRIGGER t_ai AFTER INSERT ON t FOR EACH ROW INSERT INTO audit VALUES "
        "(NEW.id);;\n"
        "CREATE PROCEDURE p() BEGIN SELECT COUNT(*) FROM t; END;;\n"
        "DELIMITER ;\n"
        // Every second, enabled (the test servers run no event scheduler): it would change
        // audit in the scratch copy if events ran there.
        "CREATE EVENT e ON SCHEDULE EVERY 1 SECOND DO INSERT INTO audit VALUES (0);");
    m_cache = m_dir.path() + "cache";
  }

  // A backup of the database, encrypted when `encryption` names recipients; its manifest's
  // path.
  std::string Dump(std::uint8_t grouping, Compression compression,
                   const EncryptionOptions& encryption = {}) {
    CAdvancedOptions advanced;
    advanced.Compression = compression;
    CTaskItem task =
        MakeDumpTask("Verify", grouping, {{"t", 1}, {"audit", 1}, {"v", 2}}, &advanced);
    SetEncryptionOptions(task, encryption);
    task.BackupSettings.BackupFolder = m_dir.path() + "copy" + std::to_string(++m_copies);
    std::filesystem::create_directories(task.BackupSettings.BackupFolder);
    FakeRunContext context(task);
    EXPECT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    if (context.copies.size() != 1) return std::string();
    m_copy = context.copies[0];
    m_files = context.copies[0].CopyFiles;
    for (std::string& file : m_files) file = RecordedFilePath(context.copies[0], file);
    return ManifestPathOf(context.copies[0]);
  }

  // The copy's file whose name contains `part`.
  std::string FileOf(const std::string& part) {
    for (const std::string& file : m_files) {
      if (file.find(part) != std::string::npos) return file;
    }
    ADD_FAILURE() << "no file with " << part;
    return std::string();
  }

  RunOutcome Verify(const std::string& manifest, FakeRunContext& context, CopyVerdict& verdict,
                    const std::string& identity = {}) {
    VerifyCopyRequest request;
    request.ManifestPath = manifest;
    request.IdentityFile = identity;
    request.Scratch.CacheFolder = m_cache;
    const RunOutcome outcome = VerifyCopy(context, request, &verdict);
    // Nothing of the scratch server is left.
    EXPECT_TRUE(FolderEntries(m_cache).empty()) << m_cache;
    return outcome;
  }

  std::string m_cache;
  BackupCopy m_copy;
  std::vector<std::string> m_files;
  int m_copies = 0;
};

TEST_F(VerifyCopyMySqlTest, GoodCopiesVerifyAndTheVerdictGoesBesideTheManifest) {
  for (const auto& [grouping, compression] : {std::pair{std::uint8_t{1}, Compression::None},
                                              std::pair{std::uint8_t{3}, Compression::Zstd},
                                              std::pair{std::uint8_t{2}, Compression::Gzip}}) {
    SCOPED_TRACE("grouping " + std::to_string(grouping));
    const std::string manifest = Dump(grouping, compression);
    ASSERT_FALSE(manifest.empty());
    std::string before;
    ASSERT_TRUE(ReadFileBytes(manifest, before));

    FakeRunContext context(CTaskItem{});
    CopyVerdict verdict;
    EXPECT_EQ(RunOutcome::Finished, Verify(manifest, context, verdict)) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
    EXPECT_TRUE(verdict.Ok) << verdict.FirstDifference;
    EXPECT_EQ(m_files.size(), verdict.Files);
    EXPECT_EQ(2u, verdict.Tables);
    EXPECT_EQ(4u, verdict.Objects);  // view, trigger, procedure, event
    EXPECT_TRUE(verdict.Restored);

    CopyVerdict read;
    const std::string path = VerdictPathOf(manifest);
    ASSERT_TRUE(ReadVerdict(path, read).ok()) << path;
    EXPECT_EQ(verdict, read);
    EXPECT_EQ(10u, read.Verified.find('T')) << read.Verified;
    EXPECT_TRUE(read.Verified.ends_with("Z")) << read.Verified;
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    std::string after;
    ASSERT_TRUE(ReadFileBytes(manifest, after));
    EXPECT_EQ(before, after) << "the manifest is never rewritten";
  }
}

TEST_F(VerifyCopyMySqlTest, AnEncryptedCopyVerifiesWithItsIdentityOnly) {
  const AgeIdentity identity = GenerateAgeIdentity();
  const std::string key = m_dir.file("verify.key");
  ASSERT_TRUE(test::WriteWholeFile(key, AgeIdentityFileText(identity, "2026-12-08T00:00:00Z")));
  EncryptionOptions encryption;
  encryption.Recipients = {identity.Recipient().Text()};
  const std::string manifest = Dump(3, Compression::Zstd, encryption);
  ASSERT_FALSE(manifest.empty());

  FakeRunContext context(CTaskItem{});
  CopyVerdict verdict;
  EXPECT_EQ(RunOutcome::Finished, Verify(manifest, context, verdict, key)) << context.AllText();
  EXPECT_TRUE(verdict.Ok) << verdict.FirstDifference;

  FakeRunContext without(CTaskItem{});
  EXPECT_EQ(RunOutcome::Failed, Verify(manifest, without, verdict));
  EXPECT_FALSE(verdict.Ok);
  EXPECT_TRUE(Mentions(without.Texts(LogLevel::Error), "Table `" + m_db + "`.`t`: missing"))
      << without.AllText();
}

TEST_F(VerifyCopyMySqlTest, AChangedByteInARowFailsNamingTheTable) {
  const std::string manifest = Dump(3, Compression::None);
  ASSERT_FALSE(manifest.empty());
  const std::string file = FileOf("_t.sql");
  std::string bytes = test::ReadWholeFile(file);
  const std::size_t at = bytes.find("second value");
  ASSERT_NE(std::string::npos, at) << bytes;
  bytes[at] = 'S';
  ASSERT_TRUE(test::WriteWholeFile(file, bytes));

  FakeRunContext context(CTaskItem{});
  CopyVerdict verdict;
  EXPECT_EQ(RunOutcome::Failed, Verify(manifest, context, verdict));
  const std::vector<std::string> errors = context.Texts(LogLevel::Error);
  EXPECT_TRUE(Mentions(errors, "SHA-256")) << context.AllText();
  EXPECT_TRUE(Mentions(errors, "Table `" + m_db + "`.`t`: rows digest")) << context.AllText();
  EXPECT_FALSE(Mentions(errors, "`audit`")) << context.AllText();
  EXPECT_FALSE(verdict.Ok);
  CopyVerdict read;
  ASSERT_TRUE(ReadVerdict(VerdictPathOf(manifest), read).ok());
  EXPECT_FALSE(read.Ok);
  EXPECT_EQ(verdict.FirstDifference, read.FirstDifference);
  EXPECT_NE(std::string::npos, read.FirstDifference.find("SHA-256")) << read.FirstDifference;
}

TEST_F(VerifyCopyMySqlTest, AMissingAndATruncatedFileFail) {
  const std::string manifest = Dump(3, Compression::None);
  ASSERT_FALSE(manifest.empty());
  ASSERT_EQ(0, ::unlink(FileOf("_audit.sql").c_str()));
  const std::string table = FileOf("_t.sql");
  const std::string bytes = test::ReadWholeFile(table);
  const std::size_t cut = bytes.find("second value");
  ASSERT_NE(std::string::npos, cut);
  ASSERT_TRUE(test::WriteWholeFile(table, bytes.substr(0, cut)));

  FakeRunContext context(CTaskItem{});
  CopyVerdict verdict;
  EXPECT_EQ(RunOutcome::Failed, Verify(manifest, context, verdict));
  const std::vector<std::string> errors = context.Texts(LogLevel::Error);
  EXPECT_TRUE(Mentions(errors, "_audit.sql: missing")) << context.AllText();
  EXPECT_TRUE(Mentions(errors, "Table `" + m_db + "`.`audit`: missing from the restored copy"))
      << context.AllText();
  EXPECT_TRUE(Mentions(errors, "_t.sql: " + std::to_string(cut) + " bytes, the manifest says"))
      << context.AllText();
  EXPECT_TRUE(Mentions(errors, "Table `" + m_db + "`.`t`")) << context.AllText();
  EXPECT_FALSE(verdict.Ok);
}

TEST_F(VerifyCopyMySqlTest, ADroppedTriggerAndAnAddedTableFailNamingThem) {
  const std::string manifest = Dump(1, Compression::None);
  ASSERT_FALSE(manifest.empty());
  ASSERT_EQ(1u, m_files.size());
  std::string bytes = test::ReadWholeFile(m_files[0]);
  // Its CREATE statement, a line of its own between DELIMITER lines.
  const std::size_t trigger = bytes.find(" TRIGGER t_ai ");
  ASSERT_NE(std::string::npos, trigger) << bytes;
  const std::size_t from = bytes.rfind('\n', trigger) + 1;
  const std::size_t to = bytes.find('\n', trigger);
  ASSERT_NE(std::string::npos, to) << bytes;
  // In its place a table the source never had.
  bytes.replace(from, to + 1 - from, "CREATE TABLE intruder (n INT);;\n");
  ASSERT_TRUE(test::WriteWholeFile(m_files[0], bytes));

  FakeRunContext context(CTaskItem{});
  CopyVerdict verdict;
  EXPECT_EQ(RunOutcome::Failed, Verify(manifest, context, verdict));
  const std::vector<std::string> errors = context.Texts(LogLevel::Error);
  EXPECT_TRUE(Mentions(errors, "Trigger `" + m_db + "`.`t_ai`: missing from the restored copy"))
      << context.AllText();
  EXPECT_TRUE(Mentions(
      errors,
      "Table `" + m_db + "`.`intruder`: in the restored copy, the manifest does not have it"))
      << context.AllText();
  EXPECT_FALSE(Mentions(errors, "Table `" + m_db + "`.`t`")) << context.AllText();
}

TEST_F(VerifyCopyMySqlTest, ADeadOwnersScratchServerAndFolderAreRemovedAtTheNextStart) {
  // A process that starts a scratch server and is killed: its server dies with it.
  const pid_t owner = ::fork();
  ASSERT_LE(0, owner);
  if (owner == 0) {
    ScratchServer scratch(SystemClock());
    ScratchServerOptions options;
    options.CacheFolder = m_cache;
    if (!scratch.Start(options).ok()) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  // Waits until the child's server answers: its pid file is there.
  std::string folder;
  for (int i = 0; i < 1200 && folder.empty(); ++i) {
    for (const std::string& name : FolderEntries(m_cache)) {
      if (FileExists(m_cache + "/" + name + "/mariadbd.pid")) folder = m_cache + "/" + name;
    }
    if (folder.empty()) ::usleep(100000);
  }
  ASSERT_FALSE(folder.empty());
  ::sleep(1);
  ::kill(owner, SIGKILL);
  ASSERT_EQ(owner, ::waitpid(owner, nullptr, 0));

  // A folder of a process that still runs (ours) is kept.
  ScratchServer mine(SystemClock());
  ScratchServerOptions options;
  options.CacheFolder = m_cache;
  ASSERT_TRUE(mine.Start(options).ok());
  // Only its socket reaches it, and a copy's events do not run in it.
  CMySQLConnection connection;
  MySqlError error;
  ASSERT_TRUE(ConnectServer(mine.Server(), connection, error)) << error.Text;
  ASSERT_TRUE(connection.Execute("SELECT @@event_scheduler, @@skip_networking"));
  MySqlResult result(mysql_store_result(connection.Handle()));
  MYSQL_ROW row = mysql_fetch_row(result.get());
  ASSERT_NE(nullptr, row);
  EXPECT_STREQ("OFF", row[0]);
  EXPECT_STREQ("1", row[1]);
  connection.Close();
  std::vector<std::string> removed;
  ASSERT_TRUE(RemoveScratchLeftovers(SystemClock(), m_cache, &removed).ok());
  EXPECT_EQ(std::vector<std::string>{folder}, removed);
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_TRUE(std::filesystem::exists(mine.Folder()));
  const std::string cmdline = "--defaults-file=" + folder + "/my.cnf";
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string text = test::ReadWholeFile(entry.path().string() + "/cmdline");
    EXPECT_EQ(std::string::npos, text.find(cmdline)) << entry.path();
  }
  EXPECT_TRUE(mine.Stop().ok());
  EXPECT_TRUE(FolderEntries(m_cache).empty());
}

TEST_F(VerifyCopyMySqlTest, BrevantoRunVerifiesTheNewestCopyAndCopiesShowsTheVerdict) {
  const std::string manifest = Dump(1, Compression::None);
  ASSERT_FALSE(manifest.empty());
  CTaskItem task;
  task.TaskName = "Nightly";
  task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
  task.BackupHistory = {m_copy};
  ASSERT_TRUE(WriteTaskFile(m_dir.file(kTaskFileName), {task}));
  // A scratch folder whose owner is gone, from an earlier crash.
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(gone, ::waitpid(gone, nullptr, 0));
  const std::string leftover = m_cache + "/scratch-" + std::to_string(gone) + "-0";
  std::filesystem::create_directories(leftover + "/data");
  ASSERT_TRUE(test::WriteWholeFile(leftover + "/owner", std::to_string(gone) + " 12345\n"));

  const std::string folder = "--folder '" + m_dir.path() + "' ";
  const std::string cache = "env XDG_CACHE_HOME='" + m_dir.path() + "'";
  // The cache folder is $XDG_CACHE_HOME/Brevanto.
  std::filesystem::rename(m_cache, m_dir.path() + "Brevanto");
  m_cache = m_dir.path() + "Brevanto";
  test::RunResult result = test::RunBrevanto(folder + "--verify Nightly", cache);
  EXPECT_EQ(0, result.status) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("The copy is verified")) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("Removed a scratch server left behind"))
      << result.output;
  EXPECT_TRUE(FolderEntries(m_cache).empty());
  result = test::RunBrevanto(folder + "--copies Nightly");
  EXPECT_EQ(0, result.status) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("\n    verified 20")) << result.output;

  // The same copy by its time, after a row changed in its file.
  std::string bytes = test::ReadWholeFile(m_files[0]);
  const std::size_t at = bytes.find("first value");
  ASSERT_NE(std::string::npos, at);
  bytes[at] = 'F';
  ASSERT_TRUE(test::WriteWholeFile(m_files[0], bytes));
  const std::string time = test::RunBrevanto(folder + "--copies Nightly --json").output;
  const std::string when = nlohmann::json::parse(time)["copies"][0]["time"];
  result = test::RunBrevanto(folder + "--verify Nightly '" + when + "'", cache);
  EXPECT_EQ(1, result.status) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("Table `" + m_db + "`.`t`: rows digest"))
      << result.output;
  result = test::RunBrevanto(folder + "--copies Nightly --json");
  const nlohmann::json verification =
      nlohmann::json::parse(result.output)["copies"][0]["verification"];
  EXPECT_EQ(false, verification["ok"]) << result.output;
  EXPECT_NE(std::string::npos, verification["firstDifference"].get<std::string>().find("SHA-256"))
      << result.output;

  result = test::RunBrevanto(folder + "--verify Nightly '1999-01-01 00:00:00'", cache);
  EXPECT_EQ(2, result.status) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("has no copy of 1999-01-01 00:00:00"))
      << result.output;
}

// A measurement, not a check: run the test program by hand with
// --gtest_also_run_disabled_tests and the test servers up (ctest skips it),
// the rows from BREVANTO_VERIFY_ROWS (default 1,000,000). Prints our restore of a copy of
// one large table onto server B, the same restore into a scratch server, and the whole
// verification of that copy.
TEST_F(VerifyCopyMySqlTest, DISABLED_MeasureVerificationAgainstRestore) {
  const char* rows = std::getenv("BREVANTO_VERIFY_ROWS");
  const std::string count = rows != nullptr ? rows : "1000000";
  test::RunClient(ServerA(),
                  "CREATE TABLE big (id INT PRIMARY KEY, name VARCHAR(60), n INT, at DATETIME, "
                  "d DOUBLE) ENGINE=InnoDB; INSERT INTO big SELECT seq, CONCAT('name ', seq, "
                  "' ', MD5(seq)), seq % 1000, '2020-01-01' + INTERVAL seq SECOND, seq / 7 FROM "
                  "seq_1_to_" +
                      count + ";",
                  m_db);
  CAdvancedOptions advanced;
  CTaskItem task = MakeDumpTask("Big", 3, {{"big", 1}}, &advanced);
  FakeRunContext dumping(task);
  ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(dumping, m_dir.path())) << dumping.AllText();
  ASSERT_EQ(1u, dumping.copies.size());
  const BackupCopy copy = dumping.copies[0];
  std::vector<std::string> files;
  for (const std::string& file : copy.CopyFiles) files.push_back(RecordedFilePath(copy, file));
  const auto seconds = [](auto since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  };

  auto start = std::chrono::steady_clock::now();
  RestoreWithOurs(files);
  const double restore = seconds(start);

  // The parts of a verification besides the restore.
  start = std::chrono::steady_clock::now();
  for (const std::string& file : files) {
    std::string sha;
    ASSERT_TRUE(Sha256OfFile(file, sha).ok());
  }
  const double hashing = seconds(start);
  start = std::chrono::steady_clock::now();
  {
    CMySQLConnection connection;
    MySqlError error;
    ASSERT_TRUE(ConnectServer(test::AsServerInfo(test::ServerB()), connection, error));
    ManifestTable table;
    ASSERT_TRUE(ComputeRowsDigest(connection, m_db, "big", table).ok());
  }
  const double digest = seconds(start);
  start = std::chrono::steady_clock::now();
  {
    ScratchServer scratch(SystemClock());
    ScratchServerOptions options;
    options.CacheFolder = m_cache;
    ASSERT_TRUE(scratch.Start(options).ok());
    ASSERT_TRUE(scratch.Stop().ok());
  }
  const double firstStart = seconds(start);
  start = std::chrono::steady_clock::now();
  {
    ScratchServer scratch(SystemClock());
    ScratchServerOptions options;
    options.CacheFolder = m_cache;
    ASSERT_TRUE(scratch.Start(options).ok());
    ASSERT_TRUE(scratch.Stop().ok());
  }
  const double nextStart = seconds(start);
  std::printf(
      "SHA-256 of the files %.2f s, rows digest %.2f s, scratch server start and stop "
      "%.2f s (the first, setting up the template) and %.2f s\n",
      hashing, digest, firstStart, nextStart);

  start = std::chrono::steady_clock::now();
  {
    ScratchServer scratch(SystemClock());
    ScratchServerOptions options;
    options.CacheFolder = m_cache;
    ASSERT_TRUE(scratch.Start(options).ok());
    RestoreFilesRequest request;
    request.Server = scratch.Server();
    for (const std::string& file : files) request.Files.push_back({0, file, file, 0, {}});
    FakeRunContext restoring(CTaskItem{});
    ASSERT_EQ(RunOutcome::Finished, RestoreFromFiles(restoring, request)) << restoring.AllText();
    ASSERT_TRUE(scratch.Stop().ok());
  }
  const double scratchRestore = seconds(start);

  start = std::chrono::steady_clock::now();
  FakeRunContext context(CTaskItem{});
  CopyVerdict verdict;
  EXPECT_EQ(RunOutcome::Finished, Verify(ManifestPathOf(copy), context, verdict))
      << context.AllText();
  const double verify = seconds(start);
  std::printf(
      "rows %s: restore onto B %.2f s, restore into a scratch server (with its start) "
      "%.2f s, verification %.2f s (%.2fx the restore onto B)\n",
      count.c_str(), restore, scratchRestore, verify, verify / restore);
}

TEST(ScratchServerTest, SaysPlainlyWhatIsMissing) {
  test::TempDir dir;
  ScratchServer scratch(SystemClock());
  ScratchServerOptions options;
  options.CacheFolder = dir.path() + "cache";
  options.SearchPath = dir.path();
  Status status = scratch.Start(options);
  ASSERT_FALSE(status.ok());
  EXPECT_NE(std::string::npos, status.message().find("No MariaDB server program (mariadbd)"))
      << status.message();
  EXPECT_NE(std::string::npos, status.message().find("mariadb-server-core")) << status.message();

  options.SearchPath.clear();
  options.NeededBytes = std::uint64_t{1} << 60;
  status = scratch.Start(options);
  ASSERT_FALSE(status.ok());
  EXPECT_NE(std::string::npos, status.message().find("Not enough free disk space"))
      << status.message();
  EXPECT_TRUE(FolderEntries(options.CacheFolder).empty());
}

}  // namespace
}  // namespace brevanto
