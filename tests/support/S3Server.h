#pragma once
// A real S3 server for tests: s3rver (npm) on 127.0.0.1 behind a proxy that checks every
// request's AWS Signature V4 and body checksums as a real store does (tests/support/s3/).
// Needs `node` on PATH and the packages `npm ci` puts in tests/support/s3/node_modules
// (test.sh does); without them, tests skip with a message saying so.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace brevanto::test {

class S3Server {
 public:
  static constexpr const char* kKeyId = "AKIABREVANTOTEST";
  static constexpr const char* kSecret = "brevanto/test+secret";

  struct Options {
    std::vector<std::string> Buckets{"brevanto"};
    int ClockSkewSeconds = 0;  // how far the server's clock is ahead of ours
    // HTTPS with a certificate of its own for 127.0.0.1 and localhost (made with the
    // openssl program), which CaFile() holds.
    bool Tls = false;
  };

  // Starts the server with a fresh data folder; Problem() says why when it could not.
  explicit S3Server(const Options& options);
  S3Server() : S3Server(Options{}) {}
  ~S3Server();
  S3Server(const S3Server&) = delete;
  S3Server& operator=(const S3Server&) = delete;

  // One server per test program, started on first use.
  static S3Server& Shared();

  bool Running() const { return m_port != 0; }
  const std::string& Problem() const { return m_problem; }
  int Port() const { return m_port; }
  // "http://127.0.0.1:PORT" ("https://" with Options::Tls).
  std::string Endpoint() const;
  // The certificate a TLS server presents, to trust as a CA; "" without TLS.
  const std::string& CaFile() const { return m_caFile; }

  // Multipart uploads started in `bucket` and neither completed nor aborted.
  int PendingUploads(const std::string& bucket) const;
  // Signed requests the server saw so far (all of them, whether answered with an error).
  int SignedRequests() const;
  // Answers the next `count` signed requests (of `method` only, when given) with HTTP
  // `status` and the S3 error `code`.
  void FailNext(int count, int status, const std::string& code, const std::string& method = "");
  // Carries out the next `count` requests of `method` (having the query parameter `query`,
  // when given) but closes their connections instead of answering.
  void LoseReplies(int count, const std::string& method, const std::string& query = "");
  // Refuses bodies larger than `bytes` with EntityTooLarge; 0 lifts the limit.
  void LimitObjectBytes(std::uint64_t bytes);

 private:
  // The response body of a control request; "" and a test failure when it failed.
  std::string Control(const std::string& method, const std::string& target) const;

  TempDir m_dir;
  int m_pid = -1;
  int m_stdin = -1;  // the server ends when this pipe closes
  int m_port = 0;
  int m_controlPort = 0;  // the test hooks' plain HTTP port
  std::string m_caFile;
  std::string m_problem;
};

}  // namespace brevanto::test

// Skips the current test, saying why, when the S3 test server could not start.
#define BREVANTO_REQUIRE_S3(server)                                                    \
  do {                                                                                 \
    if (!(server).Running()) GTEST_SKIP() << "S3 test server: " << (server).Problem(); \
  } while (false)
