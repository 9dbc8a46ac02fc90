#include "tasks/RemoteOptions.h"

#include <nlohmann/json.hpp>

#include "tasks/TaskOptionsStore.h"

namespace brevanto {

using nlohmann::json;

const char* RemoteKindName(RemoteKind kind) {
  switch (kind) {
    case RemoteKind::S3:
      return "s3";
    case RemoteKind::Sftp:
      return "sftp";
    case RemoteKind::Rclone:
      return "rclone";
    case RemoteKind::None:
      break;
  }
  return "";
}

RemoteKind RemoteKindFromName(const std::string& name) {
  for (RemoteKind kind : {RemoteKind::S3, RemoteKind::Sftp, RemoteKind::Rclone}) {
    if (name == RemoteKindName(kind)) return kind;
  }
  return RemoteKind::None;
}

std::string RemoteOptionsProblem(const RemoteOptions& options) {
  switch (options.Kind) {
    case RemoteKind::S3:
      if (options.Bucket.empty()) return "The off-site target has no Bucket";
      break;
    case RemoteKind::Sftp:
      if (options.Host.empty()) return "The off-site target has no Host";
      break;
    case RemoteKind::Rclone:
      if (options.RcloneRemote.empty()) return "The off-site target has no RcloneRemote";
      break;
    case RemoteKind::None:
      break;
  }
  return {};
}

json RemoteOptionsToJson(const RemoteOptions& options, bool withSecrets) {
  json out = json::object();
  out["Kind"] = RemoteKindName(options.Kind);
  auto text = [&](const char* key, const std::string& value) {
    if (!value.empty()) out[key] = value;
  };
  text("Endpoint", options.Endpoint);
  text("Region", options.Region);
  text("Bucket", options.Bucket);
  text("Prefix", options.Prefix);
  if (options.PathStyle) out["PathStyle"] = true;
  text("AccessKeyId", options.AccessKeyId);
  if (withSecrets) text("SecretAccessKey", options.SecretAccessKey);
  text("StorageClass", options.StorageClass);
  text("CaFile", options.CaFile);
  text("Host", options.Host);
  if (options.Kind == RemoteKind::Sftp) out["Port"] = options.Port;
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
    if (const auto it = object.find(key); it != object.end() && it->is_number_integer()) {
      value = it->get<std::remove_reference_t<decltype(value)>>();
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
  text("Endpoint", options.Endpoint);
  text("Region", options.Region);
  text("Bucket", options.Bucket);
  text("Prefix", options.Prefix);
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
    case RemoteKind::S3:
      return "s3://" + options.Bucket + "/" + folder(options.Prefix);
    case RemoteKind::Sftp: {
      std::string path = folder(options.Path);
      if (!path.empty() && path.front() != '/') path = "~/" + path;
      return "sftp://" + (options.User.empty() ? "" : options.User + "@") + options.Host + ":" +
             std::to_string(options.Port) + (path.empty() ? "/" : path.front() == '/' ? path : "/" + path);
    }
    case RemoteKind::Rclone: {
      std::string remote = options.RcloneRemote;
      if (!remote.empty() && remote.back() != ':') remote += ':';
      return "rclone " + remote + folder(options.Path);
    }
    case RemoteKind::None:
      break;
  }
  return "no off-site target";
}

}  // namespace brevanto
