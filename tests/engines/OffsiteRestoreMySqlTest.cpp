// Restoring an off-site copy without a local file: a real backup's files and manifest are put
// into a store as a run uploads them, the local files are deleted, and the restore reads each
// object from the store, checked against the manifest, into another database on another
// server. A changed object fails the restore naming it; an encrypted, compressed copy
// restores with the identity file.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/Age.h"
#include "core/ApplicationFolder.h"
#include "core/ServerList.h"
#include "core/Sha256.h"
#include "engines/BackupToFilesRoutine.h"
#include "engines/OffsiteRestore.h"
#include "engines/RestoreFilesWorker.h"
#include "remote/RemoteCatalogue.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/CopyManifest.h"
#include "tasks/EncryptionOptions.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/RcloneTaskFolder.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/FolderStore.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;

class OffsiteRestoreMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    CreateSourceDatabase("e25_offsite_",
                         "CREATE TABLE big (id INT PRIMARY KEY, b LONGBLOB);"
                         "CREATE TABLE small (id INT, t TEXT);"
                         "INSERT INTO small VALUES (1, 'caf\xc3\xa9'), (2, NULL);");
    // Random bytes: larger than the input's queue even compressed.
    test::RunClient(test::ServerA(),
                    "INSERT INTO big SELECT seq, RANDOM_BYTES(2000) FROM seq_1_to_3000;", m_db);
    m_target = "e25_restored_" + std::to_string(getpid());
    DropTarget();
  }
  void TearDown() override {
    if (test::IsReachable(test::ServerB())) DropTarget();
    SourceDatabaseTest::TearDown();
  }
  void DropTarget() {
    test::RunClient(test::ServerB(), "DROP DATABASE IF EXISTS `" + m_target + "`;");
  }

  // Backs up, uploads the copy's files and then its manifest, and deletes the local files.
  void BackUpOffsite(std::uint8_t grouping, const CAdvancedOptions& advanced,
                     const EncryptionOptions& encryption = {}) {
    CTaskItem task = MakeDumpTask("Offsite", grouping, {{"big", 1}, {"small", 1}}, &advanced);
    SetEncryptionOptions(task, encryption);
    FakeRunContext context(task);
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    ASSERT_EQ(context.copies.size(), 1u);
    const BackupCopy& copy = context.copies[0];
    const std::string manifest = ManifestPathOf(copy);
    for (const std::string& file : copy.CopyFiles) {
      ASSERT_TRUE(m_store.PutFile(file, RemoteNameOf(m_dir.path(), file)).ok());
      ASSERT_EQ(::unlink(file.c_str()), 0);
    }
    ASSERT_TRUE(m_store.PutFile(manifest, RemoteNameOf(m_dir.path(), manifest)).ok());
    ASSERT_EQ(::unlink(manifest.c_str()), 0);
  }

  std::vector<RemoteObject> Objects() {
    std::vector<RemoteObject> objects;
    EXPECT_TRUE(m_store.List("", objects).ok());
    return objects;
  }

  // Restores the newest copy into the target database on B.
  RunOutcome Restore(FakeRunContext& context, std::uint32_t threads = 1,
                     const std::string& identityFile = "") {
    RestoreFilesRequest request;
    request.Server = test::AsServerInfo(test::ServerB());
    request.Advanced.Threads = threads;
    request.TargetDatabase = m_target;
    request.IdentityFile = identityFile;
    auto source = std::make_shared<OffsiteSource>();
    source->Target = m_store.Describe();
    const std::string folder = m_remote.path();
    source->OpenStore = [folder](const TransferControl&, std::unique_ptr<RemoteStore>& store) {
      store = std::make_unique<test::FolderStore>(folder);
      return Status::Ok();
    };
    request.Offsite = source;
    return RestoreFromFiles(context, request);
  }

  void ExpectRestoredAsSource() {
    for (const char* table : {"big", "small"}) {
      EXPECT_EQ(test::Checksum(test::ServerB(), m_target, table),
                test::Checksum(test::ServerA(), m_db, table))
          << table;
    }
  }

  test::TempDir m_remote;
  test::FolderStore m_store{m_remote.path()};
  std::string m_target;
};

