// Row rendering without a server: every type family, NULL against '' against 'NULL',
// escaping, and the binary types that must survive as literals.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/ValueRenderer.h"

namespace brevanto {
namespace {

struct Value {
  enum_field_types type;
  const char* bytes;  // null: SQL NULL
  unsigned long length;
};

Value Text(enum_field_types type, const char* text) {
  return {type, text, static_cast<unsigned long>(std::char_traits<char>::length(text))};
}
Value Null(enum_field_types type) {
  return {type, nullptr, 0};
}

std::string Render(const std::vector<Value>& values) {
  std::vector<MYSQL_FIELD> fields(values.size());
  std::vector<char*> row;
  std::vector<unsigned long> lengths;
  for (std::size_t i = 0; i < values.size(); ++i) {
    fields[i].type = values[i].type;
    row.push_back(const_cast<char*>(values[i].bytes));
    lengths.push_back(values[i].length);
  }
  return RenderRow(row.data(), lengths.data(), fields.data(),
                   static_cast<unsigned int>(values.size()), nullptr);
}

TEST(ValueRendererTest, RendersEachTypeFamily) {
  struct Case {
    const char* name;
    std::vector<Value> row;
    std::string expected;
  };
  const Case cases[] = {
      {"mixed row",
       {Text(MYSQL_TYPE_LONG, "5"), Null(MYSQL_TYPE_VAR_STRING), Text(MYSQL_TYPE_VAR_STRING, ""),
        Text(MYSQL_TYPE_VAR_STRING, "O'Brien"), Text(MYSQL_TYPE_DATE, "2006-01-02")},
       "(5,NULL,'','O\\'Brien','2006-01-02')"},
      {"decimals are quoted, floats bare",
       {Text(MYSQL_TYPE_NEWDECIMAL, "12.50"), Text(MYSQL_TYPE_DECIMAL, "-1"),
        Text(MYSQL_TYPE_FLOAT, "3.14159"), Text(MYSQL_TYPE_DOUBLE, "-1e308")},
       "('12.50','-1',3.14159,-1e308)"},
      {"every integer width",
       {Text(MYSQL_TYPE_TINY, "-128"), Text(MYSQL_TYPE_SHORT, "65535"),
        Text(MYSQL_TYPE_INT24, "-8388608"), Text(MYSQL_TYPE_LONGLONG, "18446744073709551615"),
        Text(MYSQL_TYPE_YEAR, "2006")},
       "(-128,65535,-8388608,18446744073709551615,'2006')"},
      {"dates and times are quoted unescaped",
       {Text(MYSQL_TYPE_TIMESTAMP, "2038-01-19 03:14:07"), Text(MYSQL_TYPE_TIME, "-838:59:59"),
        Text(MYSQL_TYPE_DATETIME, "0000-00-00 00:00:00"), Text(MYSQL_TYPE_NEWDATE, "1000-01-01")},
       "('2038-01-19 03:14:07','-838:59:59','0000-00-00 00:00:00','1000-01-01')"},
      {"NULL, empty and the word NULL differ",
       {Null(MYSQL_TYPE_STRING), Text(MYSQL_TYPE_STRING, ""), Text(MYSQL_TYPE_STRING, "NULL"),
        Null(MYSQL_TYPE_LONG), Null(MYSQL_TYPE_BIT), Null(MYSQL_TYPE_GEOMETRY)},
       "(NULL,'','NULL',NULL,NULL,NULL)"},
      {"escaping of quotes, backslashes and control bytes",
       {{MYSQL_TYPE_BLOB, "\0'", 2}, Text(MYSQL_TYPE_VAR_STRING, "a\\b\"c\r\n\x1a")},
       "('\\0\\'','a\\\\b\\\"c\\r\\n\\Z')"},
      {"ENUM, SET and the blob sizes",
       {Text(MYSQL_TYPE_ENUM, "b"), Text(MYSQL_TYPE_SET, "x,z"), Text(MYSQL_TYPE_TINY_BLOB, "t"),
        Text(MYSQL_TYPE_MEDIUM_BLOB, "m"), Text(MYSQL_TYPE_LONG_BLOB, "l"),
        Text(MYSQL_TYPE_VARCHAR, "v")},
       "('b','x,z','t','m','l','v')"},
      {"blanks inside quotes stay, blanks around numbers go",
       {Text(MYSQL_TYPE_STRING, "  pad  "), Text(MYSQL_TYPE_LONG, " 7 ")},
       "('  pad  ',7)"},
      {"an empty bare value becomes NULL", {Text(MYSQL_TYPE_LONG, "")}, "(NULL)"},
      // BIT and GEOMETRY are raw bytes: written bare they broke the statement.
      {"BIT as a bit literal",
       {{MYSQL_TYPE_BIT, "\x0a\xaa", 2}, {MYSQL_TYPE_BIT, "\0", 1}},
       "(b'0000101010101010',b'00000000')"},
      {"GEOMETRY as a hexadecimal literal",
       {{MYSQL_TYPE_GEOMETRY, "\0\0\0\0\x01\x01\0\0\0'", 10}},
       "(0x00000000010100000027)"},
      // A type the renderer does not know still keeps its place and its bytes.
      {"unknown types are escaped and quoted",
       {Text(MYSQL_TYPE_LONG, "1"),
        {static_cast<enum_field_types>(245), "{\"k\":'v'}", 9},
        Text(MYSQL_TYPE_LONG, "2")},
       "(1,'{\\\"k\\\":\\'v\\'}',2)"},
      {"a row without columns", {}, "()"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, Render(c.row));
  }
}

TEST(ValueRendererTest, AppendsToTheStatementBeingBuilt) {
  MYSQL_FIELD field{};
  field.type = MYSQL_TYPE_LONG;
  char value[] = "42";
  char* row[] = {value};
  unsigned long length = 2;
  std::string statement = "INSERT INTO t VALUES ";
  AppendRenderedRow(statement, row, &length, &field, 1, nullptr);
  AppendRenderedRow(statement, row, &length, &field, 1, nullptr);
  EXPECT_EQ("INSERT INTO t VALUES (42)(42)", statement);
}

TEST(ValueRendererTest, EveryByteSurvivesEscaping) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string rendered =
      Render({{MYSQL_TYPE_BLOB, all.data(), static_cast<unsigned long>(all.size())}});
  // Undo the client library's escaping and compare.
  std::string back;
  for (std::size_t i = 2; i + 2 < rendered.size(); ++i) {
    char c = rendered[i];
    if (c == '\\') {
      c = rendered[++i];
      c = c == '0' ? '\0' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 'Z' ? '\x1a' : c;
    }
    back += c;
  }
  EXPECT_EQ(all, back);
}

}  // namespace
}  // namespace brevanto
