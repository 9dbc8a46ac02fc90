#include "core/Options.h"

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/Hex.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::Hex;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

CSystemOptions EveryOptionSet() {
  CSystemOptions o;
  o.LoginUserName = "admin";
  o.LoginPassword = "s3cret";
  o.AutoRun = 1;
  o.HotKeyVirtualKey = 0x7A;
  o.HotKeyModifiers = 1 | 8;
  o.DateFormat = 3;
  o.TimeFormat = 2;
  o.TipIndex = 41;
  o.ShowTipsOnStartup = 0;
  o.DefaultBackupFolder = "/srv/backups/";
  o.BlockShutdownWhileRunning = 1;
  o.LimitLogSize = 1;
  o.MaxLogSizeKB = 100000;
  o.DontAskAutoRun = 1;
  return o;
}

TEST(OptionsTest, DefaultFileIsTheDocumentedBytes) {
  // clang-format off
  std::string expected = Hex(
      "e0f9bdca"  // magic
      "00000000"  // LoginUserName
      "00000000"  // LoginPassword
      "00"        // AutoRun
      "4d00"      // HotKeyVirtualKey 77
      "0600"      // HotKeyModifiers Ctrl+Alt
      "01" "01"   // DateFormat, TimeFormat
      "ffffffff"  // TipIndex -1
      "01"        // ShowTipsOnStartup
      "00000000"  // DefaultBackupFolder
      "00" "00"   // BlockShutdownWhileRunning, LimitLogSize
      "00000000"  // MaxLogSizeKB
      "00");      // DontAskAutoRun
  // clang-format on
  ASSERT_EQ(expected.size(), 35u);
  EXPECT_EQ(SerializeOptions(CSystemOptions()), expected);
}

TEST(OptionsTest, SavedOptionsLoadBackAndTheFileIsOwnerOnly) {
  TempDir dir;
  ASSERT_TRUE(SaveOptions(dir.path(), EveryOptionSet()));
  CSystemOptions loaded;
  ASSERT_TRUE(LoadOptions(dir.path(), loaded));
  EXPECT_EQ(loaded, EveryOptionSet());
  // The user name is scrambled with the text key, not stored readable.
  EXPECT_EQ(ReadWholeFile(dir.file("opt_se.dll")).substr(4, 9), Hex("050000003b3e373334"));

  struct stat st {};
  ASSERT_EQ(::stat(dir.file("opt_se.dll").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(OptionsTest, APasswordWithoutUserNameIsNotStored) {
  TempDir dir;
  CSystemOptions o = EveryOptionSet();
  o.LoginUserName.clear();
  ASSERT_TRUE(SaveOptions(dir.path(), o));
  CSystemOptions loaded;
  ASSERT_TRUE(LoadOptions(dir.path(), loaded));
  EXPECT_EQ(loaded.LoginPassword, "");
  EXPECT_FALSE(loaded.HasLogin());
}

TEST(OptionsTest, UnusableFilesKeepEveryDefault) {
  const std::string good = SerializeOptions(EveryOptionSet());
  struct Case {
    std::string name;
    std::string content;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"foreign magic", Hex("b0aedfbf") + good.substr(4)},
      {"huge text length", Hex("e0f9bdcaffffff7f") + good.substr(8)},
  };
  // A truncated file is not read in part: every prefix keeps the defaults.
  for (std::size_t size = 1; size < good.size(); ++size) {
    cases.push_back({"first " + std::to_string(size) + " bytes", good.substr(0, size)});
  }
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteWholeFile(dir.file("opt_se.dll"), c.content));
    CSystemOptions loaded;
    EXPECT_FALSE(LoadOptions(dir.path(), loaded));
    EXPECT_EQ(loaded, CSystemOptions());
  }
  CSystemOptions loaded;
  EXPECT_FALSE(LoadOptions(dir.file("missing/"), loaded));
  EXPECT_EQ(loaded, CSystemOptions());
}

}  // namespace
}  // namespace brevanto
