#pragma once
// An off-site store of backup copies: an S3 bucket, an SFTP folder, an rclone remote.
//
// Object names are relative to the task's place in the target (its Prefix or Path) and use
// "/" between folders, as a copy's manifest names its files: a copy made in a DATE_TIME
// folder is "2026-12-08_03-00/db/t.sql.zst" ... and "2026-12-08_03-00.manifest.json". A
// store never touches anything outside its place.
//
// Every operation retries transient faults (a reset or timed-out connection, HTTP 500, 502,
// 503, SlowDown) with exponential backoff, a part at a time, and treats a transfer that
// moves no byte for RetryPolicy::StallSeconds as such a fault. Wrong credentials, a missing
// bucket or folder, a full remote disk, a refused host key and a clock skew are Errors at
// once. An Error's text names the target (RemoteTargetText) and the cause.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Clock.h"
#include "core/Status.h"
#include "tasks/RemoteOptions.h"

namespace brevanto {

struct RemoteObject {
  std::string Name;  // relative to the store's place
  std::uint64_t Size = 0;
  friend bool operator==(const RemoteObject&, const RemoteObject&) = default;
};

struct RetryPolicy {
  int Attempts = 6;  // tries of one request or part in all
  int FirstDelayMs = 500;
  int MaxDelayMs = 30000;
  int StallSeconds = 60;
  int ConnectTimeoutSeconds = 30;
};

// What a transfer may use: the clock for backoff waits, the run's stop request, the log.
struct TransferControl {
  Clock* TheClock = &SystemClock();
  std::function<bool()> StopRequested;           // may be empty
  std::function<void(const std::string&)> Warn;  // "retrying ..." lines; may be empty
  RetryPolicy Retry;
  std::uint64_t BandwidthBytesPerSecond = 0;  // 0: no cap
};

// One object being written. It appears under its name only when Complete succeeds (an S3
// multipart upload is completed, an SFTP temporary name renamed); Abort, or destruction
// before Complete, leaves nothing under the name (and aborts the multipart upload).
class ObjectWriter {
 public:
  virtual ~ObjectWriter() = default;
  [[nodiscard]] virtual Status Write(std::string_view bytes) = 0;
  [[nodiscard]] virtual Status Complete() = 0;
  virtual void Abort() = 0;
  virtual std::uint64_t Size() const = 0;  // bytes taken so far
};

class RemoteStore {
 public:
  virtual ~RemoteStore() = default;

  // As RemoteTargetText names it: for logs and messages.
  virtual std::string Describe() const = 0;

  // Starts writing `name` (replacing an object of that name only once complete).
  [[nodiscard]] virtual Status OpenWriter(const std::string& name,
                                          std::unique_ptr<ObjectWriter>& writer) = 0;
  // Uploads a local file as `name`; its bytes are checked end to end (S3: a checksum per
  // part and object; SFTP and rclone: size, and the remote's hash where it offers one).
  [[nodiscard]] virtual Status PutFile(const std::string& localPath, const std::string& name) = 0;
  // Reads `name` from its start, handing the bytes on in order; a retry resumes where the
  // bytes stopped. An Error from `consume` ends the read with that Error.
  [[nodiscard]] virtual Status Get(const std::string& name,
                                   const std::function<Status(std::string_view)>& consume) = 0;
  // Every object whose name starts with `under` ("" for all), at any depth, in name order.
  // Temporary names of unfinished uploads are not listed.
  [[nodiscard]] virtual Status List(const std::string& under,
                                    std::vector<RemoteObject>& objects) = 0;
  // Deletes `name`; one already gone is not an Error.
  [[nodiscard]] virtual Status Delete(const std::string& name) = 0;
};

// The store `options` describe, or an Error saying what is missing (RemoteOptionsProblem)
// or why it cannot be reached. Connecting may happen here or on first use.
[[nodiscard]] Status MakeRemoteStore(const RemoteOptions& options, const TransferControl& control,
                                     std::unique_ptr<RemoteStore>& store);

// The wizard's Test button: writes a small object, lists it, reads it back and deletes it.
// Ok, or an Error naming the step that failed and why.
[[nodiscard]] Status TestRemoteStore(RemoteStore& store);

}  // namespace brevanto
