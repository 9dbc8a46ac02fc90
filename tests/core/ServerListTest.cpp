#include "core/ServerList.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/BinaryIO.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

CServerInfo Entry(const std::string& name, const std::string& host = "db.example") {
  return {name, host, 3307, "app", "pw", "shop", "note", 1, 1, 0, 4, {}, {}};
}

// The earlier layout, made from its documented fields.
std::string LegacyServerFile(const std::vector<std::string>& hosts) {
  BinaryWriter w;
  w.U32(0xBFDFAEBAu);
  for (const std::string& host : hosts) {
    w.Text(host, kLegacyTextKey);
    w.U32(3310);
    w.Text("olduser", kLegacyTextKey);
    w.Text("oldpw", kLegacyTextKey);
    w.Text("", kLegacyTextKey);
    w.Text("old comment", kLegacyTextKey);
    w.U8(1);
    w.U8(0);
    w.U8(1);
  }
  return w.Take();
}

class ServerListTest : public ::testing::Test {
 protected:
  std::string file() const { return m_dir.file("myserver.dll"); }
  std::vector<CServerInfo> loadFile() const {
    std::vector<CServerInfo> servers;
    LoadServers(m_dir.path(), servers);
    return servers;
  }

  TempDir m_dir;
  CServerList m_list{m_dir.path()};
};

