// What a session that refuses its setup tells the run: a refused time-zone switch or a
// failed listing is an error to log, never a quiet "nothing to do".

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engines/MySqlConnection.h"

namespace brevanto {
namespace {

TEST(SessionFailureTest, ARefusedUtcSwitchIsAnError) {
  CMySQLConnection gone;  // every statement fails on it, as on a session the server dropped
  const Status utc = UseUtcTimeZone(gone);
  ASSERT_FALSE(utc.ok());
  EXPECT_TRUE(utc.message().starts_with(kUtcTimeZoneFailed)) << utc.message();
}

TEST(SessionFailureTest, AFailedDatabaseListingIsNotReadAsNoNewDatabases) {
  CMySQLConnection gone;
  const std::vector<DatabaseItem> saved = {{1, "shop", {{1, 1, "shop", "orders"}}}};
  BackupSettings settings;
  settings.IncludeNewDatabases = 1;
  std::vector<std::string> problems;
  EXPECT_EQ(ResolveSelection(gone, settings, saved, true, &problems), saved);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].starts_with("Failed to list the databases of the server!"));

  // Without new databases or tables asked for, nothing is listed and nothing can fail.
  settings.IncludeNewDatabases = 0;
  problems.clear();
  EXPECT_EQ(ResolveSelection(gone, settings, saved, true, &problems), saved);
  EXPECT_TRUE(problems.empty());
}

}  // namespace
}  // namespace brevanto
