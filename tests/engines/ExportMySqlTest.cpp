#include "engines/ExportWorker.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <filesystem>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "tasks/AdvancedOptions.h"
#include "tests/engines/CopySourceDatabase.h"
#include "tests/engines/KillingRunContext.h"
#include "tests/engines/RecordingRunContext.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::RecordingRunContext;

const char* const kCsvGolden =
    "\"id\",\"name\",\"note\"\r\n"
    "\"1\",\"a\\\"b\",\"\"\r\n"
    "\"2\",\"x<y\",\"\"\r\n"
    "\"3\",\"pad\",\"&lt;\"\r\n";

const char* const kTextGolden =
    "1\ta\\\"b\t\r\n"
    "2\tx<y\t\r\n"
    "3\tpad\t&lt;\r\n";

const char* const kXmlGolden =
    "<?xml version=\"1.0\" standalone=\"no\"?>\r\n<DATAPACKET Version=\"2.0\">\r\n"
    "<METADATA>\r\n<FIELDS>\r\n"
    "<FIELD FieldName=\"id\" DisplayLabel=\"id\" FieldType=\"Integer\"/>\r\n"
    "<FIELD FieldName=\"name\" DisplayLabel=\"name\" FieldType=\"Varchar\"/>\r\n"
    "<FIELD FieldName=\"note\" DisplayLabel=\"note\" FieldType=\"Text\"/>\r\n"
    "</FIELDS>\r\n</METADATA>\r\n<ROWDATA>\r\n"
    "<ROW id=\"1\" name=\"a\\&quot;b\" note=\"\"/>\r\n"
    "<ROW id=\"2\" name=\"x&lt;y\" note=\"\"/>\r\n"
    "<ROW id=\"3\" name=\"pad\" note=\"&lt;\"/>\r\n"
    "</ROWDATA>\r\n</DATAPACKET>\r\n";

const char* const kHtmlGolden =
    "<html>\r\n<head>\r\n<title>Table Data</title>\r\n<style type=\"text/css\">\r\n<!--\r\n"
    ".normal {  font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 12px; "
    "font-weight: normal; color: #000000}\r\n"
    ".medium {  font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 15px; "
    "font-weight: bold; color: #000000; text-decoration: none}\r\n-->\r\n</style>\r\n"
    "</head>\r\n<table border=1>\r\n<tr>\r\n"
    "<td bgcolor=silver class='medium'>id</td>\r\n"
    "<td bgcolor=silver class='medium'>name</td>\r\n"
    "<td bgcolor=silver class='medium'>note</td>\r\n</tr>\r\n"
    "<tr>\r\n<td class='normal' valign='top'>1</td>\r\n"
    "<td class='normal' valign='top'>a\\\"b</td>\r\n"
    "<td class='normal' valign='top'>&nbsp;</td>\r\n</tr>\r\n"
    "<tr>\r\n<td class='normal' valign='top'>2</td>\r\n"
    "<td class='normal' valign='top'>x&lt;y</td>\r\n"
    "<td class='normal' valign='top'>&nbsp;</td>\r\n</tr>\r\n"
    "<tr>\r\n<td class='normal' valign='top'>3</td>\r\n"
    "<td class='normal' valign='top'>pad</td>\r\n"
    "<td class='normal' valign='top'>&lt;</td>\r\n</tr>\r\n"
    "</table></body></html>\r\n";

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(test::ServerA());
    ASSERT_TRUE(test::EnsureSourceDatabases());
    static const bool loaded = [] {
      test::RunClient(
          test::ServerA(),
          "DROP DATABASE IF EXISTS e2_export; CREATE DATABASE e2_export; USE e2_export;"
          "CREATE TABLE t (id INT, name VARCHAR(20), note TEXT);"
          "INSERT INTO t VALUES (1, 'a\"b', NULL), (2, 'x<y', 'NULL'), (3, ' pad ', '&lt;');"
          "CREATE VIEW vt AS SELECT id, name FROM t WHERE id > 1;"
          "CREATE TABLE nulls (id INT, a VARCHAR(5), b INT, c DATE, d BLOB, e BIT(8));"
          "CREATE TABLE none (id INT);"
          "INSERT INTO nulls VALUES (1, NULL, NULL, NULL, NULL, NULL),"
          " (NULL, '', 0, '2006-01-02', '', b'00100000'), (NULL, NULL, NULL, NULL, NULL, NULL);");
      return true;
    }();
    (void)loaded;
  }

  CTaskItem ExportTask(std::uint8_t format, const std::vector<TableItem>& tables) const {
    CTaskItem task;
    task.TaskType = static_cast<std::uint8_t>(TaskType::ExportToFiles);
    task.SourceServer = test::AsServerInfo(test::ServerA());
    task.ExportTables = tables;
    ExportSettings& s = task.ExportSettings;
    s.Format = format;
    s.Folder = m_dir.file("out/");
    if (format == 1 || format == 4) {
      s.FieldsTerminatedBy = format == 1 ? "," : "\t";
      s.FieldsEnclosedBy = format == 1 ? "\"" : "";
      s.FieldsEscapedBy = "\\";
      s.LinesTerminatedBy = "\r\n";
    }
    return task;
  }

  std::string Output(const std::string& name) const {
    return test::ReadWholeFile(m_dir.file("out/" + name));
  }

  test::TempDir m_dir;
};

