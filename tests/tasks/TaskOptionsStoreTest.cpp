#include "tasks/TaskOptionsStore.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tasks/AdvancedOptions.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskList.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TaskFileFolder.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using nlohmann::json;
using test::ReadWholeFile;
using test::WriteWholeFile;

CTaskItem Task(const std::string& key, const std::string& name) {
  CTaskItem task;
  task.TaskKey = key;
  task.TaskName = name;
  return task;
}

class TaskOptionsStoreTest : public test::TaskFileFolder {
 protected:
  json optionsFile() const { return json::parse(ReadWholeFile(optionsPath())); }
};

TEST_F(TaskOptionsStoreTest, CompanionNameReplacesTheTaskExtension) {
  EXPECT_EQ(TaskOptionsPathFor("/a/tasks_se.tsk"), "/a/tasks_se.json");
  EXPECT_EQ(TaskOptionsPathFor("/a/b.tsk.old"), "/a/b.tsk.old.json");
}

TEST_F(TaskOptionsStoreTest, SectionsTravelWithTheirTaskAndLeaveTheTaskFileAlone) {
  CTaskItem plain = Task("111", "plain");
  CTaskItem advanced = Task("222", "advanced");
  CAdvancedOptions options;
  options.Compression = Compression::Zstd;
  options.Threads = 4;
  SetAdvancedOptions(advanced, options);
  SetTaskSection(advanced, "Notifications", json{{"OnFailure", true}});

  ASSERT_TRUE(WriteTaskFile(taskPath(), {plain, advanced}));
  // The task file holds exactly what it held before options existed.
  EXPECT_EQ(ReadWholeFile(taskPath()), SerializeTaskFile({Task("111", "plain"), Task("222", "advanced")}));
  struct stat info {};
  ASSERT_EQ(stat(optionsPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(optionsFile()["Tasks"].size(), 1u);  // a task without sections has no entry

  std::vector<CTaskItem> loaded = read();
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_FALSE(FindAdvancedOptions(loaded[0]).has_value());
  EXPECT_EQ(AdvancedOptionsOf(loaded[0]), CAdvancedOptions::Legacy());
  EXPECT_EQ(AdvancedOptionsOf(loaded[1]), options);
  EXPECT_EQ(GetTaskSection(loaded[1], "Notifications"), (json{{"OnFailure", true}}));
}

TEST_F(TaskOptionsStoreTest, ServerTlsSettingsTravelBesideTheUnchangedTaskFile) {
  CTaskItem copy = Task("333", "copy");
  copy.SourceServer.UseSSL = 1;
  copy.SourceServer.SslCaFile = "/etc/ssl/our-ca.pem";
  copy.DestinationServer.UseSSL = 1;
  copy.DestinationServer.SslFingerprint = std::string(95, 'A');
  copy.DestinationServer.DefaultsFile = "/etc/brevanto/dest.cnf";
  CTaskItem bare = copy;
  for (CServerInfo* server : {&bare.SourceServer, &bare.DestinationServer}) {
    server->SslCaFile.clear();
    server->SslFingerprint.clear();
    server->DefaultsFile.clear();
  }
  ASSERT_TRUE(WriteTaskFile(taskPath(), {copy}));
  EXPECT_EQ(ReadWholeFile(taskPath()), SerializeTaskFile({bare}));
  EXPECT_EQ(optionsFile()["Tasks"]["333"]["ServerTls"],
            json::parse(R"({"SourceServer": {"SslCaFile": "/etc/ssl/our-ca.pem"},
                            "DestinationServer": {"SslFingerprint": ")" +
                        std::string(95, 'A') +
                        R"(", "DefaultsFile": "/etc/brevanto/dest.cnf"}})"));

  std::vector<CTaskItem> loaded = read();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].SourceServer, copy.SourceServer);
  EXPECT_EQ(loaded[0].DestinationServer, copy.DestinationServer);
  // The fields alone hold them in memory: clearing one and saving drops it from the file.
  EXPECT_EQ(loaded[0].OptionSections, "");
  loaded[0].SourceServer.SslCaFile.clear();
  loaded[0].DestinationServer.SslFingerprint.clear();
  loaded[0].DestinationServer.DefaultsFile.clear();
  ASSERT_TRUE(WriteTaskFile(taskPath(), loaded));
  EXPECT_FALSE(std::filesystem::exists(optionsPath()));
}

