// The manifest's digests without a server: the rows digest's worked example as
// docs/formats/rows-digest.md prints it, what makes two sets of rows differ, and which
// DEFINER clause a definition's digest leaves out.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Sha256.h"
#include "engines/ContentDigest.h"

namespace brevanto {
namespace {

using Row = std::vector<std::optional<std::string>>;

std::string DigestOf(const std::vector<Row>& rows) {
  RowsDigest digest;
  for (const Row& row : rows) {
    std::vector<char*> values;
    std::vector<unsigned long> lengths;
    std::vector<unsigned> columns;
    for (const auto& value : row) {
      columns.push_back(static_cast<unsigned>(values.size()));
      values.push_back(value ? const_cast<char*>(value->data()) : nullptr);
      lengths.push_back(value ? static_cast<unsigned long>(value->size()) : 0);
    }
    digest.AddRow(values.data(), lengths.data(), columns);
  }
  return digest.Text();
}

TEST(RowsDigestTest, MatchesTheDocumentedExample) {
  EXPECT_EQ(DigestOf({{"1", "caf\xc3\xa9", std::nullopt}, {"2", "", std::string("\0\xff", 2)}}),
            "rows-xxh3-sum128:08de09f20d6e4be1c1872fc9f0647466");
  EXPECT_EQ(DigestOf({}), "rows-xxh3-sum128:00000000000000000000000000000000");
}

TEST(RowsDigestTest, TellsApartWhatARestoreCouldGetWrong) {
  const std::string base = DigestOf({{"1", "a"}, {"2", "b"}});
  // Row order is the reader's business, not the data's.
  EXPECT_EQ(DigestOf({{"2", "b"}, {"1", "a"}}), base);
  // A duplicate row counts twice: a lost or an extra copy shows.
  const std::string twice = DigestOf({{"1", "a"}, {"1", "a"}});
  EXPECT_NE(twice, DigestOf({{"1", "a"}}));
  EXPECT_NE(twice, DigestOf({}));
  EXPECT_NE(twice, DigestOf({{"1", "a"}, {"1", "a"}, {"1", "a"}}));
  // NULL, the empty string, the text "NULL" and a zero byte are four values.
  const std::vector<std::string> distinct = {DigestOf({{"1", std::nullopt}}), DigestOf({{"1", ""}}),
                                             DigestOf({{"1", "NULL"}}),
                                             DigestOf({{"1", std::string(1, '\0')}})};
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    for (std::size_t j = i + 1; j < distinct.size(); ++j) EXPECT_NE(distinct[i], distinct[j]);
  }
  // Bytes do not move between columns unnoticed.
  EXPECT_NE(DigestOf({{"ab", "c"}}), DigestOf({{"a", "bc"}}));
  EXPECT_NE(DigestOf({{"1", "a"}, {"2", "b"}}), DigestOf({{"1", "b"}, {"2", "a"}}));
}

TEST(DefinitionDigestTest, LeavesOutTheDefinerOfTheHeadOnly) {
  const std::string plain = "CREATE TRIGGER `t` BEFORE INSERT ON `x` FOR EACH ROW SET @a = 1";
  EXPECT_EQ(DefinitionDigest(plain), Sha256Hex(plain));
  EXPECT_EQ(DefinitionDigest("CREATE DEFINER=`root`@`localhost` TRIGGER `t` BEFORE INSERT ON "
                             "`x` FOR EACH ROW SET @a = 1"),
            Sha256Hex(plain));
  EXPECT_EQ(DefinitionDigest("CREATE DEFINER=`o``dd`@`%` TRIGGER `t` BEFORE INSERT ON `x` FOR "
                             "EACH ROW SET @a = 1"),
            Sha256Hex(plain));
  // A role as definer has no host.
  EXPECT_EQ(DefinitionDigest("CREATE DEFINER=`admins` TRIGGER `t` BEFORE INSERT ON `x` FOR EACH "
                             "ROW SET @a = 1"),
            Sha256Hex(plain));
  const std::string view =
      "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`127.0.0.1` SQL SECURITY DEFINER VIEW `v` AS "
      "select 1 AS `1`";
  EXPECT_EQ(
      DefinitionDigest(view),
      Sha256Hex("CREATE ALGORITHM=UNDEFINED SQL SECURITY DEFINER VIEW `v` AS select 1 AS `1`"));
  // Text in a body is the object's own.
  const std::string body = "CREATE PROCEDURE `p`() SELECT 'DEFINER=`root`@`localhost` ' AS `x`";
  EXPECT_EQ(DefinitionDigest(body), Sha256Hex(body));
  // Any other change of the text shows.
  EXPECT_NE(DefinitionDigest(plain), DefinitionDigest(plain + " "));
}

}  // namespace
}  // namespace brevanto
