// Data that must come back exactly on every path: the server a host and port really
// reach, the login under "Use SSL", character sets, time zones, large rows, odd view names
// and names in any character set, through copies and through dumps restored by the stock
// client.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/ExportWorker.h"
#include "engines/MySqlConnection.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/ServerCopyWorker.h"
#include "engines/ValueRenderer.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/RecordingRunContext.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::ServerA;
using test::ServerB;

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Sets a global variable of a server for as long as it lives, then puts it back.
class GlobalSetting {
 public:
  GlobalSetting(const test::TestServerInfo& server, const std::string& name,
                const std::string& value)
      : m_server(server), m_name(name) {
    m_old = Trim(test::RunClient(server, "SELECT @@GLOBAL." + name + ";"));
    test::RunClient(server, "SET GLOBAL " + name + "=" + value + ";");
  }
  ~GlobalSetting() {
    const bool number = m_old.find_first_not_of("0123456789") == std::string::npos;
    test::RunClient(m_server, "SET GLOBAL " + m_name + "=" +
                                  (number ? m_old : "'" + m_old + "'") + ";");
  }

 private:
  const test::TestServerInfo& m_server;
  std::string m_name;
  std::string m_old;
};

std::string Identity(const CServerInfo& server) {
  CMySQLConnection connection;
  MySqlError error;
  if (!ConnectServer(server, connection, error)) return "failed: " + error.Text;
  return ServerIdentity(connection);
}

class ExactDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(ServerA());
    BREVANTO_REQUIRE_SERVER(ServerB());
  }
  void TearDown() override {
    if (!test::IsReachable(ServerA())) return;
    for (const std::string& db : m_databases) {
      for (const auto* server : {&ServerA(), &ServerB()}) {
        test::RunClient(*server, "DROP DATABASE IF EXISTS `" + db + "`;");
      }
    }
  }

  // A fresh database on A (and none of that name on B), dropped after the test.
  std::string Database(const std::string& name, const std::string& charset = "utf8mb4") {
    const std::string db = "e10_" + name;
    m_databases.push_back(db);
    test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + db + "`;");
    test::RunClient(ServerA(), "DROP DATABASE IF EXISTS `" + db + "`; CREATE DATABASE `" + db +
                                   "` DEFAULT CHARACTER SET " + charset + ";");
    return db;
  }

  static CTaskItem CopyTask(const std::string& db, const std::vector<std::string>& tables = {}) {
    CTaskItem task;
    task.TaskName = "Exact";
    task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToServer);
    task.SourceServer = test::AsServerInfo(ServerA());
    task.DestinationServer = test::AsServerInfo(ServerB());
    DatabaseItem item{1, db, {}};
    for (const std::string& t : tables) item.Tables.push_back({1, 1, db, t});
    task.BackupDatabases.push_back(item);
    // An empty table list takes the database's tables as the server lists them.
    if (tables.empty()) task.BackupSettings.IncludeNewTables = 1;
    return task;
  }

  CTaskItem DumpTask(const std::string& db, const std::vector<std::string>& tables = {}) {
    CTaskItem task = CopyTask(db, tables);
    task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    task.BackupSettings.FileMode = 1;
    task.BackupSettings.SameFilePath = m_dir.file("dump.sql");
    return task;
  }

  // Dumps with `task`, restores the file on B with the stock client (after `before`,
  // run in the restoring session) and returns the file.
  std::string DumpAndRestore(const CTaskItem& task, const std::string& before = "") {
    test::FakeRunContext context(task);
    EXPECT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
    const std::string dump = test::ReadWholeFile(m_dir.file("dump.sql"));
    const std::string restore = m_dir.file("restore.sql");
    {
      std::FILE* out = std::fopen(restore.c_str(), "wb");
      std::fwrite(before.data(), 1, before.size(), out);
      std::fwrite(dump.data(), 1, dump.size(), out);
      std::fclose(out);
    }
    EXPECT_EQ(0, test::RunClientFile(ServerB(), restore));
    return dump;
  }

  static void ExpectSameTable(const std::string& db, const std::string& table) {
    SCOPED_TRACE(db + "." + table);
    const std::string original = test::Checksum(ServerA(), db, table);
    ASSERT_NE("NULL", original);
    EXPECT_EQ(original, test::Checksum(ServerB(), db, table));
  }

  test::TempDir m_dir;
  std::vector<std::string> m_databases;
};

