// Backups of a task with an off-site target, against the test servers and real stores
// (rclone with a local remote; the round trip also through the S3 and SFTP test servers):
// the copy lands in the store with its manifest last and
// restores identically with the stock client from the downloaded objects, plain,
// compressed and written directly; a failed upload fails the run, keeps the local copy
// and the next run sends it; the store keeps exactly KeepCopies; KeepLocalCopies 0 deletes
// local files only once the copy is off-site.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/AtomicFile.h"
#include "engines/BackupToFilesRoutine.h"
#include "remote/RemoteCatalogue.h"
#include "remote/RemoteStore.h"
#include "schedule/ExpiredCopies.h"
#include "schedule/LastRunResult.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/CopyManifest.h"
#include "tasks/OffsiteRecord.h"
#include "tasks/RemoteOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/S3Server.h"
#include "tests/support/SshServer.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;

// A run's context over a live task as the runner keeps it: a recorded copy joins the
// history and retention runs at once and when asked again; copies are forgotten on request.
class LiveTaskContext : public FakeRunContext {
 public:
  LiveTaskContext(CTaskItem& live, const TaskDateTime& start)
      : FakeRunContext(live, start), m_live(live) {}

  Status RecordBackupCopy(const BackupCopy& copy) override {
    m_live.BackupHistory.push_back(copy);
    DeleteExpiredCopies();
    return FakeRunContext::RecordBackupCopy(copy);
  }
  void DeleteExpiredCopies() override {
    (void)brevanto::DeleteExpiredCopies(m_live, RunStartTime());
    ++retentions;
  }
  Status ForgetBackupCopies(const std::vector<BackupCopy>& forget) override {
    for (const BackupCopy& copy : forget) {
      std::erase_if(m_live.BackupHistory, [&](const BackupCopy& c) { return SameCopy(c, copy); });
    }
    return Status::Ok();
  }

  int retentions = 0;

