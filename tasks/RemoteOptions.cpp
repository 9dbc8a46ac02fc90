#include "tasks/RemoteOptions.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string_view>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "tasks/TaskOptionsStore.h"

namespace brevanto {

using nlohmann::json;

const char* RemoteKindName(RemoteKind kind) {
  switch (kind) {
    case RemoteKind::S3: return "s3";
    case RemoteKind::Sftp: return "sftp";
    case RemoteKind::Rclone: return "rclone";
    case RemoteKind::None: break;
  }
  return "";
}

RemoteKind RemoteKindFromName(const std::string& name) {
  for (RemoteKind kind : {RemoteKind::S3, RemoteKind::Sftp, RemoteKind::Rclone}) {
    if (name == RemoteKindName(kind)) return kind;
  }
  return RemoteKind::None;
}

namespace {

constexpr const char* kKindsText = "\"s3\", \"sftp\" or \"rclone\"";

// Keys of the section no kind owns.
bool CommonKey(const std::string& key) {
  return key == "Kind" || key == "KeepCopies" || key == "KeepLocalCopies" || key == "Direct" ||
         key == "BandwidthBytesPerSecond";
}

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool HasSpace(std::string_view text) {
  return HasControl(text) || text.find(' ') != std::string_view::npos;
}

bool IsLower(char c) {
  return c >= 'a' && c <= 'z';
}
bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAlnum(char c) {
  return IsLower(c) || IsUpper(c) || IsDigit(c);
}

// "a.b.c.d" with four numbers: S3 refuses bucket names that read as an IPv4 address.
bool LooksLikeIpv4(std::string_view text) {
  int parts = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t dot = std::min(text.find('.', at), text.size());
    const std::string_view part = text.substr(at, dot - at);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), IsDigit)) {
      return false;
    }
    ++parts;
    at = dot + 1;
  }
  return parts == 4;
}

// Virtual-host addressing puts the bucket into a host name, so its rules are the DNS
// label's; path-style addressing also reaches the older names with capitals and "_".
std::string BucketProblem(const std::string& bucket, bool pathStyle, bool https) {
  const std::size_t most = pathStyle ? 255 : 63;
  const auto allowed = [pathStyle](char c) {
    return IsLower(c) || IsDigit(c) || c == '.' || c == '-' ||
           (pathStyle && (IsUpper(c) || c == '_'));
  };
  const bool shaped = bucket.size() >= 3 && bucket.size() <= most &&
                      std::all_of(bucket.begin(), bucket.end(), allowed) &&
                      IsAlnum(bucket.front()) && IsAlnum(bucket.back());
  if (!shaped) {
    if (!pathStyle &&
        std::all_of(bucket.begin(), bucket.end(),
                    [](char c) { return IsAlnum(c) || c == '.' || c == '-' || c == '_'; }) &&
        std::any_of(bucket.begin(), bucket.end(), [](char c) { return IsUpper(c) || c == '_'; })) {
      return "holds capitals or \"_\", which only path-style addressing reaches: set "
             "PathStyle to true";
    }
    return pathStyle ? "must be 3 to 255 letters, digits, \".\", \"-\" and \"_\", starting and "
                       "ending with a letter or digit"
                     : "must be 3 to 63 lower-case letters, digits, \".\" and \"-\", starting "
                       "and ending with a letter or digit";
  }
  if (bucket.find("..") != std::string::npos) return "must not hold \"..\"";
  if (LooksLikeIpv4(bucket)) return "must not read as an IP address";
  if (!pathStyle && https && bucket.find('.') != std::string::npos) {
    // "a.b.s3.example" is not covered by the endpoint's "*.s3.example" certificate.
    return "holds \".\", so its virtual-host name fails the endpoint's TLS certificate: set "
           "PathStyle to true";
  }
  return {};
}