TEST_F(ExactDataTest, APortMeansTcpAndASlashMeansASocket) {
  CServerInfo viaLocalhost = test::AsServerInfo(ServerB());
  viaLocalhost.Host = "localhost";
  const std::string identityB = Identity(test::AsServerInfo(ServerB()));
  EXPECT_EQ(identityB, Identity(viaLocalhost));
  EXPECT_NE(identityB, Identity(test::AsServerInfo(ServerA())));

  const std::string socket = ServerA().basedir + "/mariadbd.sock";
  if (std::filesystem::exists(socket)) {
    CServerInfo viaSocket = test::AsServerInfo(ServerA());
    viaSocket.Host = socket;
    viaSocket.Port = 1;  // not used
    EXPECT_EQ(Identity(test::AsServerInfo(ServerA())), Identity(viaSocket));
  }
}

TEST_F(ExactDataTest, ACopyOntoItsOwnSourceIsRefusedAndTouchesNothing) {
  const std::string db = Database("same");
  test::RunClient(ServerA(),
                  "CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t VALUES (1),(2);"
                  "CREATE VIEW v AS SELECT id FROM t;",
                  db);
  CTaskItem task = CopyTask(db, {"t"});
  task.BackupDatabases[0].Tables.push_back({1, 2, db, "v"});
  task.BackupSettings.LockTablesBeforeStart = 0;
  task.DestinationServer.Host = "localhost";
  task.DestinationServer.Port = ServerA().port;
  test::RecordingRunContext context(task);
  EXPECT_EQ(RunOutcome::Failed, ServerCopyWorker(context)) << context.Dump();
  ASSERT_EQ(1u, context.Errors().size()) << context.Dump();
  EXPECT_EQ("The destination database can't same as the source database! - " + db,
            context.Errors()[0]);
  EXPECT_EQ("2\n", test::RunClient(ServerA(), "SELECT COUNT(*) FROM v;", db));

  // Into another database of the same server is a copy like any other.
  const std::string other = "e10_same_other";
  m_databases.push_back(other);
  task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToDatabase);
  task.BackupSettings.DestinationDatabase = other;
  task.BackupSettings.AddCreateDatabase = 1;
  test::RecordingRunContext into(task);
  test::RunClient(ServerA(), "CREATE DATABASE IF NOT EXISTS " + other + ";");
  EXPECT_EQ(RunOutcome::Finished, ServerCopyWorker(into)) << into.Dump();
  EXPECT_TRUE(into.Errors().empty()) << into.Dump();
  EXPECT_EQ("2\n", test::RunClient(ServerA(), "SELECT COUNT(*) FROM t;", other));
}

TEST_F(ExactDataTest, UseSslSendsNoLoginToAServerWithoutTls) {
  const std::string portFile = m_dir.file("port");
  const std::string resultFile = m_dir.file("result");
  std::thread server([&] {
    const std::string command = "python3 '" + std::string(BREVANTO_TEST_DATA_DIR) +
                                "/no_tls_server.py' '" + portFile + "' '" + resultFile + "'";
    (void)std::system(command.c_str());
  });
  // Waits for readiness, not for time: the script writes the file once it listens.
  while (!std::filesystem::exists(portFile) && !std::filesystem::exists(resultFile)) {
    usleep(10000);
  }
  CServerInfo fake = test::AsServerInfo(ServerA());
  fake.Port = static_cast<std::uint16_t>(std::stoul(test::ReadWholeFile(portFile)));
  fake.UseSSL = 1;
  CMySQLConnection connection;
  MySqlError error;
  EXPECT_FALSE(ConnectServer(fake, connection, error));
  EXPECT_NE(0u, error.Number);
  connection.Close();
  server.join();
  EXPECT_EQ("0 False", test::ReadWholeFile(resultFile));
}