TEST_F(ExportTest, WritesEachFormatByteForByte) {
  struct Case {
    std::uint8_t format;
    bool names;
    const char* file;
    const char* golden;
  };
  const Case cases[] = {{1, true, "e2_export_t.csv", kCsvGolden},
                        {4, false, "e2_export_t.txt", kTextGolden},
                        {2, false, "e2_export_t.xml", kXmlGolden},
                        {3, false, "e2_export_t.html", kHtmlGolden}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CTaskItem task = ExportTask(c.format, {{0, 1, "e2_export", "t"}});
    task.ExportSettings.AddColumnNamesOnTop = c.names;
    RecordingRunContext context(task);
    ASSERT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Finished) << context.Dump();
    EXPECT_EQ(Output(c.file), c.golden);
  }
}

TEST_F(ExportTest, CompressedExportsDecompressWithTheStockToolsToThePlainBytes) {
  struct Case {
    Compression compression;
    const char* file;
    const char* decompressor;
  };
  const Case cases[] = {{Compression::Gzip, "e2_export_t.csv.gz", "zcat"},
                        {Compression::Zstd, "e2_export_t.csv.zst", "zstdcat"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CTaskItem task = ExportTask(1, {{0, 1, "e2_export", "t"}});
    task.ExportSettings.AddColumnNamesOnTop = 1;
    CAdvancedOptions advanced;
    advanced.Compression = c.compression;
    advanced.CompressionLevel = 3;
    SetAdvancedOptions(task, advanced);
    // Twice: the second run replaces the first file, as plain exports do.
    for (int run = 0; run < 2; ++run) {
      RecordingRunContext context(task);
      ASSERT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Finished) << context.Dump();
    }
    const std::string path = m_dir.file("out/") + c.file;
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("out/e2_export_t.csv")));
    const std::string plain = path + ".plain";
    ASSERT_EQ(0, std::system(
                     (std::string(c.decompressor) + " '" + path + "' > '" + plain + "'").c_str()));
    EXPECT_EQ(test::ReadWholeFile(plain), kCsvGolden);
    std::filesystem::remove(path);
    std::filesystem::remove(plain);
  }
}