std::string EndpointProblem(const std::string& endpoint) {
  std::string_view rest = endpoint;
  if (rest.starts_with("https://")) {
    rest.remove_prefix(8);
  } else if (rest.starts_with("http://")) {
    rest.remove_prefix(7);
  } else {
    return "must start with \"https://\" or \"http://\"";
  }
  const std::string_view authority = rest.substr(0, rest.find('/'));
  if (authority.empty() || HasSpace(endpoint)) {
    return "must be a URL: \"https://\" and the server's name, without spaces";
  }
  if (authority.find('@') != std::string_view::npos) {
    return "must not hold a user or password: give them as AccessKeyId and SecretAccessKey";
  }
  if (rest.find_first_of("?#") != std::string_view::npos) {
    return "must not hold a query (\"?\") or fragment (\"#\")";
  }
  return {};
}

// A prefix is a folder of object names: relative, and every part of it a name.
std::string PrefixProblem(const std::string& prefix) {
  if (prefix.empty()) return {};
  if (prefix.front() == '/') return "must not start with \"/\": object names have no leading \"/\"";
  if (HasControl(prefix) || prefix.find('\\') != std::string::npos) {
    return "must not hold control characters or \"\\\"";
  }
  std::string_view rest = prefix;
  if (rest.back() == '/') rest.remove_suffix(1);
  for (std::size_t at = 0; at <= rest.size();) {
    const std::size_t slash = std::min(rest.find('/', at), rest.size());
    const std::string_view part = rest.substr(at, slash - at);
    if (part.empty()) return "must not hold an empty folder name (\"//\")";
    if (part == "." || part == "..") return "must not hold \".\" or \"..\" as a folder name";
    at = slash + 1;
  }
  return {};
}

// Objects in these classes cannot be read without a restore request first: neither the
// manifests (so the copies cannot be listed) nor the files could be fetched.
bool ArchiveStorageClass(const std::string& storageClass) {
  return storageClass == "GLACIER" || storageClass == "DEEP_ARCHIVE";
}

std::string StorageClassProblem(const std::string& storageClass) {
  if (storageClass.empty()) return {};
  if (!std::all_of(storageClass.begin(), storageClass.end(),
                   [](char c) { return IsUpper(c) || IsDigit(c) || c == '_'; })) {
    return "must be a storage class name in capitals, such as \"STANDARD_IA\"";
  }
  if (ArchiveStorageClass(storageClass)) {
    return "must not be " + storageClass +
           ": its objects cannot be read back without a restore request, so the copies "
           "could be neither listed nor restored (GLACIER_IR can)";
  }
  return {};
}

// OpenSSH prints a SHA-256 fingerprint as "SHA256:" and the 32 bytes in base64 without
// its "=": 43 characters, the last of which holds 2 unused (zero) bits.
bool IsSha256Fingerprint(const std::string& text) {
  constexpr std::string_view kTag = "SHA256:";
  if (text.size() != kTag.size() + 43 || !text.starts_with(kTag)) return false;
  const std::string_view digits = std::string_view(text).substr(kTag.size());
  const auto base64 = [](char c) { return IsAlnum(c) || c == '+' || c == '/'; };
  return std::all_of(digits.begin(), digits.end(), base64) &&
         std::string_view("AEIMQUYcgkosw048").find(digits.back()) != std::string_view::npos;
}

// A remote's name as `rclone config` makes it ("gdrive", "gdrive:"), or a backend given
// on the spot (":local:"). Its options belong in rclone's configuration, where secrets
// stay out of the command line.
std::string RcloneRemoteProblem(const std::string& remote) {
  if (remote.front() == '-') return "must not start with \"-\"";
  if (HasControl(remote)) return "must not hold control characters";
  if (remote.front() == ':') {
    if (remote.size() < 3 || remote.back() != ':' || remote.find(':', 1) != remote.size() - 1) {
      return "must be a backend between colons, such as \":local:\", when it starts with \":\"";
    }
    return {};
  }
  std::string_view name = remote;
  if (name.back() == ':') name.remove_suffix(1);
  if (name.find(':') != std::string_view::npos) {
    return "must be the remote's name alone (\"gdrive\" or \"gdrive:\"): give the folder as Path";
  }
  const auto allowed = [](char c) {
    return IsAlnum(c) || c == '_' || c == '-' || c == '.' || c == '+' || c == '@' || c == ' ';
  };
  if (name.empty() || !std::all_of(name.begin(), name.end(), allowed) || name.front() == ' ' ||
      name.back() == ' ') {
    return "must be a remote's name as `rclone config` shows it: letters, digits, \"_\", "
           "\"-\", \".\", \"+\", \"@\" and inner spaces";
  }
  return {};
}