TEST_F(OffsiteRestoreMySqlTest, ACopyInAStoreRestoresIdenticallyIntoAnotherDatabase) {
  const struct {
    const char* name;
    std::uint8_t grouping;
    Compression compression;
    std::uint32_t threads;
  } cases[] = {{"one file, plain", 1, Compression::None, 1},
               {"a file per table, gzip, two at a time", 3, Compression::Gzip, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : std::filesystem::directory_iterator(m_remote.path())) {
      std::filesystem::remove_all(entry.path());
    }
    DropTarget();
    CAdvancedOptions advanced;
    advanced.Compression = c.compression;
    BackUpOffsite(c.grouping, advanced);
    FakeRunContext restoring(CTaskItem{});
    ASSERT_EQ(RunOutcome::Finished, Restore(restoring, c.threads)) << restoring.AllText();
    EXPECT_TRUE(restoring.Texts(LogLevel::Error).empty()) << restoring.AllText();
    EXPECT_NE(restoring.AllText().find("Restoring the off-site copy "), std::string::npos)
        << restoring.AllText();
    ExpectRestoredAsSource();
  }
}

TEST_F(OffsiteRestoreMySqlTest, AChangedObjectFailsTheRestoreNamingTheFile) {
  CAdvancedOptions advanced;
  advanced.Compression = Compression::None;
  BackUpOffsite(3, advanced);
  std::string changed;
  for (const RemoteObject& object : Objects()) {
    if (object.Name.find("small") != std::string::npos) changed = object.Name;
  }
  ASSERT_FALSE(changed.empty());
  std::string bytes = test::ReadWholeFile(m_remote.file(changed));
  const std::size_t at = bytes.find("caf");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'k';  // the same size: only the digest tells
  ASSERT_TRUE(m_store.PutBytes(changed, bytes).ok());

  FakeRunContext restoring(CTaskItem{});
  EXPECT_EQ(RunOutcome::Failed, Restore(restoring));
  const std::vector<std::string> errors = restoring.Texts(LogLevel::Error);
  ASSERT_EQ(errors.size(), 1u) << restoring.AllText();
  EXPECT_EQ(errors[0].rfind("Failed to get a SQL statement from the SQL file! " + changed, 0), 0u)
      << errors[0];
  EXPECT_NE(errors[0].find("The file's SHA-256 does not match its manifest! " + changed + ": " +
                           Sha256Hex(bytes) + ", the manifest says "),
            std::string::npos)
      << errors[0];
}

TEST_F(OffsiteRestoreMySqlTest, AnEncryptedCompressedCopyRestoresWithTheIdentityFile) {
  const AgeIdentity identity = GenerateAgeIdentity();
  const std::string key = m_dir.file("restore.key");
  ASSERT_TRUE(test::WriteWholeFile(key, AgeIdentityFileText(identity, "2026-12-08T00:00:00Z")));
  EncryptionOptions encryption;
  encryption.Recipients = {identity.Recipient().Text()};
  CAdvancedOptions advanced;
  advanced.Compression = Compression::Zstd;
  BackUpOffsite(3, advanced, encryption);

  FakeRunContext withoutKey(CTaskItem{});
  EXPECT_EQ(RunOutcome::Failed, Restore(withoutKey, 2));
  DropTarget();
  FakeRunContext restoring(CTaskItem{});
  ASSERT_EQ(RunOutcome::Finished, Restore(restoring, 2, key)) << restoring.AllText();
  EXPECT_TRUE(restoring.Texts(LogLevel::Error).empty()) << restoring.AllText();
  ExpectRestoredAsSource();
}

// A store whose read gives one statement and then waits, as a slow network does, until the
// run is stopped.
class WaitingStore final : public test::FolderStore {
 public:
  explicit WaitingStore(TransferControl control)
      : FolderStore("/nonexistent/"), m_control(control) {}
  Status Get(const std::string&, const std::function<Status(std::string_view)>& consume) override {
    if (Status status = consume("SELECT 1;\n"); !status.ok()) return status;
    while (!m_control.StopRequested()) std::this_thread::yield();
    return Status::Error("stopped");
  }

 private:
  TransferControl m_control;
};

