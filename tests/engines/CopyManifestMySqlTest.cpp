// A backup copy's manifest against real runs: written for every grouping, compression and
// file type, after the files and before the copy is recorded, describing each file as
// the stock tools see it; a manifest that cannot be written fails the run but keeps the
// copy, and a copy the task file could not record leaves no manifest and deletes nothing.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/UtcTime.h"
#include "core/Version.h"
#include "engines/BackupToFilesRoutine.h"
#include "engines/OutputFile.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/CopyManifest.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;

// What `command` printed, or "" when it could not run.
std::string CommandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

std::int64_t ModifiedNs(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Looks at the copy's manifest at the moment the run records the copy, and can refuse the
// record as a task file that cannot be saved does.
class RecordWatchingContext : public FakeRunContext {
 public:
  using FakeRunContext::FakeRunContext;
  Status RecordBackupCopy(const BackupCopy& copy) override {
    manifestAtRecord = ReadManifest(ManifestPathOf(copy), manifestSeen).ok();
    if (refuseRecord) {
      Log(LogLevel::Error, "Failed to save the task file!");
      return Status::Error("Failed to save the task file!");
    }
    return FakeRunContext::RecordBackupCopy(copy);
  }

  bool refuseRecord = false;
  bool manifestAtRecord = false;
  CopyManifest manifestSeen;
};

class CopyManifestMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    CreateSourceDatabase("e20_manifest_",
                         "CREATE TABLE a (id INT PRIMARY KEY, t TEXT) ENGINE=InnoDB;"
                         "INSERT INTO a SELECT seq, REPEAT('row', seq % 50) FROM seq_1_to_3000;"
                         "CREATE TABLE b (id INT PRIMARY KEY) ENGINE=InnoDB;"
                         "INSERT INTO b VALUES (1),(2);"
                         "CREATE TABLE c (id INT PRIMARY KEY) ENGINE=InnoDB;");
  }

  // A task of the three tables writing into its own folder `name`/ (made here).
  CTaskItem MakeTask(const std::string& name, std::uint8_t fileMode, std::uint8_t grouping,
                     const CAdvancedOptions& advanced) {
    CTaskItem task = MakeDumpTask("Manifest", grouping, {{"a", 1}, {"b", 1}, {"c", 1}}, &advanced);
    const std::string folder = m_dir.path() + name;
    EXPECT_EQ(0, ::mkdir(folder.c_str(), 0700));
    task.BackupSettings.FileMode = fileMode;
    task.BackupSettings.BackupFolder = folder + "/";
    task.BackupSettings.SameFilePath = folder + "/same.sql";
    return task;
  }
};

