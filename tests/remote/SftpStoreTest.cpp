// The SFTP store against a real sshd (tests/support/SshServer.h) on 127.0.0.1.

#include "remote/SftpStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "tests/support/ClosedPort.h"
#include "tests/support/FaultProxy.h"
#include "tests/support/SshServer.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::WriteWholeFile;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

// Files under `folder`, relative, in name order.
std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class SftpStoreTest : public ::testing::Test {
 protected:
  explicit SftpStoreTest(const test::SshServerSettings& settings = {}) : m_server(settings) {}

  void SetUp() override { ASSERT_TRUE(m_server.running()) << m_server.problem(); }

  // Key login, pinned host key, a place under the server's start folder.
  RemoteOptions Options() const {
    RemoteOptions options;
    options.Kind = RemoteKind::Sftp;
    options.Host = m_server.host();
    options.Port = m_server.port();
    options.User = m_server.user();
    options.PrivateKeyFile = m_server.clientKeyFile();
    options.HostKeySha256 = m_server.hostKeySha256();
    options.Path = Place();
    return options;
  }
  std::string Place() const { return m_server.data() + "backups"; }

  // Short waits, and the warnings kept for the test to read.
  TransferControl Control() {
    TransferControl control;
    control.Retry.FirstDelayMs = 10;
    control.Retry.MaxDelayMs = 40;
    control.Retry.Attempts = 4;
    control.Retry.StallSeconds = 3;
    control.Retry.ConnectTimeoutSeconds = 5;
    control.Warn = [this](const std::string& line) { m_warnings.push_back(line); };
    return control;
  }

  std::unique_ptr<RemoteStore> Store(const RemoteOptions& options,
                                     const std::string& knownHosts = "") {
    std::unique_ptr<RemoteStore> store;
    EXPECT_TRUE(MakeSftpStore(options, Control(), store, knownHosts).ok());
    return store;
  }
  std::unique_ptr<RemoteStore> Store() { return Store(Options()); }

  static Status Put(RemoteStore& store, const std::string& name, const std::string& bytes) {
    std::unique_ptr<ObjectWriter> writer;
    Status status = store.OpenWriter(name, writer);
    if (status.ok()) status = writer->Write(bytes);
    if (status.ok()) status = writer->Complete();
    return status;
  }
  static std::string Read(RemoteStore& store, const std::string& name, Status* result = nullptr) {
    std::string bytes;
    Status status = store.Get(name, [&](std::string_view part) {
      bytes.append(part);
      return Status::Ok();
    });
    if (result != nullptr) *result = status;
    EXPECT_TRUE(result != nullptr || status.ok()) << status.message();
    return bytes;
  }

  test::SshServer m_server;
  test::TempDir m_local;
  std::vector<std::string> m_warnings;
};