std::string AbsolutePathProblem(const std::string& path) {
  if (path.empty() || path.front() == '/') return {};
  return "must be a full path starting with /";
}

// Prefixes are folders: "nightly" and "nightly/" name the same place.
std::string AsFolder(std::string prefix) {
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  return prefix;
}

}  // namespace

bool RemoteKeyAppliesTo(RemoteKind kind, const std::string& key) {
  static const char* const s3[] = {"Endpoint",        "Region",       "Bucket",
                                   "Prefix",          "PathStyle",    "AccessKeyId",
                                   "SecretAccessKey", "StorageClass", "CaFile"};
  static const char* const sftp[] = {"Host",           "Port",          "User", "Password",
                                     "PrivateKeyFile", "HostKeySha256", "Path"};
  static const char* const rclone[] = {"RcloneRemote", "Path"};
  const auto in = [&key](const auto& keys) {
    return std::any_of(std::begin(keys), std::end(keys),
                       [&key](const char* k) { return key == k; });
  };
  switch (kind) {
    case RemoteKind::S3: return CommonKey(key) || in(s3);
    case RemoteKind::Sftp: return CommonKey(key) || in(sftp);
    case RemoteKind::Rclone: return CommonKey(key) || in(rclone);
    case RemoteKind::None: break;
  }
  return CommonKey(key) || in(s3) || in(sftp) || in(rclone);
}

