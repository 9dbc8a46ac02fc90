// The S3 store against a real S3 server (s3rver) behind a SigV4 and checksum check, with a
// TCP proxy between them where a test needs a cut or stalled connection.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "remote/S3Store.h"
#include "tests/support/FaultProxy.h"
#include "tests/support/S3Server.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace brevanto {
namespace {

using test::FaultProxy;
using test::S3Server;
using test::TempDir;

constexpr std::uint64_t kPart = 256 * 1024;

std::string Bytes(std::size_t size, unsigned seed = 1) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// What the stock tool says of a file, so the comparison does not rest on our own hashing.
std::string Sha256Sum(const std::string& path) {
  std::string output;
  if (FILE* pipe = ::popen(("sha256sum '" + path + "'").c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    ::pclose(pipe);
  }
  return output.substr(0, 64);
}

class S3StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_S3(Server());
    m_options.Kind = RemoteKind::S3;
    m_options.Endpoint = Server().Endpoint();
    m_options.Region = "eu-central-1";
    m_options.Bucket = "brevanto";
    // A folder per test: the tests of one program share a server.
    m_options.Prefix = std::string("hosts/") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    m_options.PathStyle = true;
    m_options.AccessKeyId = S3Server::kKeyId;
    m_options.SecretAccessKey = S3Server::kSecret;
    // Short waits: the faults here are made on purpose and come at once. Stalls are
    // allowed longer than the faults' tests set, for a busy machine's sake.
    m_control.Retry = RetryPolicy{4, 10, 50, 10, 10};
    m_control.Warn = [this](const std::string& line) {
      std::lock_guard lock(m_warnMutex);
      m_warnings.push_back(line);
    };
    m_limits.PartBytes = kPart;
    m_limits.PartsInFlight = 3;
    // Files larger than a part go in parts here, unless a test says otherwise.
    m_limits.SinglePutBytes = 0;
  }

  virtual S3Server& Server() { return S3Server::Shared(); }

  std::unique_ptr<RemoteStore> Store() {
    std::unique_ptr<RemoteStore> store;
    EXPECT_TRUE(MakeS3Store(m_options, m_control, store, m_limits).ok());
    return store;
  }

  std::string Read(RemoteStore& store, const std::string& name, Status* result = nullptr) {
    std::string bytes;
    const Status status = store.Get(name, [&](std::string_view chunk) {
      bytes.append(chunk);
      return Status::Ok();
    });
    if (result != nullptr) {
      *result = status;
    } else {
      EXPECT_TRUE(status.ok()) << status.message();
    }
    return bytes;
  }

  Status Put(RemoteStore& store, const std::string& name, const std::string& bytes) {
    const std::string path = m_dir.file("upload");
    EXPECT_TRUE(test::WriteWholeFile(path, bytes));
    return store.PutFile(path, name);
  }

  std::vector<std::string> Warnings() {
    std::lock_guard lock(m_warnMutex);
    return m_warnings;
  }

  RemoteOptions m_options;
  TransferControl m_control;
  S3Limits m_limits;
  TempDir m_dir;
  std::mutex m_warnMutex;
  std::vector<std::string> m_warnings;
};

TEST_F(S3StoreTest, FilesOfEverySizeAroundAPartComeBackByteForByte) {
  auto store = Store();
  for (const std::uint64_t size :
       {std::uint64_t{0}, std::uint64_t{1}, kPart - 1, kPart, kPart + 1, 3 * kPart + 5}) {
    SCOPED_TRACE(size);
    const std::string name = "2026-12-08_03-00/db/t" + std::to_string(size) + ".sql.zst";
    const std::string bytes = Bytes(size, static_cast<unsigned>(size));
    ASSERT_TRUE(Put(*store, name, bytes).ok());
    const std::string read = Read(*store, name);
    EXPECT_EQ(read, bytes);
    ASSERT_TRUE(test::WriteWholeFile(m_dir.file("read"), read));
    EXPECT_EQ(Sha256Sum(m_dir.file("read")), Sha256Sum(m_dir.file("upload")));
  }
  std::vector<RemoteObject> objects;
  ASSERT_TRUE(store->List("2026-12-08_03-00/", objects).ok());
  ASSERT_EQ(objects.size(), 6u);
  EXPECT_EQ(objects[0], (RemoteObject{"2026-12-08_03-00/db/t0.sql.zst", 0}));
  EXPECT_EQ(objects[5], (RemoteObject{"2026-12-08_03-00/db/t786437.sql.zst", 3 * kPart + 5}));
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
}

