#include "tasks/BackupFileName.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::MakeTime;

const TaskDateTime kRun = MakeTime(2006, 3, 5, 9, 7, 2);

BackupSettings NewFiles(const std::string& folder, const std::string& format) {
  BackupSettings s;
  s.FileMode = static_cast<std::uint8_t>(BackupFileMode::NewFiles);
  s.BackupFolder = folder;
  s.FileNameFormat = format;
  return s;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(BackupFileNameTest, CleaningRemovesPathAndReservedCharacters) {
  const struct {
    const char* in;
    const char* clean;
    const char* orDefault;
  } cases[] = {
      {"Daily: sales/2006", "Daily sales2006", "Daily sales2006"},
      {"  a\\b*c?d\"e<f>g|h\r\n\t  ", "abcdefgh", "abcdefgh"},
      {"???", "", "Default"},
      {" : ", "", "Default"},
      {"", "", "Default"},
      {"keep  inner  blanks", "keep  inner  blanks", "keep  inner  blanks"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(CleanName(c.in), c.clean);
    EXPECT_EQ(CleanNameOrDefault(c.in), c.orDefault);
  }
}

TEST(BackupFileNameTest, ExpandsEveryPlaceholderOnce) {
  CServerInfo source;
  source.Host = "local/host";
  const struct {
    const char* name;
    BackupSettings settings;
    std::string taskName, database, table, expected;
  } cases[] = {
      {"all placeholders", NewFiles("/b/", "%TASKNAME%_%HOST%_%DATE%_%TIME%"), "Daily: sales/2006",
       "", "", "/b/Daily sales2006_localhost_2006-03-05_09-07-02.sql"},
      {"per table, twice", NewFiles("/b/", "%DATABASE%.%TABLE%.%TABLE%"), "t", "shop", "items",
       "/b/shop.items.items.sql"},
      {"invalid task name vanishes", NewFiles("/b/", "%TASKNAME%x"), "???", "", "", "/b/x.sql"},
      {"inserted text is not expanded again", NewFiles("/b/", "%DATABASE%_%TABLE%"), "t",
       "%TABLE%", "%DATE%", "/b/%TABLE%_%DATE%.sql"},
      {"names cannot leave the folder", NewFiles("/b/", "%DATABASE%_%TABLE%"), "t", "../etc",
       "a/b", "/b/.._etc_a_b.sql"},
      {"placeholders are case-sensitive", NewFiles("/b/", "%host%"), "t", "", "", "/b/%host%.sql"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MakeBackupFilePath(c.settings, "", c.taskName, source, c.database, c.table, kRun),
              c.expected);
  }

  BackupSettings php = NewFiles("/b/", "x");
  php.FileType = static_cast<std::uint8_t>(BackupFileType::PHP);
  EXPECT_EQ(MakeBackupFilePath(php, "sub/", "t", source, "", "", kRun), "/b/sub/x.php");

  BackupSettings same = NewFiles("/b/", "%TABLE%");
  same.FileMode = static_cast<std::uint8_t>(BackupFileMode::SameFile);
  same.SameFilePath = "/fixed/%HOST%.dump";
  EXPECT_EQ(MakeBackupFilePath(same, "sub/", "t", source, "db", "tb", kRun), "/fixed/%HOST%.dump");
}

TEST(BackupFileNameTest, DateTimeFolderIsCreatedOnlyWhenAsked) {
  test::TempDir dir;
  BackupSettings settings = NewFiles(dir.file("backups/"), "%HOST%");
  EXPECT_EQ(MakeDateTimeFolder(settings, kRun), "");
  EXPECT_TRUE(IsFolder(dir.file("backups")));
  EXPECT_FALSE(IsFolder(dir.file("backups/2006-03-05_09-07-02")));

  settings.CreateDateTimeSubfolder = 1;
  const std::string sub = MakeDateTimeFolder(settings, kRun);
  EXPECT_EQ(sub, "2006-03-05_09-07-02/");
  EXPECT_TRUE(IsFolder(dir.file("backups/2006-03-05_09-07-02")));
  EXPECT_EQ(MakeBackupFilePath(settings, sub, "t", CServerInfo{}, "", "", kRun),
            dir.file("backups/2006-03-05_09-07-02/localhost.sql"));
  EXPECT_EQ(MakeDateTimeFolder(settings, kRun), sub);  // an existing folder is fine
}

TEST(BackupFileNameTest, ValidatesTheFormatForEachGrouping) {
  const struct {
    const char* format;
    int grouping;
    const char* message;
  } cases[] = {
      {"", 1, "Please input file name format!"},
      {"a:b", 1, "There are some invalid characters in the file name format!\n\n\\ / : * ? \" < > |"},
      {"a\tb", 2, "There are some invalid characters in the file name format!\n\n\\ / : * ? \" < > |"},
      {"%HOST%_%DATABASE%", 1, "Please do not include %DATABASE% in file name format!"},
      {"%HOST%_%TABLE%", 1, "Please do not include %TABLE% in file name format!"},
      {"%DATABASE%_%TABLE%", 2, "Please do not include %TABLE% in file name format!"},
      {"%HOST%", 2, "Please include %DATABASE% in file name format!"},
      {"%DATABASE%", 3, "Please include %TABLE% in file name format!"},
      {"%TABLE%", 3, ""},
      {"%HOST%_%DATABASE%", 2, ""},
      {"  %HOST%  ", 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(ValidateFileNameFormat(c.format, static_cast<std::uint8_t>(c.grouping)), c.message);
  }
  std::string stored;
  EXPECT_EQ(ValidateFileNameFormat("  %HOST%_x \r\n", 1, &stored), "");
  EXPECT_EQ(stored, "%HOST%_x");
  for (int grouping = 1; grouping <= 3; ++grouping) {
    EXPECT_EQ(ValidateFileNameFormat(DefaultFileNameFormat(static_cast<std::uint8_t>(grouping)),
                                     static_cast<std::uint8_t>(grouping)),
              "");
  }
}

TEST(BackupFileNameTest, ExportPathsByFormat) {
  std::vector<TableItem> tables{{1, 1, "shop", "items"}, {1, 2, "shop", "a/b"}};
  ExportSettings settings;
  settings.Folder = "/out/";
  const struct {
    int format;
    int index;
    const char* path;
  } cases[] = {{1, 0, "/out/shop_items.csv"}, {2, 0, "/out/shop_items.xml"},
               {3, 0, "/out/shop_items.html"}, {4, 0, "/out/shop_items.txt"},
               {9, 0, "/out/shop_items.txt"}, {1, 1, "/out/shop_a_b.csv"},
               {1, 2, ""},  {1, -1, ""}};
  for (const auto& c : cases) {
    settings.Format = static_cast<std::uint8_t>(c.format);
    EXPECT_EQ(MakeExportFilePath(settings, tables, c.index), c.path) << c.format << " " << c.index;
  }
  settings.Folder.clear();
  EXPECT_EQ(MakeExportFilePath(settings, tables, 0), "");
}

TEST(BackupFileNameTest, KeysAndLogNamesHaveNoLeadingZeros) {
  EXPECT_EQ(MakeTaskKey(kRun, 2), "2006359722");
  EXPECT_EQ(MakeLogFileName("Nightly: sales", MakeTime(2006, 1, 5, 9, 7, 3)),
            "Nightly sales_200615973.log");
  EXPECT_EQ(MakeLogFileName("???", MakeTime(2006, 1, 5, 9, 7, 3)), "Default_200615973.log");
}

}  // namespace
}  // namespace brevanto