TEST_F(ExactDataTest, EveryCharacterSetSurvivesCopiesAndStockClientRestores) {
  struct Data {
    const char* charset;
    // "café ÿ Ü", 4-byte characters, Cyrillic, sjis with 0x5C trail bytes and a quote (a
    // lone sjis backslash is left out: the server itself maps it back as U+FF3C).
    const char* hex;
  };
  const Data data[] = {{"latin1", "636166E920FF20DC"},
                       {"utf8mb4", "F09F9880206361C3A920F0A0808B"},
                       {"cp1251", "CFF0E8E2E5F2"},
                       {"sjis", "955C8EA6835C27"}};
  for (const int setCharset : {1, 0}) {
    for (const int setNames : {1, 0}) {
      for (const Data& d : data) {
        SCOPED_TRACE(std::string(d.charset) + " set charset " + std::to_string(setCharset) +
                     " SET NAMES " + std::to_string(setNames));
        const std::string db = Database(std::string("cs_") + d.charset, d.charset);
        test::RunClient(ServerA(),
                        std::string("CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(40)); "
                                    "INSERT INTO t VALUES (1, _") +
                            d.charset + " 0x" + d.hex + "), (2, _" + d.charset + " 0x" + d.hex +
                            d.hex + ");",
                        db);
        CTaskItem copy = CopyTask(db, {"t"});
        copy.BackupSettings.SetConnectionCharset = setCharset;
        copy.BackupSettings.AddSetNames = setNames;
        test::RecordingRunContext context(copy);
        EXPECT_EQ(RunOutcome::Finished, ServerCopyWorker(context)) << context.Dump();
        ExpectSameTable(db, "t");

        test::RunClient(ServerB(), "DROP DATABASE `" + db + "`;");
        CTaskItem dump = DumpTask(db, {"t"});
        dump.BackupSettings.SetConnectionCharset = setCharset;
        dump.BackupSettings.AddSetNames = setNames;
        DumpAndRestore(dump);
        ExpectSameTable(db, "t");
      }
    }
  }
}

// Values are escaped byte by byte where that is safe; wherever it is not (character sets
// with backslash trail bytes, NO_BACKSLASH_ESCAPES) the library's escaping must be used.
TEST_F(ExactDataTest, RowEscapingMatchesTheClientLibraryOnEveryConnection) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  for (int lead = 0x81; lead <= 0xFE; lead += 5) {
    for (const char trail : {'\\', '\'', '"', '\0'}) bytes += {static_cast<char>(lead), trail};
  }
  CMySQLConnection connection;
  MySqlError error;
  ASSERT_TRUE(ConnectServer(test::AsServerInfo(ServerA()), connection, error)) << error.Text;
  MYSQL* handle = connection.Handle();
  for (const char* mode : {"", "NO_BACKSLASH_ESCAPES"}) {
    ASSERT_TRUE(connection.Execute(std::string("SET sql_mode='") + mode + "'"));
    for (const char* charset : {"utf8mb4", "utf8mb3", "latin1", "sjis", "gbk", "big5"}) {
      ASSERT_EQ(0, mysql_set_character_set(handle, charset)) << charset;
      std::string expected(2 * bytes.size() + 1, '\0');
      expected.resize(mysql_real_escape_string(handle, expected.data(), bytes.data(),
                                               static_cast<unsigned long>(bytes.size())));
      MYSQL_FIELD field{};
      field.type = MYSQL_TYPE_BLOB;
      char* row[] = {bytes.data()};
      const unsigned long lengths[] = {static_cast<unsigned long>(bytes.size())};
      EXPECT_EQ("('" + expected + "')", RenderRow(row, lengths, &field, 1, handle))
          << charset << " " << mode;
    }
  }
}