std::vector<RemoteOptionsFault> RemoteOptionsFaults(const RemoteOptions& o, bool secretsRequired) {
  std::vector<RemoteOptionsFault> faults;
  const auto fault = [&faults](const char* key, std::string message) {
    if (!message.empty()) faults.push_back({key, std::move(message)});
  };
  const std::string kindText = "for Kind \"" + std::string(RemoteKindName(o.Kind)) + "\"";
  const auto required = [&](const char* key, const std::string& value, const std::string& hint) {
    if (value.empty()) fault(key, "must be given " + kindText + hint);
  };
  if (o.Kind == RemoteKind::None) {
    if (!o.GivenKind) return faults;
    fault("Kind", o.GivenKind->empty()
                      ? std::string("must be given: ") + kKindsText
                      : std::string("must be ") + kKindsText + ", not \"" + *o.GivenKind + "\"");
  }
  switch (o.Kind) {
    case RemoteKind::S3:
      // Empty means AWS itself: the store takes "https://s3.<Region>.amazonaws.com".
      if (!o.Endpoint.empty()) fault("Endpoint", EndpointProblem(o.Endpoint));
      if (HasSpace(o.Region) || o.Region.find('/') != std::string::npos) {
        fault("Region", "must be a region's name, such as \"eu-central-1\"");
      }
      required("Bucket", o.Bucket, "");
      if (!o.Bucket.empty()) {
        fault("Bucket", BucketProblem(o.Bucket, o.PathStyle, !o.Endpoint.starts_with("http://")));
      }
      fault("Prefix", PrefixProblem(o.Prefix));
      if (o.AccessKeyId.empty() && !o.SecretAccessKey.empty()) {
        fault("AccessKeyId", "must be given with SecretAccessKey");
      } else if (HasSpace(o.AccessKeyId)) {
        fault("AccessKeyId", "must not hold spaces or control characters");
      }
      if (secretsRequired && !o.AccessKeyId.empty() && o.SecretAccessKey.empty()) {
        fault("SecretAccessKey", "must be given with AccessKeyId");
      }
      fault("StorageClass", StorageClassProblem(o.StorageClass));
      fault("CaFile", AbsolutePathProblem(o.CaFile));
      break;
    case RemoteKind::Sftp:
      required("Host", o.Host, "");
      if (o.Host.find('@') != std::string::npos) {
        fault("Host", "must be the host alone: give the user as User");
      } else if (HasSpace(o.Host) || o.Host.find('/') != std::string::npos) {
        fault("Host", "must be a host name or address, without spaces or \"/\"");
      }
      if (o.Port < 1 || o.Port > 65535) fault("Port", "must be a whole number from 1 to 65535");
      if (HasControl(o.User)) fault("User", "must not hold control characters");
      fault("PrivateKeyFile", AbsolutePathProblem(o.PrivateKeyFile));
      if (!o.HostKeySha256.empty() && !IsSha256Fingerprint(o.HostKeySha256)) {
        fault("HostKeySha256",
              "must be \"SHA256:\" and 43 letters, digits, \"+\" or \"/\" (no \"=\"), as "
              "`ssh-keygen -lf` prints the host's key");
      }
      if (HasControl(o.Path)) fault("Path", "must not hold control characters");
      break;
    case RemoteKind::Rclone:
      required("RcloneRemote", o.RcloneRemote, ": the remote's name as `rclone config` shows it");
      if (!o.RcloneRemote.empty()) fault("RcloneRemote", RcloneRemoteProblem(o.RcloneRemote));
      if (HasControl(o.Path)) fault("Path", "must not hold control characters");
      break;
    case RemoteKind::None: break;
  }
  if (o.KeepCopies < 0) fault("KeepCopies", "must be 0 (every copy) or more");
  if (o.KeepLocalCopies < -1) {
    fault("KeepLocalCopies", "must be -1 (the task's own rule), 0 or more");
  } else if (o.Direct && o.KeepLocalCopies != -1) {
    fault("KeepLocalCopies", "must be left out with Direct: a direct copy makes no local files");
  }
  return faults;
}

std::string RemoteOptionsProblem(const RemoteOptions& options) {
  const std::vector<RemoteOptionsFault> faults = RemoteOptionsFaults(options);
  if (faults.empty()) return {};
  return "The off-site target's " + faults.front().Key + " " + faults.front().Message;
}

json RemoteOptionsToJson(const RemoteOptions& options, bool withSecrets) {
  json out = json::object();
  out["Kind"] = options.GivenKind ? *options.GivenKind : RemoteKindName(options.Kind);
  const auto applies = [&options](const char* key) {
    return RemoteKeyAppliesTo(options.Kind, key);
  };
  auto text = [&](const char* key, const std::string& value) {
    if (!value.empty() && applies(key)) out[key] = value;
  };
  text("Endpoint", options.Endpoint);
  text("Region", options.Region);
  text("Bucket", options.Bucket);
  text("Prefix", AsFolder(options.Prefix));
  if (options.PathStyle && applies("PathStyle")) out["PathStyle"] = true;
  text("AccessKeyId", options.AccessKeyId);
  if (withSecrets) text("SecretAccessKey", options.SecretAccessKey);
  text("StorageClass", options.StorageClass);
  text("CaFile", options.CaFile);
  text("Host", options.Host);
  if (options.Kind == RemoteKind::Sftp || (options.Port != 22 && applies("Port"))) {
    out["Port"] = options.Port;
  }
  text("User", options.User);
  if (withSecrets) text("Password", options.Password);
  text("PrivateKeyFile", options.PrivateKeyFile);
  text("HostKeySha256", options.HostKeySha256);
  text("Path", options.Path);
  text("RcloneRemote", options.RcloneRemote);
  if (options.KeepCopies != 0) out["KeepCopies"] = options.KeepCopies;
  if (options.KeepLocalCopies != -1) out["KeepLocalCopies"] = options.KeepLocalCopies;
  if (options.Direct) out["Direct"] = true;
  if (options.BandwidthBytesPerSecond != 0) {
    out["BandwidthBytesPerSecond"] = options.BandwidthBytesPerSecond;
  }
  return out;
}

