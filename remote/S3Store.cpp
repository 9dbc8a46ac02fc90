#include "remote/S3Store.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "remote/Retry.h"
#include "remote/S3Http.h"
#include "remote/S3Xml.h"

namespace brevanto {
namespace {

// "https://host:port/base" split up; the scheme defaults to https.
S3Endpoint EndpointOf(const RemoteOptions& options, const std::string& region) {
  S3Endpoint endpoint;
  std::string text =
      options.Endpoint.empty() ? "https://s3." + region + ".amazonaws.com" : options.Endpoint;
  const std::size_t scheme = text.find("://");
  endpoint.Scheme = scheme == std::string::npos ? "https" : text.substr(0, scheme);
  if (scheme != std::string::npos) text.erase(0, scheme + 3);
  while (!text.empty() && text.back() == '/') text.pop_back();
  const std::size_t slash = text.find('/');
  endpoint.Host = text.substr(0, slash);
  endpoint.Path = slash == std::string::npos ? "" : text.substr(slash);
  endpoint.Bucket = options.Bucket;
  // A bucket cannot be a subdomain of an IP address: such endpoints take the path style.
  const std::string hostname = endpoint.Host.substr(0, endpoint.Host.rfind(':'));
  in_addr ipv4{};
  const bool ipAddress = (!endpoint.Host.empty() && endpoint.Host.front() == '[') ||
                         ::inet_pton(AF_INET, hostname.c_str(), &ipv4) == 1;
  endpoint.PathStyle = options.PathStyle || ipAddress;
  return endpoint;
}

class S3Store;

// One multipart upload: parts go out on their own threads, at most PartsInFlight at once.
// A slot is held by each part's buffer from when it is filled until its upload ended, so
// the memory of an upload stays below PartsInFlight x PartBytes.
class MultipartUpload {
 public:
  MultipartUpload(S3Store& store, std::string name) : m_store(store), m_name(std::move(name)) {}
  ~MultipartUpload() { Abort(); }

  Status Begin();
  // Waits for a free slot; the first part's failure when the upload failed meanwhile. The
  // slot comes with the empty buffer of a part that went out, when there is one: the same
  // few buffers serve the whole upload and memory stays flat.
  Status AcquireSlot(std::string& buffer);
  // Sends `bytes` as part `number` on a thread of its own; the caller holds a slot.
  void Submit(int number, std::string bytes);
  // Waits for every part, then completes the upload, or aborts it when anything failed.
  Status Finish();
  // Ends the parts in flight and aborts the upload on the server (once).
  void Abort();

 private:
  struct Part {
    std::string ETag;
    std::string Sha256Base64;
    std::uint64_t Size = 0;
  };
  void Fail(const Status& status);
  void JoinParts();

  S3Store& m_store;
  const std::string m_name;
  std::string m_uploadId;
  std::atomic<bool> m_cancel{false};
  std::mutex m_mutex;
  std::condition_variable m_freed;
  int m_held = 0;
  Status m_failure;
  std::map<int, Part> m_parts;
  std::vector<std::string> m_spare;  // buffers of parts sent, for the next ones
  struct Worker {
    std::thread Thread;
    bool Done = false;
  };
  std::list<Worker> m_workers;  // one per part in flight; joined once done
  bool m_ended = false;
};

class S3Writer : public ObjectWriter {
 public:
  S3Writer(S3Store& store, std::string name) : m_store(store), m_name(std::move(name)) {}
  ~S3Writer() override { Abort(); }
  Status Write(std::string_view bytes) override;
  Status Complete() override;
  void Abort() override;
  std::uint64_t Size() const override { return m_size; }

 private:
  Status SubmitBuffer();
  Status Ended() const;
  std::uint64_t PartBytes() const;

