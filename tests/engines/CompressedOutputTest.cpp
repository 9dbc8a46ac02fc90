#include "engines/CompressedOutput.h"

#include <string>

#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

namespace brevanto {
namespace {

// Every member or frame of `data`, decompressed and joined; `complete` tells whether the
// input ended on the end of one.
std::string Gunzip(const std::string& data, bool* complete) {
  std::string out;
  z_stream s{};
  inflateInit2(&s, 15 + 16);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  char buffer[4096];
  *complete = false;
  bool outputFull = false;
  while (s.avail_in > 0 || outputFull) {
    s.next_out = reinterpret_cast<Bytef*>(buffer);
    s.avail_out = sizeof buffer;
    const int r = inflate(&s, Z_NO_FLUSH);
    if (r == Z_BUF_ERROR) break;  // nothing left inside either
    outputFull = s.avail_out == 0;
    out.append(buffer, sizeof buffer - s.avail_out);
    *complete = r == Z_STREAM_END;
    if (r == Z_STREAM_END) {
      inflateReset(&s);
    } else if (r != Z_OK) {
      break;
    }
  }
  inflateEnd(&s);
  return out;
}

std::string Unzstd(const std::string& data, bool* complete) {
  std::string out;
  ZSTD_DCtx* context = ZSTD_createDCtx();
  ZSTD_inBuffer in{data.data(), data.size(), 0};
  char buffer[4096];
  std::size_t hint = 1;
  bool outputFull = false;
  // A full output buffer may leave decoded bytes inside the decoder after the last input.
  while (in.pos < in.size || outputFull) {
    ZSTD_outBuffer o{buffer, sizeof buffer, 0};
    const std::size_t before = in.pos;
    const std::size_t result = ZSTD_decompressStream(context, &o, &in);
    if (ZSTD_isError(result)) break;
    if (o.pos == 0 && in.pos == before) break;  // nothing left inside either
    hint = result;
    out.append(buffer, o.pos);
    outputFull = o.pos == o.size;
  }
  *complete = hint == 0;
  ZSTD_freeDCtx(context);
  return out;
}

std::string Decompress(Compression c, const std::string& data, bool* complete) {
  return c == Compression::Gzip ? Gunzip(data, complete) : Unzstd(data, complete);
}

class CompressedOutputTest : public ::testing::TestWithParam<Compression> {};

TEST_P(CompressedOutputTest, FlushedPrefixDecodesAndFinishedStreamsConcatenate) {
  auto compressor = CStreamCompressor::Create(GetParam(), 0);
  ASSERT_NE(compressor, nullptr);
  std::string file;
  std::string plain;
  for (int i = 0; i < 2000; ++i) {
    std::string statement = "INSERT INTO `t` VALUES (" + std::to_string(i * 7919) + ",'x\\0y');\n";
    plain += statement;
    ASSERT_TRUE(compressor->Transform(statement, file, i % 500 == 499).ok());
  }
  // Flushed after every 500th statement: a file cut there holds whole statements.
  bool complete = true;
  EXPECT_EQ(Decompress(GetParam(), file, &complete), plain);
  EXPECT_FALSE(complete);

  ASSERT_TRUE(compressor->Finish(file).ok());
  EXPECT_EQ(Decompress(GetParam(), file, &complete), plain);
  EXPECT_TRUE(complete);
  EXPECT_LT(file.size(), plain.size() / 4);

  // A file appended to later gets a second member or frame.
  ASSERT_TRUE(compressor->Transform("-- more\n", file, false).ok());
  ASSERT_TRUE(compressor->Finish(file).ok());
  EXPECT_EQ(Decompress(GetParam(), file, &complete), plain + "-- more\n");
  EXPECT_TRUE(complete);
}

TEST_P(CompressedOutputTest, EmptyStreamAndLargePieceRoundTrip) {
  auto compressor = CStreamCompressor::Create(GetParam(), 1);
  std::string file;
  ASSERT_TRUE(compressor->Finish(file).ok());
  EXPECT_TRUE(file.empty());  // nothing handed over, nothing written

  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  ASSERT_TRUE(compressor->Transform(big, file, true).ok());
  ASSERT_TRUE(compressor->Finish(file).ok());
  bool complete = false;
  EXPECT_EQ(Decompress(GetParam(), file, &complete), big);
  EXPECT_TRUE(complete);
}

INSTANTIATE_TEST_SUITE_P(Both, CompressedOutputTest,
                         ::testing::Values(Compression::Gzip, Compression::Zstd),
                         [](const auto& info) { return std::string(CompressionName(info.param)); });

TEST(CompressedOutputNamesTest, NoneHasNoCompressorAndNoSuffix) {
  EXPECT_EQ(CStreamCompressor::Create(Compression::None, 5), nullptr);
  EXPECT_STREQ(CompressedFileSuffix(Compression::None), "");
  EXPECT_STREQ(CompressedFileSuffix(Compression::Gzip), ".gz");
  EXPECT_STREQ(CompressedFileSuffix(Compression::Zstd), ".zst");
}

// A same-file path the user already named "x.sql.gz" must not become "x.sql.gz.gz".
TEST(CompressedOutputNamesTest, SuffixIsAddedOnceWhateverTheCase) {
  EXPECT_EQ(WithCompressedFileSuffix("/b/db.sql", Compression::Gzip), "/b/db.sql.gz");
  EXPECT_EQ(WithCompressedFileSuffix("/b/db.sql.gz", Compression::Gzip), "/b/db.sql.gz");
  EXPECT_EQ(WithCompressedFileSuffix("/b/DB.SQL.ZST", Compression::Zstd), "/b/DB.SQL.ZST");
  EXPECT_EQ(WithCompressedFileSuffix("/b/db.sql.gz", Compression::Zstd), "/b/db.sql.gz.zst");
  EXPECT_EQ(WithCompressedFileSuffix("/b/db.sql", Compression::None), "/b/db.sql");
  EXPECT_EQ(WithCompressedFileSuffix("", Compression::Gzip), "");
}

}  // namespace
}  // namespace brevanto
