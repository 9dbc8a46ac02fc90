#include "tasks/TaskFile.h"

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/BinaryIO.h"
#include "tests/support/Hex.h"
#include "tests/support/LegacyTaskFile.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::Hex;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

std::string Zeros(std::size_t n) {
  return std::string(n, '\0');
}

// clang-format off
// A server block holding the defaults: host "localhost", port 3306, user "root".
std::string DefaultServerBlock() {
  return Hex("00000000" "09000000" "3635393b363235292e" "ea0c0000" "04000000" "2835352e") +
         Zeros(3 * 4 + 4);
}

// The record of a default CTaskItem, spelled out field by field.
std::string DefaultRecord() {
  return Hex("e0f9bdca") +                   // start marker
         Zeros(4) + Zeros(1) +               // TaskKey, RunImmediately
         Zeros(4) + Zeros(4) +               // TaskName, Comment
         Hex("01" "02") +                    // TaskType BackupToFiles, Status Stop
         Zeros(4 * 28) +                     // four DateTimes
         Zeros(4) +                          // LogFileName
         DefaultServerBlock() + DefaultServerBlock() +
         Hex("01") + Zeros(5 * 4) + Zeros(1) +  // ExportSettings
         Zeros(4) +                          // ExportTables
         Hex("010101010101" "00000000" "010101" "00" "01" "000000000000" "010101010101" "02" "01") +  // 29 options
         Zeros(4) + Zeros(4) +               // SameFilePath, BackupFolder
         Hex("14000000" "7f1215090e7f057f1e1b0e1f7f057f0e13171f7f") +  // %HOST%_%DATE%_%TIME%
         Zeros(1) + Zeros(4) + Zeros(4) +    // AutoDelete mode and value, four flags
         Zeros(4) +                          // DestinationDatabase
         Zeros(4) +                          // BackupDatabases
         Zeros(1 + 4 + 4 + 7 + 31 + 4 * 4) + Hex("1e000000") +  // Schedule, interval 30
         Zeros(4) + Zeros(4) +               // ScriptStatements, BackupHistory
         Zeros(2) + Zeros(4) +               // RestoreOptions, RestoreFiles
         Hex("e0f9bdca");                    // end marker
}
// clang-format on

TaskDateTime Moment(int base) {
  return {2000 + base, 1 + base % 12,   1 + base % 28, base % 24,
          base % 60,   (base * 7) % 60, 1 + base % 7};
}

CServerInfo Server(const std::string& tag) {
  CServerInfo s;
  s.ConnectionName = "conn " + tag;
  s.Host = "host-" + tag;
  s.Port = 3307;
  s.UserName = "user-" + tag;
  s.Password = "pw-" + tag;
  s.Database = "db-" + tag;
  s.Comment = "comment " + tag;
  s.SavePassword = s.UseCompression = s.UseSSL = 1;
  s.Reserved = 9;
  return s;
}

