// Connecting (plain, compressed, TLS), classifying, listing and resolving a selection
// against the test servers, and the definitions synthesized for servers without
// SHOW CREATE TABLE.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/AtomicFile.h"
#include "engines/MySqlConnection.h"
#include "engines/TableDefinition.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::ServerA;

class MySqlConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(ServerA());
    m_db = "e1_conn_" + std::to_string(getpid());
    m_newDb = m_db + "_new";
    test::RunClient(ServerA(), "DROP DATABASE IF EXISTS `" + m_db + "`; DROP DATABASE IF EXISTS `" +
                                   m_newDb + "`; CREATE DATABASE `" + m_db + "`;");
    test::RunClient(ServerA(),
                    "CREATE TABLE t1 (id INT(10) UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY, "
                    "n VARCHAR(20) DEFAULT 'x', e ENUM('a','B') NOT NULL, s set('p','Q'), "
                    "d DATE DEFAULT '2006-01-02', b BIT(5), z SMALLINT(4) UNSIGNED ZEROFILL) "
                    "ENGINE=MyISAM;"
                    "CREATE TABLE t2 (a INT); CREATE VIEW v1 AS SELECT a FROM t2;",
                    m_db);
    ASSERT_TRUE(Connect(test::AsServerInfo(ServerA())));
  }
  void TearDown() override {
    m_connection.Close();
    if (!m_db.empty() && test::IsReachable(ServerA())) {
      test::RunClient(ServerA(), "DROP DATABASE IF EXISTS `" + m_db +
                                     "`; DROP DATABASE IF EXISTS `" + m_newDb + "`;");
    }
  }

  bool Connect(const CServerInfo& server) {
    MySqlError error;
    return ConnectServer(server, m_connection, error);
  }
  void UseDatabase() { ASSERT_EQ(0, mysql_select_db(m_connection.Handle(), m_db.c_str())); }

  std::string m_db, m_newDb;
  CMySQLConnection m_connection;
};

