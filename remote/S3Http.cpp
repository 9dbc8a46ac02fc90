#include "remote/S3Http.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <cerrno>

#include <unistd.h>

#include <curl/curl.h>
#include <openssl/evp.h>

#include "remote/S3Xml.h"

namespace brevanto {
namespace {

std::string Hex(const unsigned char* bytes, unsigned size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

std::string Base64(const unsigned char* bytes, unsigned size) {
  std::string text(4 * ((size + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, static_cast<int>(size));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

struct Transfer {
  const S3Call* Call = nullptr;
  S3Reply* Reply = nullptr;
  CURL* Handle = nullptr;
  const TransferControl* Control = nullptr;
  std::size_t Sent = 0;
  curl_off_t Moved = 0;         // bytes sent and received so far
  std::int64_t MovedAtMs = -1;  // when that count last grew
};

std::size_t ReadBody(char* buffer, std::size_t size, std::size_t count, void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  if (transfer->Call->BodyFile >= 0) {
    const std::size_t want =
        std::min<std::uint64_t>(size * count, transfer->Call->BodyFileSize - transfer->Sent);
    if (want == 0) return 0;
    ssize_t got;
    do {
      got = ::pread(transfer->Call->BodyFile, buffer, want, static_cast<off_t>(transfer->Sent));
    } while (got < 0 && errno == EINTR);
    // A file that shrank or cannot be read ends the request: a short body is never sent as
    // if whole.
    if (got <= 0) return CURL_READFUNC_ABORT;
    transfer->Sent += static_cast<std::size_t>(got);
    return static_cast<std::size_t>(got);
  }
  const std::string_view body = transfer->Call->Body;
  const std::size_t n = std::min(size * count, body.size() - transfer->Sent);
  std::memcpy(buffer, body.data() + transfer->Sent, n);
  transfer->Sent += n;
  return n;
}

std::size_t WriteBody(char* bytes, std::size_t size, std::size_t count, void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  const std::size_t n = size * count;
  long http = 0;
  curl_easy_getinfo(transfer->Handle, CURLINFO_RESPONSE_CODE, &http);
  if (transfer->Call->Sink && http >= 200 && http < 300) {
    if (!transfer->Call->Sink(std::string_view(bytes, n), http)) {
      transfer->Reply->SinkEnded = true;
      return CURL_WRITEFUNC_ERROR;
    }
    return n;
  }
  // Error documents and listings are small; a server sending more is cut off.
  if (transfer->Reply->Body.size() + n > 64 * 1024 * 1024) return CURL_WRITEFUNC_ERROR;
  transfer->Reply->Body.append(bytes, n);
  return n;
}

std::size_t Header(char* bytes, std::size_t size, std::size_t count, void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  const std::size_t n = size * count;
  std::string line(bytes, n);
  if (line.size() > 5 && strncasecmp(line.c_str(), "etag:", 5) == 0) {
    std::string value = line.substr(5);
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    value.erase(value.begin(), std::find_if(value.begin(), value.end(), notSpace));
    value.erase(std::find_if(value.rbegin(), value.rend(), notSpace).base(), value.end());
    transfer->Reply->ETag = value;
  }
  return n;
}

int Progress(void* data, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto* transfer = static_cast<Transfer*>(data);
  const bool cancelled = transfer->Call->Cancel != nullptr && transfer->Call->Cancel->load();
  const bool stop = !transfer->Call->Unstoppable && transfer->Control->StopRequested &&
                    transfer->Control->StopRequested();
  if (cancelled || stop) {
    transfer->Reply->Stopped = true;
    return 1;
  }
  // libcurl's own low-speed check averages over several seconds and so fires some seconds
  // late; this one counts from the last byte that moved.
  const std::int64_t now = transfer->Control->TheClock->MonotonicMs();
  const curl_off_t moved = downloaded + uploaded;
  if (moved != transfer->Moved || transfer->MovedAtMs < 0) {
    transfer->Moved = moved;
    transfer->MovedAtMs = now;
  } else if (now - transfer->MovedAtMs >=
             std::int64_t{1000} * std::max(transfer->Control->Retry.StallSeconds, 1)) {
    transfer->Reply->Stalled = true;
    return 1;
  }
  return 0;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Cause(const std::string& code, const std::string& message) {
  return code + (message.empty() ? "" : ": " + message);
}

}  // namespace

std::string S3UriEncode(std::string_view text, bool keepSlash) {
  static const char digits[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
        (keepSlash && c == '/')) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += digits[c >> 4];
      encoded += digits[c & 15];
    }
  }
  return encoded;
}

S3Digests S3DigestsOf(std::string_view bytes) {
  unsigned char sha[EVP_MAX_MD_SIZE], md5[EVP_MAX_MD_SIZE];
  unsigned shaSize = 0, md5Size = 0;
  EVP_Digest(bytes.data(), bytes.size(), sha, &shaSize, EVP_sha256(), nullptr);
  EVP_Digest(bytes.data(), bytes.size(), md5, &md5Size, EVP_md5(), nullptr);
  return {Hex(sha, shaSize), Base64(sha, shaSize), Hex(md5, md5Size), Base64(md5, md5Size)};
}

bool S3DigestsOfFile(int fd, std::uint64_t size, S3Digests& digests) {
  EVP_MD_CTX* sha = EVP_MD_CTX_new();
  EVP_MD_CTX* md5 = EVP_MD_CTX_new();
  bool ok = sha != nullptr && md5 != nullptr && EVP_DigestInit_ex(sha, EVP_sha256(), nullptr) &&
            EVP_DigestInit_ex(md5, EVP_md5(), nullptr);
  std::string buffer(1024 * 1024, '\0');
  for (std::uint64_t done = 0; ok && done < size;) {
    const ssize_t got =
        ::pread(fd, buffer.data(), std::min<std::uint64_t>(buffer.size(), size - done),
                static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      ok = false;
      break;
    }
    ok = EVP_DigestUpdate(sha, buffer.data(), static_cast<std::size_t>(got)) &&
         EVP_DigestUpdate(md5, buffer.data(), static_cast<std::size_t>(got));
    done += static_cast<std::uint64_t>(got);
  }
  unsigned char shaBytes[EVP_MAX_MD_SIZE], md5Bytes[EVP_MAX_MD_SIZE];
  unsigned shaSize = 0, md5Size = 0;
  ok = ok && EVP_DigestFinal_ex(sha, shaBytes, &shaSize) &&
       EVP_DigestFinal_ex(md5, md5Bytes, &md5Size);
  EVP_MD_CTX_free(sha);
  EVP_MD_CTX_free(md5);
  if (ok) {
    digests = {Hex(shaBytes, shaSize), Base64(shaBytes, shaSize), Hex(md5Bytes, md5Size),
               Base64(md5Bytes, md5Size)};
  }
  return ok;
}

S3Http::S3Http(S3Endpoint endpoint, std::string region, std::string keyId, std::string secret,
               std::string caFile, const TransferControl& control)
    : m_endpoint(std::move(endpoint)),
      m_sigv4("aws:amz:" + region + ":s3"),
      m_keyId(std::move(keyId)),
      m_secret(std::move(secret)),
      m_caFile(std::move(caFile)),
      m_control(control) {
  GlobalInit();
}

S3Http::~S3Http() {
  for (void* handle : m_idle) curl_easy_cleanup(static_cast<CURL*>(handle));
}

void* S3Http::Acquire() {
  {
    std::lock_guard lock(m_mutex);
    if (!m_idle.empty()) {
      void* handle = m_idle.back();
      m_idle.pop_back();
      return handle;
    }
  }
  return curl_easy_init();
}

void S3Http::Release(void* handle) {
  std::lock_guard lock(m_mutex);
  m_idle.push_back(handle);
}

std::string S3Http::UrlOf(const std::string& key, const std::string& query) const {
  std::string url = m_endpoint.Scheme + "://";
  if (m_endpoint.PathStyle) {
    url += m_endpoint.Host + m_endpoint.Path + "/" + S3UriEncode(m_endpoint.Bucket, false);
    if (!key.empty()) url += "/" + S3UriEncode(key, true);
  } else {
    url +=
        m_endpoint.Bucket + "." + m_endpoint.Host + m_endpoint.Path + "/" + S3UriEncode(key, true);
  }
  if (!query.empty()) url += "?" + query;
  return url;
}

S3Reply S3Http::Perform(const S3Call& call) {
  S3Reply reply;
  CURL* curl = static_cast<CURL*>(Acquire());
  if (curl == nullptr) {
    reply.Curl = CURLE_OUT_OF_MEMORY;
    reply.CurlError = "libcurl could not start a transfer";
    return reply;
  }
  curl_easy_reset(curl);
  Transfer transfer;
  transfer.Call = &call;
  transfer.Reply = &reply;
  transfer.Handle = curl;
  transfer.Control = &m_control;
  char error[CURL_ERROR_SIZE] = "";
  const std::string url = UrlOf(call.Key, call.Query);
  const RetryPolicy& retry = m_control.Retry;

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, m_sigv4.c_str());
  curl_easy_setopt(curl, CURLOPT_USERNAME, m_keyId.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, m_secret.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(retry.ConnectTimeoutSeconds));
  // A transfer that moves no byte for StallSeconds is a fault, whatever its size.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                   static_cast<long>(std::max(retry.StallSeconds, 1)));
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
  if (!m_caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, m_caFile.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  if (call.BytesPerSecond > 0) {
    const auto cap = static_cast<curl_off_t>(call.BytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_MAX_SEND_SPEED_LARGE, cap);
    curl_easy_setopt(curl, CURLOPT_MAX_RECV_SPEED_LARGE, cap);
  }

  const std::string_view method = call.Method;
  if (method == "PUT") {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
    curl_easy_setopt(curl, CURLOPT_READDATA, &transfer);
    const std::uint64_t size = call.BodyFile >= 0 ? call.BodyFileSize : call.Body.size();
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  } else if (method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    // Never null: libcurl would read the body from stdin then.
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.Body.empty() ? "" : call.Body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.Body.size()));
  } else if (method == "DELETE") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "DELETE");
  }
  if (!call.Range.empty()) curl_easy_setopt(curl, CURLOPT_RANGE, call.Range.c_str());

