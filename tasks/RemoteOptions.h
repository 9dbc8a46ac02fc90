#pragma once
// A backup task's "Remote" section beside the task file: where its copies go off-site (an
// S3 bucket, an SFTP folder, an rclone remote), how many copies are kept there and here,
// and whether the copy is written there directly (docs/formats/remote.md). The section
// holds secrets (SecretAccessKey, Password); the options file is owner-only like the
// server list, and `--export` leaves them out unless asked.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "tasks/TaskItem.h"

namespace brevanto {

inline constexpr const char* kRemoteSection = "Remote";

enum class RemoteKind { None, S3, Sftp, Rclone };

// "s3", "sftp", "rclone"; "" for None.
const char* RemoteKindName(RemoteKind kind);
// The kind a name gives; None for "" and for a name that is none of them.
RemoteKind RemoteKindFromName(const std::string& name);

struct RemoteOptions {
  RemoteKind Kind = RemoteKind::None;
  // A section whose "Kind" names no kind, as it was written ("" when it had none): the
  // section is not empty, so the run reports it instead of quietly sending nothing.
  std::optional<std::string> GivenKind;

  // S3-compatible storage.
  std::string Endpoint;  // "https://s3.eu-central-1.amazonaws.com", "http://127.0.0.1:9000"
  std::string Region;    // signs the requests; "us-east-1" when empty
  std::string Bucket;
  // The task's folder in the bucket, "" or ending in "/" (RemoteOptionsFromJson adds a
  // missing one: a prefix is always a folder).
  std::string Prefix;
  bool PathStyle = false;  // "endpoint/bucket/key" instead of "bucket.endpoint/key"
  std::string AccessKeyId;
  std::string SecretAccessKey;  // secret
  std::string StorageClass;     // "" for the bucket's default
  std::string CaFile;           // a private endpoint's CA, "" for the system's

  // SFTP.
  std::string Host;
  int Port = 22;
  std::string User;
  std::string Password;        // secret; "" for key login
  std::string PrivateKeyFile;  // absolute path; "" for password login or the agent
  // "SHA256:..." as `ssh-keygen -lf` prints it; "" to check the user's known_hosts.
  std::string HostKeySha256;

  // SFTP's folder, or the folder in the rclone remote.
  std::string Path;
  std::string RcloneRemote;  // as `rclone config` named it, "gdrive" or "gdrive:"

  // Copies kept there (0: all). Copies kept here: -1 as the task's own rule says, 0 the
  // local files go once the off-site copy is complete and checked, N the newest N.
  int KeepCopies = 0;
  int KeepLocalCopies = -1;
  // No local file: the chain writes straight to the target.
  bool Direct = false;
  std::uint64_t BandwidthBytesPerSecond = 0;  // 0: no cap

  bool Empty() const { return Kind == RemoteKind::None && !GivenKind; }
  friend bool operator==(const RemoteOptions&, const RemoteOptions&) = default;
};

// What is wrong with `options` (a missing bucket or host, a relative key file, a bad
// fingerprint, a negative count), naming the key, or empty when nothing is.
std::string RemoteOptionsProblem(const RemoteOptions& options);

struct RemoteOptionsFault {
  std::string Key;      // "Bucket"
  std::string Message;  // about the key's value: "must be given for Kind \"s3\""
};
// Every problem RemoteOptionsProblem would report, in the order of the keys. With
// `secretsRequired` false an AccessKeyId without its SecretAccessKey is none: an export
// leaves the secret out, and the import of one keeps the secret the task had.
std::vector<RemoteOptionsFault> RemoteOptionsFaults(const RemoteOptions& options,
                                                    bool secretsRequired = true);

// Whether `key` (a key of the section) is one the options of `kind` use.
bool RemoteKeyAppliesTo(RemoteKind kind, const std::string& key);

// Only the keys of the options' kind are written (a secret of a kind no longer used does
// not linger). `withSecrets` false leaves SecretAccessKey and Password out.
nlohmann::json RemoteOptionsToJson(const RemoteOptions& options, bool withSecrets);
// Keys of the wrong type are ignored (a damaged section must not stop a task loading);
// the run checks the options with RemoteOptionsProblem.
RemoteOptions RemoteOptionsFromJson(const nlohmann::json& object);

RemoteOptions RemoteOptionsOf(const CTaskItem& task);
// Stores the options; empty options remove the section.
void SetRemoteOptions(CTaskItem& task, const RemoteOptions& options);

// "s3://bucket/prefix/", "sftp://user@host:port/path/", "rclone remote:path/": how logs
// and messages name the target. Never holds a secret.
std::string RemoteTargetText(const RemoteOptions& options);

}  // namespace brevanto