RemoteOptions RemoteOptionsFromJson(const json& object) {
  RemoteOptions options;
  if (!object.is_object()) return options;
  auto text = [&](const char* key, std::string& value) {
    if (const auto it = object.find(key); it != object.end() && it->is_string()) {
      value = it->get<std::string>();
    }
  };
  auto integer = [&](const char* key, auto& value) {
    using T = std::remove_reference_t<decltype(value)>;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) return;
    // A value beyond the field's range is no value, rather than one wrapped around.
    if (it->is_number_unsigned()) {
      if (it->get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<T>::max())) {
        value = it->get<T>();
      }
    } else if constexpr (std::is_signed_v<T>) {
      if (it->get<std::int64_t>() >= std::numeric_limits<T>::min()) value = it->get<T>();
    }
  };
  auto boolean = [&](const char* key, bool& value) {
    if (const auto it = object.find(key); it != object.end() && it->is_boolean()) {
      value = it->get<bool>();
    }
  };
  std::string kind;
  text("Kind", kind);
  options.Kind = RemoteKindFromName(kind);
  if (options.Kind == RemoteKind::None && !object.empty()) {
    const auto given = object.find("Kind");
    options.GivenKind = given == object.end() ? std::string()
                        : given->is_string()  ? given->get<std::string>()
                                              : given->dump();
  }
  text("Endpoint", options.Endpoint);
  text("Region", options.Region);
  text("Bucket", options.Bucket);
  text("Prefix", options.Prefix);
  options.Prefix = AsFolder(options.Prefix);
  boolean("PathStyle", options.PathStyle);
  text("AccessKeyId", options.AccessKeyId);
  text("SecretAccessKey", options.SecretAccessKey);
  text("StorageClass", options.StorageClass);
  text("CaFile", options.CaFile);
  text("Host", options.Host);
  integer("Port", options.Port);
  text("User", options.User);
  text("Password", options.Password);
  text("PrivateKeyFile", options.PrivateKeyFile);
  text("HostKeySha256", options.HostKeySha256);
  text("Path", options.Path);
  text("RcloneRemote", options.RcloneRemote);
  integer("KeepCopies", options.KeepCopies);
  integer("KeepLocalCopies", options.KeepLocalCopies);
  boolean("Direct", options.Direct);
  integer("BandwidthBytesPerSecond", options.BandwidthBytesPerSecond);
  return options;
}

RemoteOptions RemoteOptionsOf(const CTaskItem& task) {
  return RemoteOptionsFromJson(GetTaskSection(task, kRemoteSection));
}

void SetRemoteOptions(CTaskItem& task, const RemoteOptions& options) {
  SetTaskSection(task, kRemoteSection,
                 options.Empty() ? json() : RemoteOptionsToJson(options, true));
}

std::string RemoteTargetText(const RemoteOptions& options) {
  auto folder = [](std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
  };
  switch (options.Kind) {
    case RemoteKind::S3: return "s3://" + options.Bucket + "/" + folder(options.Prefix);
    case RemoteKind::Sftp: {
      std::string path = folder(options.Path);
      if (!path.empty() && path.front() != '/') path = "~/" + path;
      return "sftp://" + (options.User.empty() ? "" : options.User + "@") + options.Host + ":" +
             std::to_string(options.Port) +
             (path.empty()          ? "/"
              : path.front() == '/' ? path
                                    : "/" + path);
    }
    case RemoteKind::Rclone: {
      std::string remote = options.RcloneRemote;
      if (!remote.empty() && remote.back() != ':') remote += ':';
      return "rclone " + remote + folder(options.Path);
    }
    case RemoteKind::None: break;
  }
  return "no off-site target";
}

}  // namespace brevanto