TEST_F(ExactDataTest, TimestampsStayTheSameInstantAcrossTimeZones) {
  const std::string db = Database("zones");
  test::RunClient(ServerA(),
                  "SET time_zone='+00:00'; CREATE TABLE t (id INT PRIMARY KEY, ts TIMESTAMP(6) "
                  "NULL); INSERT INTO t VALUES (1, '2038-01-19 03:14:07.999999'), "
                  "(2, '1970-01-01 00:00:01'), (3, '2021-03-28 01:30:00'), (4, NULL);",
                  db);
  const GlobalSetting zoneA(ServerA(), "time_zone", "'+05:00'");
  const GlobalSetting zoneB(ServerB(), "time_zone", "'-03:00'");
  const std::string instants = "SELECT id, UNIX_TIMESTAMP(ts) FROM t ORDER BY id;";
  const std::string expected = test::RunClient(ServerA(), instants, db);

  test::RecordingRunContext context(CopyTask(db, {"t"}));
  EXPECT_EQ(RunOutcome::Finished, ServerCopyWorker(context)) << context.Dump();
  EXPECT_EQ(expected, test::RunClient(ServerB(), instants, db));

  test::RunClient(ServerB(), "DROP DATABASE `" + db + "`;");
  const std::string dump = DumpAndRestore(DumpTask(db, {"t"}), "SET time_zone='+09:00';\n");
  EXPECT_EQ(expected, test::RunClient(ServerB(), instants, db));
  // The restoring session gets its own zone back at the end.
  EXPECT_NE(std::string::npos, dump.find("/*!40103 SET TIME_ZONE=@OLD_TIME_ZONE */;"));

}

// A server whose global SQL mode changes how text is quoted: the sessions that read and
// write must not inherit it, or backslashes become escapes, blobs lose bytes and names
// come in double quotes the stock client cannot read.
TEST_F(ExactDataTest, AGlobalModeThatChangesQuotingReachesNoDumpCopyOrExport) {
  const std::string db = Database("sqlmode");
  std::string everyByte;
  for (int b = 0; b < 256; ++b) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b);
    everyByte += hex;
  }
  test::RunClient(ServerA(),
                  "CREATE TABLE t (id INT PRIMARY KEY, path VARCHAR(40), b LONGBLOB);"
                  "INSERT INTO t VALUES (1, 'C:\\\\temp\\\\new', NULL),"
                  " (2, 'it''s \"quoted\" \\\\', 0x5C27), (3, NULL, REPEAT(UNHEX('" +
                      everyByte +
                      "'), 2048));"
                      "CREATE TABLE u (id INT PRIMARY KEY, note TEXT);"
                      "INSERT INTO u VALUES (1, 'tab\\\\there');"
                      "CREATE VIEW v AS SELECT id, path FROM t WHERE path LIKE '%\\\\\\\\%';",
                  db);
  const std::string viewRows = "SELECT id, HEX(path) FROM v ORDER BY id;";
  const std::string expectedView = test::RunClient(ServerA(), viewRows, db);
  ASSERT_EQ(2u, std::count(expectedView.begin(), expectedView.end(), '\n'));
  const auto expectSameOnB = [&] {
    for (const char* table : {"t", "u"}) ExpectSameTable(db, table);
    EXPECT_EQ(expectedView, test::RunClient(ServerB(), viewRows, db));
  };
  CTaskItem exportTask;
  exportTask.TaskType = static_cast<std::uint8_t>(TaskType::ExportToFiles);
  exportTask.SourceServer = test::AsServerInfo(ServerA());
  exportTask.ExportTables = {{1, 1, db, "t"}, {1, 1, db, "u"}};
  ExportSettings& csv = exportTask.ExportSettings;
  csv.Format = 1;
  csv.Folder = m_dir.file("export/");
  csv.FieldsTerminatedBy = ",";
  csv.FieldsEnclosedBy = "\"";
  csv.FieldsEscapedBy = "\\";
  csv.LinesTerminatedBy = "\r\n";
  const auto exported = [&] {
    test::FakeRunContext context(exportTask);
    EXPECT_EQ(RunOutcome::Finished, ExportWorker(context, m_dir.path())) << context.AllText();
    return test::ReadWholeFile(m_dir.file("export/" + db + "_t.csv")) +
           test::ReadWholeFile(m_dir.file("export/" + db + "_u.csv"));
  };
  const std::string plainExport = exported();
  ASSERT_NE(std::string::npos, plainExport.find("C:\\\\temp\\\\new")) << plainExport;

  for (const char* mode : {"'NO_BACKSLASH_ESCAPES'", "'NO_BACKSLASH_ESCAPES,ANSI_QUOTES'"}) {
    SCOPED_TRACE(mode);
    {
      const GlobalSetting sourceMode(ServerA(), "sql_mode", mode);
      (void)DumpAndRestore(DumpTask(db, {"t", "u", "v"}));
      EXPECT_EQ(plainExport, exported());
    }
    expectSameOnB();

    test::RunClient(ServerB(), "DROP DATABASE `" + db + "`;");
    {
      const GlobalSetting sourceMode(ServerA(), "sql_mode", mode);
      const GlobalSetting destinationMode(ServerB(), "sql_mode", mode);
      CTaskItem copy = CopyTask(db, {"t", "u"});
      copy.BackupDatabases[0].Tables.push_back({1, 2, db, "v"});
      CAdvancedOptions twoLanes;
      twoLanes.Threads = 2;
      SetAdvancedOptions(copy, twoLanes);
      test::FakeRunContext context(copy);
      EXPECT_EQ(RunOutcome::Finished, ServerCopyWorker(context)) << context.AllText();
      EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
    }
    expectSameOnB();
    test::RunClient(ServerB(), "DROP DATABASE `" + db + "`;");
  }
}