  S3Store& m_store;
  const std::string m_name;
  std::string m_buffer;
  std::unique_ptr<MultipartUpload> m_upload;
  bool m_holdsSlot = false;  // the buffer being filled holds one of the upload's slots
  int m_parts = 0;
  std::uint64_t m_size = 0;
  bool m_ended = false;
  Status m_failure;
};

class S3Store : public RemoteStore {
 public:
  S3Store(const RemoteOptions& options, const TransferControl& control, const S3Limits& limits)
      : m_options(options),
        m_control(control),
        m_limits(limits),
        m_region(options.Region.empty() ? "us-east-1" : options.Region),
        m_prefix(options.Prefix),
        m_http(EndpointOf(options, m_region), m_region, options.AccessKeyId,
               options.SecretAccessKey, options.CaFile, m_control) {
    m_limits.PartBytes = std::max<std::uint64_t>(m_limits.PartBytes, 1);
    m_limits.PartsInFlight = std::max(m_limits.PartsInFlight, 1);
    m_limits.MaxParts = std::clamp(m_limits.MaxParts, 1, 10000);
    m_limits.ListPageSize = std::clamp(m_limits.ListPageSize, 1, 1000);
    while (!m_prefix.empty() && m_prefix.front() == '/') m_prefix.erase(0, 1);
    if (!m_prefix.empty() && m_prefix.back() != '/') m_prefix += '/';
    // Parts report retries from their own threads; the run's log takes one line at a time.
    if (control.Warn) {
      m_control.Warn = [this, warn = control.Warn](const std::string& line) {
        std::lock_guard lock(m_warnMutex);
        warn(line);
      };
    }
  }

  std::string Describe() const override { return RemoteTargetText(m_options); }

  Status OpenWriter(const std::string& name, std::unique_ptr<ObjectWriter>& writer) override {
    writer = std::make_unique<S3Writer>(*this, name);
    return Status::Ok();
  }

  Status PutFile(const std::string& localPath, const std::string& name) override;
  Status Get(const std::string& name,
             const std::function<Status(std::string_view)>& consume) override;
  Status List(const std::string& under, std::vector<RemoteObject>& objects) override;
  Status Delete(const std::string& name) override;

  // Retries `call` as RetryPolicy says; the Error names `what`, the target and the cause.
  // `check` may turn a reply the server took into a failure (a wrong ETag).
  Status Run(const std::string& what, const S3Call& call, S3Reply* last = nullptr,
             const std::function<Attempt(const S3Reply&)>& check = {},
             const TransferControl* control = nullptr) {
    const std::string where = what + " " + Describe();
    const Status status = WithRetries(control != nullptr ? *control : m_control, where, [&] {
      S3Reply reply = m_http.Perform(call);
      Attempt attempt = S3Outcome(reply, m_control.Retry.StallSeconds);
      if (attempt.Result.ok() && check) attempt = check(reply);
      if (last != nullptr) *last = std::move(reply);
      return attempt;
    });
    return Failed(where, status);
  }

  // `where` says what failed where: "Uploading NAME to s3://bucket/prefix/".
  static Status Failed(const std::string& where, const Status& status) {
    if (status.ok() || status.message() == "Stopped.") return status;
    return Status::Error(where + " failed: " + status.message());
  }

  // A PUT of a whole object or a part, with the checksums the server checks it by.
  S3Call PutCall(const std::string& name, std::string_view bytes, const std::string& query) const {
    S3Call call = PutCall(name, S3DigestsOf(bytes), query);
    call.Body = bytes;
    return call;
  }
  // The same for a body whose digests are known: it is set by the caller.
  S3Call PutCall(const std::string& name, const S3Digests& digests,
                 const std::string& query) const {
    S3Call call;
    call.Method = "PUT";
    call.Key = KeyOf(name);
    call.Query = query;
    call.Sha256Hex = digests.Sha256Hex;
    call.Sha256Base64 = digests.Sha256Base64;
    call.Md5Hex = digests.Md5Hex;
    call.BytesPerSecond = m_control.BandwidthBytesPerSecond;
    call.Headers = {"Content-MD5: " + digests.Md5Base64,
                    "x-amz-checksum-sha256: " + digests.Sha256Base64};
    if (query.empty()) AddObjectHeaders(call);
    return call;
  }

  // An ETag that is an MD5 (it is for a plain upload) must be the one of our bytes.
  static Attempt CheckETag(const S3Reply& reply, const std::string& md5Hex) {
    std::string etag = reply.ETag;
    etag.erase(std::remove(etag.begin(), etag.end(), '"'), etag.end());
    const bool isMd5 = etag.size() == 32 && std::all_of(etag.begin(), etag.end(), [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c));
                       });
    if (isMd5 && etag != md5Hex) {
      return {Status::Error("the server stored other bytes (ETag " + reply.ETag + ")"), true};
    }
    return {Status::Ok(), false};
  }

