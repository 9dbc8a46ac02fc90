#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "appcore/OverdueCheck.h"
#include "appcore/TaskJson.h"
#include "core/Age.h"
#include "notify/NotificationTargetCheck.h"
#include "notify/TaskNotificationsSection.h"
#include "notify/TaskPingSection.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/EncryptionOptions.h"
#include "tasks/OffsiteRestoreOptions.h"
#include "tasks/RemoteOptions.h"
#include "tasks/TaskKinds.h"
#include "tasks/TaskOptionsStore.h"

namespace brevanto {
namespace {

// Reads one section object strictly: a key it does not know or a value of the wrong kind
// or range is a problem named by its key, as everywhere else in the import.
class StrictObject {
 public:
  StrictObject(const Json& in, TaskJsonProblems& problems) : m_in(in), m_problems(problems) {}

  const Json* Take(const char* key) {
    m_known.push_back(key);
    const auto it = m_in.find(key);
    return it == m_in.end() ? nullptr : &*it;
  }
  void Problem(const char* key, const std::string& message) { m_problems.Add(key, message); }

  // True when the key is there and holds true or false.
  bool Bool(const char* key, bool& value) {
    const Json* item = Take(key);
    if (item == nullptr) return false;
    if (!item->is_boolean()) {
      Problem(key, "must be true or false");
      return false;
    }
    value = item->get<bool>();
    return true;
  }
  void Bool(const char* key, std::optional<bool>& value) {
    bool flag = false;
    if (Bool(key, flag)) value = flag;
  }
  void Text(const char* key, std::optional<std::string>& value) {
    if (const Json* item = Take(key)) {
      if (item->is_string()) {
        value = item->get<std::string>();
      } else {
        Problem(key, "must be a text in double quotes");
      }
    }
  }
  // True when the key is there and holds a whole number from `low` to `high`.
  template <class T>
  bool Number(const char* key, T low, T high, T& value, const std::string& range = {}) {
    const Json* item = Take(key);
    if (item == nullptr) return false;
    if (item->is_number_integer()) {
      // Non-negative numbers come as unsigned, negative ones as signed.
      const bool fits =
          item->is_number_unsigned()
              ? (low <= 0 || item->get<std::uint64_t>() >= static_cast<std::uint64_t>(low)) &&
                    item->get<std::uint64_t>() <= static_cast<std::uint64_t>(high)
              : item->get<std::int64_t>() >= static_cast<std::int64_t>(low) &&
                    item->get<std::int64_t>() <= static_cast<std::int64_t>(high);
      if (fits) {
        value = item->get<T>();
        return true;
      }
    }
    Problem(key, range.empty() ? "must be a whole number from " + std::to_string(low) + " to " +
                                     std::to_string(high)
                               : range);
    return false;
  }
  void RefuseUnknownKeys() {
    for (const auto& [key, value] : m_in.items()) {
      if (std::find(m_known.begin(), m_known.end(), key) == m_known.end()) {
        m_problems.Add(key, "unknown key");
      }
    }
  }