TEST_F(ExactDataTest, LargeRowsFitTheDefaultPacketAndAnOversizedRowIsOneClearError) {
  const std::string db = Database("big");
  test::RunClient(ServerA(),
                  "CREATE TABLE big (id INT PRIMARY KEY, b LONGBLOB);"
                  "INSERT INTO big SELECT seq, REPEAT(CHAR(65 + seq), 2097152) FROM seq_1_to_12;",
                  db);
  // The server's default packet: 12 rows of 2 MB in one statement would not fit.
  std::optional<GlobalSetting> packet;
  packet.emplace(ServerB(), "max_allowed_packet", "16777216");
  CTaskItem copy = CopyTask(db, {"big"});
  copy.BackupSettings.MultipleRowInsert = 1;
  test::RecordingRunContext context(copy);
  EXPECT_EQ(RunOutcome::Finished, ServerCopyWorker(context)) << context.Dump();
  EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  ExpectSameTable(db, "big");

  test::RunClient(ServerB(), "DROP DATABASE `" + db + "`;");
  CTaskItem dump = DumpTask(db, {"big"});
  dump.BackupSettings.MultipleRowInsert = 1;
  const std::string text = DumpAndRestore(dump);
  ExpectSameTable(db, "big");
  // Small rows still share statements: ten to an INSERT.
  test::RunClient(ServerA(), "CREATE TABLE small (id INT PRIMARY KEY); INSERT INTO small "
                             "SELECT seq FROM seq_1_to_25;", db);
  CTaskItem smallDump = DumpTask(db, {"small"});
  smallDump.BackupSettings.MultipleRowInsert = 1;
  const std::string smallText = DumpAndRestore(smallDump);
  EXPECT_NE(std::string::npos, smallText.find("(1),(2),(3),(4),(5),(6),(7),(8),(9),(10);"));
  EXPECT_NE(std::string::npos, smallText.find("(21),(22),(23),(24),(25);"));

  packet.reset();
  packet.emplace(ServerB(), "max_allowed_packet", "1048576");
  test::RunClient(ServerB(), "DROP DATABASE `" + db + "`;");
  for (const int multiRow : {0, 1}) {
    copy.BackupSettings.MultipleRowInsert = multiRow;
    test::RecordingRunContext tooLarge(copy);
    (void)ServerCopyWorker(tooLarge);
    ASSERT_EQ(1u, tooLarge.Errors().size()) << tooLarge.Dump();
    const std::string error = tooLarge.Errors()[0];
    EXPECT_NE(std::string::npos, error.find("big")) << error;
    EXPECT_NE(std::string::npos, error.find("1048576")) << error;
    EXPECT_NE(std::string::npos, error.find("20971")) << error;
  }
}