// Every field away from its default, every list with more than one element.
CTaskItem EveryFieldSet() {
  CTaskItem t;
  t.TaskKey = "20261271234560";
  t.RunImmediately = 1;
  t.BackupHistory = {
      {{2026, 1, 2, 3, 4, 5}, 2, 1, 0, "/data/2026_1_2", {"/data/a.sql", "/data/b.sql"}},
      {{2026, 2, 3, 4, 5, 6}, 1, 2, 7, "", {"/data/c.php"}}};
  t.TaskName = "Nightly: sales \xE4\xF6";  // bytes above 0x7F survive the key
  t.Comment = std::string("line1\r\nline2\0zero", 17);
  t.TaskType = 200;  // an unknown type survives the round trip
  t.Status = 3;
  t.CreatedTime = Moment(1);
  t.WorkerStartTime = Moment(2);
  t.LastRunTime = Moment(3);
  t.NextRunTime = Moment(4);
  t.LogFileName = "Nightly sales_2026123456.log";
  t.SourceServer = Server("src");
  t.DestinationServer = Server("dst");
  t.ExportSettings = {3, "/exports/", ",", "\"", "\\", "\r\n", 1};
  t.ExportTables = {{1, 1, "shop", "orders"}, {2, 2, "shop", "v_totals"}};
  BackupSettings& b = t.BackupSettings;
  for (std::uint8_t* o :
       {&b.IncludeStructure, &b.IncludeRecords, &b.LockTablesBeforeStart, &b.FlushTablesBeforeStart,
        &b.QuoteNames, &b.SetConnectionCharset, &b.AddCreateDatabase, &b.AddLockTables,
        &b.AddDropTable, &b.AddSetNames, &b.AddSetForeignKeyChecks, &b.AddSetUniqueChecks,
        &b.AddSetSqlNotes, &b.AllowKeywordColumnNames, &b.AddDisableKeys}) {
    *o = 0;
  }
  for (std::uint8_t* o :
       {&b.IncludeNewTables, &b.IncludeNewDatabases, &b.FlushLogsBeforeStart, &b.Reserved9,
        &b.AddDeleteAllRecords, &b.CompleteInsert, &b.InsertDelayed, &b.MultipleRowInsert,
        &b.UseReplace, &b.InsertIgnore, &b.AddSetAutocommit}) {
    *o = 1;
  }
  b.FileType = 2;
  b.FileMode = 1;
  b.FileGrouping = 3;
  b.SameFilePath = "/backups/all.sql";
  b.BackupFolder = "/backups/";
  b.FileNameFormat = "%TASKNAME%_%DATE%";
  b.AutoDeleteMode = 2;
  b.AutoDeleteValue = 10000;
  b.CreateDateTimeSubfolder = 1;
  b.UnixLineEnds = 1;
  b.Reserved54 = 5;
  b.CreateNewDestinationDatabase = 1;
  b.DestinationDatabase = "shop_copy";
  t.BackupDatabases = {{1, "shop", {{1, 1, "shop", "orders"}, {0, 2, "shop", "v"}}},
                       {2, "crm", {}}};
  t.RestoreOptions = {1, 1};
  t.RestoreFiles = {{0, "a.sql", "/in/a.sql", 123456, Moment(5)},
                    {3, "b.txt", "/in/b.txt", 0xFFFFFFFFu, Moment(6)}};
  ScheduleSettings& s = t.Schedule;
  s.Kind = 4;
  s.Hour = 23;
  s.Minute = 59;
  s.WeekDays = {1, 0, 1, 0, 1, 0, 1};
  s.MonthDays[0] = 1;
  s.MonthDays[30] = 1;
  s.SpecialYear = 2027;
  s.SpecialMonth = 2;
  s.SpecialDay = 28;
  s.RepeatEveryDays = 3;
  s.IntervalMinutes = -5;
  t.ScriptStatements = {"SELECT 1", "", "UPDATE t SET a = 'x;y'"};
  return t;
}

class TaskFileTest : public ::testing::Test {
 protected:
  std::string path() const { return m_dir.file("tasks_se.tsk"); }
  void write(const std::vector<CTaskItem>& tasks) { ASSERT_TRUE(WriteTaskFile(path(), tasks)); }
  std::string bytes() const { return ReadWholeFile(path()); }
  void setBytes(const std::string& b) { ASSERT_TRUE(WriteWholeFile(path(), b)); }
  void truncateBy(std::size_t n) {
    std::string b = bytes();
    setBytes(b.substr(0, b.size() - n));
  }
  void setByte(std::size_t offset, std::uint8_t value) {
    std::string b = bytes();
    b[offset] = static_cast<char>(value);
    setBytes(b);
  }
  TaskFileReadResult read() {
    m_problem.clear();
    return ReadTaskFile(path(), m_loaded, &m_problem);
  }

  TempDir m_dir;
  std::vector<CTaskItem> m_loaded;
  std::string m_problem;
};

TEST_F(TaskFileTest, DefaultTaskIsTheDocumentedBytes) {
  write({CTaskItem()});
  std::string expected = Hex("e0f9bdca01000000") + DefaultRecord();
  ASSERT_EQ(DefaultRecord().size(), 414u);
  EXPECT_EQ(bytes(), expected);
}