  Status PutObject(const std::string& name, std::string_view bytes) {
    return PutObject(name, PutCall(name, bytes, ""));
  }
  Status PutObject(const std::string& name, const S3Call& call) {
    return Run("Uploading " + name + " to", call, nullptr,
               [&](const S3Reply& reply) { return CheckETag(reply, call.Md5Hex); });
  }

  // One PUT of a whole file, read from the disk twice: once for its digests, once to send.
  // A file that changes in between fails the server's checksum check rather than landing.
  Status PutObjectFromFile(const std::string& name, int fd, std::uint64_t size,
                           const std::string& localPath) {
    S3Digests digests;
    if (!S3DigestsOfFile(fd, size, digests)) {
      return Status::Error("Uploading " + name + " to " + Describe() + " failed: cannot read " +
                           localPath + ": " +
                           (errno == 0 ? std::string("it is shorter than when the upload began")
                                       : std::strerror(errno)));
    }
    S3Call call = PutCall(name, digests, "");
    call.BodyFile = fd;
    call.BodyFileSize = size;
    return PutObject(name, call);
  }

  void AddObjectHeaders(S3Call& call) const {
    call.Headers.push_back("Content-Type: application/octet-stream");
    if (!m_options.StorageClass.empty()) {
      call.Headers.push_back("x-amz-storage-class: " + m_options.StorageClass);
    }
  }

  std::string KeyOf(const std::string& name) const { return m_prefix + name; }
  const S3Limits& Limits() const { return m_limits; }
  const TransferControl& Control() const { return m_control; }
  // Each part in flight gets its share of the bandwidth cap.
  std::uint64_t PartBytesPerSecond() const {
    if (m_control.BandwidthBytesPerSecond == 0) return 0;
    return std::max<std::uint64_t>(
        m_control.BandwidthBytesPerSecond / static_cast<std::uint64_t>(m_limits.PartsInFlight), 1);
  }
  S3Http& Http() { return m_http; }

 private:
  const RemoteOptions m_options;
  TransferControl m_control;
  S3Limits m_limits;
  const std::string m_region;
  std::string m_prefix;
  std::mutex m_warnMutex;
  S3Http m_http;
};

// --- MultipartUpload ---

Status MultipartUpload::Begin() {
  S3Call call;
  call.Method = "POST";
  call.Key = m_store.KeyOf(m_name);
  call.Query = "uploads=";
  call.Headers = {"x-amz-checksum-algorithm: SHA256"};
  m_store.AddObjectHeaders(call);
  S3Reply reply;
  const Status status =
      m_store.Run("Starting the upload of " + m_name + " to", call, &reply,
                  [&](const S3Reply& answer) -> Attempt {
                    if (ParseS3UploadId(answer.Body).empty()) {
                      return {Status::Error("the server gave no upload id"), false};
                    }
                    return {Status::Ok(), false};
                  });
  if (status.ok()) m_uploadId = ParseS3UploadId(reply.Body);
  if (!status.ok()) m_ended = true;
  return status;
}

Status MultipartUpload::AcquireSlot(std::string& buffer) {
  std::unique_lock lock(m_mutex);
  m_freed.wait(lock, [&] { return m_held < m_store.Limits().PartsInFlight || !m_failure.ok(); });
  if (!m_failure.ok()) return m_failure;
  ++m_held;
  if (!m_spare.empty()) {
    buffer = std::move(m_spare.back());
    m_spare.pop_back();
  }
  buffer.clear();
  return Status::Ok();
}

void MultipartUpload::Fail(const Status& status) {
  std::lock_guard lock(m_mutex);
  if (m_failure.ok()) m_failure = status;
  m_cancel = true;
  m_freed.notify_all();
}

