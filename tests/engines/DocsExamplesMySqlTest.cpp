// Every task example of the administrators' guide, imported as printed (servers and
// folders pointed at the test's own) and run: each must do what its name says.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/engines/BrevantoRunProgram.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

namespace fs = std::filesystem;

// The JSON block under "One task of each type" in docs/ADMIN.md.
std::string ExampleTasks() {
  std::ifstream in(std::string(BREVANTO_DOCS_DIR) + "/ADMIN.md");
  std::stringstream text;
  text << in.rdbuf();
  const std::string guide = text.str();
  const std::size_t section = guide.find("### One task of each type");
  const std::size_t start = guide.find("```json\n", section);
  const std::size_t end = guide.find("```", start + 8);
  if (section == std::string::npos || start == std::string::npos || end == std::string::npos) {
    return {};
  }
  return guide.substr(start + 8, end - start - 8);
}

class DocsExamplesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(test::BrevantoRunPath())) GTEST_SKIP() << "brevanto-run is not built";
    BREVANTO_REQUIRE_SERVER(test::ServerA());
    BREVANTO_REQUIRE_SERVER(test::ServerB());
    Drop();
    test::RunClient(test::ServerA(),
                    "CREATE DATABASE shop; USE shop;"
                    "CREATE TABLE orders (id INT PRIMARY KEY, total DECIMAL(10,2));"
                    "INSERT INTO orders VALUES (1, 9.50), (2, 120.00), (3, 0.99);"
                    "CREATE TABLE sessions (id INT PRIMARY KEY, updated DATETIME);"
                    "INSERT INTO sessions VALUES (1, NOW() - INTERVAL 40 DAY), (2, NOW());");
  }
  void TearDown() override { Drop(); }
  void Drop() {
    test::RunClient(test::ServerA(), "DROP DATABASE IF EXISTS shop;");
    test::RunClient(test::ServerB(), "DROP DATABASE IF EXISTS shop; DROP DATABASE IF EXISTS shop_test;");
  }

  // The examples with db1 and db2 as the test servers A and B, /srv/ below the test folder.
  std::string Localised(const std::string& text) const {
    nlohmann::ordered_json tasks = nlohmann::ordered_json::parse(text);
    for (auto& task : tasks) {
      for (const char* role : {"SourceServer", "DestinationServer"}) {
        if (!task.contains(role)) continue;
        auto& server = task[role];
        const test::TestServerInfo& real =
            server["Host"] == "db1" ? test::ServerA() : test::ServerB();
        server["Host"] = real.host;
        server["Port"] = real.port;
        server["UserName"] = real.user;
        server["Password"] = real.password;
      }
    }
    std::string localised = tasks.dump(2);
    for (std::size_t at; (at = localised.find("\"/srv/")) != std::string::npos;) {
      localised.replace(at, 6, "\"" + m_dir.path() + "srv/");
    }
    return localised;
  }

  test::RunResult Run(const std::string& task) {
    return test::RunBrevanto("--folder " + m_dir.path() + "data --run '" + task + "'");
  }

  test::TempDir m_dir;
};

TEST_F(DocsExamplesTest, EveryExampleImportsAndDoesWhatItsNameSays) {
  const std::string text = ExampleTasks();
  ASSERT_FALSE(text.empty());
  test::WriteWholeFile(m_dir.file("tasks.json"), Localised(text));
  const test::RunResult imported =
      test::RunBrevanto("--folder " + m_dir.path() + "data --import " + m_dir.file("tasks.json"));
  ASSERT_EQ(imported.status, 0) << imported.output;

  const auto runs = [&](const std::string& task) {
    const test::RunResult result = Run(task);
    EXPECT_EQ(result.status, 0) << task << "\n" << result.output;
    EXPECT_EQ(result.output.find("  Error  "), std::string::npos) << task << "\n" << result.output;
    return result.output;
  };
  const std::string orders = test::Checksum(test::ServerA(), "shop", "orders");

  runs("Nightly backup");
  std::vector<fs::path> dumps;
  for (const auto& entry : fs::recursive_directory_iterator(m_dir.file("srv/backups/shop"))) {
    if (entry.path().extension() == ".sql") dumps.push_back(entry.path());
  }
  ASSERT_EQ(dumps.size(), 1u);
  std::stringstream dump;
  dump << std::ifstream(dumps[0]).rdbuf();
  EXPECT_NE(dump.str().find("INSERT INTO `orders`"), std::string::npos);
  EXPECT_NE(dump.str().find("INSERT INTO `sessions`"), std::string::npos);
  fs::copy_file(dumps[0], m_dir.file("srv/backups/shop/shop.sql"));

  runs("Mirror to standby");
  EXPECT_EQ(test::Checksum(test::ServerB(), "shop", "orders"), orders);
  EXPECT_NE(test::Checksum(test::ServerB(), "shop", "sessions"), "NULL");

  runs("Copy shop to shop_test");
  EXPECT_EQ(test::Checksum(test::ServerB(), "shop_test", "orders"), orders);

  runs("Orders as CSV");
  std::vector<std::string> exported;
  for (const auto& entry : fs::recursive_directory_iterator(m_dir.file("srv/exports"))) {
    exported.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(exported.size(), 1u);

  runs("Purge old sessions");
  EXPECT_EQ(test::RunClient(test::ServerA(), "SELECT id FROM shop.sessions"), "2\n");

  // The restores put back what the backups and copies took.
  test::RunClient(test::ServerB(), "DROP DATABASE shop;");
  runs("Restore yesterday");
  EXPECT_EQ(test::Checksum(test::ServerB(), "shop", "orders"), orders);
  test::RunClient(test::ServerA(), "DROP TABLE shop.orders;");
  runs("Restore from standby");
  EXPECT_EQ(test::Checksum(test::ServerA(), "shop", "orders"), orders);
  test::RunClient(test::ServerA(), "DELETE FROM shop.orders;");
  runs("Restore shop from shop_test");
  EXPECT_EQ(test::Checksum(test::ServerA(), "shop", "orders"), orders);
}

}  // namespace
}  // namespace brevanto