// A server saved without a password logs in as the stock client would: with what the
// user's ~/.my.cnf says in [client], overridden by [client-mariadb].
TEST(MySqlConnectionFlagsTest, AServerWithoutAPasswordTakesTheLoginFromTheOptionFile) {
  BREVANTO_REQUIRE_SERVER(ServerA());
  const CServerInfo saved = test::AsServerInfo(ServerA());
  ASSERT_FALSE(saved.Password.empty());
  test::TempDir home;
  const char* oldHome = std::getenv("HOME");
  const std::string keptHome = oldHome != nullptr ? oldHome : "";
  ::setenv("HOME", home.path().c_str(), 1);
  const struct {
    const char* name;
    std::string file;  // "" for none
    std::string user;  // the entry's
    bool connects;
  } cases[] = {
      {"no option file", "", "root", false},
      {"[client]", "[client]\npassword=" + saved.Password + "\n", "root", true},
      {"[client-mariadb] over [client]",
       "[client]\npassword=wrong\n[client-mariadb]\npassword=\"" + saved.Password + "\"\n", "root",
       true},
      {"user from the file", "[client]\nuser=root\npassword=" + saved.Password + "\n", "", true},
      {"other groups are not read", "[mysqldump]\npassword=" + saved.Password + "\n", "root", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove((home.path() + ".my.cnf").c_str());
    if (!c.file.empty()) {
      ASSERT_TRUE(WriteFileAtomically(home.path() + ".my.cnf", c.file).ok());
    }
    CServerInfo server = saved;
    server.Password.clear();
    server.UserName = c.user;
    CMySQLConnection connection;
    MySqlError error;
    EXPECT_EQ(c.connects, ConnectServer(server, connection, error)) << error.Text;
  }
  // A saved password wins over the file.
  ASSERT_TRUE(WriteFileAtomically(home.path() + ".my.cnf", "[client]\npassword=wrong\n").ok());
  CMySQLConnection connection;
  MySqlError error;
  EXPECT_TRUE(ConnectServer(saved, connection, error)) << error.Text;

  // The entry's own option file stands in for ~/.my.cnf (which says "wrong" here); one
  // that cannot be read, or a relative path, is refused rather than tried without.
  const std::string own = home.path() + "server.cnf";
  ASSERT_TRUE(WriteFileAtomically(own, "[client]\npassword=" + saved.Password + "\n").ok());
  CServerInfo withFile = saved;
  withFile.Password.clear();
  withFile.DefaultsFile = own;
  CMySQLConnection viaOwn;
  EXPECT_TRUE(ConnectServer(withFile, viaOwn, error)) << error.Text;
  for (const std::string bad : {home.path() + "missing.cnf", std::string("server.cnf")}) {
    SCOPED_TRACE(bad);
    withFile.DefaultsFile = bad;
    CMySQLConnection refused;
    EXPECT_FALSE(ConnectServer(withFile, refused, error));
    EXPECT_NE(error.Text.find("The option file \"" + bad + "\" cannot be read"), std::string::npos)
        << error.Text;
  }
  ::setenv("HOME", keptHome.c_str(), 1);
}

TEST(MySqlConnectionFlagsTest, SslIsEncryptedOrRefused) {
  BREVANTO_REQUIRE_SERVER(test::ServerTls());
  struct Case {
    const char* name;
    const test::TestServerInfo& server;
    std::uint8_t ssl, compression;
    bool connects, encrypted;
  };
  const Case cases[] = {
      {"TLS server, SSL on", test::ServerTls(), 1, 0, true, true},
      {"TLS server, SSL and compression on", test::ServerTls(), 1, 1, true, true},
      {"TLS server, SSL off", test::ServerTls(), 0, 0, true, false},
      {"plain server, compression on", ServerA(), 0, 1, true, false},
      // The user asked for encryption: a server without TLS must not get the data in clear.
      {"plain server, SSL on", ServerA(), 1, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CServerInfo server = test::AsServerInfo(c.server);
    server.UseSSL = c.ssl;
    // The test CA is in no system store: its certificate is verified against it.
    if (&c.server == &test::ServerTls()) server.SslCaFile = test::TlsCaFile();
    server.UseCompression = c.compression;
    CMySQLConnection connection;
    MySqlError error;
    ASSERT_EQ(c.connects, ConnectServer(server, connection, error)) << error.Text;
    EXPECT_EQ(c.connects, connection.IsOpen());
    if (!c.connects) {
      EXPECT_EQ(2026u, error.Number);
      EXPECT_NE(std::string::npos, error.Text.find("SSL")) << error.Text;
      continue;
    }
    EXPECT_EQ(c.encrypted, mysql_get_ssl_cipher(connection.Handle()) != nullptr);
    EXPECT_GE(connection.ServerVersion(), 100000u);
    EXPECT_EQ(0u, connection.ServerVersionText().find("10."));
    // The server agrees about compression.
    ASSERT_TRUE(connection.Execute("SHOW SESSION STATUS LIKE 'Compression'"));
    MySqlResult result(mysql_store_result(connection.Handle()));
    MYSQL_ROW row = mysql_fetch_row(result.get());
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(c.compression ? "ON" : "OFF", std::string(row[1]));
  }
}

TEST_F(MySqlConnectionTest, AppliesAndTrimsTheDefaultCharacterSet) {
  const unsigned long version = m_connection.ServerVersion();
  EXPECT_EQ("utf8mb4", ApplyDefaultCharset(m_connection, false, version));
  test::RunClient(ServerA(), "ALTER DATABASE `" + m_db + "` CHARACTER SET latin1;");
  UseDatabase();
  EXPECT_EQ("latin1", ApplyDefaultCharset(m_connection, true, version));
  ASSERT_TRUE(m_connection.Execute("SELECT @@character_set_client, @@character_set_results"));
  MySqlResult result(mysql_store_result(m_connection.Handle()));
  MYSQL_ROW row = mysql_fetch_row(result.get());
  EXPECT_EQ("latin1", std::string(row[0]));
  EXPECT_EQ("latin1", std::string(row[1]));
}

TEST_F(MySqlConnectionTest, ClassifiesAndListsTablesAndViews) {
  UseDatabase();
  EXPECT_EQ(1, ClassifyTable(m_connection, "t1", true));
  EXPECT_EQ(2, ClassifyTable(m_connection, "v1", true));
  EXPECT_EQ(0, ClassifyTable(m_connection, "missing", true));
  std::vector<TableItem> tables;
  ListDatabaseTables(m_connection, m_db, m_connection.ServerVersion(), tables);
  const std::vector<TableItem> expected = {
      {0, 1, m_db, "t1"}, {0, 1, m_db, "t2"}, {0, 2, m_db, "v1"}};
  EXPECT_EQ(expected, tables);
  const std::vector<std::string> databases = ListDatabases(m_connection);
  EXPECT_NE(databases.end(), std::find(databases.begin(), databases.end(), m_db));
  EXPECT_NE(databases.end(), std::find(databases.begin(), databases.end(), "mysql"));
}

TEST_F(MySqlConnectionTest, ResolvesNewDatabasesAndTablesAsAsked) {
  test::RunClient(ServerA(),
                  "CREATE DATABASE `" + m_newDb + "`; CREATE TABLE `" + m_newDb + "`.n1 (a INT);");
  const std::vector<DatabaseItem> saved = {{1, m_db, {{1, 1, m_db, "t1"}}}};
  const DatabaseItem savedWithNewTables = {
      1, m_db, {{1, 1, m_db, "t1"}, {2, 1, m_db, "t2"}, {2, 2, m_db, "v1"}}};
  const DatabaseItem newDatabase = {2, m_newDb, {{2, 1, m_newDb, "n1"}}};
  struct Case {
    const char* name;
    std::uint8_t newDatabases, newTables;
    std::vector<DatabaseItem> expected;
  };
  const Case cases[] = {
      {"neither", 0, 0, saved},
      {"new databases only", 1, 0, {saved[0], newDatabase}},
      {"new tables only", 0, 1, {savedWithNewTables}},
      {"both", 1, 1, {savedWithNewTables, newDatabase}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BackupSettings settings;
    settings.IncludeNewDatabases = c.newDatabases;
    settings.IncludeNewTables = c.newTables;
    std::vector<DatabaseItem> resolved = ResolveSelection(m_connection, settings, saved, true);
    // Other engineers' databases come and go on the shared server: look only at ours.
    std::erase_if(resolved, [&](const DatabaseItem& d) {
      return d.DatabaseName != m_db && d.DatabaseName != m_newDb;
    });
    EXPECT_EQ(c.expected, resolved);
  }
}

TEST_F(MySqlConnectionTest, SynthesizesDefinitionsForOldServers) {
  UseDatabase();
  MySqlResult fields(mysql_list_fields(m_connection.Handle(), "t1", nullptr));
  ASSERT_TRUE(fields);
  const std::string quoted =
      SynthesizeCreateTable(&m_connection, "t1", "MyISAM", mysql_fetch_fields(fields.get()),
                            mysql_num_fields(fields.get()), true);
  EXPECT_EQ(
      "CREATE TABLE IF NOT EXISTS `t1`(`id` INT(10) UNSIGNED NOT NULL AUTO_INCREMENT, "
      "`n` VARCHAR(20) NULL DEFAULT 'x', `e` ENUM('a','B') NOT NULL DEFAULT 'a', "
      "`s` SET('p','Q') NULL, `d` DATE NULL DEFAULT '2006-01-02', `b` BIT(5) NULL, "
      "`z` SMALLINT(4) UNSIGNED ZEROFILL NULL, "
      "PRIMARY KEY (`id`))TYPE=MyISAM",
      quoted);
  // The old-server form restores: run it (TYPE= became ENGINE= long ago).
  std::string runnable = quoted;
  runnable.replace(runnable.find("`t1`"), 4, "`t1_copy`");
  runnable.replace(runnable.find(")TYPE="), 6, ")ENGINE=");
  EXPECT_TRUE(m_connection.Execute(runnable)) << m_connection.LastError().Text;

  // A column's declared type is its own even when its name holds LIKE wildcards or a
  // quote.
  test::RunClient(ServerA(), "CREATE TABLE t3 (axb VARCHAR(5), a_b VARCHAR(9), `o'k` CHAR(3))",
                  m_db);
  MySqlResult oddFields(mysql_list_fields(m_connection.Handle(), "t3", nullptr));
  ASSERT_TRUE(oddFields);
  EXPECT_EQ(
      "CREATE TABLE IF NOT EXISTS `t3`(`axb` VARCHAR(5) NULL, `a_b` VARCHAR(9) NULL, "
      "`o'k` CHAR(3) NULL)TYPE=MyISAM",
      SynthesizeCreateTable(&m_connection, "t3", "MyISAM", mysql_fetch_fields(oddFields.get()),
                            mysql_num_fields(oddFields.get()), true));

  std::string read;
  ASSERT_TRUE(GetTableDefinition(m_connection, "t2", "", nullptr, 0, true, true, read));
  EXPECT_EQ(
      "CREATE TABLE IF NOT EXISTS `t2` (  `a` int(11) DEFAULT NULL) ENGINE=InnoDB "
      "DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci",
      read);
  ASSERT_TRUE(ReadCreateTable(m_connection, "v1", read));
  EXPECT_EQ(0u, read.find("CREATE ALGORITHM=UNDEFINED")) << read;
  EXPECT_FALSE(ReadCreateTable(m_connection, "missing", read));
}

}  // namespace
}  // namespace brevanto