TEST_F(TaskOptionsStoreTest, KeysItDoesNotKnowSurviveALoadAndSave) {
  ASSERT_TRUE(WriteTaskFile(taskPath(), {Task("111", "a"), Task("333", "deleted")}));
  ASSERT_TRUE(WriteWholeFile(optionsPath(), R"({
    "Written by": "a newer version",
    "Format": 1,
    "Tasks": {
      "111": {"Advanced": {"Threads": 3, "Future": [1, 2]}, "Later": {"x": 1}},
      "333": {"Advanced": {}}
    }
  })"));
  std::vector<CTaskItem> loaded = read();
  ASSERT_EQ(loaded.size(), 2u);
  CAdvancedOptions options = AdvancedOptionsOf(loaded[0]);
  EXPECT_EQ(options.Threads, 3);
  EXPECT_TRUE(options.IncludeRoutines);  // a missing key takes the default
  options.Threads = 5;
  SetAdvancedOptions(loaded[0], options);
  ASSERT_TRUE(WriteTaskFile(taskPath(), {loaded[0]}));  // the second task was deleted

  const json saved = optionsFile();
  EXPECT_EQ(saved["Written by"], "a newer version");
  EXPECT_EQ(saved["Tasks"].size(), 1u);
  EXPECT_EQ(saved["Tasks"]["111"]["Advanced"]["Threads"], 5);
  EXPECT_EQ(saved["Tasks"]["111"]["Advanced"]["Future"], (json{1, 2}));
  EXPECT_EQ(saved["Tasks"]["111"]["Later"], (json{{"x", 1}}));
}

TEST_F(TaskOptionsStoreTest, DamagedFileGivesDefaultsAndIsKeptAsideOnSave) {
  CTaskItem task = Task("111", "a");
  SetAdvancedOptions(task, CAdvancedOptions());
  ASSERT_TRUE(WriteTaskFile(taskPath(), {task}));
  for (const std::string& damage : {std::string("{\"Tasks\": {\"111\": "), std::string("[1,2]"),
                                   std::string("{\"Tasks\": 7}"), std::string("\xff\xfe{")}) {
    SCOPED_TRACE(damage);
    std::filesystem::remove(optionsPath() + ".damaged");
    ASSERT_TRUE(WriteWholeFile(optionsPath(), damage));
    std::vector<CTaskItem> loaded = read();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].TaskName, "a");  // the task itself loads unchanged
    EXPECT_EQ(AdvancedOptionsOf(loaded[0]), CAdvancedOptions::Legacy());

    ASSERT_TRUE(WriteTaskFile(taskPath(), loaded));
    EXPECT_EQ(ReadWholeFile(optionsPath() + ".damaged"), damage);
    EXPECT_FALSE(std::filesystem::exists(optionsPath()));  // nothing left to store
  }
}

TEST_F(TaskOptionsStoreTest, EmptyListRemovesTheFileAndMissingFileLoadsDefaults) {
  CTaskItem task = Task("111", "a");
  SetAdvancedOptions(task, CAdvancedOptions());
  ASSERT_TRUE(WriteTaskFile(taskPath(), {task}));
  ASSERT_TRUE(std::filesystem::remove(optionsPath()));
  EXPECT_EQ(AdvancedOptionsOf(read().at(0)), CAdvancedOptions::Legacy());

  ASSERT_TRUE(WriteTaskFile(taskPath(), {task}));
  ASSERT_TRUE(std::filesystem::exists(optionsPath()));
  ASSERT_TRUE(WriteTaskFile(taskPath(), {}));
  EXPECT_FALSE(std::filesystem::exists(optionsPath()));
}

