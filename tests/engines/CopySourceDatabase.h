#pragma once
// The source databases of the copy, export and restore tests on server A, loaded once per
// test program: "e2_src" (alltypes.sql and copy_source.sql, the server's default
// character set) and "e2_latin" (latin1 by default, one column in utf8mb4).

#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tasks/TaskItem.h"
#include "tests/support/TestServer.h"

namespace brevanto::test {

inline const char* kSourceDatabase = "e2_src";
inline const char* kLatinDatabase = "e2_latin";

// The tables and views of e2_src, as a task selects them.
inline std::vector<TableItem> SourceTables() {
  std::vector<TableItem> tables;
  for (const char* name : {"alltypes", "items", "empty_t", "select"}) {
    tables.push_back({1, 1, kSourceDatabase, name});
  }
  tables.push_back({1, 2, kSourceDatabase, "v_items"});
  return tables;
}

// Loads the source databases on ServerA() unless this program did already. False (with a
// test failure) when loading failed.
inline bool EnsureSourceDatabases() {
  static std::once_flag once;
  static bool loaded = false;
  std::call_once(once, [] {
    const TestServerInfo& a = ServerA();
    RunClient(a, std::string("DROP DATABASE IF EXISTS e2_src; CREATE DATABASE e2_src;") +
                     "DROP DATABASE IF EXISTS e2_latin;"
                     "CREATE DATABASE e2_latin DEFAULT CHARACTER SET latin1;");
    const std::string data = BREVANTO_TEST_DATA_DIR;
    loaded = RunClientFile(a, data + "/alltypes.sql", kSourceDatabase) == 0 &&
             RunClientFile(a, data + "/copy_source.sql", kSourceDatabase) == 0;
    // Every character here fits latin1 except the emoji, which only the utf8mb4 column
    // can hold; a copy that reads the table in latin1 turns it into "?".
    RunClient(a,
              "CREATE TABLE mixed (id INT PRIMARY KEY, l VARCHAR(20), "
              "u VARCHAR(20) CHARACTER SET utf8mb4) DEFAULT CHARSET=latin1;"
              "INSERT INTO mixed VALUES (1, _utf8mb4 0xC3A9, _utf8mb4 0xC3A920F09F9880);"
              "CREATE VIEW marked AS SELECT id, l FROM mixed WHERE l = '\xC3\xA9';",
              kLatinDatabase);
  });
  EXPECT_TRUE(loaded) << "loading the source databases failed";
  return loaded;
}

// Row counts and CHECKSUM TABLE of every base table of e2_src on ServerA() agree with
// `destinationDb` on ServerB(), and the view answers there.
inline void ExpectSameSourceTables(const std::string& destinationDb) {
  for (const TableItem& table : SourceTables()) {
    if (table.Kind != 1) continue;
    SCOPED_TRACE(table.TableName);
    const std::string count = "SELECT COUNT(*) FROM `" + table.TableName + "`;";
    EXPECT_EQ(RunClient(ServerB(), count, destinationDb),
              RunClient(ServerA(), count, kSourceDatabase));
    EXPECT_EQ(Checksum(ServerB(), destinationDb, table.TableName),
              Checksum(ServerA(), kSourceDatabase, table.TableName));
  }
  EXPECT_EQ(
      RunClient(ServerB(), "SELECT TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA='" +
                               destinationDb + "' AND TABLE_NAME='v_items';"),
      "VIEW\n");
  EXPECT_EQ(RunClient(ServerB(), "SELECT COUNT(*), SUM(id) FROM v_items;", destinationDb),
            "20\t310\n");
}

}  // namespace brevanto::test