TEST_F(ServerListTest, ChangesAreSavedAtOnceInTheUsersOrder) {
  EXPECT_FALSE(m_list.Load());
  EXPECT_EQ(ReadWholeFile(file()), "");  // nothing written until the first change

  ASSERT_TRUE(m_list.Append(Entry("one")));
  ASSERT_TRUE(m_list.Append(Entry("two")));
  ASSERT_TRUE(m_list.Append(Entry("three")));
  ASSERT_TRUE(m_list.ReplaceAt(1, Entry("two", "10.0.0.2")));
  ASSERT_TRUE(m_list.MoveUp(2));    // one three two
  ASSERT_TRUE(m_list.MoveDown(0));  // three one two
  ASSERT_TRUE(m_list.RemoveAt(1));  // three two

  std::vector<CServerInfo> expected = {Entry("three"), Entry("two", "10.0.0.2")};
  EXPECT_EQ(m_list.Entries(), expected);
  EXPECT_EQ(loadFile(), expected);  // a reorder survives the next start too
  EXPECT_EQ(m_list.Find("two"), 1);
  EXPECT_EQ(m_list.Find("Two"), -1);

  struct stat st {};
  ASSERT_EQ(::stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ServerListTest, IndexesOutsideTheListChangeNothing) {
  ASSERT_TRUE(m_list.Append(Entry("only")));
  EXPECT_FALSE(m_list.ReplaceAt(1, Entry("x")));
  EXPECT_FALSE(m_list.RemoveAt(-1));
  EXPECT_FALSE(m_list.MoveUp(0));
  EXPECT_FALSE(m_list.MoveDown(0));
  EXPECT_EQ(m_list.At(5), CServerInfo());
  EXPECT_EQ(m_list.Entries(), std::vector<CServerInfo>{Entry("only")});
}

TEST_F(ServerListTest, AnEmptyListIsTheMagicAlone) {
  ASSERT_TRUE(SaveServers(m_dir.path(), {}));
  EXPECT_EQ(ReadWholeFile(file()), std::string("\xE0\xF9\xBD\xCA", 4));
  EXPECT_TRUE(m_list.Load());
  EXPECT_EQ(m_list.Count(), 0);
}

TEST_F(ServerListTest, AnOlderFileLoadsNamedAfterItsHostsAndIsRewritten) {
  ASSERT_TRUE(WriteWholeFile(file(), LegacyServerFile({"alpha", "10.1.1.1"})));
  ASSERT_TRUE(m_list.Load());
  ASSERT_EQ(m_list.Count(), 2);
  CServerInfo expected{"alpha", "alpha", 3310, "olduser", "oldpw", "", "old comment", 1, 0, 1, 0, {}, {}};
  EXPECT_EQ(m_list.At(0), expected);
  EXPECT_EQ(m_list.At(1).ConnectionName, "10.1.1.1");

  EXPECT_EQ(ReadWholeFile(file()), SerializeServers(m_list.Entries()));
}

TEST_F(ServerListTest, AForeignFileIsNeitherReadNorOverwritten) {
  const std::string foreign = "MZ\x90\x00 not ours at all";
  ASSERT_TRUE(WriteWholeFile(file(), foreign));
  EXPECT_FALSE(m_list.Load());
  EXPECT_EQ(m_list.Count(), 0);
  EXPECT_EQ(ReadWholeFile(file()), foreign);
}

TEST_F(ServerListTest, ATruncatedLastEntryIsDropped) {
  const std::string two = SerializeServers({Entry("a"), Entry("b")});
  const std::size_t first = SerializeServers({Entry("a")}).size();
  for (std::size_t size = first; size < two.size(); ++size) {
    std::vector<CServerInfo> servers;
    ASSERT_TRUE(ParseServers(std::string_view(two).substr(0, size), servers));
    EXPECT_EQ(servers, std::vector<CServerInfo>{Entry("a")}) << "size " << size;
  }
  // A length field pointing far past the end costs nothing.
  std::string lying = two.substr(0, first) + "\xFF\xFF\xFF\xFF";
  std::vector<CServerInfo> servers;
  ASSERT_TRUE(ParseServers(lying, servers));
  EXPECT_EQ(servers.size(), 1u);
}

TEST_F(ServerListTest, TlsSettingsLiveBesideTheUnchangedServerFile) {
  const std::string tlsFile = m_dir.file("myserver.json");
  CServerInfo pinned = Entry("pinned");
  pinned.UseSSL = 1;
  pinned.SslFingerprint = "AB:" + std::string(92, '0');
  pinned.SslCaFile = "/etc/ssl/ca.pem";
  pinned.DefaultsFile = "/etc/brevanto/pinned.cnf";
  ASSERT_TRUE(m_list.Append(Entry("plain")));
  EXPECT_FALSE(std::filesystem::exists(tlsFile));  // nothing to keep, no file
  ASSERT_TRUE(m_list.Append(pinned));

  CServerInfo bare = pinned;
  bare.SslFingerprint.clear();
  bare.SslCaFile.clear();
  bare.DefaultsFile.clear();
  EXPECT_EQ(ReadWholeFile(file()), SerializeServers({Entry("plain"), bare}));
  struct stat st {};
  ASSERT_EQ(::stat(tlsFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(loadFile(), m_list.Entries());

  // Renamed, the settings follow the server; cleared, the file goes.
  pinned.ConnectionName = "renamed";
  ASSERT_TRUE(m_list.ReplaceAt(1, pinned));
  EXPECT_EQ(loadFile()[1], pinned);
  ASSERT_TRUE(m_list.ReplaceAt(1, bare));
  EXPECT_FALSE(std::filesystem::exists(tlsFile));
  EXPECT_EQ(loadFile()[1], bare);
}

TEST_F(ServerListTest, ADamagedTlsFileLoadsAsNoSettingsAndIsKeptAside) {
  CServerInfo pinned = Entry("pinned");
  pinned.SslFingerprint = "AB:" + std::string(92, '0');
  ASSERT_TRUE(m_list.Append(pinned));
  const std::string tlsFile = m_dir.file("myserver.json");
  ASSERT_TRUE(WriteWholeFile(tlsFile, "{ not json"));
  ASSERT_TRUE(m_list.Load());
  EXPECT_EQ(m_list.At(0), Entry("pinned"));
  ASSERT_TRUE(m_list.ReplaceAt(0, pinned));
  EXPECT_EQ(ReadWholeFile(tlsFile + ".damaged"), "{ not json");
  EXPECT_EQ(loadFile()[0], pinned);
}

TEST(ServerInfoTest, FingerprintsAreTakenWithOrWithoutColonsInAnyCase) {
  std::string colons;
  for (int i = 0; i < 32; ++i) colons += (i == 0 ? "" : ":") + std::string("a") + "0123456789abcdef"[i % 16];
  std::string upper = colons;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string bare = upper;
  std::erase(bare, ':');
  EXPECT_EQ(CanonicalFingerprint(colons), upper);
  EXPECT_EQ(CanonicalFingerprint(" " + bare + "\n"), upper);
  for (const std::string& wrong :
       {std::string(), bare.substr(2), bare + "00", upper.substr(0, 59) /* a SHA-1 */,
        "G" + bare.substr(1), bare.substr(0, 2) + ":" + bare.substr(2),
        upper.substr(0, 2) + "::" + upper.substr(4)}) {
    EXPECT_EQ(CanonicalFingerprint(wrong), "") << wrong;
  }
}

TEST(ServerEntryValidationTest, ReportsTheFirstProblemInTheDialogsOrder) {
  const std::vector<CServerInfo> saved = {Entry("prod"), Entry("test")};
  ServerEntryInput good{"new", "db.example", "3306", "", "", false};
  struct Case {
    const char* name;
    ServerEntryInput input;
    int editing;
    ServerEntryField field;
    const char* message;
  } cases[] = {
      // clang-format off
      {"valid", good, -1, ServerEntryField::None, ""},
      {"no name", {"", "", "x", "", "", true}, -1, ServerEntryField::ConnectionName,
       "Please input the Connection Name!"},
      {"no host", {"n", "", "x", "", "", false}, -1, ServerEntryField::Host,
       "Please input the Server name or IP address!"},
      {"letter in port", {"n", "h", "33o6", "", "", false}, -1, ServerEntryField::Port,
       "Port must be a number between 1 and 65535!"},
      {"negative port", {"n", "h", "-1", "", "", false}, -1, ServerEntryField::Port,
       "Port must be a number between 1 and 65535!"},
      {"port 0", {"n", "h", "0", "", "", false}, -1, ServerEntryField::Port,
       "Please input a number between 1 and 65535!"},
      {"empty port", {"n", "h", "", "", "", false}, -1, ServerEntryField::Port,
       "Please input a number between 1 and 65535!"},
      {"port 70000", {"n", "h", "70000", "", "", false}, -1, ServerEntryField::Port,
       "Please input a number between 1 and 65535!"},
      {"port past 32 bits", {"n", "h", "4294967297", "", "", false}, -1, ServerEntryField::Port,
       "Please input a number between 1 and 65535!"},
      {"port 65535", {"n", "h", "65535", "", "", false}, -1, ServerEntryField::None, ""},
      {"saved password needs a user", {"n", "h", "1", "", "pw", true}, -1,
       ServerEntryField::UserName, "Please input the username!"},
      {"saved password needs a password", {"n", "h", "1", "u", "", true}, -1,
       ServerEntryField::Password, "Please input the password!"},
      {"adding a known name", {"test", "h", "1", "", "", false}, -1,
       ServerEntryField::ConnectionName, "The connection name is already existed!"},
      {"names are case-sensitive", {"Test", "h", "1", "", "", false}, -1, ServerEntryField::None,
       ""},
      {"editing keeps its own name", {"test", "h", "1", "", "", false}, 1, ServerEntryField::None,
       ""},
      {"editing onto another name", {"prod", "h", "1", "", "", false}, 1,
       ServerEntryField::ConnectionName, "The connection name is already existed!"},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerEntryProblem p = ValidateServerEntry(c.input, saved, c.editing);
    EXPECT_EQ(p.Field, c.field);
    EXPECT_EQ(p.Message, c.message);
  }
  EXPECT_EQ(ParsePortText("3306"), 3306u);
}

}  // namespace
}  // namespace brevanto