TEST_F(TaskOptionsStoreTest, CopySaveAsAndLoadFromCarryTheOptions) {
  test::FakeClock clock{test::MakeTime(2024, 2, 29, 12, 0, 0)};
  CTaskList list(clock);
  CTaskItem task = Task("", "zstd");
  CAdvancedOptions options;
  options.Compression = Compression::Zstd;
  SetAdvancedOptions(task, options);
  list.AddTask(task);
  list.AddTask(list.At(0));  // the task list's copy command
  ASSERT_NE(list.At(0).TaskKey, list.At(1).TaskKey);
  EXPECT_EQ(AdvancedOptionsOf(list.At(1)), options);

  const std::string saveAs = m_dir.file("elsewhere.tsk");
  ASSERT_TRUE(list.SaveTaskFile(saveAs));
  ASSERT_TRUE(std::filesystem::exists(m_dir.file("elsewhere.json")));
  list.RemoveAll();
  clock.Advance(60'000);  // loading gives fresh keys
  ASSERT_TRUE(list.LoadTaskFile(saveAs));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(AdvancedOptionsOf(list.At(0)), options);
  EXPECT_EQ(AdvancedOptionsOf(list.At(1)), options);
}

TEST(AdvancedOptionsTest, ValuesOutsideTheirRangeOrTypeFallBackSafely) {
  struct Case {
    const char* name;
    json input;
    CAdvancedOptions expected;
    bool problem;
  };
  CAdvancedOptions defaults;
  auto with = [&](auto change) {
    CAdvancedOptions o = defaults;
    change(o);
    return o;
  };
  const Case cases[] = {
      {"empty object", json::object(), defaults, false},
      {"every key", AdvancedOptionsToJson(with([](auto& o) {
         o.IncludeEvents = false;
         o.StatementBytes = 65536;
         o.Compression = Compression::Gzip;
         o.CompressionLevel = 9;
         o.NullMarker = true;
       })),
       with([](auto& o) {
         o.IncludeEvents = false;
         o.StatementBytes = 65536;
         o.Compression = Compression::Gzip;
         o.CompressionLevel = 9;
         o.NullMarker = true;
       }),
       false},
      {"threads clamped", json{{"Threads", 0}}, with([](auto& o) { o.Threads = 1; }), true},
      {"threads too many", json{{"Threads", 1000}}, with([](auto& o) { o.Threads = kMaxThreads; }),
       true},
      {"negative bytes", json{{"StatementBytes", -1}}, with([](auto& o) { o.StatementBytes = 0; }),
       true},
      {"tiny bytes", json{{"StatementBytes", 10}},
       with([](auto& o) { o.StatementBytes = kMinStatementBytes; }), true},
      {"huge bytes", json{{"StatementBytes", 1ull << 40}},
       with([](auto& o) { o.StatementBytes = kMaxStatementBytes; }), true},
      {"bool as text", json{{"IncludeRoutines", "yes"}}, defaults, true},
      {"unknown compression", json{{"Compression", "lzma"}}, defaults, true},
      {"gzip level past 9", json{{"Compression", "gzip"}, {"CompressionLevel", 19}},
       with([](auto& o) {
         o.Compression = Compression::Gzip;
         o.CompressionLevel = 9;
       }),
       true},
      {"zstd level 19", json{{"Compression", "zstd"}, {"CompressionLevel", 19}}, with([](auto& o) {
         o.Compression = Compression::Zstd;
         o.CompressionLevel = 19;
       }),
       false},
      {"not an object", json::array(), defaults, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string problem;
    EXPECT_EQ(AdvancedOptionsFromJson(c.input, &problem), c.expected);
    EXPECT_EQ(!problem.empty(), c.problem) << problem;
  }
}

}  // namespace
}  // namespace brevanto
