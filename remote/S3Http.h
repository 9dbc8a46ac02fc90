#pragma once
// One signed HTTP exchange with an S3-compatible server through libcurl, and what its
// outcome means: done, worth another try, or a failure to report at once.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "remote/Retry.h"

namespace brevanto {

// URI-encodes as SigV4 wants: everything but A-Z a-z 0-9 - _ . ~ (and "/" when kept).
std::string S3UriEncode(std::string_view text, bool keepSlash);

struct S3Digests {
  std::string Sha256Hex;
  std::string Sha256Base64;
  std::string Md5Hex;
  std::string Md5Base64;
};
S3Digests S3DigestsOf(std::string_view bytes);
// The digests of the first `size` bytes of an open file, read in one pass; false when it
// cannot be read (errno says why) or is shorter.
bool S3DigestsOfFile(int fd, std::uint64_t size, S3Digests& digests);

struct S3Call {
  const char* Method = "GET";  // GET, PUT, POST, DELETE
  std::string Key;             // the whole key, prefix included; "" for the bucket
  // Query parameters, already in SigV4's canonical form: sorted by name, URI-encoded, each
  // "name=value" ("uploads=" for a flag). libcurl signs the query as it is given.
  std::string Query;
  std::string_view Body;  // PUT and POST
  // PUT: the body read from this open file instead (its first BodyFileSize bytes), so that a
  // large object goes out without being held in memory.
  int BodyFile = -1;
  std::uint64_t BodyFileSize = 0;
  // The body's digests when already known ("" computes the SHA-256 for the signature).
  std::string Sha256Hex, Sha256Base64, Md5Hex;
  std::vector<std::string> Headers;
  std::string Range;                 // "N-", GET only
  std::uint64_t BytesPerSecond = 0;  // cap each way; 0 none
  // GET: the bytes of a 2xx answer, with its HTTP code; false ends the transfer.
  std::function<bool(std::string_view bytes, long http)> Sink;
  const std::atomic<bool>* Cancel = nullptr;  // set: the transfer ends at once
  bool Unstoppable = false;  // runs to its end despite a stop request (an abort's clean-up)
};

struct S3Reply {
  int Curl = 0;  // CURLcode
  std::string CurlError;
  long Http = 0;
  std::string Body;  // anything not given to the Sink: error documents, list pages
  std::string ETag;
  bool Stopped = false;    // the run's stop request or Cancel ended it
  bool Stalled = false;    // no byte moved for RetryPolicy::StallSeconds
  bool SinkEnded = false;  // the Sink returned false
};

struct S3Endpoint {
  std::string Scheme;  // "https"
  std::string Host;    // "s3.eu-central-1.amazonaws.com", "localhost:9000"
  std::string Path;    // "" or "/base" without a trailing "/"
  std::string Bucket;
  bool PathStyle = false;
};

// Runs calls on a pool of libcurl handles (one per call in progress, kept for their
// connections). Thread-safe.
class S3Http {
 public:
  S3Http(S3Endpoint endpoint, std::string region, std::string keyId, std::string secret,
         std::string caFile, const TransferControl& control);
  ~S3Http();
  S3Http(const S3Http&) = delete;
  S3Http& operator=(const S3Http&) = delete;

  S3Reply Perform(const S3Call& call);
  std::string UrlOf(const std::string& key, const std::string& query) const;

 private:
  void* Acquire();
  void Release(void* handle);

  S3Endpoint m_endpoint;
  std::string m_sigv4;
  std::string m_keyId, m_secret, m_caFile;
  const TransferControl& m_control;
  std::mutex m_mutex;
  std::vector<void*> m_idle;
};

// What a reply means for the attempt: Ok, transient (reset, time-out, stall, 500, 502, 503,
// SlowDown) or failed for good; the Result's text is the cause alone ("wrong credentials
// (SignatureDoesNotMatch: ...)"), for the caller to say what failed where.
Attempt S3Outcome(const S3Reply& reply, int stallSeconds);

}  // namespace brevanto
