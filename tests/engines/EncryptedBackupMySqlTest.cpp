// Encrypted backups against real servers and the stock tools: a copy encrypted to two keys
// opens with either through `age -d` and restores with the stock client, our restore opens
// it with an identity file, and a wrong key or a damaged file restores nothing further
// and says so.

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Age.h"
#include "core/Sha256.h"
#include "engines/BackupToFilesRoutine.h"
#include "engines/ExportWorker.h"
#include "engines/RestoreFilesWorker.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/CopyManifest.h"
#include "tasks/EncryptionOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;

class EncryptedBackupMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    if (std::system("command -v age >/dev/null && command -v zstd >/dev/null") != 0) {
      GTEST_SKIP() << "age and zstd are needed";
    }
    CreateSourceDatabase("e2_age_",
                         "CREATE TABLE big (id INT PRIMARY KEY, b LONGBLOB);"
                         "CREATE TABLE small (id INT, t TEXT);"
                         "INSERT INTO small VALUES (1, 'caf\xc3\xa9'), (2, NULL);");
    // Rows of random bytes: the file is larger than several 64 KiB chunks even compressed.
    test::RunClient(test::ServerA(),
                    "INSERT INTO big SELECT seq, RANDOM_BYTES(1000) FROM seq_1_to_600;", m_db);
    for (const char* name : {"first", "second"}) {
      const AgeIdentity identity = GenerateAgeIdentity();
      ASSERT_TRUE(test::WriteWholeFile(m_dir.file(std::string(name) + ".key"),
                                       AgeIdentityFileText(identity, "2026-12-08T00:00:00Z")));
      m_recipients.push_back(identity.Recipient().Text());
    }
  }

  // A per-table dump with zstd on two lanes, encrypted to both keys; the recorded copy.
  BackupCopy Backup() {
    CAdvancedOptions advanced;
    advanced.Compression = Compression::Zstd;
    advanced.Threads = 2;
    CTaskItem task = MakeDumpTask("Sealed", 3, {{"big", 1}, {"small", 1}}, &advanced);
    EncryptionOptions encryption;
    encryption.Recipients = m_recipients;
    SetEncryptionOptions(task, encryption);
    FakeRunContext context(task);
    EXPECT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    EXPECT_EQ(context.copies.size(), 1u);
    return context.copies.empty() ? BackupCopy{} : context.copies[0];
  }

  struct Restored {
    std::vector<std::string> errors;
    std::string all;
  };
  Restored Restore(const std::vector<std::string>& files, const std::string& key) {
    test::RunClient(test::ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    CTaskItem restore;
    restore.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
    restore.DestinationServer = test::AsServerInfo(test::ServerB());
    for (const std::string& file : files) restore.RestoreFiles.push_back({0, file, file, 0, {}});
    EncryptionOptions identity;
    identity.IdentityFile = key;
    SetEncryptionOptions(restore, identity);
    FakeRunContext restoring(restore);
    const RunOutcome outcome = RestoreFilesWorker(restoring);
    Restored result{restoring.Texts(LogLevel::Error), restoring.AllText()};
    EXPECT_EQ(outcome == RunOutcome::Finished, result.errors.empty()) << result.all;
    return result;
  }

  void ExpectSameTables() {
    for (const char* table : {"big", "small"}) {
      EXPECT_EQ(test::Checksum(test::ServerB(), m_db, table),
                test::Checksum(test::ServerA(), m_db, table))
          << table;
    }
  }

  std::vector<std::string> m_recipients;
};