TEST_F(SftpStoreTest, ObjectsOfEverySizeRoundTripIntoFoldersMadeForThem) {
  auto store = Store();
  const std::string big = RandomBytes(5 * 1024 * 1024 + 7, 1);
  ASSERT_TRUE(WriteWholeFile(m_local.file("big"), big));
  ASSERT_TRUE(WriteWholeFile(m_local.file("empty"), ""));

  ASSERT_TRUE(store->PutFile(m_local.file("big"), "2026-12-08_03-00/db/big.sql.zst").ok());
  ASSERT_TRUE(store->PutFile(m_local.file("empty"), "2026-12-08_03-00/empty.sql").ok());
  ASSERT_TRUE(Put(*store, "one", "x").ok());
  // A writer fed in uneven pieces, some longer than one request.
  std::unique_ptr<ObjectWriter> writer;
  ASSERT_TRUE(store->OpenWriter("2026-12-08_03-00/streamed", writer).ok());
  for (std::size_t at = 0, piece = 1; at < big.size(); at += piece, piece = piece * 3 + 1) {
    ASSERT_TRUE(writer->Write(std::string_view(big).substr(at, piece)).ok());
  }
  EXPECT_EQ(writer->Size(), big.size());
  ASSERT_TRUE(writer->Complete().ok());

  EXPECT_EQ(ReadWholeFile(Place() + "/2026-12-08_03-00/db/big.sql.zst"), big);
  EXPECT_EQ(ReadWholeFile(Place() + "/2026-12-08_03-00/streamed"), big);
  EXPECT_TRUE(fs::exists(Place() + "/2026-12-08_03-00/empty.sql"));
  EXPECT_EQ(Read(*store, "2026-12-08_03-00/db/big.sql.zst"), big);
  EXPECT_EQ(Read(*store, "2026-12-08_03-00/streamed"), big);
  EXPECT_EQ(Read(*store, "2026-12-08_03-00/empty.sql"), "");
  EXPECT_EQ(Read(*store, "one"), "x");
  EXPECT_EQ(fs::status(Place() + "/2026-12-08_03-00/db/big.sql.zst").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(SftpStoreTest, AnObjectIsReplacedOnlyOnceTheNewOneIsComplete) {
  auto store = Store();
  ASSERT_TRUE(Put(*store, "copy/t.sql", "old").ok());

  std::unique_ptr<ObjectWriter> writer;
  ASSERT_TRUE(store->OpenWriter("copy/t.sql", writer).ok());
  ASSERT_TRUE(writer->Write(RandomBytes(300 * 1024, 2)).ok());
  EXPECT_EQ(ReadWholeFile(Place() + "/copy/t.sql"), "old");
  // The unfinished upload sits beside the object under a name nobody lists.
  EXPECT_EQ(FilesUnder(Place() + "/copy").size(), 2u);
  std::vector<RemoteObject> objects;
  ASSERT_TRUE(store->List("", objects).ok());
  EXPECT_EQ(objects, (std::vector<RemoteObject>{{"copy/t.sql", 3}}));
  ASSERT_TRUE(writer->Write("tail").ok());
  const Status completed = writer->Complete();
  ASSERT_TRUE(completed.ok()) << completed.message();
  EXPECT_EQ(ReadWholeFile(Place() + "/copy/t.sql"), RandomBytes(300 * 1024, 2) + "tail");
  EXPECT_EQ(FilesUnder(Place() + "/copy"), std::vector<std::string>{"t.sql"});

  // An abandoned writer leaves the object as it was and nothing beside it.
  ASSERT_TRUE(store->OpenWriter("copy/t.sql", writer).ok());
  ASSERT_TRUE(writer->Write("never complete").ok());
  writer.reset();
  EXPECT_EQ(ReadWholeFile(Place() + "/copy/t.sql"), RandomBytes(300 * 1024, 2) + "tail");
  EXPECT_EQ(FilesUnder(Place() + "/copy"), std::vector<std::string>{"t.sql"});
}

TEST_F(SftpStoreTest, ListingIsInNameOrderAtAnyDepthWithoutUnfinishedUploads) {
  auto store = Store();
  std::vector<RemoteObject> objects;
  // Nothing uploaded yet: the place does not exist, and holds nothing.
  ASSERT_TRUE(store->List("", objects).ok());
  EXPECT_TRUE(objects.empty());

  for (const char* name : {"b.manifest.json", "a/z/deep", "a/y", "b/1", "a.manifest.json"}) {
    ASSERT_TRUE(Put(*store, name, name).ok());
  }
  ASSERT_TRUE(WriteWholeFile(Place() + "/a/.y.brevanto-part-0123456789abcdef", "left over"));

  ASSERT_TRUE(store->List("", objects).ok());
  EXPECT_EQ(objects, (std::vector<RemoteObject>{{"a.manifest.json", 15},
                                                {"a/y", 3},
                                                {"a/z/deep", 8},
                                                {"b.manifest.json", 15},
                                                {"b/1", 3}}));
  ASSERT_TRUE(store->List("a/", objects).ok());
  EXPECT_EQ(objects, (std::vector<RemoteObject>{{"a/y", 3}, {"a/z/deep", 8}}));
  ASSERT_TRUE(store->List("a", objects).ok());
  EXPECT_EQ(objects.size(), 3u);
  ASSERT_TRUE(store->List("a/z/d", objects).ok());
  EXPECT_EQ(objects, (std::vector<RemoteObject>{{"a/z/deep", 8}}));
  ASSERT_TRUE(store->List("c/", objects).ok());
  EXPECT_TRUE(objects.empty());
}

TEST_F(SftpStoreTest, DeleteRemovesTheObjectAndFoldersLeftEmptyAndAcceptsOneAlreadyGone) {
  auto store = Store();
  ASSERT_TRUE(Put(*store, "c1/db/t.sql", "1").ok());
  ASSERT_TRUE(Put(*store, "c1/db/u.sql", "2").ok());
  ASSERT_TRUE(store->Delete("c1/db/t.sql").ok());
  EXPECT_EQ(FilesUnder(Place()), std::vector<std::string>{"c1/db/u.sql"});
  ASSERT_TRUE(store->Delete("c1/db/u.sql").ok());
  EXPECT_FALSE(fs::exists(Place() + "/c1"));
  EXPECT_TRUE(fs::exists(Place()));
  EXPECT_TRUE(store->Delete("c1/db/u.sql").ok());
  EXPECT_TRUE(store->Delete("never/was").ok());
  // And an upload into the folder just removed makes it again.
  ASSERT_TRUE(Put(*store, "c1/db/t.sql", "3").ok());
  EXPECT_EQ(ReadWholeFile(Place() + "/c1/db/t.sql"), "3");
}

TEST_F(SftpStoreTest, ARelativePathIsUnderTheLoginFolderAndNamesCannotLeaveThePlace) {
  RemoteOptions options = Options();
  options.Path = "rel/place/";
  auto store = Store(options);
  ASSERT_TRUE(Put(*store, "x/y", "here").ok());
  EXPECT_EQ(ReadWholeFile(m_server.data() + "rel/place/x/y"), "here");
  EXPECT_EQ(Read(*store, "x/y"), "here");
  // As a shell would read it, "~/" is the login folder too.
  RemoteOptions tilde = options;
  tilde.Path = "~/rel/place";
  EXPECT_EQ(Read(*Store(tilde), "x/y"), "here");

  for (const char* bad : {"../escape", "/abs", "a//b", "a/./b", "", "dir/", ".x.brevanto-part-1"}) {
    const Status status = Put(*store, bad, "no");
    EXPECT_FALSE(status.ok()) << bad;
    EXPECT_NE(status.message().find(RemoteTargetText(options)), std::string::npos);
  }
  EXPECT_EQ(FilesUnder(m_server.data()), std::vector<std::string>{"rel/place/x/y"});
}

TEST_F(SftpStoreTest, ReadingAMissingObjectIsAnErrorNamingIt) {
  auto store = Store();
  Status status;
  Read(*store, "nothing/here", &status);
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("nothing/here"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find(RemoteTargetText(Options())), std::string::npos);
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(SftpStoreTest, AWrongPinnedHostKeyIsRefusedNamingTheKeyOfferedAndNothingIsWritten) {
  RemoteOptions options = Options();
  options.HostKeySha256 = "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
  auto store = Store(options);
  const Status status = Put(*store, "x", "secret");
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find(m_server.hostKeySha256() + " (ssh-ed25519)"), std::string::npos)
      << status.message();
  EXPECT_NE(status.message().find(RemoteTargetText(options)), std::string::npos);
  EXPECT_TRUE(FilesUnder(m_server.data()).empty());
  EXPECT_TRUE(m_warnings.empty()) << "a refused host key is not retried";
}

TEST_F(SftpStoreTest, WithoutAPinTheHostKeyMustBeInKnownHosts) {
  RemoteOptions options = Options();
  options.HostKeySha256.clear();
  const std::string knownHosts = m_local.file("known_hosts");

  ASSERT_TRUE(WriteWholeFile(knownHosts, m_server.knownHostsLine() + "\n"));
  EXPECT_TRUE(Put(*Store(options, knownHosts), "known", "1").ok());

  ASSERT_TRUE(WriteWholeFile(knownHosts, ""));
  Status status = Put(*Store(options, knownHosts), "unknown", "1");
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("not known"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find(m_server.hostKeySha256()), std::string::npos);

  // Another key recorded for this host and port: the server's key changed.
  const std::string other = m_local.file("other");
  ASSERT_TRUE(test::MakeSshKeyPair(other));
  std::string otherKey = ReadWholeFile(other + ".pub");
  otherKey = otherKey.substr(0, otherKey.rfind(' '));
  ASSERT_TRUE(WriteWholeFile(
      knownHosts, "[127.0.0.1]:" + std::to_string(m_server.port()) + " " + otherKey + "\n"));
  status = Put(*Store(options, knownHosts), "changed", "1");
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("changed"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find(m_server.hostKeySha256()), std::string::npos);

  EXPECT_EQ(FilesUnder(m_server.data()), std::vector<std::string>{"backups/known"});
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(SftpStoreTest, AKeyTheServerDoesNotKnowIsRefusedWithoutRetries) {
  RemoteOptions options = Options();
  options.PrivateKeyFile = m_local.file("stranger");
  ASSERT_TRUE(test::MakeSshKeyPair(options.PrivateKeyFile));
  const Status status = TestRemoteStore(*Store(options));
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("refused"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find(RemoteTargetText(options)), std::string::npos);
  EXPECT_TRUE(m_warnings.empty());

  options.PrivateKeyFile = m_local.file("missing");
  const Status unreadable = TestRemoteStore(*Store(options));
  EXPECT_NE(unreadable.message().find(options.PrivateKeyFile), std::string::npos)
      << unreadable.message();
}

TEST_F(SftpStoreTest, WithoutKeyFileOrPasswordTheSshAgentLogsIn) {
  const std::string socket = m_local.file("agent.sock");
  std::string started = m_local.file("agent.out");
  ASSERT_EQ(std::system(("ssh-agent -a " + socket + " > " + started).c_str()), 0);
  // "SSH_AGENT_PID=1234; export SSH_AGENT_PID;"
  const std::string output = ReadWholeFile(started);
  const auto at = output.find("SSH_AGENT_PID=");
  ASSERT_NE(at, std::string::npos) << output;
  const std::string agentPid = std::to_string(std::stol(output.substr(at + 14)));
  const bool added = std::system(("SSH_AUTH_SOCK=" + socket + " ssh-add -q " +
                                  m_server.clientKeyFile() + " 2>/dev/null")
                                     .c_str()) == 0;
  setenv("SSH_AUTH_SOCK", socket.c_str(), 1);
  RemoteOptions options = Options();
  options.PrivateKeyFile.clear();
  const Status status = TestRemoteStore(*Store(options));
  unsetenv("SSH_AUTH_SOCK");
  std::system(("kill " + agentPid).c_str());
  ASSERT_TRUE(added);
  EXPECT_TRUE(status.ok()) << status.message();
}

TEST_F(SftpStoreTest, AStopRequestEndsAnUploadAndLeavesNothing) {
  bool stop = false;
  TransferControl control = Control();
  control.StopRequested = [&] { return stop; };
  std::unique_ptr<RemoteStore> store;
  ASSERT_TRUE(MakeSftpStore(Options(), control, store).ok());
  std::unique_ptr<ObjectWriter> writer;
  ASSERT_TRUE(store->OpenWriter("stopped", writer).ok());
  ASSERT_TRUE(writer->Write(RandomBytes(1024 * 1024, 11)).ok());
  stop = true;
  EXPECT_EQ(writer->Write(RandomBytes(1024 * 1024, 12)).message(), "Stopped.");
  writer.reset();
  EXPECT_TRUE(FilesUnder(Place()).empty());
}

TEST_F(SftpStoreTest, AServerNotListeningIsRetriedThenAnErrorNamingTheTarget) {
  RemoteOptions options = Options();
  options.Port = test::ClosedPort();
  const Status status = TestRemoteStore(*Store(options));
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find(RemoteTargetText(options) + ": cannot connect"),
            std::string::npos)
      << status.message();
  EXPECT_EQ(m_warnings.size(), 3u) << "four tries in all";
}

TEST_F(SftpStoreTest, TheWizardsTestPassesAndLeavesNothingBehind) {
  auto store = Store();
  const Status status = TestRemoteStore(*store);
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(FilesUnder(m_server.data()).empty());
}

TEST_F(SftpStoreTest, AConnectionCutMidUploadIsResumedAndTheObjectIsWhole) {
  auto store = Store();
  const std::string bytes = RandomBytes(3 * 1024 * 1024, 3);
  std::unique_ptr<ObjectWriter> writer;
  ASSERT_TRUE(store->OpenWriter("cut/object", writer).ok());
  ASSERT_TRUE(writer->Write(std::string_view(bytes).substr(0, 1024 * 1024)).ok());
  ASSERT_GT(m_server.cutSessions(), 0);
  ASSERT_TRUE(writer->Write(std::string_view(bytes).substr(1024 * 1024)).ok());
  ASSERT_TRUE(writer->Complete().ok());
  EXPECT_EQ(ReadWholeFile(Place() + "/cut/object"), bytes);
  EXPECT_EQ(FilesUnder(Place()), std::vector<std::string>{"cut/object"});
  ASSERT_EQ(m_warnings.size(), 1u);
  EXPECT_NE(m_warnings[0].find("retrying"), std::string::npos) << m_warnings[0];
}

TEST_F(SftpStoreTest, AReadCutMidwayResumesWhereTheBytesStopped) {
  auto store = Store();
  const std::string bytes = RandomBytes(6 * 1024 * 1024, 4);
  ASSERT_TRUE(Put(*store, "object", bytes).ok());
  std::string read;
  bool cut = false;
  const Status status = store->Get("object", [&](std::string_view part) {
    read.append(part);
    if (!cut && read.size() > 1024 * 1024) cut = m_server.cutSessions() > 0;
    return Status::Ok();
  });
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(cut);
  EXPECT_TRUE(read == bytes) << read.size() << " bytes read of " << bytes.size();
  EXPECT_EQ(m_warnings.size(), 1u);
}

TEST_F(SftpStoreTest, AReaderThatTakesLongerThanTheStallTimeIsNoStall) {
  // A restore reading from the store may run one statement for minutes.
  TransferControl control = Control();
  control.Retry.StallSeconds = 1;
  std::unique_ptr<RemoteStore> store;
  ASSERT_TRUE(MakeSftpStore(Options(), control, store).ok());
  const std::string bytes = RandomBytes(2 * 1024 * 1024, 6);
  ASSERT_TRUE(Put(*store, "object", bytes).ok());
  std::string read;
  const Status status = store->Get("object", [&](std::string_view part) {
    if (read.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    read.append(part);
    return Status::Ok();
  });
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(read == bytes);
  EXPECT_TRUE(m_warnings.empty()) << m_warnings.front();
}

TEST_F(SftpStoreTest, AnErrorFromTheConsumerEndsTheReadWithoutRetries) {
  auto store = Store();
  ASSERT_TRUE(Put(*store, "object", RandomBytes(1024 * 1024, 5)).ok());
  const Status status =
      store->Get("object", [](std::string_view) { return Status::Error("Local disk full"); });
  EXPECT_EQ(status.message(), "Local disk full");
  // The answers to the reads still in flight do not confuse what the connection does next.
  ASSERT_TRUE(Put(*store, "object", "replaced").ok());
  EXPECT_EQ(Read(*store, "object"), "replaced");
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(SftpStoreTest, TheBandwidthCapSlowsATransferWithoutMakingItLookStalled) {
  TransferControl control = Control();
  control.BandwidthBytesPerSecond = 128 * 1024;
  control.Retry.StallSeconds = 1;
  std::unique_ptr<RemoteStore> store;
  ASSERT_TRUE(MakeSftpStore(Options(), control, store).ok());
  const auto start = std::chrono::steady_clock::now();
  const Status status = Put(*store, "capped", RandomBytes(384 * 1024, 6));
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_TRUE(m_warnings.empty()) << m_warnings.front();
}

TEST_F(SftpStoreTest, AConnectionCutByTheNetworkMidUploadIsRetriedAndTheObjectIsWhole) {
  test::FaultProxy proxy(m_server.port());
  RemoteOptions options = Options();
  options.Port = proxy.port();
  auto store = Store(options);
  const std::string bytes = RandomBytes(4 * 1024 * 1024, 8);
  ASSERT_TRUE(WriteWholeFile(m_local.file("copy"), bytes));
  proxy.CutAfter(2 * 1024 * 1024);
  const Status status = store->PutFile(m_local.file("copy"), "2026-12-08_03-00/db/t.sql");
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(proxy.Fired(), 1);
  EXPECT_EQ(proxy.Connections(), 2);
  EXPECT_TRUE(ReadWholeFile(Place() + "/2026-12-08_03-00/db/t.sql") == bytes);
  EXPECT_EQ(FilesUnder(Place()), std::vector<std::string>{"2026-12-08_03-00/db/t.sql"});
  ASSERT_EQ(m_warnings.size(), 1u);
  EXPECT_NE(m_warnings[0].find("Uploading 2026-12-08_03-00/db/t.sql failed"), std::string::npos)
      << m_warnings[0];
}

TEST_F(SftpStoreTest, AStalledTransferIsAnErrorSoonAfterTheStallTimeAndKeepsTheOldObject) {
  test::FaultProxy proxy(m_server.port());
  RemoteOptions options = Options();
  options.Port = proxy.port();
  TransferControl control = Control();
  control.Retry.StallSeconds = 1;
  control.Retry.Attempts = 3;
  std::unique_ptr<RemoteStore> store;
  ASSERT_TRUE(MakeSftpStore(options, control, store).ok());
  const std::string bytes = RandomBytes(1024 * 1024, 9);
  ASSERT_TRUE(Put(*store, "stalled", bytes).ok());

  // Not retried: a stall is an Error soon after the stall time, and the old object stays.
  proxy.StallAfter(64 * 1024);
  const auto start = std::chrono::steady_clock::now();
  const Status status = Put(*store, "stalled", RandomBytes(3 * 1024 * 1024, 10));
  ASSERT_FALSE(status.ok());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  EXPECT_NE(status.message().find("stalled: no byte moved for 1 s"), std::string::npos)
      << status.message();
  EXPECT_NE(status.message().find(RemoteTargetText(options)), std::string::npos);
  EXPECT_EQ(m_warnings.size(), 0u);
  EXPECT_TRUE(ReadWholeFile(Place() + "/stalled") == bytes);
  EXPECT_EQ(FilesUnder(Place()), std::vector<std::string>{"stalled"});
}

class SftpFullDiskTest : public SftpStoreTest {
 protected:
  SftpFullDiskTest() : SftpStoreTest(Settings()) {}
  static test::SshServerSettings Settings() {
    test::SshServerSettings settings;
    settings.fileSizeLimit = 1024 * 1024;
    return settings;
  }
};

TEST_F(SftpFullDiskTest, AFullRemoteDiskIsAnErrorWithoutRetriesAndLeavesNothing) {
  auto store = Store();
  ASSERT_TRUE(Put(*store, "old", "kept").ok());
  ASSERT_TRUE(WriteWholeFile(m_local.file("big"), RandomBytes(3 * 1024 * 1024, 7)));
  const Status status = store->PutFile(m_local.file("big"), "old");
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("disk full"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find(RemoteTargetText(Options())), std::string::npos);
  EXPECT_TRUE(m_warnings.empty());
  EXPECT_EQ(FilesUnder(Place()), std::vector<std::string>{"old"});
  EXPECT_EQ(ReadWholeFile(Place() + "/old"), "kept");
}

class SftpPasswordTest : public SftpStoreTest {
 protected:
  SftpPasswordTest() : SftpStoreTest(Settings()) {}
  static test::SshServerSettings Settings() {
    test::SshServerSettings settings;
    settings.passwordLogin = true;
    return settings;
  }
};

TEST_F(SftpPasswordTest, AWrongPasswordIsRefusedWithoutRetries) {
  RemoteOptions options = Options();
  options.PrivateKeyFile.clear();
  options.Password = "not the password";
  const Status status = Put(*Store(options), "x", "1");
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("refused (password)"), std::string::npos) << status.message();
  EXPECT_EQ(status.message().find(options.Password), std::string::npos);
  EXPECT_TRUE(m_warnings.empty());
}

// A right password needs an account whose password the test knows: sshd is given one in a
// mount namespace of its own (see SshServerSettings::password), which needs root.
class SftpKnownPasswordTest : public SftpStoreTest {
 protected:
  SftpKnownPasswordTest() : SftpStoreTest(Settings()) {}
  static test::SshServerSettings Settings() {
    test::SshServerSettings settings;
    settings.passwordLogin = true;
    settings.password = "brevanto test password";
    return settings;
  }
  void SetUp() override {
    if (!m_server.running())
      GTEST_SKIP() << "no sshd with a known password: " << m_server.problem();
  }
};

TEST_F(SftpKnownPasswordTest, ThePasswordLogsIn) {
  RemoteOptions options = Options();
  options.PrivateKeyFile.clear();
  options.Password = "brevanto test password";
  const Status status = TestRemoteStore(*Store(options));
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(m_warnings.empty());
}

}  // namespace
}  // namespace brevanto