 private:
  CTaskItem& m_live;
};

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class OffsiteBackupMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    CreateSourceDatabase("e25_offsite_",
                         "CREATE TABLE a (id INT PRIMARY KEY, t TEXT, b BLOB) ENGINE=InnoDB;"
                         "INSERT INTO a SELECT seq, REPEAT('row\\t\\n', seq % 40), "
                         "UNHEX(SHA2(seq, 256)) FROM seq_1_to_4000;"
                         "CREATE TABLE b (id INT PRIMARY KEY, d DATETIME) ENGINE=InnoDB;"
                         "INSERT INTO b VALUES (1, '2026-01-02 03:04:05'), (2, NULL);");
    if (HasFatalFailure() || IsSkipped()) return;
    // The store is a folder reached through an rclone remote of its own.
    const std::string config = m_dir.file("rclone.conf");
    ASSERT_TRUE(test::WriteWholeFile(config, "[t]\ntype = local\n"));
    ::setenv("RCLONE_CONFIG", config.c_str(), 1);
    m_storeFolder = m_dir.file("store");
    ASSERT_EQ(0, ::mkdir(m_storeFolder.c_str(), 0700));
    ASSERT_EQ(0, ::mkdir(m_dir.file("backups").c_str(), 0700));
  }

  // The target of kind m_kind, in its place m_place ("" or ending in "/").
  RemoteOptions Remote() const {
    RemoteOptions remote;
    remote.Kind = m_kind;
    switch (m_kind) {
      case RemoteKind::S3:
        remote.Endpoint = test::S3Server::Shared().Endpoint();
        remote.Bucket = "brevanto";
        remote.PathStyle = true;
        remote.AccessKeyId = test::S3Server::kKeyId;
        remote.SecretAccessKey = test::S3Server::kSecret;
        remote.Prefix = "offsite-" + std::to_string(::getpid()) + "/" + m_place;
        break;
      case RemoteKind::Sftp:
        remote.Host = m_ssh->host();
        remote.Port = m_ssh->port();
        remote.User = m_ssh->user();
        remote.PrivateKeyFile = m_ssh->clientKeyFile();
        remote.HostKeySha256 = m_ssh->hostKeySha256();
        remote.Path = m_ssh->data() + m_place;
        break;
      default:
        remote.Kind = RemoteKind::Rclone;
        remote.RcloneRemote = "t";
        remote.Path = m_storeFolder + "/" + m_place;
        break;
    }
    return remote;
  }

  // A per-table backup into DATE_TIME folders under backups/, sent to `remote`.
  CTaskItem MakeTask(const RemoteOptions& remote, Compression compression) {
    CAdvancedOptions advanced;
    advanced.Compression = compression;
    CTaskItem task = MakeDumpTask("Offsite", 3, {{"a", 1}, {"b", 1}}, &advanced);
    task.BackupSettings.BackupFolder = m_dir.file("backups") + "/";
    task.BackupSettings.CreateDateTimeSubfolder = 1;
    SetRemoteOptions(task, remote);
    return task;
  }

  // One run of `task` (its history updated), a minute after the last.
  RunOutcome RunOnce(CTaskItem& task, std::string* log = nullptr) {
    LiveTaskContext context(task, {2026, 12, 8, 3, m_minute++, 0, 2});
    const RunOutcome outcome = RunBackupToFiles(context, m_dir.path());
    if (log != nullptr) *log = context.AllText();
    m_lastErrors = context.Texts(LogLevel::Error);
    m_lastGeneral = context.Texts(LogLevel::General);
    return outcome;
  }

  std::unique_ptr<RemoteStore> Store() {
    std::unique_ptr<RemoteStore> store;
    EXPECT_TRUE(MakeRemoteStore(Remote(), TransferControl{}, store).ok());
    return store;
  }

  std::vector<RemoteCopy> StoreCopies() {
    std::vector<RemoteCopy> copies;
    auto store = Store();
    if (store) EXPECT_TRUE(ListRemoteCopies(*store, copies).ok());
    return copies;
  }

  // Downloads the copy's files into `folder` (plain, as the stock client reads them) and
  // returns their paths in the manifest's order.
  std::vector<std::string> Download(const RemoteCopy& copy, const std::string& folder) {
    auto store = Store();
    std::vector<std::string> plain;
    ::mkdir(folder.c_str(), 0700);
    for (std::size_t i = 0; i < copy.ObjectNames.size(); ++i) {
      const std::string path = folder + "/" + std::to_string(i) + "-" +
                               std::filesystem::path(copy.ObjectNames[i]).filename().string();
      std::string bytes;
      EXPECT_TRUE(store
                      ->Get(copy.ObjectNames[i],
                            [&](std::string_view piece) {
                              bytes.append(piece);
                              return Status::Ok();
                            })
                      .ok());
      EXPECT_TRUE(test::WriteWholeFile(path, bytes));
      std::string command;
      if (path.ends_with(".zst")) command = "zstd -q -d --rm '" + path + "'";
      if (path.ends_with(".gz")) command = "gzip -d '" + path + "'";
      if (!command.empty()) EXPECT_EQ(0, std::system(command.c_str())) << command;
      plain.push_back(path.substr(0, path.size() - (path.ends_with(".zst")  ? 4
                                                    : path.ends_with(".gz") ? 3
                                                                            : 0)));
    }
    return plain;
  }

  void ExpectRestoresIdentically(const RemoteCopy& copy, const std::string& folder) {
    RestoreWithClient(Download(copy, folder));
    for (const char* table : {"a", "b"}) {
      EXPECT_EQ(test::Checksum(test::ServerA(), m_db, table),
                test::Checksum(test::ServerB(), m_db, table))
          << table;
    }
  }

  bool Logged(const std::string& start) const {
    return std::any_of(m_lastGeneral.begin(), m_lastGeneral.end(),
                       [&](const std::string& text) { return text.starts_with(start); });
  }

  std::string m_storeFolder;
  RemoteKind m_kind = RemoteKind::Rclone;
  std::string m_place;
  std::unique_ptr<test::SshServer> m_ssh;
  int m_minute = 0;
  std::vector<std::string> m_lastErrors;
  std::vector<std::string> m_lastGeneral;
};