TEST_F(ExactDataTest, ViewsWithOddNamesAreCopied) {
  const std::string db = Database("views");
  const std::vector<std::string> views = {"my view", "a-b", "a.b", "select"};
  std::string sql = "CREATE TABLE base (id INT); INSERT INTO base VALUES (1),(2),(3);";
  for (const std::string& v : views) sql += "CREATE VIEW `" + v + "` AS SELECT id FROM base;";
  test::RunClient(ServerA(), sql, db);
  CTaskItem task = CopyTask(db, {"base"});
  for (const std::string& v : views) task.BackupDatabases[0].Tables.push_back({1, 2, db, v});
  test::RecordingRunContext context(task);
  EXPECT_EQ(RunOutcome::Finished, ServerCopyWorker(context)) << context.Dump();
  EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  for (const std::string& v : views) {
    SCOPED_TRACE(v);
    EXPECT_EQ("VIEW\n", test::RunClient(ServerB(), "SELECT TABLE_TYPE FROM information_schema."
                                                   "TABLES WHERE TABLE_SCHEMA='" + db +
                                                   "' AND TABLE_NAME='" + v + "';"));
    EXPECT_EQ("6\n", test::RunClient(ServerB(), "SELECT SUM(id) FROM `" + v + "`;", db));
  }
}

TEST_F(ExactDataTest, NamesInAnyCharacterSetAreListedAndBackedUp) {
  const std::string db = Database("names", "latin1");
  const std::vector<std::string> tables = {"tablé_ünï_Ж", "таблица"};
  for (const std::string& t : tables) {
    test::RunClient(ServerA(), "CREATE TABLE `" + t + "` (id INT, s VARCHAR(10)); INSERT INTO `" +
                                   t + "` VALUES (1, _latin1 0xE9FF);", db);
  }
  {
    CMySQLConnection connection;
    MySqlError error;
    ASSERT_TRUE(ConnectServer(test::AsServerInfo(ServerA()), connection, error));
    ASSERT_TRUE(SelectDatabase(connection, db));
    EXPECT_EQ("latin1", ApplyDefaultCharset(connection, true, connection.ServerVersion()));
    std::vector<TableItem> listed;
    ListDatabaseTables(connection, db, connection.ServerVersion(), listed);
    ASSERT_EQ(2u, listed.size());
    for (const TableItem& item : listed) {
      EXPECT_TRUE(item.TableName == tables[0] || item.TableName == tables[1]) << item.TableName;
      EXPECT_EQ(1, item.Kind) << item.TableName;
    }
  }
  DumpAndRestore(DumpTask(db));
  for (const std::string& t : tables) ExpectSameTable(db, t);

  test::RunClient(ServerB(), "DROP DATABASE `" + db + "`;");
  test::RecordingRunContext context(CopyTask(db));
  EXPECT_EQ(RunOutcome::Finished, ServerCopyWorker(context)) << context.Dump();
  EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  for (const std::string& t : tables) ExpectSameTable(db, t);
}