TEST_F(OffsiteRestoreMySqlTest, AStopWhileAFileDownloadsEndsTheRunAsStoppedNotFailed) {
  RestoreFilesRequest request;
  request.Server = test::AsServerInfo(test::ServerB());
  request.Files.push_back({0, "a.sql", "2026-12-08_03-00/a.sql", 0, {}});
  auto source = std::make_shared<OffsiteSource>();
  source->Files["2026-12-08_03-00/a.sql"] = {"a.sql", 10, Sha256Hex("SELECT 1;\n"), {}};
  source->OpenStore = [](const TransferControl& control, std::unique_ptr<RemoteStore>& store) {
    store = std::make_unique<WaitingStore>(control);
    return Status::Ok();
  };
  request.Offsite = source;
  FakeRunContext restoring(CTaskItem{});
  restoring.onLog = [&](const std::string& text) {
    if (text.starts_with("Restoring...  ")) restoring.RequestStop();
  };
  EXPECT_EQ(RunOutcome::Canceled, RestoreFromFiles(restoring, request)) << restoring.AllText();
  EXPECT_TRUE(restoring.Texts(LogLevel::Error).empty()) << restoring.AllText();
}

// What a backup run sends off-site directly (no local file) restores through the task that
// the window and brevanto-run make: its "Remote" and "OffsiteRestore" sections alone.
TEST_F(OffsiteRestoreMySqlTest, ACopyARunSentDirectlyRestoresThroughARestoreTask) {
  if (std::system("command -v rclone >/dev/null") != 0) GTEST_SKIP() << "rclone is needed";
  test::TempDir config;
  CTaskItem backup = test::RcloneBackupTask("k1", "Offsite", m_remote.path());
  test::WriteRcloneFolder(config, {backup});
  ::setenv("RCLONE_CONFIG", config.file("rclone.conf").c_str(), 1);
  CAdvancedOptions advanced;
  advanced.Compression = Compression::Zstd;
  CTaskItem task = MakeDumpTask("Offsite", 3, {{"big", 1}, {"small", 1}}, &advanced);
  RemoteOptions remote = RemoteOptionsOf(backup);
  remote.Direct = true;
  SetRemoteOptions(task, remote);
  FakeRunContext backingUp(task);
  ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(backingUp, m_dir.path())) << backingUp.AllText();
  ASSERT_EQ(backingUp.copies.size(), 1u);
  for (const std::string& file : backingUp.copies[0].CopyFiles) {
    EXPECT_FALSE(std::filesystem::exists(file)) << file;  // only in the store
  }

  const CTaskItem restore =
      MakeOffsiteRestoreTask(task, "", test::AsServerInfo(test::ServerB()), m_target, "");
  FakeRunContext restoring(restore);
  ASSERT_EQ(RunOutcome::Finished, RestoreFilesWorker(restoring)) << restoring.AllText();
  EXPECT_TRUE(restoring.Texts(LogLevel::Error).empty()) << restoring.AllText();
  ExpectRestoredAsSource();
  ::unsetenv("RCLONE_CONFIG");
}

// brevanto-run --restore-remote: the task's target is an rclone remote of type local over the
// store's folder, the server one of the folder's saved servers.
TEST_F(OffsiteRestoreMySqlTest, BrevantoRunRestoresTheNewestCopyIntoASavedServer) {
  if (std::system("command -v rclone >/dev/null") != 0) GTEST_SKIP() << "rclone is needed";
  CAdvancedOptions advanced;
  advanced.Compression = Compression::Zstd;
  BackUpOffsite(3, advanced);
  test::TempDir folder;
  test::WriteRcloneFolder(folder, {test::RcloneBackupTask("k1", "Offsite", m_remote.path())});
  CServerInfo server = test::AsServerInfo(test::ServerB());
  server.ConnectionName = "B";
  server.SavePassword = 1;
  ASSERT_TRUE(SaveServers(folder.path(), {server}));
  const std::string launcher = test::Launcher(folder);

  test::RunResult result = test::RunBrevanto(
      "--folder '" + folder.path() + "' --restore-remote Offsite --into B --database " + m_target,
      launcher);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("Restoring the off-site copy "), std::string::npos) << result.output;
  ExpectRestoredAsSource();

  result = test::RunBrevanto(
      "--folder '" + folder.path() + "' --restore-remote Offsite --into C --database " + m_target,
      launcher);
  EXPECT_EQ(result.status, 2) << result.output;
  EXPECT_EQ(result.output, "brevanto-run: no saved server named \"C\"\n");
}

}  // namespace
}  // namespace brevanto