TEST_F(S3StoreTest, WrittenObjectsComeBackWhateverTheWriteSizes) {
  auto store = Store();
  for (const std::uint64_t size : {std::uint64_t{0}, kPart, kPart + 1, 5 * kPart + 3}) {
    SCOPED_TRACE(size);
    const std::string name = "w/" + std::to_string(size);
    const std::string bytes = Bytes(size, 7);
    std::unique_ptr<ObjectWriter> writer;
    ASSERT_TRUE(store->OpenWriter(name, writer).ok());
    for (std::size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece * 3 + 1) {
      ASSERT_TRUE(writer->Write(std::string_view(bytes).substr(at, piece)).ok());
    }
    EXPECT_EQ(writer->Size(), size);
    const Status completed = writer->Complete();
    ASSERT_TRUE(completed.ok()) << completed.message();
    EXPECT_EQ(Read(*store, name), bytes);
  }
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
}

TEST_F(S3StoreTest, LargeObjectsStayWithinThePartsS3Allows) {
  m_limits.PartBytes = 1024;
  m_limits.MaxParts = 10;
  auto store = Store();
  const std::string bytes = Bytes(50 * 1024 + 3);
  int before = Server().SignedRequests();
  ASSERT_TRUE(Put(*store, "file", bytes).ok());
  // The upload's start, 10 parts and its completion.
  EXPECT_EQ(Server().SignedRequests() - before, 12);

  // A written object's size is not known ahead: its parts grow as they go.
  before = Server().SignedRequests();
  std::unique_ptr<ObjectWriter> writer;
  ASSERT_TRUE(store->OpenWriter("written", writer).ok());
  for (std::size_t at = 0; at < bytes.size(); at += 1000) {
    ASSERT_TRUE(writer->Write(std::string_view(bytes).substr(at, 1000)).ok());
  }
  ASSERT_TRUE(writer->Complete().ok());
  EXPECT_LE(Server().SignedRequests() - before, 12);
  EXPECT_EQ(Read(*store, "file"), bytes);
  EXPECT_EQ(Read(*store, "written"), bytes);
}

// s3rver names the bucket of "<bucket>.localhost"; libcurl resolves *.localhost to the
// loopback address itself, so no resolver entry is needed.
TEST_F(S3StoreTest, VirtualHostAddressingReachesTheBucket) {
  m_options.PathStyle = false;
  m_options.Endpoint = "http://localhost:" + std::to_string(Server().Port());
  auto store = Store();
  const std::string bytes = Bytes(2 * kPart + 9);
  ASSERT_TRUE(Put(*store, "vhost/a b+c.sql", bytes).ok());
  EXPECT_EQ(Read(*store, "vhost/a b+c.sql"), bytes);
  std::vector<RemoteObject> objects;
  ASSERT_TRUE(store->List("vhost/", objects).ok());
  EXPECT_EQ(objects, (std::vector<RemoteObject>{{"vhost/a b+c.sql", bytes.size()}}));
  EXPECT_TRUE(TestRemoteStore(*store).ok());

  // An endpoint given by its address has no subdomains: the path style it is.
  m_options.Endpoint = Server().Endpoint();
  EXPECT_EQ(Read(*Store(), "vhost/a b+c.sql"), bytes);
}

TEST_F(S3StoreTest, ListingFollowsContinuationPagesAndStaysUnderThePrefix) {
  m_limits.ListPageSize = 2;
  auto store = Store();
  const std::vector<std::string> names{"c.manifest.json", "a/1", "a/2", "b/x y", "a/3"};
  for (const std::string& name : names) ASSERT_TRUE(Put(*store, name, name).ok());
  const std::string prefix = m_options.Prefix;
  m_options.Prefix = "hosts/other/";
  ASSERT_TRUE(Put(*Store(), "a/elsewhere", "x").ok());
  m_options.Prefix = prefix;

  std::vector<RemoteObject> objects;
  const Status listed = store->List("", objects);
  ASSERT_TRUE(listed.ok()) << listed.message();
  EXPECT_EQ(objects,
            (std::vector<RemoteObject>{
                {"a/1", 3}, {"a/2", 3}, {"a/3", 3}, {"b/x y", 5}, {"c.manifest.json", 15}}));
  ASSERT_TRUE(store->List("a/", objects).ok());
  EXPECT_EQ(objects.size(), 3u);
}

