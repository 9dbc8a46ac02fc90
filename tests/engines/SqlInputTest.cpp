#include "engines/SqlInput.h"

#include <string>

#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

std::string Gzip(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string Zstd(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}

class SqlInputTest : public ::testing::Test {
 protected:
  // The whole text read through OpenSqlInput, or "error: ..." when opening or reading failed.
  std::string ReadBack(const std::string& bytes) {
    const std::string path = m_dir.file("input");
    EXPECT_TRUE(test::WriteWholeFile(path, bytes));
    std::string text;
    const Status status = ReadWholeSqlFile(path, text);
    return status.ok() ? text : "error: " + status.message();
  }

  test::TempDir m_dir;
};

TEST_F(SqlInputTest, CompressedFilesAreRecognisedByTheirFirstBytes) {
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "INSERT INTO t VALUES (" + std::to_string(i) + ");\n";
  EXPECT_EQ(ReadBack(text), text);
  EXPECT_EQ(ReadBack(Gzip(text)), text);
  EXPECT_EQ(ReadBack(Zstd(text)), text);
  // Concatenated members, as `cat a.gz b.gz` makes them.
  EXPECT_EQ(ReadBack(Gzip(text) + Gzip("SELECT 1;\n")), text + "SELECT 1;\n");
  EXPECT_EQ(ReadBack(Zstd(text) + Zstd("SELECT 1;\n")), text + "SELECT 1;\n");
  EXPECT_EQ(ReadBack(""), "");
}

TEST_F(SqlInputTest, TruncatedOrDamagedCompressedFilesAreErrors) {
  const std::string text(300000, 'x');
  const std::string gz = Gzip(text);
  const std::string zst = Zstd(text);
  EXPECT_EQ(ReadBack(gz.substr(0, gz.size() - 10)),
            "error: the gzip data ends early (the file is truncated)");
  EXPECT_EQ(ReadBack(zst.substr(0, zst.size() - 10)),
            "error: the zstd data ends early (the file is truncated)");
  EXPECT_EQ(
      ReadBack("\x1f\x8b" + std::string(100, '\x07')).rfind("error: the gzip data is damaged", 0),
      0u);
  std::string text2;
  EXPECT_EQ(ReadWholeSqlFile(m_dir.file("missing"), text2).message(), "No such file or directory");
  EXPECT_EQ(ReadWholeSqlFile(m_dir.path(), text2).message(), "Is a directory");
}

}  // namespace
}  // namespace brevanto
