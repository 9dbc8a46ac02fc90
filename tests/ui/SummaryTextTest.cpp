// The texts that show a task: the wizard's summary and the properties sheet's fields,
// byte for byte.

#include <gtest/gtest.h>

#include "ui/wizard/SummaryText.h"

namespace brevanto::wizard {
namespace {

DatabaseItem Database(const char* name, bool chosen,
                      std::vector<std::pair<const char*, bool>> tables) {
  DatabaseItem database;
  database.DatabaseName = name;
  database.Selected = chosen ? 1 : 0;
  for (const auto& [table, on] : tables) {
    TableItem item;
    item.DatabaseName = name;
    item.TableName = table;
    item.Selected = on ? 1 : 0;
    database.Tables.push_back(item);
  }
  return database;
}

TEST(SummaryTextTest, BackupToFilesCountsChosenTablesOfChosenDatabases) {
  CTaskItem task;
  task.TaskName = "Nightly";
  task.TaskType = 1;
  task.SourceServer.Host = "db1.example";
  task.BackupSettings.FileMode = 2;
  task.BackupSettings.BackupFolder = "/srv/backup/Nightly/";
  task.Schedule.Kind = 1;
  task.BackupDatabases = {
      Database("shop", true, {{"a", true}, {"b", true}, {"c", true}, {"d", false}}),
      Database("blog", true, {{"posts", false}}),
      // Chosen tables of a database that is not chosen do not count.
      Database("old", false, {{"x", true}}),
  };
  EXPECT_EQ(BuildTaskSummary(task),
            "Task name:\r\n    Nightly\r\n\r\n"
            "Task type:\r\n    Backup MySQL databases to SQL/PHP files\r\n\r\n"
            "Source MySQL server:\r\n    db1.example:3306\r\n\r\n"
            "Backup information:\r\n    2 database(s), 3 table(s)\r\n\r\n"
            "To folder:\r\n    /srv/backup/Nightly/\r\n\r\n"
            "Task schedule:\r\n    Every Day\r\n");

  task.BackupSettings.FileMode = 1;
  task.BackupSettings.SameFilePath = "/srv/backup/all.sql";
  const std::string text = BuildTaskSummary(task);
  EXPECT_NE(text.find("\r\n\r\nTo file:\r\n    /srv/backup/all.sql\r\n\r\nTask schedule:"),
            std::string::npos);
}

TEST(SummaryTextTest, ExecuteScriptHasOneBlankLineBeforeTheSchedule) {
  CTaskItem task;
  task.TaskName = "Cleanup";
  task.TaskType = 5;
  task.SourceServer.Host = "localhost";
  task.ScriptStatements = {"DELETE FROM a;", "DELETE FROM b;", "OPTIMIZE TABLE a;"};
  EXPECT_EQ(BuildTaskSummary(task),
            "Task name:\r\n    Cleanup\r\n\r\n"
            "Task type:\r\n    Execute MySQL script\r\n\r\n"
            "MySQL server:\r\n    localhost:3306\r\n\r\n"
            "SQL script:\r\n    3 statement(s)\r\n\r\n"
            "Task schedule:\r\n    Manual\r\n");
}

TEST(SummaryTextTest, OtherTypesNameTheirServersAndOutput) {
  CTaskItem task;
  task.TaskName = "T";
  task.SourceServer.Host = "src";
  task.DestinationServer.Host = "dst";
  task.DestinationServer.Port = 3307;
  task.Schedule.Kind = 5;
  task.TaskType = 4;
  task.ExportSettings.Format = 3;
  task.ExportSettings.Folder = "/out/";
  task.ExportTables.resize(2);
  EXPECT_NE(BuildTaskSummary(task).find("Export information:\r\n    2 table(s)\r\n\r\n"
                                        "To file ( type and directory ):\r\n    HTML\r\n    /out/"
                                        "\r\n\r\nTask schedule:\r\n    Time Interval\r\n"),
            std::string::npos);
  task.TaskType = 6;
  task.RestoreFiles.resize(4);
  EXPECT_NE(BuildTaskSummary(task).find("Backup Files:\r\n    4 file(s)\r\n\r\n"
                                        "MySQL server:\r\n    dst:3307\r\n\r\nTask schedule:"),
            std::string::npos);
  task.TaskType = 7;
  EXPECT_NE(BuildTaskSummary(task).find("Source MySQL server:\r\n    src:3306\r\n\r\n"
                                        "Restore information:\r\n    0 database(s), 0 table(s)\r\n"
                                        "\r\nDestination MySQL server:\r\n    dst:3307\r\n\r\n"),
            std::string::npos);
}

// The summary names the server as one reaches it: a port tells two servers of one host
// apart, a socket path needs none.
TEST(SummaryTextTest, ServersShowTheirPortOrSocket) {
  CTaskItem task;
  task.TaskType = 5;
  task.SourceServer.Host = "/run/mysqld/mysqld.sock";
  EXPECT_NE(BuildTaskSummary(task).find("MySQL server:\r\n    /run/mysqld/mysqld.sock\r\n"),
            std::string::npos);
}

TEST(SummaryTextTest, BackupFileSettingsText) {
  BackupSettings b;
  b.FileMode = 2;
  b.BackupFolder = "/b/";
  b.FileGrouping = 2;
  b.FileNameFormat = "%HOST%_%DATABASE%_%DATE%_%TIME%";
  b.UnixLineEnds = 1;
  EXPECT_EQ(BackupFileSettingsText(b),
            "Backup to folder:\r\n/b/\r\n\r\nEvery file include a selected database\r\n\r\n"
            "File Name Format:\r\n%HOST%_%DATABASE%_%DATE%_%TIME%\r\n\r\n"
            "Use the '\\n' instead of '\\r\\n' in the backup files");
  b.UnixLineEnds = 0;
  b.CreateDateTimeSubfolder = 1;
  b.AutoDeleteMode = 2;
  b.AutoDeleteValue = 7;
  EXPECT_EQ(BackupFileSettingsText(b),
            "Backup to folder:\r\n/b/\r\n\r\nEvery file include a selected database\r\n\r\n"
            "File Name Format:\r\n%HOST%_%DATABASE%_%DATE%_%TIME%\r\n\r\n"
            "Create a new subdirectory that named DATE_TIME each time for store the backup files"
            "\r\n\r\nAuto delete the oldest backup files when more than 7 backup copies");
  b.FileMode = 1;
  b.SameFilePath = "/b/x.sql";
  EXPECT_EQ(BackupFileSettingsText(b), "Backup to file:\r\n/b/x.sql");
}

TEST(SummaryTextTest, ScheduleViewTexts) {
  ScheduleSettings s;
  EXPECT_EQ(ScheduleViewText(s, 1, 1).Settings, "None");
  s.Kind = 2;
  s.Hour = 7;
  s.Minute = 5;
  s.WeekDays[1] = 1;
  s.WeekDays[5] = 1;
  const ScheduleView week = ScheduleViewText(s, 1, 1);
  EXPECT_EQ(week.Kind, "Every Week");
  EXPECT_EQ(week.Settings, "Run Time: 07:05\r\n\r\nDays of the week:\r\nMonday, Friday");
  s = ScheduleSettings();
  s.Kind = 1;
  s.Hour = 13;
  EXPECT_EQ(ScheduleViewText(s, 1, 2).Settings, "Run Time: 01:00 P.M");
  s = ScheduleSettings();
  s.Kind = 3;
  s.Hour = 2;
  s.Minute = 30;
  s.MonthDays[0] = s.MonthDays[21] = s.MonthDays[30] = 1;
  EXPECT_EQ(ScheduleViewText(s, 1, 1).Settings,
            "Run Time: 02:30\r\n\r\nDays of the month:\r\n1st, 22nd, 31st");
  s = ScheduleSettings();
  s.Kind = 4;
  s.SpecialYear = 2006;
  s.SpecialMonth = 1;
  s.SpecialDay = 5;
  s.Hour = 9;
  s.Minute = 7;
  EXPECT_EQ(ScheduleViewText(s, 1, 1).Settings, "Run Date and Time:\r\nThu, Jan 05, 2006 09:07");
  s.RepeatEveryDays = 3;
  EXPECT_EQ(ScheduleViewText(s, 1, 1).Settings,
            "Run Date and Time:\r\nThu, Jan 05, 2006 09:07\r\n\r\nRun the task every 3 day(s)");
  s = ScheduleSettings();
  s.Kind = 5;
  s.IntervalMinutes = 45;
  EXPECT_EQ(ScheduleViewText(s, 1, 1).Settings, "Time Interval: 45 Minute(s)");
  s.Kind = 8;
  EXPECT_EQ(ScheduleViewText(s, 1, 1).Kind, "None");
}

TEST(SummaryTextTest, ProtocolsAndExportType) {
  CServerInfo server;
  EXPECT_EQ(ProtocolsText(server), "None");
  server.UseCompression = 1;
  EXPECT_EQ(ProtocolsText(server), "Use compression protocol\r\n");
  server.UseSSL = 1;
  EXPECT_EQ(ProtocolsText(server), "Use compression protocol\r\nUse SSL protocol");
  EXPECT_EQ(ExportFileTypeText(4), "TEXT File  (Table Export)");
  EXPECT_EQ(ExportFileTypeText(0), "None");
}

}  // namespace
}  // namespace brevanto::wizard
