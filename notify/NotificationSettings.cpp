#include "notify/NotificationSettings.h"

#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"
#include "core/BinaryIO.h"

namespace brevanto {

namespace {

using nlohmann::json;

constexpr const char* kHexDigits = "0123456789abcdef";

// Scrambled bytes are not UTF-8, so the file holds them as hex.
std::string HidePassword(const std::string& password) {
  std::string hex;
  for (unsigned char byte : ScrambleText(password, kTextKey)) {
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 15];
  }
  return hex;
}

std::optional<std::string> RevealPassword(const std::string& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = nibble(hex[i]);
    const int low = nibble(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return ScrambleText(bytes, kTextKey);
}

const char* SecurityName(SmtpSecurity security) {
  switch (security) {
    case SmtpSecurity::None: return "none";
    case SmtpSecurity::Tls: return "tls";
    case SmtpSecurity::StartTls: break;
  }
  return "starttls";
}

// The keys of a "Notifications" object and the members they hold.
constexpr std::pair<const char*, std::optional<bool> TaskNotifications::*> kFlagKeys[] = {
    {"Desktop", &TaskNotifications::Desktop},
    {"DesktopOnSuccess", &TaskNotifications::DesktopOnSuccess},
    {"EmailOnFailure", &TaskNotifications::EmailOnFailure},
    {"EmailOnSuccess", &TaskNotifications::EmailOnSuccess},
    {"WebhookOnFailure", &TaskNotifications::WebhookOnFailure},
    {"WebhookOnSuccess", &TaskNotifications::WebhookOnSuccess},
};
constexpr std::pair<const char*, std::optional<std::string> TaskNotifications::*> kTextKeys[] = {
    {"EmailTo", &TaskNotifications::EmailTo},
    {"WebhookUrl", &TaskNotifications::WebhookUrl},
};

// Sets in `into` every key that `from` sets.
void Overlay(TaskNotifications& into, const TaskNotifications& from) {
  for (const auto& [key, member] : kFlagKeys) {
    if (from.*member) into.*member = from.*member;
  }
  for (const auto& [key, member] : kTextKeys) {
    if (from.*member) into.*member = from.*member;
  }
}

}  // namespace

TaskNotifications WithDefaults(const TaskNotifications& own, const TaskNotifications& defaults) {
  TaskNotifications merged = defaults;
  Overlay(merged, own);
  return merged;
}

NotificationChoice ChooseNotifications(const CNotificationSettings& settings,
                                       const TaskNotifications& task, bool failed) {
  const TaskNotifications n = WithDefaults(task, settings.Defaults);
  auto on = [](const std::optional<bool>& flag) { return flag.value_or(false); };
  NotificationChoice choice;
  choice.Desktop = on(failed ? n.Desktop : n.DesktopOnSuccess);
  if (on(failed ? n.EmailOnFailure : n.EmailOnSuccess)) choice.EmailTo = n.EmailTo.value_or("");
  if (on(failed ? n.WebhookOnFailure : n.WebhookOnSuccess)) {
    choice.WebhookUrl = n.WebhookUrl.value_or("");
  }
  return choice;
}

json TaskNotificationsToJson(const TaskNotifications& n) {
  json object = json::object();
  for (const auto& [key, member] : kFlagKeys) {
    if (n.*member) object[key] = *(n.*member);
  }
  for (const auto& [key, member] : kTextKeys) {
    if (n.*member) object[key] = *(n.*member);
  }
  return object;
}

TaskNotifications TaskNotificationsFromJson(const json& object) {
  TaskNotifications n;
  if (!object.is_object()) return n;
  for (const auto& [key, member] : kFlagKeys) {
    auto it = object.find(key);
    if (it != object.end() && it->is_boolean()) n.*member = it->get<bool>();
  }
  for (const auto& [key, member] : kTextKeys) {
    auto it = object.find(key);
    if (it != object.end() && it->is_string()) n.*member = it->get<std::string>();
  }
  return n;
}

std::string SerializeNotificationSettings(const CNotificationSettings& s) {
  json smtp = {{"Server", s.SmtpServer},
               {"Port", s.SmtpPort},
               {"Security", SecurityName(s.Security)},
               {"User", s.SmtpUser},
               {"Password", HidePassword(s.SmtpPassword)},
               {"Sender", s.Sender}};
  json file = {{"Smtp", smtp}, {"Defaults", TaskNotificationsToJson(s.Defaults)}};
  return file.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool ParseNotificationSettings(std::string_view text, CNotificationSettings& settings) {
  const json file = json::parse(text, nullptr, false);
  if (!file.is_object()) return false;
  CNotificationSettings s = settings;
  if (auto smtp = file.find("Smtp"); smtp != file.end() && smtp->is_object()) {
    auto text = [&](const char* key, std::string& value) {
      auto it = smtp->find(key);
      if (it != smtp->end() && it->is_string()) value = it->get<std::string>();
    };
    text("Server", s.SmtpServer);
    text("User", s.SmtpUser);
    text("Sender", s.Sender);
    if (auto it = smtp->find("Port"); it != smtp->end() && it->is_number_integer()) {
      const auto port = it->get<long long>();
      if (port > 0 && port < 65536) s.SmtpPort = static_cast<int>(port);
    }
    if (auto it = smtp->find("Security"); it != smtp->end() && it->is_string()) {
      const std::string name = it->get<std::string>();
      if (name == "none") s.Security = SmtpSecurity::None;
      if (name == "starttls") s.Security = SmtpSecurity::StartTls;
      if (name == "tls") s.Security = SmtpSecurity::Tls;
    }
    std::string hidden;
    text("Password", hidden);
    if (auto password = RevealPassword(hidden)) s.SmtpPassword = *password;
  }
  if (auto defaults = file.find("Defaults"); defaults != file.end()) {
    Overlay(s.Defaults, TaskNotificationsFromJson(*defaults));
  }
  settings = std::move(s);
  return true;
}

bool LoadNotificationSettings(const std::string& folder, CNotificationSettings& settings) {
  std::string text;
  if (!ReadFileBytes(folder + kNotificationSettingsFileName, text, std::size_t{1} << 20)) {
    return false;
  }
  return ParseNotificationSettings(text, settings);
}

bool SaveNotificationSettings(const std::string& folder, const CNotificationSettings& settings) {
  return WriteFileAtomically(folder + kNotificationSettingsFileName,
                             SerializeNotificationSettings(settings))
      .ok();
}

}  // namespace brevanto