// Every XML export must be read by a standard parser; names and binary values come back
// through the documented encodings, and INVISIBLE columns are there.
TEST_F(ExportTest, XmlIsWellFormedForOddNamesValuesAndInvisibleColumns) {
  test::RunClient(test::ServerA(),
                  "DROP TABLE IF EXISTS e2_export.odd; CREATE TABLE e2_export.odd ("
                  "`a b` INT, `1st` VARCHAR(20), `x:y` VARCHAR(20), `_x0041_` INT,"
                  " `ж` INT, hidden INT INVISIBLE, bits BIT(8), raw BLOB, geo GEOMETRY);"
                  "INSERT INTO e2_export.odd (`a b`, `1st`, `x:y`, `_x0041_`, `ж`, hidden,"
                  " bits, raw, geo) VALUES (1, 'say \\\"hi\\\" & <go>', CONCAT('a', CHAR(1), 'b'),"
                  " 2, 3, 4, b'00100010', 0x00FF22, ST_GeomFromText('POINT(1 1)'));");
  RecordingRunContext context(ExportTask(2, {{0, 1, "e2_export", "odd"}}));
  ASSERT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Finished) << context.Dump();
  const std::string path = m_dir.file("out/e2_export_odd.xml");
  // Prints each FIELD's FieldName=DisplayLabel, then each ROW attribute name=value.
  const std::string script =
      "import sys, xml.etree.ElementTree as E\n"
      "root = E.parse(sys.argv[1]).getroot()\n"
      "for f in root.iter('FIELD'): print(f.get('FieldName') + '=' + f.get('DisplayLabel'))\n"
      "for r in root.iter('ROW'):\n"
      "  for k, v in r.attrib.items(): print(k + '=' + v)\n";
  const std::string scriptPath = m_dir.file("parse.py");
  {
    std::FILE* out = std::fopen(scriptPath.c_str(), "w");
    std::fputs(script.c_str(), out);
    std::fclose(out);
  }
  std::string parsed;
  std::FILE* pipe = ::popen(("python3 '" + scriptPath + "' '" + path + "' 2>&1").c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) parsed.append(buffer, got);
  EXPECT_EQ(0, ::pclose(pipe)) << parsed << test::ReadWholeFile(path);
  std::string geometry = test::RunClient(test::ServerA(), "SELECT HEX(geo) FROM e2_export.odd;");
  geometry.pop_back();
  EXPECT_EQ(
      "a_x0020_b=a b\n_x0031_st=1st\nx_x003A_y=x:y\n_x005F_x0041_=_x0041_\nж=ж\n"
      "hidden=hidden\nbits=bits\nraw=raw\ngeo=geo\n"
      "a_x0020_b=1\n_x0031_st=say \\\"hi\\\" & <go>\nx_x003A_y=a\\x01b\n_x005F_x0041_=2\n"
      "ж=3\nhidden=4\nbits=22\nraw=00FF22\ngeo=" + geometry + "\n",
      parsed);
}

TEST_F(ExportTest, NullHeavyTableAndViewAndMissingDatabase) {
  RecordingRunContext context(ExportTask(
      1, {{0, 1, "e2_export", "nulls"}, {0, 2, "e2_export", "vt"}, {0, 1, "e2_nowhere", "t"}}));
  // A missing file makes the run fail, though the others are written.
  ASSERT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Failed) << context.Dump();
  EXPECT_EQ(Output("e2_export_nulls.csv"),
            "\"1\",\"\",\"\",\"\",\"\",\"\"\r\n"
            "\"\",\"\",\"0\",\"2006-01-02\",\"\",\" \"\r\n"
            "\"\",\"\",\"\",\"\",\"\",\"\"\r\n");
  EXPECT_EQ(Output("e2_export_vt.csv"), "\"2\",\"x<y\"\r\n\"3\",\"pad\"\r\n");

  const std::string folder = m_dir.file("out/");
  EXPECT_EQ(context.Texts(LogLevel::General),
            (std::vector<std::string>{
                "Connecting to the source MySQL server (127.0.0.1)... ",
                context.Texts(LogLevel::General)[1],
                "Exporting 3 selected tables and views...",
                "Exporting the table e2_export.nulls to " + folder + "e2_export_nulls.csv ...",
                "Exported 3 records from the table e2_export.nulls",
                "Exporting the view e2_export.vt to " + folder + "e2_export_vt.csv ...",
                "Exported 2 records from the view e2_export.vt",
                "Exporting the table e2_nowhere.t to " + folder + "e2_nowhere_t.csv ...",
                "Exported 2 tables and views",
            }));
  const std::vector<std::string> errors = context.Errors();
  ASSERT_EQ(2u, errors.size());
  EXPECT_EQ(0u, errors[0].find("Can't use database (e2_nowhere)! (error 1049: ")) << errors[0];
  EXPECT_EQ("The export is incomplete (1 error).", errors[1]);
  EXPECT_EQ(errors[1], context.Lines().back().text);
}