TEST_F(S3StoreTest, DeletedObjectsAreGoneAndDeletingAMissingOneIsNoError) {
  auto store = Store();
  ASSERT_TRUE(Put(*store, "old/t.sql", "data").ok());
  ASSERT_TRUE(store->Delete("old/t.sql").ok());
  ASSERT_TRUE(store->Delete("old/t.sql").ok());
  std::vector<RemoteObject> objects;
  ASSERT_TRUE(store->List("old/", objects).ok());
  EXPECT_TRUE(objects.empty());
  Status status;
  Read(*store, "old/t.sql", &status);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("NoSuchKey"), std::string::npos) << status.message();
}

TEST_F(S3StoreTest, WrongCredentialsAreOneClearErrorWithoutRetries) {
  m_options.SecretAccessKey = "not-the-secret";
  const int before = Server().SignedRequests();
  const Status status = Put(*Store(), "t.sql", Bytes(100));
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.message(),
            "Uploading t.sql to " + RemoteTargetText(m_options) +
                " failed: wrong credentials "
                "(SignatureDoesNotMatch: The request signature we calculated does not match the "
                "signature you provided. Check your key and signing method.)");
  EXPECT_EQ(Server().SignedRequests(), before + 1);
  EXPECT_TRUE(Warnings().empty());

  m_options.AccessKeyId = "AKIAUNKNOWN";
  std::vector<RemoteObject> objects;
  const Status listed = Store()->List("", objects);
  EXPECT_NE(listed.message().find("wrong credentials (InvalidAccessKeyId"), std::string::npos)
      << listed.message();
}

TEST_F(S3StoreTest, AMissingBucketIsAClearError) {
  m_options.Bucket = "no-such-bucket";
  const int before = Server().SignedRequests();
  const Status status = Put(*Store(), "t.sql", Bytes(3 * kPart));
  EXPECT_NE(status.message().find(RemoteTargetText(m_options) +
                                  " failed: the bucket does not exist (NoSuchBucket"),
            std::string::npos)
      << status.message();
  EXPECT_EQ(Server().SignedRequests(), before + 1);
}

TEST_F(S3StoreTest, ServerErrorsAndSlowDownAreRetried) {
  auto store = Store();
  Server().FailNext(2, 503, "SlowDown");
  const std::string bytes = Bytes(100);
  ASSERT_TRUE(Put(*store, "slow.sql", bytes).ok());
  ASSERT_EQ(Warnings().size(), 2u);
  EXPECT_NE(Warnings()[0].find("Uploading slow.sql to " + RemoteTargetText(m_options) +
                               " failed (HTTP 503 (SlowDown: "),
            std::string::npos)
      << Warnings()[0];

  // A part that fails is sent again by itself.
  Server().FailNext(1, 500, "InternalError", "PUT");
  const std::string big = Bytes(4 * kPart);
  ASSERT_TRUE(Put(*store, "parts.sql", big).ok());
  EXPECT_EQ(Read(*store, "parts.sql"), big);
  EXPECT_EQ(Warnings().size(), 3u);
}

TEST_F(S3StoreTest, RetriesEndWithTheLastCause) {
  m_control.Retry.Attempts = 2;
  Server().FailNext(2, 502, "BadGateway");
  std::vector<RemoteObject> objects;
  const Status status = Store()->List("", objects);
  EXPECT_EQ(
      status.message().rfind("Listing " + RemoteTargetText(m_options) + " failed: HTTP 502", 0), 0u)
      << status.message();
}

TEST_F(S3StoreTest, ARefusedObjectIsAClearErrorAndItsUploadIsAborted) {
  Server().LimitObjectBytes(kPart / 2);
  const Status status = Put(*Store(), "big.sql", Bytes(3 * kPart));
  Server().LimitObjectBytes(0);
  EXPECT_NE(status.message().find("failed: the target refuses more data (EntityTooLarge"),
            std::string::npos)
      << status.message();
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
  EXPECT_TRUE(Warnings().empty());
}

TEST_F(S3StoreTest, AnAbortedOrAbandonedWriterLeavesNoUploadBehind) {
  auto store = Store();
  {
    std::unique_ptr<ObjectWriter> writer;
    ASSERT_TRUE(store->OpenWriter("aborted", writer).ok());
    ASSERT_TRUE(writer->Write(Bytes(3 * kPart)).ok());
    EXPECT_EQ(Server().PendingUploads("brevanto"), 1);
    writer->Abort();
    EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
  }
  {
    std::unique_ptr<ObjectWriter> writer;
    ASSERT_TRUE(store->OpenWriter("dropped", writer).ok());
    ASSERT_TRUE(writer->Write(Bytes(2 * kPart + 1)).ok());
  }
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
  std::vector<RemoteObject> objects;
  ASSERT_TRUE(store->List("", objects).ok());
  EXPECT_TRUE(objects.empty());
}

