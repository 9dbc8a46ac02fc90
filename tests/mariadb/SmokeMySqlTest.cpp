// Checks that the throw-away servers answer the way the other tests rely on: plain,
// compressed and TLS connections through libmariadb, and the stock-client helpers.

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <mysql.h>

#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto::test {
namespace {

struct MySqlCloser {
  void operator()(MYSQL* handle) const noexcept { mysql_close(handle); }
};
using MySqlHandle = std::unique_ptr<MYSQL, MySqlCloser>;

// Connects with the given client flags, TLS requested through mysql_ssl_set when `useSsl`.
MySqlHandle Connect(const TestServerInfo& server, unsigned long flags, bool useSsl) {
  MySqlHandle handle(mysql_init(nullptr));
  if (useSsl) mysql_ssl_set(handle.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (mysql_real_connect(handle.get(), server.host.c_str(), server.user.c_str(),
                         server.password.c_str(), nullptr, server.port, nullptr,
                         flags) == nullptr) {
    ADD_FAILURE() << server.host << ":" << server.port << ": " << mysql_error(handle.get());
    return nullptr;
  }
  return handle;
}

// The value of one SHOW SESSION STATUS variable.
std::string SessionStatus(MYSQL* handle, const std::string& name) {
  const std::string sql = "SHOW SESSION STATUS LIKE '" + name + "'";
  if (mysql_real_query(handle, sql.data(), sql.size()) != 0)
    return "error: " + std::string(mysql_error(handle));
  std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> result(mysql_store_result(handle),
                                                                  mysql_free_result);
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  return row != nullptr && row[1] != nullptr ? row[1] : "";
}

struct ConnectionCase {
  const char* name;
  const TestServerInfo& (*server)();
  unsigned long flags;
  bool useSsl;
  bool expectTls;
  const char* expectCompression;
};

TEST(SmokeMySqlTest, ConnectsPlainCompressedAndWithTls) {
  const ConnectionCase cases[] = {
      {"A plain", ServerA, 0, false, false, "OFF"},
      {"A compressed", ServerA, CLIENT_COMPRESS, false, false, "ON"},
      {"B plain", ServerB, 0, false, false, "OFF"},
      {"TLS server, plain client", ServerTls, 0, false, false, "OFF"},
      {"TLS", ServerTls, 0, true, true, "OFF"},
      {"TLS compressed", ServerTls, CLIENT_COMPRESS, true, true, "ON"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BREVANTO_REQUIRE_SERVER(c.server());
    MySqlHandle handle = Connect(c.server(), c.flags, c.useSsl);
    ASSERT_TRUE(handle);
    const char* cipher = mysql_get_ssl_cipher(handle.get());
    EXPECT_EQ(c.expectTls, cipher != nullptr) << (cipher ? cipher : "no cipher");
    EXPECT_EQ(c.expectCompression, SessionStatus(handle.get(), "Compression"));
    EXPECT_EQ(c.expectTls ? std::string(cipher ? cipher : "") : "",
              SessionStatus(handle.get(), "Ssl_cipher"));
  }
}

TEST(SmokeMySqlTest, WrongPasswordIsRefused) {
  BREVANTO_REQUIRE_SERVER(ServerA());
  TestServerInfo wrong = ServerA();
  wrong.password = "not-the-password";
  EXPECT_FALSE(IsReachable(wrong));
}

// Rows written through libmariadb read back identically through the stock client, and a
// script piped into it lands on the server: the round trip the engine tests depend on.
TEST(SmokeMySqlTest, StockClientSeesWhatLibraryWrote) {
  BREVANTO_REQUIRE_SERVER(ServerA());
  MySqlHandle handle = Connect(ServerA(), 0, false);
  ASSERT_TRUE(handle);
  const char* statements[] = {
      "DROP DATABASE IF EXISTS brevanto_smoke",
      "CREATE DATABASE brevanto_smoke",
      "CREATE TABLE brevanto_smoke.t (id INT PRIMARY KEY, v VARCHAR(20), b BLOB)",
      "INSERT INTO brevanto_smoke.t VALUES (1, 'tab\\there', NULL), (2, '\xC3\xA4', x'00FF0A')",
  };
  for (const char* sql : statements) {
    ASSERT_EQ(0, mysql_query(handle.get(), sql)) << sql << ": " << mysql_error(handle.get());
  }

  EXPECT_EQ("1\ttab\\there\tNULL\n2\t\xC3\xA4\t\\0\xFF\\n\n",
            RunClient(ServerA(), "SELECT id, v, b FROM t ORDER BY id", "brevanto_smoke"));

  ASSERT_EQ(0, mysql_query(handle.get(), "CHECKSUM TABLE brevanto_smoke.t"));
  std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> result(mysql_store_result(handle.get()),
                                                                  mysql_free_result);
  ASSERT_TRUE(result);
  MYSQL_ROW row = mysql_fetch_row(result.get());
  ASSERT_TRUE(row != nullptr && row[1] != nullptr);
  EXPECT_EQ(row[1], Checksum(ServerA(), "brevanto_smoke", "t"));
  EXPECT_EQ("NULL", Checksum(ServerA(), "brevanto_smoke", "missing"));

  std::string folder;
  {
    TempDir dir;
    folder = dir.path();
    ASSERT_EQ('/', folder.back());
    ASSERT_TRUE(WriteWholeFile(dir.file("copy.sql"),
                               "CREATE TABLE u LIKE t;\nINSERT INTO u SELECT * FROM t;\n"));
    EXPECT_EQ(0, RunClientFile(ServerA(), dir.file("copy.sql"), "brevanto_smoke"));
    ASSERT_TRUE(WriteWholeFile(dir.file("bad.sql"), "SELECT * FROM no_such_table;\n"));
    EXPECT_NE(0, RunClientFile(ServerA(), dir.file("bad.sql"), "brevanto_smoke"));
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_EQ(Checksum(ServerA(), "brevanto_smoke", "t"), Checksum(ServerA(), "brevanto_smoke", "u"));

  RunClient(ServerA(), "DROP DATABASE brevanto_smoke");
}

}  // namespace
}  // namespace brevanto::test
