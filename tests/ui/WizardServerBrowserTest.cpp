// What the wizard's pages read from a real server: the catalogue with tables and views
// told apart, one database's tables, and the failures the pages report.

#include <gtest/gtest.h>

#include "tests/support/TestServer.h"
#include "ui/wizard/ServerBrowser.h"

namespace brevanto::wizard {
namespace {

TEST(WizardServerBrowserTest, ListsDatabasesWithTablesAndViews) {
  BREVANTO_REQUIRE_SERVER(test::ServerA());
  test::RunClient(test::ServerA(),
                  "DROP DATABASE IF EXISTS wizard_browse; CREATE DATABASE wizard_browse;"
                  "CREATE TABLE wizard_browse.`odd name` (id INT);"
                  "CREATE VIEW wizard_browse.v AS SELECT id FROM wizard_browse.`odd name`;");
  ServerBrowser browser;
  const CServerInfo server = test::AsServerInfo(test::ServerA());

  std::vector<DatabaseItem> databases;
  MySqlError error;
  ASSERT_TRUE(browser.LoadCatalogue(server, databases, error)) << error.Text;
  const DatabaseItem* found = nullptr;
  for (const DatabaseItem& d : databases) {
    if (d.DatabaseName == "wizard_browse") found = &d;
  }
  ASSERT_NE(found, nullptr);
  ASSERT_EQ(found->Tables.size(), 2u);
  EXPECT_EQ(found->Tables[0].TableName, "odd name");
  EXPECT_EQ(found->Tables[0].Kind, 1);
  EXPECT_EQ(found->Tables[1].TableName, "v");
  EXPECT_EQ(found->Tables[1].Kind, 2);

  std::vector<TableItem> tables;
  bool useFailed = true;
  ASSERT_TRUE(browser.LoadTables(server, "wizard_browse", tables, error, useFailed));
  EXPECT_EQ(tables.size(), 2u);
  EXPECT_FALSE(browser.LoadTables(server, "wizard_no_such_db", tables, error, useFailed));
  EXPECT_TRUE(useFailed);
  EXPECT_EQ(error.Number, 1049u);
  test::RunClient(test::ServerA(), "DROP DATABASE wizard_browse;");
}

TEST(WizardServerBrowserTest, WrongPasswordIsAConnectFailure) {
  BREVANTO_REQUIRE_SERVER(test::ServerA());
  ServerBrowser browser;
  CServerInfo server = test::AsServerInfo(test::ServerA());
  std::string version;
  MySqlError error;
  ASSERT_TRUE(browser.TestConnection(server, version, error));
  EXPECT_NE(version.find("MariaDB"), std::string::npos);
  server.Password = "not the password";
  EXPECT_FALSE(browser.TestConnection(server, version, error));
  EXPECT_EQ(error.Number, 1045u);
  std::vector<DatabaseItem> databases;
  EXPECT_FALSE(browser.LoadCatalogue(server, databases, error));
}

}  // namespace
}  // namespace brevanto::wizard