TEST_F(CopyManifestMySqlTest, EveryGroupingAndCompressionGetsAManifestOfItsFilesAsStored) {
  struct Case {
    const char* name;
    std::uint8_t fileMode, grouping, fileType;
    bool dateTimeFolder;
    Compression compression;
    int threads;
    std::size_t files;
  };
  const Case cases[] = {
      {"same-file-plain", 1, 1, 1, false, Compression::None, 2, 1},
      {"same-file-zstd", 1, 1, 1, false, Compression::Zstd, 2, 1},
      {"one-file-gzip", 2, 1, 1, false, Compression::Gzip, 2, 1},
      {"one-file-folder-plain", 2, 1, 1, true, Compression::None, 2, 1},
      {"per-database-zstd", 2, 2, 1, false, Compression::Zstd, 2, 1},
      {"per-database-folder-gzip", 2, 2, 1, true, Compression::Gzip, 1, 1},
      {"per-table-plain", 2, 3, 1, false, Compression::None, 1, 3},
      {"per-table-gzip", 2, 3, 1, false, Compression::Gzip, 3, 3},
      {"per-table-folder-zstd", 2, 3, 1, true, Compression::Zstd, 2, 3},
      {"per-table-folder-gzip-serial", 2, 3, 1, true, Compression::Gzip, 1, 3},
      // PHP scripts stay plain whatever the compression.
      {"php-per-table-folder", 2, 3, 2, true, Compression::Gzip, 2, 3},
      {"php-one-file", 2, 1, 2, false, Compression::None, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CAdvancedOptions advanced;
    advanced.Compression = c.compression;
    advanced.Threads = c.threads;
    CTaskItem task = MakeTask(c.name, c.fileMode, c.grouping, advanced);
    task.BackupSettings.FileType = c.fileType;
    task.BackupSettings.CreateDateTimeSubfolder = c.dateTimeFolder ? 1 : 0;
    RecordWatchingContext context(task);
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    ASSERT_EQ(1u, context.copies.size());
    const BackupCopy& copy = context.copies[0];
    ASSERT_EQ(c.files, copy.CopyFiles.size());
    EXPECT_EQ(c.dateTimeFolder, !copy.CopyFolder.empty());

    const std::string manifestPath = ManifestPathOf(copy);
    CopyManifest manifest;
    ASSERT_TRUE(ReadManifest(manifestPath, manifest).ok()) << manifestPath;
    // Written before the copy was recorded, and complete by then.
    EXPECT_TRUE(context.manifestAtRecord);
    EXPECT_EQ(manifest, context.manifestSeen);

    EXPECT_EQ("Manifest", manifest.TaskName);
    EXPECT_EQ("BackupToFiles", manifest.TaskKind);
    EXPECT_EQ(ProgramVersion(), manifest.ProgramVersion);
    EXPECT_EQ(UtcIso8601(context.RunStartTime()), manifest.Started);
    EXPECT_TRUE(manifest.Ended.ends_with("Z")) << manifest.Ended;

    std::set<std::string> listed;
    for (const ManifestFile& file : manifest.Files) {
      SCOPED_TRACE(file.Name);
      const std::string path = ManifestFilePath(manifestPath, file.Name);
      listed.insert(path);
      EXPECT_NE('/', file.Name.front());  // relative: the copy moves as a whole
      EXPECT_EQ(std::filesystem::file_size(path), file.Size);
      EXPECT_EQ(CommandOutput("sha256sum " + Quoted(path)).substr(0, 64), file.Sha256);
      const Compression stored = c.fileType == 2 ? Compression::None : c.compression;
      switch (stored) {
        case Compression::None: EXPECT_TRUE(file.Transforms.empty()); break;
        case Compression::Gzip:
          EXPECT_EQ(std::vector<std::string>{"gzip"}, file.Transforms);
          EXPECT_EQ(0, std::system(("gzip -t " + Quoted(path)).c_str()));
          break;
        case Compression::Zstd:
          EXPECT_EQ(std::vector<std::string>{"zstd"}, file.Transforms);
          EXPECT_EQ(0, std::system(("zstd -q -t " + Quoted(path)).c_str()));
          break;
      }
      EXPECT_GE(ModifiedNs(manifestPath), ModifiedNs(path));
    }
    EXPECT_EQ(std::set<std::string>(copy.CopyFiles.begin(), copy.CopyFiles.end()), listed);
    EXPECT_EQ(copy.CopyFiles.size(), manifest.Files.size());
  }
}

// Same-file mode replaces its copy every run, and its manifest with it.
TEST_F(CopyManifestMySqlTest, SameFileModeRewritesTheManifestEveryRun) {
  const CTaskItem task = MakeTask("same", 1, 1, CAdvancedOptions{});
  std::string digests[2];
  int row = 3;
  for (std::string& digest : digests) {
    RecordWatchingContext context(task);
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    CopyManifest manifest;
    ASSERT_TRUE(ReadManifest(task.BackupSettings.SameFilePath + ".manifest.json", manifest).ok());
    ASSERT_EQ(1u, manifest.Files.size());
    EXPECT_EQ("same.sql", manifest.Files[0].Name);
    EXPECT_EQ(CommandOutput("sha256sum " + Quoted(task.BackupSettings.SameFilePath)).substr(0, 64),
              manifest.Files[0].Sha256);
    digest = manifest.Files[0].Sha256;
    test::RunClient(test::ServerA(), "INSERT INTO b VALUES (" + std::to_string(row++) + ");", m_db);
  }
  EXPECT_NE(digests[0], digests[1]);
}

// A manifest that cannot be written is an Error and the run fails; the copy's files are
// complete, so it is recorded still and retention removes it in its time.
TEST_F(CopyManifestMySqlTest, AManifestThatCannotBeWrittenFailsTheRunButKeepsTheCopy) {
  const CTaskItem task = MakeTask("blocked", 1, 1, CAdvancedOptions{});
  const std::string manifestPath = task.BackupSettings.SameFilePath + ".manifest.json";
  ASSERT_EQ(0, ::mkdir(manifestPath.c_str(), 0700));  // nothing can be renamed over it
  RecordWatchingContext context(task);
  EXPECT_EQ(RunOutcome::Failed, RunBackupToFiles(context, m_dir.path()));
  const std::vector<std::string> errors = context.Texts(LogLevel::Error);
  ASSERT_EQ(1u, errors.size()) << context.AllText();
  EXPECT_TRUE(errors[0].starts_with("Failed to write the backup copy's manifest! (")) << errors[0];
  EXPECT_NE(std::string::npos, errors[0].find(manifestPath)) << errors[0];
  ASSERT_EQ(1u, context.copies.size());
  EXPECT_TRUE(std::filesystem::is_regular_file(task.BackupSettings.SameFilePath));
  EXPECT_TRUE(std::filesystem::is_directory(manifestPath));
}

// A copy the task file could not record is not a copy: its files are left for a later
// good run to remove, nothing of earlier runs is deleted now, and no manifest stays to
// describe it.
TEST_F(CopyManifestMySqlTest, ACopyThatIsNotRecordedKeepsNoManifestAndDeletesNoLeftover) {
  CTaskItem task = MakeTask("unrecorded", 2, 3, CAdvancedOptions{});
  task.BackupSettings.FileNameFormat = "%TASKNAME%_%DATABASE%_%TABLE%_%DATE%_%TIME%";
  const std::string leftover =
      task.BackupSettings.BackupFolder + "Manifest_" + m_db + "_a_2006-03-04_09-00-00.sql";
  ASSERT_TRUE(test::WriteWholeFile(leftover, "-- left"));
  RecordWatchingContext context(task);
  context.refuseRecord = true;
  EXPECT_EQ(RunOutcome::Failed, RunBackupToFiles(context, m_dir.path()));
  EXPECT_TRUE(context.manifestAtRecord);
  EXPECT_TRUE(std::filesystem::exists(leftover));
  const std::string first =
      task.BackupSettings.BackupFolder + "Manifest_" + m_db + "_a_2006-03-05_09-07-02.sql";
  EXPECT_TRUE(std::filesystem::exists(first));
  EXPECT_FALSE(std::filesystem::exists(first + ".manifest.json"));
  EXPECT_EQ(1u, context.Texts(LogLevel::Error).size()) << context.AllText();
}

// A run killed after writing its manifest but before recording its copy leaves both; the
// next good run removes the files as leftovers, and their manifests with them.
TEST_F(CopyManifestMySqlTest, AGoodRunRemovesTheManifestsOfCopiesNeverRecorded) {
  struct Case {
    const char* name;
    bool dateTimeFolder;
    const char* format;
    const char* leftover;  // an earlier run's file, under the backup folder
    const char* manifest;  // its copy's manifest
  };
  const Case cases[] = {
      {"flat", false, "%TASKNAME%_%DATABASE%_%TABLE%_%DATE%_%TIME%",
       "Manifest_DB_a_2006-03-04_09-00-00.sql", "Manifest_DB_a_2006-03-04_09-00-00.sql"},
      {"dated", true, "%TASKNAME%_%DATABASE%_%TABLE%", "2006-03-04_09-00-00/Manifest_DB_a.sql",
       "2006-03-04_09-00-00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTaskItem task = MakeTask(c.name, 2, 3, CAdvancedOptions{});
    task.BackupSettings.FileNameFormat = c.format;
    task.BackupSettings.CreateDateTimeSubfolder = c.dateTimeFolder ? 1 : 0;
    const std::string folder = task.BackupSettings.BackupFolder;
    const auto named = [&](std::string name) {
      if (const auto db = name.find("DB"); db != std::string::npos) name.replace(db, 2, m_db);
      return folder + name;
    };
    const std::string leftover = named(c.leftover);
    const std::string manifest = named(c.manifest) + ".manifest.json";
    std::filesystem::create_directories(FolderOf(leftover));
    ASSERT_TRUE(test::WriteWholeFile(leftover, "-- left"));
    ASSERT_TRUE(test::WriteWholeFile(manifest, "{}"));
    RecordWatchingContext context(task);
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_FALSE(std::filesystem::exists(manifest));
    EXPECT_TRUE(std::filesystem::exists(ManifestPathOf(context.copies.at(0))));
  }
}

}  // namespace
}  // namespace brevanto
