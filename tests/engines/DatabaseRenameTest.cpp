// Renaming a dump's database as its statements stream past: the database statements
// dumps write and the qualifiers the server writes into views get the new name; values
// never; a statement that would reach the original where no rename is safe is refused.

#include "engines/DatabaseRename.h"

#include <string>

#include <gtest/gtest.h>

namespace brevanto {
namespace {

const DatabaseRename kRename("shop", "scratch_x");

std::string Renamed(std::string statement) {
  const Status status = kRename.Apply(statement);
  EXPECT_TRUE(status.ok()) << status.message();
  return statement;
}

bool Refused(std::string statement) {
  const std::string before = statement;
  const Status status = kRename.Apply(statement);
  EXPECT_EQ(before, statement) << "a refused statement stays as it was";
  return !status.ok();
}

TEST(DatabaseRenameTest, DatabaseStatementsOfOurDumpsAndStockDumpsTakeTheNewName) {
  EXPECT_EQ("CREATE DATABASE IF NOT EXISTS `scratch_x` DEFAULT CHARACTER SET utf8mb4",
            Renamed("CREATE DATABASE IF NOT EXISTS `shop` DEFAULT CHARACTER SET utf8mb4"));
  EXPECT_EQ("USE `scratch_x`", Renamed("USE `shop`"));
  EXPECT_EQ("use `scratch_x`", Renamed("use shop"));
  EXPECT_EQ(
      "CREATE DATABASE /*!32312 IF NOT EXISTS*/ `scratch_x` /*!40100 DEFAULT CHARACTER "
      "SET latin1 */",
      Renamed("CREATE DATABASE /*!32312 IF NOT EXISTS*/ `shop` /*!40100 DEFAULT CHARACTER "
              "SET latin1 */"));
  // A stock dump's --add-drop-database: run as written it would drop the original.
  EXPECT_EQ("/*!40000 DROP DATABASE IF EXISTS `scratch_x`*/",
            Renamed("/*!40000 DROP DATABASE IF EXISTS `shop`*/"));
  EXPECT_EQ("ALTER DATABASE `scratch_x` CHARACTER SET utf8mb4",
            Renamed("ALTER DATABASE `shop` CHARACTER SET utf8mb4"));
  EXPECT_EQ("ALTER DATABASE CHARACTER SET utf8mb4",
            Renamed("ALTER DATABASE CHARACTER SET utf8mb4"));
  EXPECT_EQ("CREATE SCHEMA `scratch_x`", Renamed("CREATE SCHEMA `shop`"));

  EXPECT_TRUE(Refused("USE `other`"));
  EXPECT_TRUE(Refused("CREATE DATABASE IF NOT EXISTS `shop2`"));

  EXPECT_EQ("shop", DatabaseStatementName("/*!40000 DROP DATABASE IF EXISTS `shop`*/").value());
  EXPECT_EQ("a`b", DatabaseStatementName("USE `a``b`").value());
  EXPECT_FALSE(DatabaseStatementName("INSERT INTO `shop` VALUES (1)").has_value());
  EXPECT_FALSE(DatabaseStatementName("ALTER DATABASE DEFAULT CHARACTER SET latin1").has_value());
  EXPECT_FALSE(DatabaseStatementName("-- USE `shop`\nSELECT 1").has_value());
}

TEST(DatabaseRenameTest, RowsAndCommentsAreNeverRewritten) {
  const std::string rows =
      "INSERT INTO `t` VALUES (1,'USE `shop`; CREATE DATABASE shop'),(2,'`shop`.`t`'),"
      "(3,'it\\'s `shop`.`t`')";
  EXPECT_EQ(rows, Renamed(rows));
  EXPECT_EQ("CREATE TABLE `t` (`shop` int COMMENT '`shop`.`t`') /* `shop`.`t` */",
            Renamed("CREATE TABLE `t` (`shop` int COMMENT '`shop`.`t`') /* `shop`.`t` */"));
  // Qualifiers of other databases are not the dump's to rename.
  EXPECT_EQ("CREATE TABLE `t` (a int, FOREIGN KEY (a) REFERENCES `other`.`u` (id))",
            Renamed("CREATE TABLE `t` (a int, FOREIGN KEY (a) REFERENCES `other`.`u` (id))"));
}

TEST(DatabaseRenameTest, StatementsReachingTheOriginalAreRefused) {
  EXPECT_TRUE(Refused("INSERT INTO `shop`.`t` VALUES (1)"));
  EXPECT_TRUE(Refused("REPLACE INTO shop.t (a) VALUES (1)"));
  EXPECT_TRUE(Refused("DROP TABLE IF EXISTS `shop`.`t`"));
  EXPECT_TRUE(Refused("/*!40000 ALTER TABLE `shop`.`t` DISABLE KEYS */"));
  EXPECT_TRUE(Refused("LOCK TABLES `shop`.`t` WRITE"));
  EXPECT_FALSE(Refused("INSERT INTO `t` SELECT * FROM `shop`.`t`"));  // reads only
  EXPECT_FALSE(Refused("SET @x = @@SESSION.sql_mode"));
}

TEST(DatabaseRenameTest, ViewsReadingAnotherDatabaseHaveTheirQualifiersRenamed) {
  // As the server shows a view that reads another database's table.
  EXPECT_EQ(
      "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`shop` SQL SECURITY DEFINER VIEW `vx` AS select "
      "`scratch_x`.`t`.`id` AS `id`,`other`.`u`.`id` AS `shop` from (`scratch_x`.`t` join "
      "`other`.`u` on(`scratch_x`.`t`.`id` = `other`.`u`.`id` and `other`.`u`.`n` <> "
      "'`shop`.`t`'))",
      Renamed("CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`shop` SQL SECURITY DEFINER VIEW `vx` AS "
              "select `shop`.`t`.`id` AS `id`,`other`.`u`.`id` AS `shop` from (`shop`.`t` join "
              "`other`.`u` on(`shop`.`t`.`id` = `other`.`u`.`id` and `other`.`u`.`n` <> "
              "'`shop`.`t`'))"));
  // A table named like its database is qualified with it in full, twice.
  EXPECT_EQ("CREATE VIEW `v` AS select `scratch_x`.`shop`.`id` AS `id` from `scratch_x`.`shop`",
            Renamed("CREATE VIEW `v` AS select `shop`.`shop`.`id` AS `id` from `shop`.`shop`"));
  EXPECT_EQ("/*!50001 CREATE VIEW `scratch_x`.`v` AS select 1 AS `a` */",
            Renamed("/*!50001 CREATE VIEW `shop`.`v` AS select 1 AS `a` */"));
  // Where the name also stands for a table or an alias, a qualifier cannot be told from
  // it: the view is refused rather than pointed at the wrong table.
  EXPECT_TRUE(Refused("CREATE VIEW `v` AS select `shop`.`id` AS `id` from `shop`"));
  EXPECT_TRUE(Refused("CREATE VIEW `v` AS select `shop`.`id` AS `id` from `other`.`u` `shop`"));
}

TEST(DatabaseRenameTest, StoredObjectsKeepTheirBodiesAndLoseTheirQualifier) {
  const std::string trigger =
      "CREATE DEFINER=`root`@`localhost` TRIGGER t_ai AFTER INSERT ON t FOR EACH ROW "
      "INSERT INTO shop.audit VALUES (NEW.id)";
  EXPECT_EQ(trigger, Renamed(trigger));
  EXPECT_EQ(
      "CREATE TRIGGER `scratch_x`.`t_ai` AFTER INSERT ON `scratch_x`.`t` FOR EACH ROW "
      "INSERT INTO `shop`.audit VALUES (1)",
      Renamed("CREATE TRIGGER `shop`.`t_ai` AFTER INSERT ON `shop`.`t` FOR EACH ROW "
              "INSERT INTO `shop`.audit VALUES (1)"));
  EXPECT_EQ("CREATE DEFINER=`root`@`%` PROCEDURE `scratch_x`.`p`() BEGIN SELECT * FROM shop.t; END",
            Renamed("CREATE DEFINER=`root`@`%` PROCEDURE `shop`.`p`() BEGIN SELECT * FROM shop.t; "
                    "END"));
  EXPECT_EQ("CREATE EVENT IF NOT EXISTS `scratch_x`.e ON SCHEDULE EVERY 1 DAY DO DELETE FROM t",
            Renamed("CREATE EVENT IF NOT EXISTS shop.e ON SCHEDULE EVERY 1 DAY DO DELETE FROM t"));
}

}  // namespace
}  // namespace brevanto