void MultipartUpload::Submit(int number, std::string bytes) {
  std::list<Worker> finished;
  std::lock_guard lock(m_mutex);
  for (auto it = m_workers.begin(); it != m_workers.end();) {
    const auto next = std::next(it);
    if (it->Done) finished.splice(finished.end(), m_workers, it);
    it = next;
  }
  // Finished workers are only leaving their function: joining them under the lock is quick.
  for (Worker& worker : finished) worker.Thread.join();
  Worker& worker = m_workers.emplace_back();
  worker.Thread = std::thread([this, &worker, number, bytes = std::move(bytes)]() mutable {
    S3Call call = m_store.PutCall(
        m_name, bytes,
        "partNumber=" + std::to_string(number) + "&uploadId=" + S3UriEncode(m_uploadId, false));
    call.BytesPerSecond = m_store.PartBytesPerSecond();
    call.Cancel = &m_cancel;
    S3Reply reply;
    const Status status = m_store.Run(
        "Uploading part " + std::to_string(number) + " of " + m_name + " to", call, &reply,
        [&](const S3Reply& answer) { return S3Store::CheckETag(answer, call.Md5Hex); });
    if (!status.ok()) Fail(status);
    std::lock_guard lock(m_mutex);
    if (status.ok()) m_parts[number] = Part{reply.ETag, call.Sha256Base64, call.Body.size()};
    // The buffer goes with its slot, or the next part's buffer would come first.
    m_spare.push_back(std::move(bytes));
    --m_held;
    worker.Done = true;
    m_freed.notify_all();
  });
}

void MultipartUpload::JoinParts() {
  std::list<Worker> workers;
  {
    std::lock_guard lock(m_mutex);
    workers.swap(m_workers);
  }
  for (Worker& worker : workers) worker.Thread.join();
}

Status MultipartUpload::Finish() {
  JoinParts();
  if (!m_failure.ok()) {
    const Status failure = m_failure;
    Abort();
    return failure;
  }
  std::string xml = "<CompleteMultipartUpload xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">";
  for (const auto& [number, part] : m_parts) {
    xml += "<Part><PartNumber>" + std::to_string(number) + "</PartNumber><ETag>" +
           S3XmlEscape(part.ETag) + "</ETag><ChecksumSHA256>" + part.Sha256Base64 +
           "</ChecksumSHA256></Part>";
  }
  xml += "</CompleteMultipartUpload>";
  S3Call call;
  call.Method = "POST";
  call.Key = m_store.KeyOf(m_name);
  call.Query = "uploadId=" + S3UriEncode(m_uploadId, false);
  call.Body = xml;
  call.Headers = {"Content-Type: application/xml"};
  std::uint64_t size = 0;
  for (const auto& [number, part] : m_parts) size += part.Size;
  // A completion whose answer was lost is done on the server, and its retry (ours, or
  // libcurl's own on a kept-alive connection) hears of no such upload: the object, listed
  // with the size of the parts, says it was this one.
  const std::string where = "Completing the upload of " + m_name + " to " + m_store.Describe();
  Status status = WithRetries(m_store.Control(), where, [&]() -> Attempt {
    const S3Reply reply = m_store.Http().Perform(call);
    const Attempt attempt = S3Outcome(reply, m_store.Control().Retry.StallSeconds);
    if (!attempt.Result.ok() && reply.Http == 404 &&
        ParseS3Error(reply.Body).Code == "NoSuchUpload") {
      std::vector<RemoteObject> objects;
      if (m_store.List(m_name, objects).ok() &&
          std::find(objects.begin(), objects.end(), RemoteObject{m_name, size}) != objects.end()) {
        m_ended = true;
        return {Status::Ok(), false};
      }
    }
    return attempt;
  });
  status = S3Store::Failed(where, status);
  if (!status.ok()) {
    Abort();
    return status;
  }
  m_ended = true;
  return status;
}

void MultipartUpload::Abort() {
  m_cancel = true;
  JoinParts();
  if (m_ended || m_uploadId.empty()) return;
  m_ended = true;
  S3Call call;
  call.Method = "DELETE";
  call.Key = m_store.KeyOf(m_name);
  call.Query = "uploadId=" + S3UriEncode(m_uploadId, false);
  // Not cancelled by a stop request either: an upload left open costs storage.
  call.Unstoppable = true;
  TransferControl control = m_store.Control();
  control.StopRequested = nullptr;
  const Status status =
      m_store.Run("Aborting the upload of " + m_name + " to", call, nullptr, {}, &control);
  if (!status.ok() && status.message() != "Stopped." && m_store.Control().Warn) {
    m_store.Control().Warn(status.message() +
                           "; its parts stay on the server until a lifecycle rule removes them");
  }
}

// --- S3Writer ---

Status S3Writer::SubmitBuffer() {
  if (!m_upload) {
    m_upload = std::make_unique<MultipartUpload>(m_store, m_name);
    if (Status status = m_upload->Begin(); !status.ok()) return status;
  }
  if (!m_holdsSlot) {
    // The first part's buffer: filled before it was known to be a part.
    std::string unused;
    if (Status status = m_upload->AcquireSlot(unused); !status.ok()) return status;
  }
  m_upload->Submit(++m_parts, std::move(m_buffer));
  m_buffer = std::string();
  m_holdsSlot = false;
  return Status::Ok();
}