TEST_F(S3StoreTest, ACutConnectionMidPartIsRetriedAndTheObjectIsWhole) {
  FaultProxy proxy(Server().Port());
  m_options.Endpoint = "http://127.0.0.1:" + std::to_string(proxy.port());
  auto store = Store();
  proxy.CutAfter(kPart / 2);
  const std::string bytes = Bytes(4 * kPart + 17);
  const Status status = Put(*store, "cut.sql", bytes);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(proxy.Fired(), 1);
  ASSERT_EQ(Warnings().size(), 1u);
  EXPECT_NE(Warnings()[0].find("Uploading part "), std::string::npos) << Warnings()[0];
  EXPECT_EQ(Read(*store, "cut.sql"), bytes);
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);

  // A connection cut on every try gives up after the policy's attempts and aborts.
  proxy.CutAfter(kPart / 2, true);
  m_warnings.clear();
  EXPECT_NE(Put(*store, "cut-always.sql", bytes).message().find("the connection failed"),
            std::string::npos);
  proxy.Arm(FaultProxy::Fault::None, 0);
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
}

TEST_F(S3StoreTest, AFileUpToTheSinglePutSizeGoesInOneRequestReadFromTheDisk) {
  m_limits.SinglePutBytes = 8 * kPart;
  FaultProxy proxy(Server().Port());
  m_options.Endpoint = "http://127.0.0.1:" + std::to_string(proxy.port());
  auto store = Store();
  const std::string bytes = Bytes(8 * kPart, 7);
  int before = Server().SignedRequests();
  ASSERT_TRUE(Put(*store, "whole.sql", bytes).ok());
  EXPECT_EQ(Server().SignedRequests() - before, 1);
  EXPECT_EQ(Read(*store, "whole.sql"), bytes);

  // Cut mid-body, the request is sent again from the file's start, and the object is whole.
  proxy.CutAfter(kPart / 2);
  const std::string other = Bytes(5 * kPart + 3, 9);
  const Status status = Put(*store, "cut-whole.sql", other);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(proxy.Fired(), 1);
  EXPECT_EQ(Read(*store, "cut-whole.sql"), other);

  // One byte more goes in parts.
  before = Server().SignedRequests();
  ASSERT_TRUE(Put(*store, "parts.sql", Bytes(8 * kPart + 1, 3)).ok());
  EXPECT_GT(Server().SignedRequests() - before, 2);
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
}

// libcurl itself sends the completion again on a fresh connection when a kept-alive one
// closes without an answer; the server knows the upload no more by then.
TEST_F(S3StoreTest, ACompletionWhoseAnswerWasLostIsNoFailure) {
  Server().LoseReplies(1, "POST", "uploadId");
  auto store = Store();
  const std::string bytes = Bytes(3 * kPart);
  const Status status = Put(*store, "lost.sql", bytes);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(Read(*store, "lost.sql"), bytes);
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
}

TEST_F(S3StoreTest, AStalledTransferFailsWithinTheStallTime) {
  FaultProxy proxy(Server().Port());
  m_options.Endpoint = "http://127.0.0.1:" + std::to_string(proxy.port());
  m_control.Retry.Attempts = 2;
  m_control.Retry.StallSeconds = 2;
  proxy.StallAfter(2000, true);
  const auto started = std::chrono::steady_clock::now();
  const Status status = Put(*Store(), "stalled.sql", Bytes(kPart));
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
          .count();
  EXPECT_EQ(status.message(), "Uploading stalled.sql to " + RemoteTargetText(m_options) +
                                  " failed: the transfer stalled: no byte moved for 2 s");
  // Not retried: the run fails soon after the stall time, and its next run sends the copy.
  EXPECT_EQ(proxy.Fired(), 1);
  EXPECT_LT(seconds, 10);
  EXPECT_EQ(Warnings().size(), 0u);
}