TEST_F(EncryptedBackupMySqlTest, EitherKeyOpensTheCopyWithTheStockToolsAndWithOurRestore) {
  const BackupCopy copy = Backup();
  ASSERT_EQ(copy.CopyFiles.size(), 2u);
  CopyManifest manifest;
  ASSERT_TRUE(ReadManifest(ManifestPathOf(copy), manifest).ok());
  ASSERT_EQ(manifest.Recipients.size(), 2u);
  AgeRecipient first;
  ASSERT_TRUE(ParseAgeRecipient(m_recipients[0], first).ok());
  EXPECT_EQ(manifest.Recipients[0], first.Fingerprint());
  for (const ManifestFile& file : manifest.Files) {
    EXPECT_EQ(file.Transforms, (std::vector<std::string>{"zstd", "age"}));
    std::string sha;
    ASSERT_TRUE(Sha256OfFile(ManifestFilePath(ManifestPathOf(copy), file.Name), sha).ok());
    EXPECT_EQ(sha, file.Sha256);  // the bytes as stored: encrypted
  }
  for (const std::string& file : copy.CopyFiles) {
    EXPECT_EQ(file.substr(file.size() - 8), ".zst.age") << file;
    EXPECT_EQ(test::ReadWholeFile(file).find("CREATE TABLE"), std::string::npos);
  }

  for (const char* key : {"first.key", "second.key"}) {
    SCOPED_TRACE(key);
    test::RunClient(test::ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    for (const std::string& file : copy.CopyFiles) {
      const std::string plain = m_dir.file("plain.sql");
      ASSERT_EQ(std::system(("age -d -i '" + m_dir.file(key) + "' '" + file + "' | zstd -dq > '" +
                             plain + "'")
                                .c_str()),
                0);
      ASSERT_EQ(0, test::RunClientFile(test::ServerB(), plain));
    }
    ExpectSameTables();
  }

  const Restored restored = Restore(copy.CopyFiles, m_dir.file("second.key"));
  EXPECT_TRUE(restored.errors.empty()) << restored.all;
  ExpectSameTables();
}

TEST_F(EncryptedBackupMySqlTest, AWrongKeyOrADamagedFileIsAnErrorNamingTheFile) {
  const BackupCopy copy = Backup();
  ASSERT_EQ(copy.CopyFiles.size(), 2u);
  const std::string& big =
      copy.CopyFiles[0].find("big") != std::string::npos ? copy.CopyFiles[0] : copy.CopyFiles[1];
  // Neither of the copy's keys: the first file fails and nothing is restored.
  const AgeIdentity stranger = GenerateAgeIdentity();
  ASSERT_TRUE(test::WriteWholeFile(m_dir.file("stranger.key"),
                                   AgeIdentityFileText(stranger, "2026-12-08T00:00:00Z")));
  const Restored wrong = Restore({big}, m_dir.file("stranger.key"));
  ASSERT_EQ(wrong.errors.size(), 1u) << wrong.all;
  EXPECT_NE(wrong.errors[0].find(big), std::string::npos);
  EXPECT_NE(wrong.errors[0].find("identity"), std::string::npos);
  EXPECT_EQ(test::RunClient(test::ServerB(), "SHOW DATABASES LIKE '" + m_db + "';"), "");

  // A byte changed in the middle: what came before it may have run, but the run fails.
  std::string bytes = test::ReadWholeFile(big);
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
  ASSERT_TRUE(test::WriteWholeFile(big, bytes));
  const Restored damaged = Restore({big}, m_dir.file("first.key"));
  ASSERT_FALSE(damaged.errors.empty()) << damaged.all;
  EXPECT_NE(damaged.all.find("does not authenticate"), std::string::npos) << damaged.all;

  // An identity file that is not there stops the restore before any file.
  const Restored missing = Restore(copy.CopyFiles, m_dir.file("nowhere.key"));
  ASSERT_EQ(missing.errors.size(), 1u) << missing.all;
  EXPECT_NE(missing.errors[0].find("identity file"), std::string::npos);
}

TEST_F(EncryptedBackupMySqlTest, AnEncryptedExportIsThePlainOneSealed) {
  CTaskItem task;
  task.TaskType = static_cast<std::uint8_t>(TaskType::ExportToFiles);
  task.SourceServer = test::AsServerInfo(test::ServerA());
  task.ExportTables = {{1, 1, m_db, "small"}};
  task.ExportSettings.Format = 1;
  task.ExportSettings.FieldsTerminatedBy = ",";
  task.ExportSettings.FieldsEnclosedBy = "\"";
  task.ExportSettings.FieldsEscapedBy = "\\";
  task.ExportSettings.LinesTerminatedBy = "\n";
  task.ExportSettings.Folder = m_dir.file("plain/");
  FakeRunContext plain(task);
  ASSERT_EQ(RunOutcome::Finished, ExportWorker(plain, m_dir.path())) << plain.AllText();
  task.ExportSettings.Folder = m_dir.file("sealed/");
  EncryptionOptions encryption;
  encryption.Recipients = {m_recipients[1]};
  SetEncryptionOptions(task, encryption);
  FakeRunContext sealed(task);
  ASSERT_EQ(RunOutcome::Finished, ExportWorker(sealed, m_dir.path())) << sealed.AllText();
  const std::string name = m_db + "_small.csv";
  ASSERT_EQ(
      std::system(("age -d -i '" + m_dir.file("second.key") + "' -o '" + m_dir.file("opened.csv") +
                   "' '" + m_dir.file("sealed/" + name + ".age") + "'")
                      .c_str()),
      0);
  EXPECT_EQ(test::ReadWholeFile(m_dir.file("opened.csv")),
            test::ReadWholeFile(m_dir.file("plain/" + name)));
  EXPECT_FALSE(test::ReadWholeFile(m_dir.file("opened.csv")).empty());
}

TEST_F(EncryptedBackupMySqlTest, FilesTheStockToolEncryptedRestoreThroughOurRestore) {
  CTaskItem task = MakeDumpTask("Plain", 1, {{"big", 1}, {"small", 1}}, nullptr);
  FakeRunContext dumped(task);
  ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(dumped, m_dir.path())) << dumped.AllText();
  ASSERT_EQ(dumped.copies.size(), 1u);
  const std::string plain = dumped.copies[0].CopyFiles.at(0);
  const std::string sealed = m_dir.file("stock.sql.age");
  const std::string packed = m_dir.file("stock.sql.zst.age");
  ASSERT_EQ(std::system(("age -r " + m_recipients[0] + " -r " + m_recipients[1] + " -o '" + sealed +
                         "' '" + plain + "' && zstd -q -c '" + plain + "' | age -r " +
                         m_recipients[1] + " -o '" + packed + "'")
                            .c_str()),
            0);
  for (const std::string& file : {sealed, packed}) {
    SCOPED_TRACE(file);
    const Restored restored = Restore({file}, m_dir.file("second.key"));
    EXPECT_TRUE(restored.errors.empty()) << restored.all;
    ExpectSameTables();
  }
  // Armored files are refused with a message that says what to do.
  ASSERT_EQ(std::system(("age -a -r " + m_recipients[0] + " -o '" + m_dir.file("armored.age") +
                         "' '" + plain + "'")
                            .c_str()),
            0);
  const Restored armored = Restore({m_dir.file("armored.age")}, m_dir.file("first.key"));
  ASSERT_EQ(armored.errors.size(), 1u) << armored.all;
  EXPECT_NE(armored.errors[0].find("armor"), std::string::npos) << armored.all;
}

}  // namespace
}  // namespace brevanto