 private:
  const Json& m_in;
  TaskJsonProblems& m_problems;
  std::vector<std::string> m_known;
};

// The section as stored: the object converts losslessly between the two JSON types.
template <class To, class From>
To Convert(const From& value) {
  return To::parse(value.dump());
}

// A task without the section runs as tasks did before the options existed; null says so,
// where leaving the key out would give the new task's defaults.
void WriteAdvanced(const CTaskItem& task, bool, Json& out) {
  const auto options = FindAdvancedOptions(task);
  out[kAdvancedSection] = options ? Convert<Json>(AdvancedOptionsToJson(*options)) : Json();
}

void ReadAdvanced(const Json& in, CTaskItem& task, TaskJsonProblems& problems) {
  if (in.is_null()) return SetTaskSection(task, kAdvancedSection, nullptr);
  if (!in.is_object()) return problems.Add("", "must be an object in braces");
  CAdvancedOptions o;  // a key left out takes the new task's default
  StrictObject object(in, problems);
  object.Bool("IncludeRoutines", o.IncludeRoutines);
  object.Bool("IncludeTriggers", o.IncludeTriggers);
  object.Bool("IncludeEvents", o.IncludeEvents);
  object.Bool("ConsistentSnapshot", o.ConsistentSnapshot);
  object.Bool("TransactionPerTable", o.TransactionPerTable);
  object.Bool("NullMarker", o.NullMarker);
  const std::string statementRange =
      "must be 0 (the task's own statements) or a whole number from " +
      std::to_string(kMinStatementBytes) + " to " + std::to_string(kMaxStatementBytes);
  if (object.Number<std::uint32_t>("StatementBytes", 0, kMaxStatementBytes, o.StatementBytes,
                                   statementRange) &&
      o.StatementBytes != 0 && o.StatementBytes < kMinStatementBytes) {
    object.Problem("StatementBytes", statementRange);
  }
  object.Number("Threads", 1, kMaxThreads, o.Threads);
  if (const Json* item = object.Take("Compression")) {
    const auto parsed =
        item->is_string() ? ParseCompressionName(item->get<std::string>()) : std::nullopt;
    if (parsed) {
      o.Compression = *parsed;
    } else {
      object.Problem("Compression", "must be \"none\", \"gzip\" or \"zstd\"");
    }
  }
  const int highestLevel = o.Compression == Compression::Zstd ? 19 : 9;
  object.Number("CompressionLevel", 0, highestLevel, o.CompressionLevel,
                "must be a whole number from 0 (the default) to " + std::to_string(highestLevel) +
                    " for " + CompressionName(o.Compression));
  object.RefuseUnknownKeys();
  SetAdvancedOptions(task, o);
}

void WriteNotifications(const CTaskItem& task, bool withPasswords, Json& out) {
  TaskNotifications own = FindTaskNotifications(task);
  // A webhook URL often carries its credentials (a user and password, a token in its path
  // or query): it stays out with the passwords.
  if (!withPasswords && own.WebhookUrl && !own.WebhookUrl->empty()) own.WebhookUrl.reset();
  if (!own.Empty()) out[kNotificationsSection] = Convert<Json>(TaskNotificationsToJson(own));
}

void ReadNotifications(const Json& in, CTaskItem& task, TaskJsonProblems& problems) {
  if (!in.is_object()) return problems.Add("", "must be an object in braces");
  TaskNotifications n;  // a key left out takes the program's default
  StrictObject object(in, problems);
  object.Bool("Desktop", n.Desktop);
  object.Bool("DesktopOnSuccess", n.DesktopOnSuccess);
  object.Text("EmailTo", n.EmailTo);
  object.Bool("EmailOnFailure", n.EmailOnFailure);
  object.Bool("EmailOnSuccess", n.EmailOnSuccess);
  object.Text("WebhookUrl", n.WebhookUrl);
  object.Bool("WebhookOnFailure", n.WebhookOnFailure);
  object.Bool("WebhookOnSuccess", n.WebhookOnSuccess);
  object.RefuseUnknownKeys();
  if (n.EmailTo) {
    if (const std::string problem = EmailListProblem(*n.EmailTo); !problem.empty()) {
      object.Problem("EmailTo", problem);
    }
  }
  if (n.WebhookUrl) {
    if (const std::string problem = WebhookUrlProblem(*n.WebhookUrl); !problem.empty()) {
      object.Problem("WebhookUrl", problem);
    }
  }
  SetTaskNotifications(task, n);
}

void WriteEncryption(const CTaskItem& task, bool, Json& out) {
  const EncryptionOptions options = EncryptionOptionsOf(task);
  if (!options.Empty()) out[kEncryptionSection] = Convert<Json>(EncryptionOptionsToJson(options));
}

void ReadEncryption(const Json& in, CTaskItem& task, TaskJsonProblems& problems) {
  if (in.is_null()) return SetEncryptionOptions(task, {});
  if (!in.is_object()) return problems.Add("", "must be an object in braces");
  EncryptionOptions options;
  StrictObject object(in, problems);
  if (const Json* item = object.Take("Recipients")) {
    bool texts = item->is_array();
    if (texts) {
      for (const Json& recipient : *item) {
        texts = texts && recipient.is_string();
        if (texts) options.Recipients.push_back(recipient.get<std::string>());
      }
    }
    if (!texts) object.Problem("Recipients", "must be a list of age public keys in double quotes");
  }
  std::optional<std::string> identity;
  object.Text("IdentityFile", identity);
  if (identity) options.IdentityFile = *identity;
  object.RefuseUnknownKeys();
  std::vector<AgeRecipient> recipients;
  if (Status status = ParseAgeRecipients(options.Recipients, recipients); !status.ok()) {
    object.Problem("Recipients", status.message());
  }
  if (!options.IdentityFile.empty() && options.IdentityFile.front() != '/') {
    object.Problem("IdentityFile", "must be a full path starting with /");
  }
  SetEncryptionOptions(task, options);
}

// A ping URL is a capability (anyone holding it can report the task well): it stays out
// with the passwords, as a webhook URL does.
void WritePing(const CTaskItem& task, bool withPasswords, Json& out) {
  const TaskPing ping = FindTaskPing(task);
  if (withPasswords && !ping.Empty()) out[kPingSection] = Convert<Json>(TaskPingToJson(ping));
}

void ReadPing(const Json& in, CTaskItem& task, TaskJsonProblems& problems) {
  if (in.is_null()) return SetTaskPing(task, {});
  if (!in.is_object()) return problems.Add("", "must be an object in braces");
  TaskPing ping;
  StrictObject object(in, problems);
  std::optional<std::string> url;
  object.Text("Url", url);
  object.Bool("OnStart", ping.OnStart);
  object.RefuseUnknownKeys();
  if (!url || url->empty()) {
    object.Problem("Url", "must be given: the http:// or https:// URL to ping");
  } else if (const std::string problem = WebhookUrlProblem(*url); !problem.empty()) {
    object.Problem("Url", problem);
  } else if (url->find_first_of("?#") != std::string::npos) {
    object.Problem("Url", "must end in its path, without ? or #: /start and /fail are added to it");
  }
  ping.Url = url.value_or("");
  SetTaskPing(task, ping);
}

void WriteOverdue(const CTaskItem& task, bool, Json& out) {
  if (const std::optional<int> grace = FindOverdueGrace(task)) {
    out[kOverdueSection] = Json{{"GraceMinutes", *grace}};
  }
}

void ReadOverdue(const Json& in, CTaskItem& task, TaskJsonProblems& problems) {
  if (in.is_null()) return SetOverdueGrace(task, std::nullopt);
  if (!in.is_object()) return problems.Add("", "must be an object in braces");
  int grace = 0;
  StrictObject object(in, problems);
  if (!object.Number("GraceMinutes", 0, kMaxGraceMinutes, grace)) {
    if (!in.contains("GraceMinutes")) object.Problem("GraceMinutes", "must be given");
  }
  object.RefuseUnknownKeys();
  SetOverdueGrace(task, grace);
}

// The secrets stay out unless the passwords go too, as a server's password does.
void WriteRemote(const CTaskItem& task, bool withPasswords, Json& out) {
  const RemoteOptions options = RemoteOptionsOf(task);
  if (!options.Empty()) {
    out[kRemoteSection] = Convert<Json>(RemoteOptionsToJson(options, withPasswords));
  }
}

void ReadRemote(const Json& in, CTaskItem& task, TaskJsonProblems& problems) {
  if (in.is_null()) return SetRemoteOptions(task, {});
  if (!in.is_object()) return problems.Add("", "must be an object in braces");
  // A backup is copied there; a restore reads an off-site copy from there.
  const bool restore = task.TaskType == static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
  if (const TaskKind* kind = FindTaskKind(task.TaskType);
      kind && !kind->Settings.BackupFiles && !restore) {
    return problems.Add("",
                        "only backups to files and restores have an off-site target: leave it out");
  }
  RemoteOptions o;
  StrictObject object(in, problems);
  std::optional<std::string> kind;
  object.Text("Kind", kind);
  if (kind || !in.contains("Kind")) {
    o.Kind = RemoteKindFromName(kind.value_or(""));
    if (o.Kind == RemoteKind::None) o.GivenKind = kind.value_or("");
  }
  const auto text = [&object](const char* key, std::string& value) {
    std::optional<std::string> given;
    object.Text(key, given);
    if (given) value = *given;
  };
  constexpr int kMost = std::numeric_limits<int>::max();
  text("Endpoint", o.Endpoint);
  text("Region", o.Region);
  text("Bucket", o.Bucket);
  text("Prefix", o.Prefix);
  object.Bool("PathStyle", o.PathStyle);
  text("AccessKeyId", o.AccessKeyId);
  text("SecretAccessKey", o.SecretAccessKey);
  text("StorageClass", o.StorageClass);
  text("CaFile", o.CaFile);
  text("Host", o.Host);
  object.Number("Port", 1, 65535, o.Port);
  text("User", o.User);
  text("Password", o.Password);
  text("PrivateKeyFile", o.PrivateKeyFile);
  text("HostKeySha256", o.HostKeySha256);
  text("Path", o.Path);
  text("RcloneRemote", o.RcloneRemote);
  object.Number("KeepCopies", 0, kMost, o.KeepCopies,
                "must be 0 (every copy) or a whole number up to " + std::to_string(kMost));
  object.Number(
      "KeepLocalCopies", -1, kMost, o.KeepLocalCopies,
      "must be -1 (the task's own rule), 0 or a whole number up to " + std::to_string(kMost));
  object.Bool("Direct", o.Direct);
  object.Number<std::uint64_t>("BandwidthBytesPerSecond", 0,
                               std::numeric_limits<std::uint64_t>::max(),
                               o.BandwidthBytesPerSecond);
  object.RefuseUnknownKeys();
  if (o.Kind != RemoteKind::None) {
    for (const auto& [key, value] : in.items()) {
      if (RemoteKeyAppliesTo(RemoteKind::None, key) && !RemoteKeyAppliesTo(o.Kind, key)) {
        object.Problem(key.c_str(),
                       std::string("is not a setting of Kind \"") + RemoteKindName(o.Kind) + "\"");
      }
    }
  }
  // The secret may be left out: a replace keeps the task's own (KeepRemoteSecretsNotGiven).
  for (const RemoteOptionsFault& fault : RemoteOptionsFaults(o, /*secretsRequired=*/false)) {
    object.Problem(fault.Key.c_str(), fault.Message);
  }
  SetRemoteOptions(task, o);
}

void WriteOffsiteRestore(const CTaskItem& task, bool, Json& out) {
  const OffsiteRestoreOptions options = OffsiteRestoreOptionsOf(task);
  if (!options.Set) return;
  Json section = Json::object();
  if (!options.Copy.empty()) section["Copy"] = options.Copy;
  if (!options.Database.empty()) section["Database"] = options.Database;
  out[kOffsiteRestoreSection] = std::move(section);
}

void ReadOffsiteRestore(const Json& in, CTaskItem& task, TaskJsonProblems& problems) {
  if (in.is_null()) return SetOffsiteRestoreOptions(task, {});
  if (!in.is_object()) return problems.Add("", "must be an object in braces");
  if (task.TaskType != static_cast<std::uint8_t>(TaskType::RestoreFromFiles)) {
    return problems.Add("", "only restores read an off-site copy: leave it out");
  }
  OffsiteRestoreOptions options;
  options.Set = true;
  StrictObject object(in, problems);
  std::optional<std::string> copy;
  std::optional<std::string> database;
  object.Text("Copy", copy);
  object.Text("Database", database);
  object.RefuseUnknownKeys();
  options.Copy = copy.value_or("");
  options.Database = database.value_or("");
  SetOffsiteRestoreOptions(task, options);
}

}  // namespace

// Sections of settings kept beside the task record join the JSON text here, one entry
// each, written after the record's own keys.
const std::vector<TaskJsonSection>& TaskJsonSections() {
  static const std::vector<TaskJsonSection> sections = {
      {kAdvancedSection, WriteAdvanced, ReadAdvanced},
      {kNotificationsSection, WriteNotifications, ReadNotifications},
      {kEncryptionSection, WriteEncryption, ReadEncryption},
      {kRemoteSection, WriteRemote, ReadRemote},
      {kOffsiteRestoreSection, WriteOffsiteRestore, ReadOffsiteRestore},
      {kPingSection, WritePing, ReadPing},
      {kOverdueSection, WriteOverdue, ReadOverdue},
  };
  return sections;
}

void KeepRemoteSecretsNotGiven(const CTaskItem& replaced, CTaskItem& task) {
  RemoteOptions own = RemoteOptionsOf(task);
  const RemoteOptions old = RemoteOptionsOf(replaced);
  if (own.Kind != old.Kind) return;
  bool kept = false;
  // A secret goes only where it went before: to the same key id (an S3 secret is never
  // sent, only signs), to the same user on the same host (a password is sent).
  if (own.Kind == RemoteKind::S3 && own.SecretAccessKey.empty() && !own.AccessKeyId.empty() &&
      own.AccessKeyId == old.AccessKeyId) {
    own.SecretAccessKey = old.SecretAccessKey;
    kept = true;
  }
  if (own.Kind == RemoteKind::Sftp && own.Password.empty() && own.Host == old.Host &&
      own.User == old.User) {
    own.Password = old.Password;
    kept = true;
  }
  if (kept) SetRemoteOptions(task, own);
}

}  // namespace brevanto