TEST_F(TaskFileTest, TextsAreCountedAndScrambledWithTheTextKey) {
  CTaskItem task;
  task.TaskName = "abc";
  std::string file = SerializeTaskFile({task});
  // TaskName follows the magic, N, the start marker, the empty TaskKey and RunImmediately.
  EXPECT_EQ(file.substr(17, 7), Hex("030000003b3839"));
  EXPECT_EQ(ScrambleText("abc", kTextKey), Hex("3b3839"));
  EXPECT_EQ(ScrambleText(Hex("3b3839"), kTextKey), "abc");
}

TEST_F(TaskFileTest, EveryFieldSurvivesSaveAndLoad) {
  CTaskItem first = EveryFieldSet();
  CTaskItem second = EveryFieldSet();
  second.TaskName = "second";
  second.BackupDatabases.clear();
  write({first, second, CTaskItem()});

  ASSERT_EQ(read(), TaskFileReadResult::Loaded) << m_problem;
  EXPECT_EQ(m_problem, "");
  ASSERT_EQ(m_loaded.size(), 3u);
  // A loaded task never claims to run or to be due at once.
  for (CTaskItem* t : {&first, &second}) {
    t->Status = 2;
    t->RunImmediately = 0;
  }
  EXPECT_EQ(m_loaded[0], first);
  EXPECT_EQ(m_loaded[1], second);
  EXPECT_EQ(m_loaded[2], CTaskItem());
}