TEST_F(ExportTest, EmptyTableGetsHeaderAndTrailerInAFolderWithoutSlash) {
  // Without the trailing "/" the folder's last part becomes the start of the file name.
  CTaskItem task = ExportTask(3, {{0, 1, "e2_export", "none"}});
  task.ExportSettings.Folder = m_dir.file("out");
  RecordingRunContext context(task);
  ASSERT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Finished) << context.Dump();
  const std::string html = test::ReadWholeFile(m_dir.file("oute2_export_none.html"));
  EXPECT_EQ(html.rfind("<td bgcolor=silver class='medium'>id</td>\r\n</tr>\r\n"
                       "</table></body></html>\r\n"),
            html.size() - 74);
  EXPECT_EQ(context.Texts(LogLevel::General).end()[-2],
            "Exported 0 records from the table e2_export.none");
}

TEST_F(ExportTest, KeepsCharactersOutsideTheDatabaseCharacterSet) {
  RecordingRunContext context(ExportTask(4, {{0, 1, test::kLatinDatabase, "mixed"}}));
  ASSERT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Finished) << context.Dump();
  EXPECT_EQ(Output("e2_latin_mixed.txt"), "1\t\xC3\xA9\t\xC3\xA9 \xF0\x9F\x98\x80\r\n");
}

// CSV and TEXT files with the NULL marker load back exactly through the server's own
// reader: byte strings keep their blanks, a TAB inside TEXT shifts no column, and NULL,
// the empty string and the text "NULL" stay three different values.
TEST_F(ExportTest, CsvAndTextWithTheNullMarkerLoadBackExactly) {
  const std::string table =
      "(id INT PRIMARY KEY, vb VARBINARY(10), t TEXT, n VARCHAR(10) NULL, b BLOB)";
  test::RunClient(test::ServerA(),
                  "DROP DATABASE IF EXISTS e2_exact; CREATE DATABASE e2_exact; USE e2_exact;"
                  "CREATE TABLE t " +
                      table +
                      ";"
                      "INSERT INTO t VALUES (1, 0x0920, 'a\\tb\\nc\\rd', NULL, 0x20),"
                      " (2, 0x20, 'x\\\\y', 'NULL', 0x0900),"
                      " (3, '', '', '', ''), (4, 0x00FF09, 'q''\"z', 'z', NULL);");
  // The server reads files only from its own folder.
  const std::string folder = test::ServerA().basedir + "/files/e2_exact/";
  std::filesystem::remove_all(folder);
  struct Case {
    std::uint8_t format;
    const char* file;
    const char* fields;
  };
  for (const Case& c :
       {Case{1, "e2_exact_t.csv", "',' ENCLOSED BY '\"'"}, Case{4, "e2_exact_t.txt", "'\\t'"}}) {
    SCOPED_TRACE(c.file);
    CTaskItem task = ExportTask(c.format, {{0, 1, "e2_exact", "t"}});
    task.ExportSettings.Folder = folder;
    CAdvancedOptions advanced;
    advanced.NullMarker = true;
    SetAdvancedOptions(task, advanced);
    RecordingRunContext context(task);
    ASSERT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Finished) << context.Dump();
    test::RunClient(test::ServerA(),
                    "DROP TABLE IF EXISTS back; CREATE TABLE back " + table +
                        "; LOAD DATA INFILE '" + folder + c.file +
                        "' INTO TABLE back CHARACTER SET binary FIELDS TERMINATED BY " + c.fields +
                        " ESCAPED BY '\\\\' LINES TERMINATED BY '\\r\\n';",
                    "e2_exact");
    EXPECT_EQ(test::Checksum(test::ServerA(), "e2_exact", "t"),
              test::Checksum(test::ServerA(), "e2_exact", "back"));
  }
  std::filesystem::remove_all(folder);
  test::RunClient(test::ServerA(), "DROP DATABASE e2_exact;");
}