Status S3Writer::Ended() const {
  return Status::Error("Writing " + m_name + " to " + m_store.Describe() +
                       " failed: it was already " +
                       (m_failure.ok() ? "ended" : "aborted: " + m_failure.message()));
}

// The size of the object is not known ahead: every tenth of MaxParts, parts grow by the
// first part's size (10000 parts of 8 MiB and more reach 440 GB), so that memory grows only
// for objects that large.
std::uint64_t S3Writer::PartBytes() const {
  const S3Limits& limits = m_store.Limits();
  return limits.PartBytes *
         (1 + static_cast<std::uint64_t>(m_parts) / std::max(limits.MaxParts / 10, 1));
}

Status S3Writer::Write(std::string_view bytes) {
  if (m_ended) return Ended();
  while (!bytes.empty()) {
    const std::uint64_t partBytes = PartBytes();
    // A full buffer goes out only once more bytes follow, so that an object of one part is
    // a single PUT.
    if (m_buffer.size() == partBytes) {
      if (Status status = SubmitBuffer(); !status.ok()) {
        m_failure = status;
        Abort();
        return status;
      }
    }
    if (m_buffer.empty() && m_upload && !m_holdsSlot) {
      if (Status status = m_upload->AcquireSlot(m_buffer); !status.ok()) {
        m_failure = status;
        Abort();
        return status;
      }
      m_holdsSlot = true;
      // Parts after the first are whole parts but for the last: no growing by copies.
      m_buffer.reserve(static_cast<std::size_t>(partBytes));
    }
    const std::size_t take = static_cast<std::size_t>(
        std::min<std::uint64_t>(bytes.size(), partBytes - m_buffer.size()));
    // Grown as a string grows, but never past one part.
    if (m_buffer.size() + take > m_buffer.capacity()) {
      m_buffer.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
          partBytes, std::max<std::uint64_t>(2 * m_buffer.capacity(), m_buffer.size() + take))));
    }
    m_buffer.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    m_size += take;
  }
  return Status::Ok();
}

Status S3Writer::Complete() {
  if (m_ended) return Ended();
  m_ended = true;
  if (!m_upload) {
    const Status status = m_store.PutObject(m_name, m_buffer);
    m_buffer = std::string();
    return status;
  }
  if (!m_buffer.empty()) {
    if (Status status = SubmitBuffer(); !status.ok()) {
      m_upload->Abort();
      return status;
    }
  }
  const Status status = m_upload->Finish();
  m_upload.reset();
  return status;
}

void S3Writer::Abort() {
  m_ended = true;
  m_buffer = std::string();
  if (m_upload) {
    m_upload->Abort();
    m_upload.reset();
  }
}

// --- S3Store ---

Status S3Store::PutFile(const std::string& localPath, const std::string& name) {
  const int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    const Status status =
        Status::Error("Uploading " + name + " to " + Describe() + " failed: cannot read " +
                      localPath + ": " + std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return status;
  }
  auto readAt = [&](std::uint64_t offset, std::uint64_t size, std::string& bytes) -> Status {
    bytes.resize(static_cast<std::size_t>(size));
    std::uint64_t done = 0;
    while (done < size) {
      const ssize_t got = ::pread(fd, bytes.data() + done, static_cast<std::size_t>(size - done),
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        return Status::Error("Uploading " + name + " to " + Describe() + " failed: cannot read " +
                             localPath + ": " +
                             (got == 0 ? std::string("it is shorter than when the upload began")
                                       : std::strerror(errno)));
      }
      done += static_cast<std::uint64_t>(got);
    }
    return Status::Ok();
  };

  const auto size = static_cast<std::uint64_t>(info.st_size);
  const auto maxParts = static_cast<std::uint64_t>(m_limits.MaxParts);
  const std::uint64_t partBytes = std::max(m_limits.PartBytes, (size + maxParts - 1) / maxParts);
  Status status;
  if (size <= partBytes) {
    std::string bytes;
    status = readAt(0, size, bytes);
    if (status.ok()) status = PutObject(name, bytes);
  } else if (size <= m_limits.SinglePutBytes) {
    status = PutObjectFromFile(name, fd, size, localPath);
  } else {
    MultipartUpload upload(*this, name);
    status = upload.Begin();
    for (std::uint64_t offset = 0, number = 1; status.ok() && offset < size;
         offset += partBytes, ++number) {
      std::string bytes;
      status = upload.AcquireSlot(bytes);
      if (status.ok()) status = readAt(offset, std::min(partBytes, size - offset), bytes);
      if (status.ok()) upload.Submit(static_cast<int>(number), std::move(bytes));
    }
    if (status.ok()) {
      status = upload.Finish();
    } else {
      upload.Abort();
    }
  }
  ::close(fd);
  return status;
}

