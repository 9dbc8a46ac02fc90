// The rclone store against the real rclone program: a local-folder remote ("t") for the
// round trips, an sftp remote pointed at a port that accepts and never answers for stalls.
// rclone finds its config through RCLONE_CONFIG, which each test points at its own file.

#include "remote/RcloneStore.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/FaultProxy.h"
#include "tests/support/SshServer.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

// Accepts connections on 127.0.0.1 and never says a word: a server that has hung.
class SilentServer {
 public:
  SilentServer() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener, 16);
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] {
      std::vector<int> held;
      while (!m_stop) {
        pollfd ready{m_listener, POLLIN, 0};
        if (::poll(&ready, 1, 50) == 1)
          held.push_back(::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC));
      }
      for (int fd : held) ::close(fd);
    });
  }
  ~SilentServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
  }
  int port() const { return m_port; }

 private:
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

// The files under `folder`, hidden ones too, relative and sorted.
std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class RcloneStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir.file("store"));
    // "pass" is rclone's obscured form of a password the silent server never asks for.
    WriteWholeFile(m_dir.file("rclone.conf"),
                   "[t]\ntype = local\n\n[silent]\ntype = sftp\nhost = 127.0.0.1\nport = " +
                       std::to_string(m_silent.port()) +
                       "\nuser = nobody\npass = 8PCcvf66Gv0Kq7Jyfh8ln99oRrX7_Q\n");
    UseConfig(m_dir.file("rclone.conf"));
    m_control.Warn = [this](const std::string& line) { m_warnings.push_back(line); };
    m_control.Retry.FirstDelayMs = 50;
  }
  void TearDown() override {
    if (m_oldConfig.has_value()) {
      ::setenv("RCLONE_CONFIG", m_oldConfig->c_str(), 1);
    } else {
      ::unsetenv("RCLONE_CONFIG");
    }
  }

  void UseConfig(const std::string& path) { ::setenv("RCLONE_CONFIG", path.c_str(), 1); }

  RemoteOptions Options(const std::string& remote = "t") {
    RemoteOptions options;
    options.Kind = RemoteKind::Rclone;
    options.RcloneRemote = remote;
    options.Path = Folder();
    return options;
  }
  std::string Folder() const { return m_dir.file("store/"); }

  std::unique_ptr<RemoteStore> Store(const RemoteOptions& options) {
    std::unique_ptr<RemoteStore> store;
    EXPECT_TRUE(MakeRcloneStore(options, m_control, store).ok());
    return store;
  }
  std::unique_ptr<RemoteStore> Store() { return Store(Options()); }

  std::string Put(RemoteStore& store, const std::string& name, const std::string& bytes) {
    const std::string local = m_dir.file("upload");
    WriteWholeFile(local, bytes);
    const Status status = store.PutFile(local, name);
    return status.ok() ? "" : status.message();
  }

  static std::string Read(RemoteStore& store, const std::string& name, Status* result = nullptr) {
    std::string bytes;
    Status status = store.Get(name, [&](std::string_view piece) {
      bytes.append(piece);
      return Status::Ok();
    });
    EXPECT_TRUE(result != nullptr || status.ok()) << status.message();
    if (result != nullptr) *result = status;
    return bytes;
  }

  static std::vector<RemoteObject> ListOf(RemoteStore& store, const std::string& under = "") {
    std::vector<RemoteObject> objects;
    const Status status = store.List(under, objects);
    EXPECT_TRUE(status.ok()) << status.message();
    return objects;
  }

  std::optional<std::string> m_oldConfig = []() -> std::optional<std::string> {
    const char* value = std::getenv("RCLONE_CONFIG");
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }();
  TempDir m_dir;
  SilentServer m_silent;
  TransferControl m_control;
  std::vector<std::string> m_warnings;
};

