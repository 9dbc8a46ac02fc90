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
  // "http://127.0.0.1:PORT".
  std::string Endpoint() const;

  // Multipart uploads started in `bucket` and neither completed nor aborted.
  int PendingUploads(const std::string& bucket) const;
  // Signed requests the server saw so far (all of them, whether answered with an error).
  int SignedRequests() const;
  // Answers the next `count` signed requests (of `method` only, when given) with HTTP
  // `status` and the S3 error `code`.
  void FailNext(int count, int status, const std::string& code, const std::string& method = "");
  // Refuses bodies larger than `bytes` with EntityTooLarge; 0 lifts the limit.
  void LimitObjectBytes(std::uint64_t bytes);

 private:
  // The response body of a control request; "" and a test failure when it failed.
  std::string Control(const std::string& method, const std::string& target) const;

  TempDir m_dir;
  int m_pid = -1;
  int m_stdin = -1;  // the server ends when this pipe closes
  int m_port = 0;
  std::string m_problem;
};

}  // namespace brevanto::test

// Skips the current test, saying why, when the S3 test server could not start.
#define BREVANTO_REQUIRE_S3(server)                                                    \
  do {                                                                                 \
    if (!(server).Running()) GTEST_SKIP() << "S3 test server: " << (server).Problem(); \
  } while (false)