// The stock client replays a per-table set one file after another in name order: a view
// whose file sorts before the tables it reads (or the view it reads) must still come back,
// whatever order the task selects them in and however many files are written at a time.
TEST_F(ExactDataTest, APerTableSetReplaysInNameOrderThroughTheStockClient) {
  const std::string db = Database("nameorder");
  test::RunClient(ServerA(),
                  "CREATE TABLE mid (id INT); INSERT INTO mid VALUES (1),(2),(3);"
                  "CREATE TABLE zeta (id INT); INSERT INTO zeta VALUES (2),(3);"
                  "CREATE VIEW alpha AS SELECT mid.id FROM mid JOIN zeta USING (id);"
                  "CREATE VIEW beta AS SELECT id FROM alpha WHERE id > 2;",
                  db);
  const std::vector<std::pair<std::string, std::uint8_t>> selected = {
      {"alpha", 2}, {"beta", 2}, {"mid", 1}, {"zeta", 1}};
  for (const bool reversed : {false, true}) {
    for (const int threads : {1, 2}) {
      SCOPED_TRACE(std::string(reversed ? "reversed" : "in name order") + ", threads " +
                   std::to_string(threads));
      CTaskItem dump = DumpTask(db, {});
      dump.BackupSettings.IncludeNewTables = 0;
      for (std::size_t i = 0; i < selected.size(); ++i) {
        const auto& [name, kind] = selected[reversed ? selected.size() - 1 - i : i];
        dump.BackupDatabases[0].Tables.push_back({1, kind, db, name});
      }
      dump.BackupSettings.FileMode = 2;
      dump.BackupSettings.FileGrouping = 3;
      dump.BackupSettings.FileNameFormat = "%DATABASE%_%TABLE%";
      dump.BackupSettings.BackupFolder =
          m_dir.file("set" + std::to_string(reversed) + std::to_string(threads) + "/");
      CAdvancedOptions advanced;
      advanced.Threads = threads;
      SetAdvancedOptions(dump, advanced);
      test::FakeRunContext context(dump);
      ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
      std::vector<std::string> files = context.copies.at(0).CopyFiles;
      ASSERT_EQ(4u, files.size());
      std::sort(files.begin(), files.end());
      const auto expectViewsOnB = [&] {
        EXPECT_EQ("VIEW\nVIEW\nBASE TABLE\nBASE TABLE\n",
                  test::RunClient(ServerB(),
                                  "SELECT TABLE_TYPE FROM information_schema.TABLES "
                                  "WHERE TABLE_SCHEMA='" +
                                      db + "' ORDER BY TABLE_NAME;"));
        EXPECT_EQ("3\n", test::RunClient(ServerB(), "SELECT GROUP_CONCAT(id) FROM beta;", db));
        ExpectSameTable(db, "mid");
      };
      test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + db + "`;");
      for (const std::string& file : files)
        ASSERT_EQ(0, test::RunClientFile(ServerB(), file)) << file;
      expectViewsOnB();

      // Our restore takes them in any order: here the views' file comes first, and a
      // placeholder after the view it stands for.
      CTaskItem restore;
      restore.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
      restore.DestinationServer = test::AsServerInfo(ServerB());
      for (auto file = files.rbegin(); file != files.rend(); ++file) {
        restore.RestoreFiles.push_back({0, *file, *file, 0, {}});
      }
      SetAdvancedOptions(restore, advanced);
      test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + db + "`;");
      test::FakeRunContext restoring(restore);
      EXPECT_EQ(RunOutcome::Finished, RestoreFilesWorker(restoring)) << restoring.AllText();
      EXPECT_TRUE(restoring.Texts(LogLevel::Error).empty()) << restoring.AllText();
      expectViewsOnB();
    }
  }
}

TEST_F(ExactDataTest, APerTableSetRestoredInNameOrderKeepsItsViews) {
  const std::string db = Database("pertable");
  // Both views sort before the tables they read; one reads the other view.
  test::RunClient(ServerA(),
                  "CREATE TABLE zeta (id INT); INSERT INTO zeta VALUES (1),(2);"
                  "CREATE VIEW alpha AS SELECT id FROM zeta; CREATE VIEW beta AS SELECT id "
                  "FROM alpha WHERE id > 1;",
                  db);
  CTaskItem dump = DumpTask(db, {"zeta"});
  dump.BackupDatabases[0].Tables.push_back({1, 2, db, "alpha"});
  dump.BackupDatabases[0].Tables.push_back({1, 2, db, "beta"});
  dump.BackupSettings.FileMode = 2;
  dump.BackupSettings.FileGrouping = 3;
  dump.BackupSettings.FileNameFormat = "%TABLE%";
  dump.BackupSettings.BackupFolder = m_dir.file("set/");
  test::FakeRunContext context(dump);
  ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
  std::vector<std::string> files = context.copies.at(0).CopyFiles;
  std::sort(files.begin(), files.end());
  ASSERT_EQ(3u, files.size());

  CTaskItem restore;
  restore.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
  restore.DestinationServer = test::AsServerInfo(ServerB());
  for (const std::string& file : files) {
    restore.RestoreFiles.push_back({0, file.substr(file.rfind('/') + 1), file, 0, {}});
  }
  test::RecordingRunContext restoring(restore);
  EXPECT_EQ(RunOutcome::Finished, RestoreFilesWorker(restoring)) << restoring.Dump();
  EXPECT_TRUE(restoring.Errors().empty()) << restoring.Dump();
  EXPECT_EQ("VIEW\nVIEW\nBASE TABLE\n",
            test::RunClient(ServerB(), "SELECT TABLE_TYPE FROM information_schema.TABLES WHERE "
                                       "TABLE_SCHEMA='" + db + "' ORDER BY TABLE_NAME;"));
  EXPECT_EQ("2\n", test::RunClient(ServerB(), "SELECT SUM(id) FROM beta;", db));
}

}  // namespace
}  // namespace brevanto