TEST_F(S3StoreTest, ACutDownloadResumesWhereItStopped) {
  FaultProxy proxy(Server().Port());
  m_options.Endpoint = "http://127.0.0.1:" + std::to_string(proxy.port());
  auto store = Store();
  const std::string bytes = Bytes(3 * kPart + 1);
  ASSERT_TRUE(Put(*store, "resume.sql", bytes).ok());
  proxy.Arm(FaultProxy::Fault::Cut, kPart, false, FaultProxy::Direction::Downstream);
  EXPECT_EQ(Read(*store, "resume.sql"), bytes);
  EXPECT_EQ(proxy.Fired(), 1);
  ASSERT_EQ(Warnings().size(), 1u);
  EXPECT_EQ(Warnings()[0].rfind("Reading resume.sql from " + RemoteTargetText(m_options) +
                                    " failed (the connection failed",
                                0),
            0u)
      << Warnings()[0];

  // A download that stalls is a fault as well.
  m_control.Retry.Attempts = 1;
  m_control.Retry.StallSeconds = 2;
  proxy.Arm(FaultProxy::Fault::Stall, kPart, true, FaultProxy::Direction::Downstream);
  Status status;
  Read(*Store(), "resume.sql", &status);
  EXPECT_NE(status.message().find("the transfer stalled"), std::string::npos) << status.message();
}

TEST_F(S3StoreTest, TheBandwidthCapHoldsForPartsInFlightTogether) {
  m_control.BandwidthBytesPerSecond = 1024 * 1024;
  auto store = Store();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(Put(*store, "capped.sql", Bytes(4 * kPart)).ok());
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
  // 1 MiB at 1 MiB/s, whatever the number of parts in flight.
  EXPECT_GE(ms, 800);
  EXPECT_LT(ms, 15000);
}

TEST_F(S3StoreTest, TheBandwidthCapHoldsForASingleObject) {
  m_control.BandwidthBytesPerSecond = 256 * 1024;
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(Put(*Store(), "capped.sql", Bytes(kPart)).ok());
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(800));
}

TEST_F(S3StoreTest, AFileThatCannotBeReadIsAnErrorNamingTheTarget) {
  const Status status = Store()->PutFile(m_dir.file("missing"), "t.sql");
  EXPECT_EQ(status.message(), "Uploading t.sql to " + RemoteTargetText(m_options) +
                                  " failed: cannot read " + m_dir.file("missing") +
                                  ": No such file or directory");
}

TEST_F(S3StoreTest, AStopRequestEndsAnUploadAndAbortsIt) {
  std::atomic<bool> stop{false};
  m_control.StopRequested = [&] { return stop.load(); };
  m_control.BandwidthBytesPerSecond = 256 * 1024;
  auto store = Store();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  const auto started = std::chrono::steady_clock::now();
  // 4 MiB: 16 s at the cap.
  const Status status = Put(*store, "stopped.sql", Bytes(16 * kPart));
  stopper.join();
  EXPECT_EQ(status.message(), "Stopped.");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
  EXPECT_EQ(Server().PendingUploads("brevanto"), 0);
}

TEST_F(S3StoreTest, PassesTheTestButtonsChecks) {
  m_options.StorageClass = "STANDARD";
  auto store = Store();
  const Status status = TestRemoteStore(*store);
  EXPECT_TRUE(status.ok()) << status.message();
  std::vector<RemoteObject> objects;
  ASSERT_TRUE(store->List("", objects).ok());
  EXPECT_TRUE(objects.empty());
}

class SkewedS3StoreTest : public S3StoreTest {
 protected:
  S3Server& Server() override {
    static S3Server server(S3Server::Options{{"brevanto"}, 3600});
    return server;
  }
};

TEST_F(SkewedS3StoreTest, AClockFarFromTheServersIsAClearError) {
  const Status status = Put(*Store(), "t.sql", "x");
  EXPECT_NE(status.message().find("failed: this machine's clock differs too much from the "
                                  "server's (RequestTimeTooSkewed"),
            std::string::npos)
      << status.message();
  EXPECT_TRUE(Warnings().empty());
}

class TlsS3StoreTest : public S3StoreTest {
 protected:
  S3Server& Server() override {
    static S3Server server(S3Server::Options{{"brevanto"}, 0, true});
    return server;
  }
};

TEST_F(TlsS3StoreTest, TheServersCertificateIsCheckedAgainstTheSystemsCasOrTheCaFile) {
  const int before = Server().SignedRequests();
  const Status refused = Put(*Store(), "t.sql", "x");
  EXPECT_EQ(refused.message().rfind(
                "Uploading t.sql to " + RemoteTargetText(m_options) + " failed: TLS failed (", 0),
            0u)
      << refused.message();
  EXPECT_EQ(Server().SignedRequests(), before);
  EXPECT_TRUE(Warnings().empty());

  m_options.CaFile = Server().CaFile();
  auto store = Store();
  const std::string bytes = Bytes(2 * kPart + 1);
  ASSERT_TRUE(Put(*store, "t.sql", bytes).ok());
  EXPECT_EQ(Read(*store, "t.sql"), bytes);
}

}  // namespace
}  // namespace brevanto