  // The payload's hash is signed, so the signature covers the bytes as well.
  curl_slist* headers = nullptr;
  const std::string contentSha =
      "x-amz-content-sha256: " +
      (call.Sha256Hex.empty() ? S3DigestsOf(call.Body).Sha256Hex : call.Sha256Hex);
  headers = curl_slist_append(headers, contentSha.c_str());
  // No "Expect: 100-continue": it costs each body a round trip before the first byte, and a
  // refused request is answered all the same.
  headers = curl_slist_append(headers, "Expect:");
  for (const std::string& header : call.Headers)
    headers = curl_slist_append(headers, header.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

  reply.Curl = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Http);
  reply.CurlError =
      error[0] != '\0' ? error : curl_easy_strerror(static_cast<CURLcode>(reply.Curl));
  curl_slist_free_all(headers);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  Release(curl);
  return reply;
}

Attempt S3Outcome(const S3Reply& reply, int stallSeconds) {
  if (reply.Stopped) return {Status::Error("Stopped."), false};
  const bool tooSlow = reply.Curl == CURLE_OPERATION_TIMEDOUT &&
                       reply.CurlError.find("too slow") != std::string::npos;
  if (reply.Stalled || tooSlow) {
    return {Status::Error("the transfer stalled: no byte moved for " +
                          std::to_string(stallSeconds) + " s"),
            true, true};
  }
  if (reply.Curl != CURLE_OK && !reply.SinkEnded) {
    const auto code = static_cast<CURLcode>(reply.Curl);
    switch (code) {
      case CURLE_OPERATION_TIMEDOUT:
        return {Status::Error("timed out (" + reply.CurlError + ")"), true};
      case CURLE_UNSUPPORTED_PROTOCOL:
      case CURLE_URL_MALFORMAT:
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_COULDNT_RESOLVE_PROXY:
      case CURLE_OUT_OF_MEMORY:
        return {Status::Error("cannot reach the server (" + reply.CurlError + ")"), false};
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CACERT_BADFILE:
      case CURLE_SSL_CERTPROBLEM:
        return {Status::Error("TLS failed (" + reply.CurlError + ")"), false};
      default: return {Status::Error("the connection failed (" + reply.CurlError + ")"), true};
    }
  }
  const S3ErrorText error = ParseS3Error(reply.Body);
  const bool success = reply.Http >= 200 && reply.Http < 300;
  // CompleteMultipartUpload may answer 200 and report its failure in the body.
  if (success && error.Code.empty()) return {Status::Ok(), false};
  const std::string& code = error.Code;
  const std::string cause =
      code.empty() ? "HTTP " + std::to_string(reply.Http) : Cause(code, error.Message);
  if (code == "InvalidAccessKeyId" || code == "SignatureDoesNotMatch") {
    return {Status::Error("wrong credentials (" + cause + ")"), false};
  }
  if (code == "NoSuchBucket")
    return {Status::Error("the bucket does not exist (" + cause + ")"), false};
  if (code == "RequestTimeTooSkewed") {
    return {
        Status::Error("this machine's clock differs too much from the server's (" + cause + ")"),
        false};
  }
  if (code == "EntityTooLarge" || code == "QuotaExceeded" || code == "XMinioStorageFull" ||
      code == "InsufficientStorage" || reply.Http == 507) {
    return {Status::Error("the target refuses more data (" + cause + ")"), false};
  }
  if (code == "AccessDenied") return {Status::Error("access denied (" + cause + ")"), false};
  const bool transient = reply.Http == 500 || reply.Http == 502 || reply.Http == 503 ||
                         reply.Http == 504 || code == "SlowDown" || code == "InternalError" ||
                         code == "ServiceUnavailable" || code == "RequestTimeout";
  if (code.empty()) return {Status::Error(cause), transient};
  return {Status::Error("HTTP " + std::to_string(reply.Http) + " (" + cause + ")"), transient};
}

}  // namespace brevanto
