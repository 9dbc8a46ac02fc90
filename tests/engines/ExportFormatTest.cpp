#include "engines/ExportFormat.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace brevanto {
namespace {

using Value = std::optional<std::string>;  // nullopt is SQL NULL

ExportSettings Csv() {
  ExportSettings s;
  s.Format = 1;
  s.FieldsTerminatedBy = ",";
  s.FieldsEnclosedBy = "\"";
  s.FieldsEscapedBy = "\\";
  s.LinesTerminatedBy = "\r\n";
  return s;
}

ExportSettings Text() {
  ExportSettings s = Csv();
  s.Format = 4;
  s.FieldsTerminatedBy = "\t";
  s.FieldsEnclosedBy = "";
  return s;
}

ExportSettings Markup(std::uint8_t format) {
  ExportSettings s;
  s.Format = format;
  return s;
}

// One row through a formatter, the way the worker hands over a fetched row.
std::string FormatRow(const std::vector<ExportColumn>& columns, const ExportSettings& settings,
                      const std::vector<Value>& values, bool nullMarker = false) {
  std::vector<char*> pointers;
  std::vector<unsigned long> lengths;
  for (const Value& v : values) {
    pointers.push_back(v ? const_cast<char*>(v->data()) : nullptr);
    lengths.push_back(v ? v->size() : 0);
  }
  CExportFormatter formatter(columns, settings, nullptr, nullMarker);
  return formatter.Row(pointers.data(), lengths.data());
}

const std::vector<ExportColumn> kIdNameNote = {
    {"id", MYSQL_TYPE_LONG}, {"name", MYSQL_TYPE_VAR_STRING}, {"note", MYSQL_TYPE_BLOB}};

TEST(ExportFormatTest, RowsOfEachFormat) {
  struct Case {
    const char* name;
    ExportSettings settings;
    std::vector<Value> values;
    std::string expected;
  };
  ExportSettings twoCharTerminator = Csv();
  twoCharTerminator.FieldsTerminatedBy = "||";
  ExportSettings noTerminator = Csv();
  noTerminator.FieldsTerminatedBy = "";
  const std::vector<Case> cases = {
      {"csv escapes and encloses every value",
       Csv(),
       {"1", "a\"b", std::nullopt},
       "\"1\",\"a\\\"b\",\"\"\r\n"},
      {"text uses the same rule", Text(), {"1", "a\"b", std::nullopt}, "1\ta\\\"b\t\r\n"},
      {"NULL text and real NULL look alike",
       Csv(),
       {std::nullopt, "NULL", ""},
       "\"\",\"\",\"\"\r\n"},
      {"values are trimmed, escapes kept",
       Csv(),
       {" 7 ", " a\nb ", "it's\\"},
       "\"7\",\"a\\nb\",\"it\\'s\\\\\"\r\n"},
      {"multi-character terminator loses one character",
       twoCharTerminator,
       {"1", "x", "y"},
       "\"1\"||\"x\"||\"y\"|\r\n"},
      {"empty terminator loses no data", noTerminator, {"1", "x", "y"}, "\"1\"\"x\"\"y\"\r\n"},
      {"xml escapes markup once",
       Markup(2),
       {"5", "x<y", "a &lt; b & c"},
       "<ROW id=\"5\" name=\"x&lt;y\" note=\"a &lt; b &amp; c\"/>\r\n"},
      {"xml empty attributes",
       Markup(2),
       {std::nullopt, "NULL", ""},
       "<ROW id=\"\" name=\"\" note=\"\"/>\r\n"},
      {"html blanks and entities",
       Markup(3),
       {"5", "a b&nbsp;c", std::nullopt},
       "<tr>\r\n<td class='normal' valign='top'>5</td>\r\n"
       "<td class='normal' valign='top'>a&nbsp;b&nbsp;c</td>\r\n"
       "<td class='normal' valign='top'>&nbsp;</td>\r\n</tr>\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatRow(kIdNameNote, c.settings, c.values), c.expected);
  }
}

TEST(ExportFormatTest, BinaryBitValuesAreNotTrimmed) {
  const std::vector<ExportColumn> columns = {{"flags", MYSQL_TYPE_BIT}};
  EXPECT_EQ(FormatRow(columns, Csv(), {std::string(" ", 1)}), "\" \"\r\n");
  EXPECT_EQ(FormatRow(columns, Csv(), {std::string("\0\t", 2)}), std::string("\"\0\t\"\r\n", 6));
}

// Byte strings (BINARY, VARBINARY, BLOB) keep every byte: their blanks and a value that
// reads "NULL" are data.
TEST(ExportFormatTest, ByteStringsKeepTheirBlanks) {
  const std::vector<ExportColumn> columns = {{"b", MYSQL_TYPE_VAR_STRING, true},
                                             {"t", MYSQL_TYPE_VAR_STRING, false}};
  EXPECT_EQ(FormatRow(columns, Csv(), {std::string("\t "), std::string("\t ")}),
            "\"\t \",\"\"\r\n");
  EXPECT_EQ(FormatRow(columns, Csv(), {std::string(" NULL"), std::string("NULL")}),
            "\" NULL\",\"\"\r\n");
  EXPECT_EQ(FormatRow(columns, Markup(3), {std::string(" x "), std::string(" x ")}),
            "<tr>\r\n<td class='normal' valign='top'>&nbsp;x&nbsp;</td>\r\n"
            "<td class='normal' valign='top'>x</td>\r\n</tr>\r\n");
}

// TEXT has no enclosure: what would end a column or a line inside a value is escaped as
// the client's batch output escapes it, so no column shifts.
TEST(ExportFormatTest, TextEscapesItsSeparators) {
  const std::vector<ExportColumn> columns = {{"b", MYSQL_TYPE_BLOB, true},
                                             {"t", MYSQL_TYPE_VAR_STRING, false}};
  EXPECT_EQ(FormatRow(columns, Text(), {std::string("\t "), std::string("a\tb\r\nc")}),
            "\\t \ta\\tb\\r\\nc\r\n");
  ExportSettings pipes = Text();
  pipes.FieldsTerminatedBy = "|";
  pipes.LinesTerminatedBy = ";";
  EXPECT_EQ(FormatRow(columns, pipes, {std::string("x|y;z"), std::string("\\|")}),
            "x\\|y\\;z|\\\\\\|;");
  // CSV encloses its values: a TAB there is data as it is.
  EXPECT_EQ(FormatRow(columns, Csv(), {std::string("a\tb"), std::string("a\tb")}),
            "\"a\tb\",\"a\tb\"\r\n");
}

TEST(ExportFormatTest, TheNullMarkerTellsNullFromEmptyAndFromTheTextNull) {
  const std::vector<Value> values = {std::nullopt, "", "NULL"};
  EXPECT_EQ(FormatRow(kIdNameNote, Csv(), values, true), "\\N,\"\",\"NULL\"\r\n");
  EXPECT_EQ(FormatRow(kIdNameNote, Text(), values, true), "\\N\t\tNULL\r\n");
  // Off by default, and never in XML or HTML.
  EXPECT_EQ(FormatRow(kIdNameNote, Csv(), values), "\"\",\"\",\"\"\r\n");
  EXPECT_EQ(FormatRow(kIdNameNote, Markup(2), values, true),
            "<ROW id=\"\" name=\"\" note=\"\"/>\r\n");
}

// The decoding the documentation gives: every _xHHHH_ / _xHHHHHHHH_ back to its character.
std::string DecodeXmlName(const std::string& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size();) {
    std::size_t digits = 0;
    for (const std::size_t d : {4u, 8u}) {
      if (name.compare(i, 2, "_x") == 0 && i + d + 3 <= name.size() && name[i + d + 2] == '_' &&
          name.find_first_not_of("0123456789ABCDEF", i + 2) >= i + d + 2) {
        digits = d;
      }
    }
    if (digits == 0) {
      out += name[i++];
      continue;
    }
    const unsigned long c = std::stoul(name.substr(i + 2, digits), nullptr, 16);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
    i += digits + 3;
  }
  return out;
}

TEST(ExportFormatTest, XmlNamesAreValidAndDecodeToTheColumnName) {
  EXPECT_EQ(XmlName("price"), "price");
  EXPECT_EQ(XmlName("unit price"), "unit_x0020_price");
  EXPECT_EQ(XmlName("2nd"), "_x0032_nd");
  EXPECT_EQ(XmlName("a:b"), "a_x003A_b");
  EXPECT_EQ(XmlName("snow\xE2\x98\x83"), "snow_x2603_");
  EXPECT_EQ(XmlName("plane\xF3\xB0\x80\x80"), "plane_x000F0000_");
  EXPECT_EQ(XmlName("smile\xF0\x9F\x98\x80"), "smile\xF0\x9F\x98\x80");
  for (const std::string name : {"unit price", "2nd", "a:b", "_x0041_", "x_x00zz_", "-a.b",
                                 "\xD0\xB6\xD0\xB8", "say \"hi\"", "plane\xF3\xB0\x80\x80"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(DecodeXmlName(XmlName(name)), name);
  }
  // Binary values are hex; quotes in text end no attribute.
  ExportColumn bits{"b", MYSQL_TYPE_BIT, true};
  ExportColumn text{"t", MYSQL_TYPE_VAR_STRING};
  EXPECT_EQ(FormatRow({bits, text}, Markup(2), {std::string("\0\xFF", 2), "a\"b"}),
            "<ROW b=\"00FF\" t=\"a\\&quot;b\"/>\r\n");
}

TEST(ExportFormatTest, Headers) {
  ExportSettings csv = Csv();
  csv.AddColumnNamesOnTop = 1;
  ExportSettings text = Text();
  text.AddColumnNamesOnTop = 1;
  const std::vector<ExportColumn> columns = {{"id", MYSQL_TYPE_LONG},
                                             {"when", MYSQL_TYPE_DATETIME}};
  EXPECT_EQ(CExportFormatter(columns, csv, nullptr).Header(), "\"id\",\"when\"\r\n");
  EXPECT_EQ(CExportFormatter(columns, text, nullptr).Header(), "id\twhen\r\n");
  EXPECT_EQ(CExportFormatter(columns, Csv(), nullptr).Header(), "");

  EXPECT_EQ(CExportFormatter(columns, Markup(2), nullptr).Header(),
            "<?xml version=\"1.0\" standalone=\"no\"?>\r\n<DATAPACKET Version=\"2.0\">\r\n"
            "<METADATA>\r\n<FIELDS>\r\n"
            "<FIELD FieldName=\"id\" DisplayLabel=\"id\" FieldType=\"Integer\"/>\r\n"
            "<FIELD FieldName=\"when\" DisplayLabel=\"when\" FieldType=\"DateTime\"/>\r\n"
            "</FIELDS>\r\n</METADATA>\r\n<ROWDATA>\r\n");
  const std::string html = CExportFormatter(columns, Markup(3), nullptr).Header();
  const std::string tail =
      "font-weight: bold; color: #000000; text-decoration: none}\r\n-->\r\n</style>\r\n"
      "</head>\r\n<table border=1>\r\n<tr>\r\n<td bgcolor=silver class='medium'>id</td>\r\n"
      "<td bgcolor=silver class='medium'>when</td>\r\n</tr>\r\n";
  ASSERT_GT(html.size(), tail.size());
  EXPECT_EQ(html.substr(0, 49), "<html>\r\n<head>\r\n<title>Table Data</title>\r\n<style");
  EXPECT_EQ(html.substr(html.size() - tail.size()), tail);

  EXPECT_EQ(CExportFormatter::Trailer(2), "</ROWDATA>\r\n</DATAPACKET>\r\n");
  EXPECT_EQ(CExportFormatter::Trailer(3), "</table></body></html>\r\n");
  EXPECT_EQ(CExportFormatter::Trailer(1), "");
}

}  // namespace
}  // namespace brevanto
