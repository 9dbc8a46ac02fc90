// Output files of a run: written under a temporary name, named only when complete, never
// over another run's file, and the leftovers of killed runs removed by the same task only.

#include "engines/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "core/Sha256.h"
#include "engines/CompressedInput.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class OutputFileTest : public ::testing::Test {
 protected:
  // A complete file committed under `name`; returns the name it got.
  std::string Write(const std::string& name, const std::string& text,
                    COutputFile::Existing existing = COutputFile::Existing::AddSuffix) {
    COutputFile file;
    EXPECT_TRUE(file.Create(m_dir.file(name), m_tag, true).ok());
    EXPECT_TRUE(file.Write(text).ok());
    EXPECT_TRUE(file.Commit(existing).ok());
    return std::filesystem::path(file.Path()).filename().string();
  }

  test::TempDir m_dir;
  const std::string m_tag = TemporaryFileTag("Nightly_20240301120000.log");
};

TEST_F(OutputFileTest, AFileHasItsNameOnlyOnceCompleteAndNeverTakesAnother) {
  COutputFile file;
  ASSERT_TRUE(file.Create(m_dir.file("all.sql"), m_tag, true).ok());
  ASSERT_TRUE(file.Write("SELECT 1;\n").ok());
  // While written, nothing carries a backup's name.
  for (const std::string& name : Names(m_dir.path())) {
    EXPECT_EQ('.', name[0]) << name;
    EXPECT_EQ(std::string::npos, name.find(".sql", name.size() - 4)) << name;
  }
  ASSERT_TRUE(file.Commit(COutputFile::Existing::AddSuffix).ok());
  EXPECT_EQ(m_dir.file("all.sql"), file.Path());
  struct stat st {};
  ASSERT_EQ(0, ::stat(file.Path().c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);

  // Two more runs in the same second: each keeps its own file.
  EXPECT_EQ("all_2.sql", Write("all.sql", "two"));
  EXPECT_EQ("all_3.sql", Write("all.sql", "three"));
  EXPECT_EQ((std::set<std::string>{"all.sql", "all_2.sql", "all_3.sql"}), Names(m_dir.path()));
  EXPECT_EQ("SELECT 1;\n", test::ReadWholeFile(m_dir.file("all.sql")));

  // Same-file mode replaces its previous copy, with a complete file.
  EXPECT_EQ("all.sql", Write("all.sql", "replaced", COutputFile::Existing::Replace));
  EXPECT_EQ("replaced", test::ReadWholeFile(m_dir.file("all.sql")));
}

TEST_F(OutputFileTest, AnUnfinishedFileIsPlainlyIncomplete) {
  ASSERT_EQ("x.sql", Write("x.sql", "complete"));
  {
    COutputFile file;
    ASSERT_TRUE(file.Create(m_dir.file("x.sql"), m_tag, true).ok());
    ASSERT_TRUE(file.Write("half").ok());
    ASSERT_TRUE(file.KeepIncomplete().ok());
    EXPECT_EQ(m_dir.file("x.sql.incomplete"), file.Path());
  }
  {
    COutputFile file;  // left open: a cancelled run
    ASSERT_TRUE(file.Create(m_dir.file("x.sql"), m_tag, true).ok());
  }
  EXPECT_EQ((std::set<std::string>{"x.sql", "x.sql.incomplete", "x_2.sql.incomplete"}),
            Names(m_dir.path()));
  EXPECT_EQ("complete", test::ReadWholeFile(m_dir.file("x.sql")));
}

TEST_F(OutputFileTest, ANumberGoesBeforeTheWholeExtensionOfACompressedName) {
  struct Case {
    const char* name;
    const char* second;
  } const cases[] = {
      {"all.sql.gz", "all_2.sql.gz"},
      {"db_t.csv.zst", "db_t_2.csv.zst"},
      {"plain.gz", "plain_2.gz"},  // no inner extension to keep together
      {"v1.2.sql", "v1.2_2.sql"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.name, Write(c.name, "one"));
    EXPECT_EQ(c.second, Write(c.name, "two"));
  }
  for (const char* expected : {"all.sql.gz.incomplete", "all_2.sql.gz.incomplete"}) {
    COutputFile file;
    ASSERT_TRUE(file.Create(m_dir.file("all.sql.gz"), m_tag, true).ok());
    file.SetCompression(Compression::Gzip, 0);
    ASSERT_TRUE(file.Write("SELECT 1;\n").ok());
    ASSERT_TRUE(file.KeepIncomplete().ok());
    EXPECT_EQ(m_dir.file(expected), file.Path());
  }
}

TEST_F(OutputFileTest, RemovesOnlyTheLeftoversOfItsOwnTaskThatNobodyWrites) {
  // What killed runs leave: temporary files nobody holds, of this task and of another.
  const std::string other = TemporaryFileTag("Other_20240301120000.log");
  const std::string ownLeft = m_dir.file(".a.sql." + m_tag + "-4242-0.brevanto-part");
  const std::string foreignLeft = m_dir.file(".b.sql." + other + "-4242-1.brevanto-part");
  ASSERT_TRUE(test::WriteWholeFile(ownLeft, "half"));
  ASSERT_TRUE(test::WriteWholeFile(foreignLeft, "half"));

  COutputFile writing;  // a run of the same task that is still writing
  ASSERT_TRUE(writing.Create(m_dir.file("c.sql"), m_tag, true).ok());

  EXPECT_EQ(1, RemoveLeftoverTemporaryFiles(m_dir.path(), m_tag));
  EXPECT_FALSE(std::filesystem::exists(ownLeft));
  EXPECT_TRUE(std::filesystem::exists(foreignLeft));
  EXPECT_TRUE(std::filesystem::exists(writing.TemporaryPath()));
  ASSERT_TRUE(writing.Commit(COutputFile::Existing::AddSuffix).ok());
}

TEST_F(OutputFileTest, AFailedWriteLeavesTheFileAsBefore) {
  test::TempDir& dir = m_dir;
  const std::string path = dir.file("full.sql");
  COutputFile file;
  ASSERT_TRUE(file.Create(path, "test", false).ok());
  ASSERT_TRUE(file.Write("SELECT 1;\n").ok());
  Status failed, fits;
  {
    const test::FileSizeLimit full(16);
    failed = file.Write("SELECT 'longer than the rest';\n");
    fits = file.Write("SELECT 2;\n");
  }
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ("File too large - " + path, failed.message());
  EXPECT_FALSE(fits.ok());  // 20 bytes do not fit in 16 either
  EXPECT_TRUE(file.Write("SELECT 3;\n").ok());
  ASSERT_TRUE(file.Commit(COutputFile::Existing::Replace).ok());
  EXPECT_EQ("SELECT 1;\nSELECT 3;\n", test::ReadWholeFile(path));

  COutputFile nowhere;
  const Status missing = nowhere.Create(dir.file("no/such/folder.sql"), "test", false);
  EXPECT_EQ("No such file or directory - " + dir.file("no/such/folder.sql"), missing.message());
  EXPECT_FALSE(nowhere.Write("x").ok());
}

TEST_F(OutputFileTest, AFolderThatIsNotThereFailsWithTheSystemsReason) {
  ASSERT_TRUE(test::WriteWholeFile(m_dir.file("plain"), "a file, not a folder"));
  COutputFile file;
  const Status status = file.Create(m_dir.file("plain/x.sql"), m_tag, true);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ("Not a directory - " + m_dir.file("plain/x.sql"), status.message());
}

// What a copy's manifest says of a file must be the file as it lies on the disk, also
// after a write the disk refused and the chain cut back.
TEST_F(OutputFileTest, CommitReportsTheBytesAsStored) {
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "INSERT INTO t VALUES (" + std::to_string(i) + ");\n";
  for (const Compression compression : {Compression::None, Compression::Gzip, Compression::Zstd}) {
    SCOPED_TRACE(CompressionName(compression));
    COutputFile file;
    const std::string path = m_dir.file(std::string("stored_") + CompressionName(compression));
    ASSERT_TRUE(file.Create(path, m_tag, true).ok());
    file.SetCompression(compression, 0);
    ASSERT_TRUE(file.Write("SELECT 1;\n").ok());
    if (compression == Compression::None) {
      const test::FileSizeLimit full(12);
      EXPECT_FALSE(file.Write("SELECT 'more than the disk holds';\n").ok());
    }
    ASSERT_TRUE(file.Write(text).ok());
    ASSERT_TRUE(file.Commit(COutputFile::Existing::Replace).ok());
    std::string sha256;
    std::uint64_t size = 0;
    ASSERT_TRUE(Sha256OfFile(path, sha256, &size).ok());
    EXPECT_EQ(path, file.Stored().Name);
    EXPECT_EQ(size, file.Stored().Size);
    EXPECT_EQ(sha256, file.Stored().Sha256);
    EXPECT_EQ(compression == Compression::None
                  ? std::vector<std::string>{}
                  : std::vector<std::string>{CompressionName(compression)},
              file.Stored().Transforms);
  }
}

// A sink that keeps each piece it is given, as an upload would send it.
class PieceSink final : public OutputSink {
 public:
  Status Write(std::string_view bytes) override {
    pieces.emplace_back(bytes);
    return Status::Ok();
  }
  Status Commit(Existing) override {
    m_open = false;
    return Status::Ok();
  }
  Status KeepIncomplete() override { return Commit(Existing::AddSuffix); }
  bool IsOpen() const override { return m_open; }
  const std::string& Path() const override { return m_path; }

  std::vector<std::string> pieces;

 private:
  bool m_open = true;
  const std::string m_path = "remote:copy.sql.gz";
};

// A transform after compression, as encryption will be: reversible, named, in order.
class XorTransform final : public OutputTransform {
 public:
  const char* Name() const override { return "xor"; }
  Status Transform(std::string_view input, std::string& output, bool) override {
    for (char c : input) output += static_cast<char>(c ^ 0x5a);
    return Status::Ok();
  }
  Status Finish(std::string&) override { return Status::Ok(); }
};

// `stored` undone: xor, then gunzip through the restore's own reader, as far as it reads.
std::string Undo(std::string stored) {
  for (char& c : stored) c = static_cast<char>(c ^ 0x5a);
  std::unique_ptr<CSqlInput> input;
  EXPECT_TRUE(OpenGzipInput(std::make_unique<CTextSqlInput>(stored), input).ok());
  std::string text;
  char buffer[65536];
  std::size_t got = 0;
  while (input->Read(buffer, sizeof buffer, got).ok() && got > 0) text.append(buffer, got);
  return text;
}

TEST(OutputChainTest, TransformsRunInOrderAndEveryPieceStoredEndsOnAWholeStatement) {
  COutputFile file;
  auto owned = std::make_unique<PieceSink>();
  PieceSink& sink = *owned;
  file.Create(std::move(owned));
  file.SetCompression(Compression::Gzip, 0);
  file.AddTransform(std::make_unique<XorTransform>());
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    const std::string statement = "INSERT INTO t VALUES (" + std::to_string(i * 7919) + ");\n";
    text += statement;
    ASSERT_TRUE(file.Write(statement).ok());
  }
  // Cut after any piece, what is stored decodes to whole statements.
  ASSERT_GE(sink.pieces.size(), 2u);
  std::string stored;
  for (const std::string& piece : sink.pieces) {
    stored += piece;
    const std::string decoded = Undo(stored);
    ASSERT_FALSE(decoded.empty());
    EXPECT_TRUE(decoded.ends_with(";\n"));
    EXPECT_EQ(text.substr(0, decoded.size()), decoded);
  }
  ASSERT_TRUE(file.Commit(COutputFile::Existing::Replace).ok());
  stored.clear();
  for (const std::string& piece : sink.pieces) stored += piece;
  EXPECT_EQ(text, Undo(stored));
  EXPECT_EQ("remote:copy.sql.gz", file.Stored().Name);
  EXPECT_EQ(stored.size(), file.Stored().Size);
  EXPECT_EQ(Sha256Hex(stored), file.Stored().Sha256);
  EXPECT_EQ((std::vector<std::string>{"gzip", "xor"}), file.Stored().Transforms);
}

}  // namespace
}  // namespace brevanto