TEST_F(RcloneStoreTest, FilesAndWrittenStreamsComeBackByteForByte) {
  auto store = Store();
  const std::vector<std::pair<std::string, std::string>> objects = {
      {"2026-12-08_03-00/db/empty.sql", ""},
      {"2026-12-08_03-00/db/one.sql", "x"},
      {"2026-12-08_03-00/db/big.sql.zst", RandomBytes(3 * 1024 * 1024 + 17, 1)},
      {"2026-12-08_03-00.manifest.json", "{\"Files\": []}\n"}};
  for (const auto& [name, bytes] : objects) EXPECT_EQ(Put(*store, name, bytes), "") << name;

  std::unique_ptr<ObjectWriter> writer;
  ASSERT_TRUE(store->OpenWriter("2026-12-09_03-00/db/streamed.sql", writer).ok());
  const std::string streamed = RandomBytes(5 * 1024 * 1024 + 3, 2);
  for (std::size_t at = 0; at < streamed.size(); at += 700000) {
    ASSERT_TRUE(writer->Write(std::string_view(streamed).substr(at, 700000)).ok());
  }
  EXPECT_EQ(writer->Size(), streamed.size());
  const Status completed = writer->Complete();
  ASSERT_TRUE(completed.ok()) << completed.message();

  for (const auto& [name, bytes] : objects) {
    EXPECT_TRUE(Read(*store, name) == bytes) << name;
    EXPECT_TRUE(ReadWholeFile(Folder() + name) == bytes) << name;
  }
  EXPECT_TRUE(Read(*store, "2026-12-09_03-00/db/streamed.sql") == streamed);

  EXPECT_EQ(ListOf(*store),
            (std::vector<RemoteObject>{{"2026-12-08_03-00.manifest.json", 14},
                                       {"2026-12-08_03-00/db/big.sql.zst", 3 * 1024 * 1024 + 17},
                                       {"2026-12-08_03-00/db/empty.sql", 0},
                                       {"2026-12-08_03-00/db/one.sql", 1},
                                       {"2026-12-09_03-00/db/streamed.sql", streamed.size()}}));
  EXPECT_EQ(ListOf(*store, "2026-12-08_03-00/db/"),
            (std::vector<RemoteObject>{{"2026-12-08_03-00/db/big.sql.zst", 3 * 1024 * 1024 + 17},
                                       {"2026-12-08_03-00/db/empty.sql", 0},
                                       {"2026-12-08_03-00/db/one.sql", 1}}));
  EXPECT_EQ(ListOf(*store, "2026-12-08_03-00/db/e"),
            (std::vector<RemoteObject>{{"2026-12-08_03-00/db/empty.sql", 0}}));
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(RcloneStoreTest, TheWizardsTestPasses) {
  auto store = Store();
  const Status status = TestRemoteStore(*store);
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(FilesUnder(Folder()).empty());
}

TEST_F(RcloneStoreTest, AFolderNotMadeYetListsEmpty) {
  RemoteOptions options = Options();
  options.Path = m_dir.file("not/made/yet");
  auto store = Store(options);
  std::vector<RemoteObject> objects{{"stale", 1}};
  const Status status = store->List("", objects);
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(objects.empty());
}

TEST_F(RcloneStoreTest, AnUnfinishedUploadIsNeverListedAndLeavesNothingWhenAbandoned) {
  auto store = Store();
  {
    std::unique_ptr<ObjectWriter> writer;
    ASSERT_TRUE(store->OpenWriter("copy/db/t.sql", writer).ok());
    // More than rclone keeps in memory, so the part is on disk while the upload runs.
    ASSERT_TRUE(writer->Write(RandomBytes(2 * 1024 * 1024, 3)).ok());
    for (int i = 0; i < 100 && FilesUnder(Folder()).empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::vector<std::string> onDisk = FilesUnder(Folder());
    ASSERT_EQ(onDisk.size(), 1u);
    EXPECT_EQ(onDisk[0].rfind("copy/db/.t.sql.brevanto-part-", 0), 0u) << onDisk[0];
    EXPECT_TRUE(ListOf(*store).empty());
    EXPECT_TRUE(ListOf(*store, "copy/db/").empty());
    writer->Abort();
    EXPECT_TRUE(FilesUnder(Folder()).empty());

    // Dropped without Complete: the same.
    ASSERT_TRUE(store->OpenWriter("copy/db/u.sql", writer).ok());
    ASSERT_TRUE(writer->Write(RandomBytes(2 * 1024 * 1024, 4)).ok());
  }
  EXPECT_TRUE(FilesUnder(Folder()).empty());
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(RcloneStoreTest, AnObjectIsReplacedOnlyOnceTheNewOneIsComplete) {
  auto store = Store();
  const std::string first = RandomBytes(400000, 5), second = RandomBytes(900000, 6);
  ASSERT_EQ(Put(*store, "copy.manifest.json", first), "");

  std::unique_ptr<ObjectWriter> writer;
  ASSERT_TRUE(store->OpenWriter("copy.manifest.json", writer).ok());
  ASSERT_TRUE(writer->Write(std::string_view(second).substr(0, 500000)).ok());
  EXPECT_TRUE(Read(*store, "copy.manifest.json") == first);
  EXPECT_EQ(ListOf(*store), (std::vector<RemoteObject>{{"copy.manifest.json", first.size()}}));
  ASSERT_TRUE(writer->Write(std::string_view(second).substr(500000)).ok());
  ASSERT_TRUE(writer->Complete().ok());

  EXPECT_TRUE(Read(*store, "copy.manifest.json") == second);
  EXPECT_EQ(ListOf(*store), (std::vector<RemoteObject>{{"copy.manifest.json", second.size()}}));
  EXPECT_EQ(FilesUnder(Folder()), std::vector<std::string>{"copy.manifest.json"});

  // And through PutFile, with a new object of the same size.
  const std::string third = RandomBytes(second.size(), 7);
  ASSERT_EQ(Put(*store, "copy.manifest.json", third), "");
  EXPECT_TRUE(Read(*store, "copy.manifest.json") == third);
}

TEST_F(RcloneStoreTest, DeleteRemovesAnObjectAndAMissingOneIsNoError) {
  auto store = Store();
  ASSERT_EQ(Put(*store, "a/one.sql", "1"), "");
  ASSERT_EQ(Put(*store, "a/two.sql", "22"), "");
  Status status = store->Delete("a/one.sql");
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(ListOf(*store), (std::vector<RemoteObject>{{"a/two.sql", 2}}));
  status = store->Delete("a/one.sql");
  EXPECT_TRUE(status.ok()) << status.message();
  status = store->Delete("never/there.sql");
  EXPECT_TRUE(status.ok()) << status.message();
  // A folder is not an object: not deleted, and said so.
  status = store->Delete("a");
  EXPECT_NE(status.message().find("it is a folder"), std::string::npos) << status.message();
  EXPECT_EQ(ListOf(*store), (std::vector<RemoteObject>{{"a/two.sql", 2}}));
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(RcloneStoreTest, ReadingAMissingObjectIsAnErrorWithoutRetries) {
  auto store = Store();
  Status status;
  Read(*store, "copy/none.sql", &status);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("copy/none.sql"), std::string::npos) << status.message();
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(RcloneStoreTest, AnErrorFromTheReaderEndsTheReadWithThatError) {
  auto store = Store();
  ASSERT_EQ(Put(*store, "big", RandomBytes(4 * 1024 * 1024, 8)), "");
  int calls = 0;
  const Status status = store->Get("big", [&](std::string_view) {
    return ++calls == 2 ? Status::Error("disk full here") : Status::Ok();
  });
  EXPECT_EQ(status.message(), "disk full here");
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(RcloneStoreTest, AnUnknownRemoteIsOneClearErrorAndNoRetry) {
  auto store = Store(Options("nowhere"));
  const std::string message = Put(*store, "copy/t.sql", "bytes");
  EXPECT_NE(message.find("rclone nowhere:" + Folder()), std::string::npos) << message;
  EXPECT_NE(message.find("didn't find section in config file"), std::string::npos) << message;
  EXPECT_NE(message.find("rclone config"), std::string::npos) << message;
  std::vector<RemoteObject> objects;
  const Status listed = store->List("", objects);
  EXPECT_NE(listed.message().find("didn't find section in config file"), std::string::npos)
      << listed.message();
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(RcloneStoreTest, AStalledRemoteFailsWithinTheStallTimeAndIsRetried) {
  m_control.Retry.StallSeconds = 2;
  m_control.Retry.Attempts = 2;
  auto store = Store(Options("silent"));
  const auto start = std::chrono::steady_clock::now();
  const std::string message = Put(*store, "copy/t.sql", "bytes");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_NE(message, "");
  EXPECT_NE(message.find("rclone silent:"), std::string::npos) << message;
  // Two tries, then one to tidy the part away, each ended by the stall time.
  EXPECT_LT(seconds, 3 * (2 + 2.5));
  ASSERT_GE(m_warnings.size(), 1u);
  EXPECT_NE(m_warnings[0].find("retrying"), std::string::npos) << m_warnings[0];
}

TEST_F(RcloneStoreTest, AConnectionCutMidUploadIsRetriedAndTheObjectArrivesWhole) {
  test::SshServer server;
  ASSERT_TRUE(server.running()) << server.problem();
  test::FaultProxy proxy(server.port());
  // An sftp remote reached through the proxy, which cuts the first connection once 1 MB
  // went up.
  std::ofstream(m_dir.file("rclone.conf"), std::ios::app)
      << "\n[cut]\ntype = sftp\nhost = 127.0.0.1\nport = " << proxy.port()
      << "\nuser = " << server.user() << "\nkey_file = " << server.clientKeyFile() << "\n";
  proxy.CutAfter(1 << 20);
  RemoteOptions options = Options("cut");
  options.Path = server.data() + "place";
  auto store = Store(options);
  const std::string bytes = RandomBytes(3 * 1024 * 1024, 11);
  EXPECT_EQ(Put(*store, "copy/t.sql", bytes), "");
  EXPECT_EQ(proxy.Fired(), 1);
  ASSERT_EQ(m_warnings.size(), 1u);
  EXPECT_NE(m_warnings[0].find("retrying"), std::string::npos) << m_warnings[0];
  EXPECT_TRUE(ReadWholeFile(server.data() + "place/copy/t.sql") == bytes);
  EXPECT_EQ(FilesUnder(server.data() + "place"), std::vector<std::string>{"copy/t.sql"});
}

TEST_F(RcloneStoreTest, AStopRequestEndsTheUploadAndLeavesNoPart) {
  m_control.BandwidthBytesPerSecond = 1000000;  // about 4 s for the file
  std::atomic<int> asked{0};
  m_control.StopRequested = [&] { return ++asked > 10; };
  auto store = Store();
  const auto start = std::chrono::steady_clock::now();
  const std::string message = Put(*store, "copy/t.sql", RandomBytes(4 * 1024 * 1024, 9));
  EXPECT_EQ(message, "Stopped.");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
  EXPECT_TRUE(FilesUnder(Folder()).empty());
}

// rclone's config, encrypted with the password "secretpw" (made with `rclone config`): the
// remote "t" of type local.
const char* kEncryptedConfig =
    "# Encrypted rclone configuration File\n\nRCLONE_ENCRYPT_V0:\n"
    "Hk3Ja1lnoKqRU0i6ovZaqqhFZ9Wr968JRLhn8yOP58RR/6ziRSR5MPqEH9uF3A9Zhe1oBOb2BgFQeA==\n";

// The command line and environment of our rclone child, read while it runs.
struct ChildView {
  std::string commandLine, environment;
};
ChildView RcloneChildOf(pid_t parent) {
  ChildView view;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string stat = ReadWholeFile(entry.path().string() + "/stat");
    const std::size_t close = stat.rfind(')');
    if (stat.find("(rclone)") == std::string::npos || close == std::string::npos) continue;
    // "pid (comm) state ppid ..."
    if (std::atoi(stat.c_str() + close + 4) != parent) continue;
    view.commandLine = ReadWholeFile(entry.path().string() + "/cmdline");
    view.environment = ReadWholeFile(entry.path().string() + "/environ");
  }
  return view;
}

TEST_F(RcloneStoreTest, TheConfigPasswordGoesInTheEnvironmentNeverOnTheCommandLine) {
  WriteWholeFile(m_dir.file("encrypted.conf"), kEncryptedConfig);
  UseConfig(m_dir.file("encrypted.conf"));
  RemoteOptions options = Options();
  options.Password = "secretpw";
  auto store = Store(options);
  ASSERT_EQ(Put(*store, "copy/t.sql", RandomBytes(1024 * 1024, 10)), "");
  ChildView child;
  const Status read = store->Get("copy/t.sql", [&](std::string_view) {
    if (child.commandLine.empty()) child = RcloneChildOf(::getpid());
    return Status::Ok();
  });
  ASSERT_TRUE(read.ok()) << read.message();
  ASSERT_NE(child.commandLine.find("cat"), std::string::npos);
  EXPECT_EQ(child.commandLine.find("secretpw"), std::string::npos);
  EXPECT_NE(child.environment.find(std::string("RCLONE_CONFIG_PASS=secretpw\0", 28)),
            std::string::npos);

  // Without the password: a clear Error at once, not a retried one.
  auto locked = Store(Options());
  std::vector<RemoteObject> objects;
  const Status listed = locked->List("", objects);
  EXPECT_NE(listed.message().find("RCLONE_CONFIG_PASS"), std::string::npos) << listed.message();
  EXPECT_TRUE(m_warnings.empty());
}

}  // namespace
}  // namespace brevanto