Status S3Store::Get(const std::string& name,
                    const std::function<Status(std::string_view)>& consume) {
  std::uint64_t received = 0;
  std::uint64_t skip = 0;  // bytes a server ignoring the Range sends again
  Status consumed;
  S3Call call;
  call.Key = KeyOf(name);
  call.BytesPerSecond = m_control.BandwidthBytesPerSecond;
  call.Sink = [&](std::string_view bytes, long http) {
    if (http == 206) skip = 0;
    const std::size_t drop = static_cast<std::size_t>(std::min<std::uint64_t>(skip, bytes.size()));
    skip -= drop;
    bytes.remove_prefix(drop);
    if (bytes.empty()) return true;
    consumed = consume(bytes);
    if (!consumed.ok()) return false;
    received += bytes.size();
    return true;
  };
  const std::string what = "Reading " + name + " from " + Describe();
  const Status status = WithRetries(m_control, what, [&]() -> Attempt {
    call.Range = received > 0 ? std::to_string(received) + "-" : "";
    skip = received;
    const S3Reply reply = m_http.Perform(call);
    if (!consumed.ok()) return {consumed, false};
    // The object had no more bytes than those already read.
    if (received > 0 && reply.Http == 416) return {Status::Ok(), false};
    return S3Outcome(reply, m_control.Retry.StallSeconds);
  });
  if (!consumed.ok()) return consumed;
  return Failed(what, status);
}

Status S3Store::List(const std::string& under, std::vector<RemoteObject>& objects) {
  objects.clear();
  std::string token;
  do {
    // Parameters in the sorted order the signature wants them.
    S3Call call;
    if (!token.empty()) call.Query = "continuation-token=" + S3UriEncode(token, false) + "&";
    call.Query += "list-type=2";
    if (m_limits.ListPageSize != 1000)
      call.Query += "&max-keys=" + std::to_string(m_limits.ListPageSize);
    call.Query += "&prefix=" + S3UriEncode(KeyOf(under), false);
    S3ListPage page;
    const Status status = Run("Listing", call, nullptr, [&](const S3Reply& reply) -> Attempt {
      if (!ParseS3ListPage(reply.Body, page)) {
        return {Status::Error("the server's listing could not be read"), true};
      }
      return {Status::Ok(), false};
    });
    if (!status.ok()) return status;
    for (S3ListPage::Entry& entry : page.Entries) {
      if (entry.Key.compare(0, m_prefix.size(), m_prefix) != 0) continue;
      objects.push_back({entry.Key.substr(m_prefix.size()), entry.Size});
    }
    token = page.Truncated ? page.NextToken : "";
  } while (!token.empty());
  std::sort(objects.begin(), objects.end(),
            [](const RemoteObject& a, const RemoteObject& b) { return a.Name < b.Name; });
  return Status::Ok();
}

Status S3Store::Delete(const std::string& name) {
  S3Call call;
  call.Method = "DELETE";
  call.Key = KeyOf(name);
  const std::string what = "Deleting " + name + " from " + Describe();
  const Status status = WithRetries(m_control, what, [&]() -> Attempt {
    const S3Reply reply = m_http.Perform(call);
    // One already gone is what was asked for.
    if (reply.Http == 404 && ParseS3Error(reply.Body).Code == "NoSuchKey")
      return {Status::Ok(), false};
    return S3Outcome(reply, m_control.Retry.StallSeconds);
  });
  return Failed(what, status);
}

}  // namespace

Status MakeS3Store(const RemoteOptions& options, const TransferControl& control,
                   std::unique_ptr<RemoteStore>& store, const S3Limits& limits) {
  store = std::make_unique<S3Store>(options, control, limits);
  return Status::Ok();
}

}  // namespace brevanto