// A disk that fills up mid-file: the entry says why, as a failed create does.
TEST_F(ExportTest, AWriteErrorNamesTheSystemsReason) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  RecordingRunContext context(ExportTask(1, {{0, 1, "e2_export", "t"}}));
  rlimit limited = old;
  limited.rlim_cur = 20;
  setrlimit(RLIMIT_FSIZE, &limited);
  const RunOutcome outcome = ExportWorker(context, m_dir.path());
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(RunOutcome::Failed, outcome);
  const std::vector<std::string> errors = context.Errors();
  ASSERT_FALSE(errors.empty()) << context.Dump();
  EXPECT_EQ("Failed to write records to the file! (File too large)", errors[0]);
}

TEST_F(ExportTest, EndsEarlyWithoutTablesOrFolder) {
  RecordingRunContext noTables(ExportTask(1, {}));
  EXPECT_EQ(ExportWorker(noTables, m_dir.path()), RunOutcome::Failed);
  EXPECT_EQ(noTables.Errors(),
            std::vector<std::string>{"There are not any tables or views to export!"});

  CTaskItem task = ExportTask(1, {{0, 1, "e2_export", "t"}});
  task.ExportSettings.Folder.clear();
  RecordingRunContext noFolder(task);
  EXPECT_EQ(ExportWorker(noFolder, m_dir.path()), RunOutcome::Failed);
  EXPECT_EQ(noFolder.Errors(), std::vector<std::string>{"Export directory name is empty!"});
}

TEST_F(ExportTest, LostConnectionMidTableIsNotCountedAsExported) {
  // Large enough that the server is still sending when its session is killed.
  test::RunClient(
      test::ServerA(),
      "CREATE DATABASE IF NOT EXISTS e2_big; USE e2_big;"
      "CREATE TABLE IF NOT EXISTS big (id INT PRIMARY KEY, pad CHAR(200)) ENGINE=InnoDB;"
      "INSERT IGNORE INTO big SELECT seq, REPEAT('p', 200) FROM seq_1_to_200000;");
  const CTaskItem task = ExportTask(1, {{0, 1, "e2_big", "big"}});
  // Six checks come before the first row: after each step of the item.
  test::KillingRunContext context(
      task, "Exporting the table e2_big.big to " + m_dir.file("out/e2_big_big.csv") + " ...",
      6 + 100, test::ServerA(), "e2_big");
  ASSERT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Failed) << context.Dump();
  // One entry with the server's reason ends the run: the session is gone.
  const std::vector<std::string> errors = context.Errors();
  ASSERT_EQ(1u, errors.size()) << context.Dump();
  EXPECT_EQ(0u, errors[0].find("Failed to select all records! (error ")) << errors[0];
  EXPECT_EQ(errors[0], context.Lines().back().text);
  // The rows read so far are kept under a name that says the file is incomplete.
  EXPECT_FALSE(std::filesystem::exists(m_dir.file("out/e2_big_big.csv")));
  EXPECT_TRUE(std::filesystem::exists(m_dir.file("out/e2_big_big.csv.incomplete")));
}

TEST_F(ExportTest, StopAtEveryCheckpointCancelsTheRun) {
  const CTaskItem task = ExportTask(2, {{0, 1, "e2_export", "t"}, {0, 2, "e2_export", "vt"}});
  RecordingRunContext full(task);
  ASSERT_EQ(ExportWorker(full, m_dir.path()), RunOutcome::Finished);
  for (int stopAt = 1; stopAt <= full.Checks(); ++stopAt) {
    SCOPED_TRACE(stopAt);
    RecordingRunContext context(task);
    context.StopAtCheck(stopAt);
    EXPECT_EQ(ExportWorker(context, m_dir.path()), RunOutcome::Canceled);
    EXPECT_EQ(context.Checks(), stopAt);
    EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  }
}

}  // namespace
}  // namespace brevanto