// The same round trip through each kind of store.
class OffsiteRoundTripMySqlTest : public OffsiteBackupMySqlTest,
                                  public ::testing::WithParamInterface<RemoteKind> {
 protected:
  void SetUp() override {
    OffsiteBackupMySqlTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    m_kind = GetParam();
    if (m_kind == RemoteKind::S3) BREVANTO_REQUIRE_S3(test::S3Server::Shared());
    if (m_kind == RemoteKind::Sftp) {
      m_ssh = std::make_unique<test::SshServer>();
      if (!m_ssh->running()) GTEST_SKIP() << "SFTP test server: " << m_ssh->problem();
    }
  }
};

TEST_P(OffsiteRoundTripMySqlTest,
       PlainCompressedAndDirectCopiesLandInTheStoreAndRestoreIdentically) {
  struct Case {
    const char* name;
    Compression compression;
    bool direct;
  } cases[] = {
      {"plain", Compression::None, false},      {"zstd", Compression::Zstd, false},
      {"gzip", Compression::Gzip, false},       {"direct plain", Compression::None, true},
      {"direct zstd", Compression::Zstd, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_place = std::string("case-") + std::to_string(m_minute) + "/";
    RemoteOptions remote = Remote();
    remote.Direct = c.direct;
    CTaskItem task = MakeTask(remote, c.compression);
    std::string log;
    ASSERT_EQ(RunOutcome::Finished, RunOnce(task, &log)) << log;
    EXPECT_TRUE(m_lastErrors.empty()) << log;
    EXPECT_TRUE(Logged(kCopyOffsiteText)) << log;
    EXPECT_TRUE(Logged(c.direct ? "Completed 2 files (" : "Uploaded 2 files (")) << log;

    ASSERT_EQ(task.BackupHistory.size(), 1u);
    const BackupCopy& copy = task.BackupHistory[0];
    const std::string manifestPath = ManifestPathOf(copy);
    CopyManifest manifest;
    ASSERT_TRUE(ReadManifest(manifestPath, manifest).ok());
    OffsiteRecord record;
    ASSERT_TRUE(ReadOffsiteRecord(OffsitePathOf(manifestPath), record).ok());
    EXPECT_EQ(record.Target, RemoteTargetText(remote));
    ASSERT_EQ(record.Objects.size(), 3u);
    EXPECT_TRUE(record.Objects.back().Name.ends_with(kManifestSuffix));
    struct stat st {};
    ASSERT_EQ(0, ::stat(OffsitePathOf(manifestPath).c_str(), &st));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Direct: nothing but the manifest and its record here.
    EXPECT_EQ(LocalFilesDeleted(copy), c.direct);
    for (const std::string& file : copy.CopyFiles) EXPECT_EQ(Exists(file), !c.direct) << file;

    const std::vector<RemoteCopy> copies = StoreCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(copies[0].Complete) << copies[0].Problem;
    EXPECT_EQ(copies[0].Manifest, manifest);
    ExpectRestoresIdentically(copies[0],
                              m_dir.file(std::string("down-") + std::to_string(m_minute)));
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, OffsiteRoundTripMySqlTest,
                         ::testing::Values(RemoteKind::Rclone, RemoteKind::S3, RemoteKind::Sftp),
                         [](const ::testing::TestParamInfo<RemoteKind>& info) {
                           return std::string(RemoteKindName(info.param));
                         });

TEST_F(OffsiteBackupMySqlTest, AFailedUploadFailsTheRunKeepsTheCopyAndTheNextRunSendsItFirst) {
  RemoteOptions broken = Remote();
  broken.RcloneRemote = "nosuchremote";
  broken.KeepLocalCopies = 0;
  CTaskItem task = MakeTask(broken, Compression::Zstd);
  std::string log;
  ASSERT_EQ(RunOutcome::Failed, RunOnce(task, &log)) << log;
  ASSERT_EQ(m_lastErrors.size(), 1u) << log;
  EXPECT_TRUE(m_lastErrors[0].starts_with(kCopyNotOffsiteText + RemoteTargetText(broken))) << log;
  ASSERT_EQ(task.BackupHistory.size(), 1u);
  const BackupCopy first = task.BackupHistory[0];
  // KeepLocalCopies 0, yet the copy exists nowhere else: it stays whole.
  for (const std::string& file : first.CopyFiles) EXPECT_TRUE(Exists(file)) << file;
  EXPECT_FALSE(Exists(OffsitePathOf(ManifestPathOf(first))));
  EXPECT_FALSE(LocalFilesDeleted(first));

  // The next run reaches the store: the earlier copy goes first, then its own.
  RemoteOptions fixed = broken;
  fixed.RcloneRemote = "t";
  SetRemoteOptions(task, fixed);
  ASSERT_EQ(RunOutcome::Finished, RunOnce(task, &log)) << log;
  EXPECT_TRUE(m_lastErrors.empty()) << log;
  const auto earlier = log.find("Sending the earlier backup copy 2026-12-08_03-00-00 off-site");
  const auto own = log.find(kCopyOffsiteText);
  ASSERT_NE(earlier, std::string::npos) << log;
  EXPECT_LT(earlier, log.find("Uploaded 2 files")) << log;
  EXPECT_LT(log.find("Uploaded 2 files"), own) << log;

  const std::vector<RemoteCopy> copies = StoreCopies();
  ASSERT_EQ(copies.size(), 2u);
  for (const RemoteCopy& copy : copies) EXPECT_TRUE(copy.Complete) << copy.Problem;
  // Both are off-site now, so KeepLocalCopies 0 took their local files; the history keeps
  // them with their manifests and records.
  ASSERT_EQ(task.BackupHistory.size(), 2u);
  for (const BackupCopy& copy : task.BackupHistory) {
    EXPECT_TRUE(LocalFilesDeleted(copy));
    for (const std::string& file : copy.CopyFiles) EXPECT_FALSE(Exists(file)) << file;
    EXPECT_TRUE(Exists(ManifestPathOf(copy)));
    EXPECT_EQ(OffsiteStateOf(copy), OffsiteState::InStore);
  }
  ExpectRestoresIdentically(copies[0], m_dir.file("down-first"));
}

TEST_F(OffsiteBackupMySqlTest, AnUploadCutMidCopyLeavesNoManifestInTheStore) {
  // The copy's files go on lanes of their own: whichever lane fails, the manifest, which
  // waits for every file, never goes, and one Error says why.
  CTaskItem task = MakeTask(Remote(), Compression::None);
  std::string log;
  for (const char* table : {"_a.sql", "_b.sql"}) {
    SCOPED_TRACE(table);
    // Something in the store's folder stands where one of the copy's files must go (a
    // file another lane sent before is no manifest's: it goes).
    const std::string blocked = m_storeFolder + "/2026-12-08_03-00-00/" + m_db + table;
    std::filesystem::remove_all(blocked);
    ASSERT_TRUE(std::filesystem::create_directories(blocked + "/x"));
    ASSERT_EQ(RunOutcome::Failed, RunOnce(task, &log)) << log;
    ASSERT_EQ(m_lastErrors.size(), 1u) << log;
    EXPECT_TRUE(m_lastErrors[0].starts_with(kCopyNotOffsiteText)) << log;
    EXPECT_FALSE(Exists(m_storeFolder + "/2026-12-08_03-00-00.manifest.json"));
    EXPECT_TRUE(StoreCopies().empty());
    for (const std::string& file : task.BackupHistory.at(0).CopyFiles) EXPECT_TRUE(Exists(file));
    std::filesystem::remove_all(blocked);
  }

  ASSERT_EQ(RunOutcome::Finished, RunOnce(task, &log)) << log;
  EXPECT_EQ(StoreCopies().size(), 3u);
}

TEST_F(OffsiteBackupMySqlTest, TheStoreKeepsExactlyKeepCopiesAndNothingItDoesNotOwn) {
  RemoteOptions remote = Remote();
  remote.KeepCopies = 2;
  remote.KeepLocalCopies = 0;
  CTaskItem task = MakeTask(remote, Compression::Gzip);
  // Another task's copy and a file nobody's manifest names share the place.
  CTaskItem other = MakeTask(remote, Compression::None);
  other.TaskName = "Other";
  SetRemoteOptions(other, Remote());
  ASSERT_EQ(RunOutcome::Finished, RunOnce(other));
  ASSERT_TRUE(test::WriteWholeFile(m_storeFolder + "/notes.txt", "mine"));

  std::vector<BackupCopy> made;
  for (int run = 0; run < 4; ++run) {
    std::string log;
    ASSERT_EQ(RunOutcome::Finished, RunOnce(task, &log)) << log;
    made.push_back(task.BackupHistory.back());
    EXPECT_EQ(task.BackupHistory.size(), std::min(run + 1, 2)) << log;
  }
  std::vector<std::string> mine;
  std::vector<std::string> others;
  for (const RemoteCopy& copy : StoreCopies()) {
    EXPECT_TRUE(copy.Complete) << copy.ManifestName;
    (copy.Manifest->TaskName == "Offsite" ? mine : others).push_back(copy.ManifestName);
  }
  EXPECT_EQ(mine, (std::vector<std::string>{"2026-12-08_03-03-00.manifest.json",
                                            "2026-12-08_03-04-00.manifest.json"}));
  EXPECT_EQ(others.size(), 1u);
  EXPECT_TRUE(Exists(m_storeFolder + "/notes.txt"));
  for (const char* gone : {"/2026-12-08_03-01-00", "/2026-12-08_03-02-00"}) {
    const std::string folder = m_storeFolder + gone;
    if (!Exists(folder)) continue;  // a store may keep an emptied folder
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      EXPECT_FALSE(entry.is_regular_file()) << entry.path();
    }
  }
  // The copies gone from the store and from here left the history with their manifests.
  EXPECT_TRUE(SameCopy(task.BackupHistory[0], made[2]));
  EXPECT_TRUE(SameCopy(task.BackupHistory[1], made[3]));
  for (const BackupCopy& copy : {made[0], made[1]}) {
    EXPECT_FALSE(Exists(ManifestPathOf(copy)));
    EXPECT_FALSE(Exists(OffsitePathOf(ManifestPathOf(copy))));
  }
}

}  // namespace
}  // namespace brevanto

namespace brevanto {
namespace {

TEST_F(OffsiteBackupMySqlTest, ADirectRunThatFailsLeavesNoPartOfItsCopyInTheStore) {
  RemoteOptions remote = Remote();
  remote.Direct = true;
  CTaskItem task = MakeTask(remote, Compression::Zstd);
  // The second table's file cannot be completed under its name.
  const std::string folder = m_storeFolder + "/2026-12-08_03-00-00/";
  const std::string blocked = folder + m_db + "_b.sql.zst";
  ASSERT_TRUE(std::filesystem::create_directories(blocked + "/x"));
  std::string log;
  ASSERT_EQ(RunOutcome::Failed, RunOnce(task, &log)) << log;
  EXPECT_FALSE(m_lastErrors.empty());
  EXPECT_TRUE(task.BackupHistory.empty());
  // The first table's object was complete, and went again with the run.
  EXPECT_FALSE(Exists(folder + m_db + "_a.sql.zst")) << log;
  EXPECT_TRUE(StoreCopies().empty());
  EXPECT_FALSE(Exists(m_dir.file("backups/2026-12-08_03-00-00.manifest.json")));
}

}  // namespace
}  // namespace brevanto