TEST_F(TaskFileTest, FilesAreOwnerOnlyAndAnEmptyListDeletesTheFile) {
  write({CTaskItem()});
  struct stat st {};
  ASSERT_EQ(::stat(path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  write({});
  EXPECT_NE(::stat(path().c_str(), &st), 0);
  EXPECT_TRUE(WriteTaskFile(path(), {}));  // deleting a missing file is no failure
  EXPECT_EQ(read(), TaskFileReadResult::Failure);
}

TEST_F(TaskFileTest, RefusesFilesThatAreNoTaskFiles) {
  struct Case {
    const char* name;
    std::string content;
  } cases[] = {
      {"empty", ""},
      {"three bytes of the magic", Hex("e0f9bd")},
      {"foreign", "<?xml version=\"1.0\"?>"},
      {"oldest layout", Hex("b0aedfbf01000000")},
      {"other oldest layout", Hex("acaedfbf01000000")},
      {"log file", Hex("b0aedfbf")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setBytes(c.content);
    m_loaded = {CTaskItem()};
    EXPECT_EQ(read(), TaskFileReadResult::Failure);
    EXPECT_NE(m_problem, "");
    EXPECT_EQ(m_loaded.size(), 1u);
  }
  EXPECT_EQ(ReadTaskFile(m_dir.file("none.tsk"), m_loaded), TaskFileReadResult::Failure);
  EXPECT_EQ(ReadTaskFile("", m_loaded), TaskFileReadResult::Failure);
}

TEST_F(TaskFileTest, NoTasksIsNothingToLoadWithoutAProblem) {
  setBytes(Hex("e0f9bdca00000000"));
  EXPECT_EQ(read(), TaskFileReadResult::NothingToLoad);
  EXPECT_EQ(m_problem, "");
}

TEST_F(TaskFileTest, ADamagedThirdRecordLoadsNothing) {
  write({EveryFieldSet(), CTaskItem(), CTaskItem()});
  setByte(bytes().size() - 1, 0x00);  // the third record's end marker
  m_loaded = {CTaskItem()};
  EXPECT_EQ(read(), TaskFileReadResult::NothingToLoad);
  EXPECT_EQ(m_loaded.size(), 1u);
  EXPECT_NE(m_problem.find("damaged task record 3 of 3"), std::string::npos) << m_problem;
  EXPECT_NE(m_problem.find("end marker"), std::string::npos) << m_problem;
}

TEST_F(TaskFileTest, EveryTruncationIsADamagedRecord) {
  write({EveryFieldSet(), EveryFieldSet()});
  const std::string full = bytes();
  for (std::size_t size = 4; size < full.size(); ++size) {
    std::vector<CTaskItem> out;
    std::string problem;
    ASSERT_EQ(ParseTaskFile(std::string_view(full).substr(0, size), out, &problem),
              TaskFileReadResult::NothingToLoad)
        << "size " << size;
    ASSERT_NE(problem, "") << "size " << size;
  }
}

TEST_F(TaskFileTest, CountsBeyondTheBytesLeftAreDamageNotAllocations) {
  std::string file = SerializeTaskFile({CTaskItem()});
  const std::size_t record = 8;
  // Offsets of the count fields inside the default record.
  const std::size_t exportTables = record + 4 + 5 + 8 + 2 + 112 + 4 + 2 * 45 + 22;
  const std::size_t backupDatabases = exportTables + 4 + 54 + 20;
  const std::size_t scripts = backupDatabases + 4 + 67;
  struct Case {
    const char* name;
    std::size_t offset;
  } cases[] = {
      // clang-format off
      {"task count", 4},           {"TaskKey length", record + 4},
               {"ExportTables", exportTables}, {"BackupDatabases", backupDatabases},
               {"ScriptStatements", scripts},  {"BackupHistory", scripts + 4},
      {"RestoreFiles", scripts + 8 + 2},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string damaged = file;
    for (int i = 0; i < 4; ++i) damaged[c.offset + i] = '\xFF';  // 4 294 967 295
    std::vector<CTaskItem> out;
    std::string problem;
    EXPECT_EQ(ParseTaskFile(damaged, out, &problem), TaskFileReadResult::NothingToLoad);
    EXPECT_NE(problem.find("offset " + std::to_string(c.offset)), std::string::npos) << problem;
  }
}

// ---- Files of the earlier versions, built from their documented layout ----

using test::kVersion1;
using test::kVersion2;
using test::LegacyFile;

void ExpectCommonLegacyFields(const CTaskItem& t) {
  EXPECT_EQ(t.TaskKey, "key");
  EXPECT_EQ(t.RunImmediately, 0);
  EXPECT_EQ(t.TaskName, "Old task");
  EXPECT_EQ(t.Comment, "old comment");
  EXPECT_EQ(t.Status, 2);
  EXPECT_EQ(t.CreatedTime, (TaskDateTime{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(t.NextRunTime, (TaskDateTime{22, 23, 24, 25, 26, 27, 28}));
  EXPECT_EQ(t.LogFileName, "Old task_2005.log");
  CServerInfo src{"", "src.example", 3310, "olduser", "oldpw", "olddb", "old comment", 1, 0, 1, 0, {}, {}};
  EXPECT_EQ(t.SourceServer, src);
  EXPECT_EQ(t.DestinationServer.Host, "dst.example");
  EXPECT_EQ(t.ExportSettings, (ExportSettings{2, "/old/export/", "", "", "", "", 0}));
  EXPECT_EQ(t.ExportTables, (std::vector<TableItem>{{1, 0, "shop", "orders"}}));
  EXPECT_EQ(t.BackupDatabases,
            (std::vector<DatabaseItem>{{1, "shop", {{0, 0, "shop", "customers"}}}}));
  EXPECT_EQ(t.BackupSettings.SameFilePath, "/old/same.sql");
  EXPECT_EQ(t.BackupSettings.BackupFolder, "/old/folder/");
  EXPECT_EQ(t.Schedule.Kind, 2);
  EXPECT_EQ(t.Schedule.WeekDays[1], 1);
  EXPECT_EQ(t.Schedule.IntervalMinutes, 15);
  EXPECT_EQ(t.ScriptStatements, std::vector<std::string>{"SELECT 1"});
  EXPECT_EQ(t.RestoreOptions, RestoreOptions());
  EXPECT_TRUE(t.RestoreFiles.empty());
  // Options the older files never held keep their defaults.
  const BackupSettings b = t.BackupSettings;
  const BackupSettings d;
  EXPECT_EQ(b.FlushTablesBeforeStart, d.FlushTablesBeforeStart);
  EXPECT_EQ(b.AddSetNames, d.AddSetNames);
  EXPECT_EQ(b.AddDisableKeys, d.AddDisableKeys);
  EXPECT_EQ(b.UnixLineEnds, 0);
  EXPECT_EQ(b.DestinationDatabase, "");
}

TEST_F(TaskFileTest, ReadsTheSecondVersionWithItsFieldMapping) {
  for (std::uint8_t type : {1, 3, 5}) {
    SCOPED_TRACE(static_cast<int>(type));
    setBytes(LegacyFile(kVersion2, type));
    ASSERT_EQ(read(), TaskFileReadResult::Loaded) << m_problem;
    ASSERT_EQ(m_loaded.size(), 1u);
    const CTaskItem& t = m_loaded[0];
    EXPECT_EQ(t.TaskType, type == 3 ? 2 : type);
    ExpectCommonLegacyFields(t);
    const BackupSettings& b = t.BackupSettings;
    EXPECT_EQ(b.IncludeStructure, 0x10);
    EXPECT_EQ(b.IncludeRecords, 0x11);
    EXPECT_EQ(b.LockTablesBeforeStart, 0x12);
    EXPECT_EQ(b.IncludeNewTables, 0x13);
    EXPECT_EQ(b.IncludeNewDatabases, 0x14);
    EXPECT_EQ(b.FlushLogsBeforeStart, 0x15);
    EXPECT_EQ(b.UseReplace, 0x16);
    EXPECT_EQ(b.AddDropTable, 0x17);
    EXPECT_EQ(b.AddDeleteAllRecords, 0x18);
    EXPECT_EQ(b.FileType, 0x19);
    EXPECT_EQ(b.FileMode, 0x1A);
    EXPECT_EQ(b.FileGrouping, 0x1B);
    EXPECT_EQ(b.FileNameFormat, "%DATE%");
    EXPECT_EQ(b.AutoDeleteMode, 1);
    EXPECT_EQ(b.AutoDeleteValue, 7u);
    EXPECT_EQ(b.CreateDateTimeSubfolder, 1);
    ASSERT_EQ(t.BackupHistory.size(), 1u);
    EXPECT_EQ(t.BackupHistory[0].BackupTime, (BackupTimeStamp{2005, 6, 7, 8, 9, 10}));
    EXPECT_EQ(t.BackupHistory[0].CopyFiles, std::vector<std::string>{"/old/folder/a.sql"});
  }
}

TEST_F(TaskFileTest, ReadsTheFirstVersionWithItsFieldMapping) {
  setBytes(LegacyFile(kVersion1, 3));
  ASSERT_EQ(read(), TaskFileReadResult::Loaded) << m_problem;
  ASSERT_EQ(m_loaded.size(), 1u);
  const CTaskItem& t = m_loaded[0];
  EXPECT_EQ(t.TaskType, 2);
  ExpectCommonLegacyFields(t);
  const BackupSettings& b = t.BackupSettings;
  EXPECT_EQ(b.IncludeStructure, 0x10);
  EXPECT_EQ(b.FlushLogsBeforeStart, 0x15);
  EXPECT_EQ(b.UseReplace, 0x16);
  EXPECT_EQ(b.FileType, 0x17);
  EXPECT_EQ(b.FileMode, 0x18);
  EXPECT_EQ(b.FileGrouping, 0x19);
  EXPECT_EQ(b.AddDropTable, 1);
  EXPECT_EQ(b.AddDeleteAllRecords, 1);
  EXPECT_EQ(b.FileNameFormat, BackupSettings().FileNameFormat);
  EXPECT_EQ(b.AutoDeleteValue, 0u);
  EXPECT_TRUE(t.BackupHistory.empty());
}

TEST_F(TaskFileTest, OlderVersionsWithAWrongMarkerLoadNothing) {
  std::string file = LegacyFile(kVersion2, 1);
  file[8] = '\xBA';  // a version 1 record marker inside a version 2 file
  setBytes(file);
  EXPECT_EQ(read(), TaskFileReadResult::NothingToLoad);
  EXPECT_NE(m_problem.find("start marker"), std::string::npos) << m_problem;
}

}  // namespace
}  // namespace brevanto
