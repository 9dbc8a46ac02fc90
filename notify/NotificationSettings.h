#pragma once
// The notification settings: the program-wide SMTP server and default choices, kept in
// their own JSON file beside the options file ("notify_se.json", 0600), and the per-task
// overrides stored under "Notifications" in a task's JSON. Layout:
// docs/formats/notifications.md.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace brevanto {

inline constexpr const char* kNotificationSettingsFileName = "notify_se.json";

enum class SmtpSecurity : std::uint8_t { None = 0, StartTls = 1, Tls = 2 };

// When and where a task calls for help. Every field is optional: a task's own value
// overrides the program-wide default, an absent one falls back to it.
struct TaskNotifications {
  std::optional<bool> Desktop;           // desktop notification when a run fails
  std::optional<bool> DesktopOnSuccess;  // ... and when it succeeds
  std::optional<std::string> EmailTo;    // addresses separated by "," or ";"
  std::optional<bool> EmailOnFailure;
  std::optional<bool> EmailOnSuccess;
  std::optional<std::string> WebhookUrl;
  std::optional<bool> WebhookOnFailure;
  std::optional<bool> WebhookOnSuccess;

  bool Empty() const { return *this == TaskNotifications{}; }
  friend bool operator==(const TaskNotifications&, const TaskNotifications&) = default;
};

struct CNotificationSettings {
  std::string SmtpServer;
  int SmtpPort = 587;
  SmtpSecurity Security = SmtpSecurity::StartTls;
  std::string SmtpUser;
  std::string SmtpPassword;  // stored scrambled, as the saved servers' passwords
  std::string Sender;        // empty: the SMTP user name
  // The defaults of every task; all fields are set.
  TaskNotifications Defaults{true, false, std::string(), true, false, std::string(), true, false};

  friend bool operator==(const CNotificationSettings&, const CNotificationSettings&) = default;
};

// What one finished run sends, after the task's overrides and its outcome are applied.
struct NotificationChoice {
  bool Desktop = false;
  std::string EmailTo;     // empty: no e-mail
  std::string WebhookUrl;  // empty: no webhook
  bool Any() const { return Desktop || !EmailTo.empty() || !WebhookUrl.empty(); }
};

// `own` with every key it leaves unset taken from `defaults`.
TaskNotifications WithDefaults(const TaskNotifications& own, const TaskNotifications& defaults);

// A run that failed or succeeded (canceled runs send nothing).
NotificationChoice ChooseNotifications(const CNotificationSettings& settings,
                                       const TaskNotifications& task, bool failed);

// The "Notifications" object: only the keys that are set. Values of the wrong type are
// ignored on reading.
nlohmann::json TaskNotificationsToJson(const TaskNotifications& notifications);
TaskNotifications TaskNotificationsFromJson(const nlohmann::json& object);

// The file's text and its inverse. Parsing leaves `settings` untouched unless it
// returns true; unknown keys are ignored and missing ones keep their defaults.
std::string SerializeNotificationSettings(const CNotificationSettings& settings);
bool ParseNotificationSettings(std::string_view text, CNotificationSettings& settings);

// `folder` is the application folder, ending in "/". Loading a missing or damaged file
// leaves `settings` untouched and returns false.
bool LoadNotificationSettings(const std::string& folder, CNotificationSettings& settings);
bool SaveNotificationSettings(const std::string& folder, const CNotificationSettings& settings);

}  // namespace brevanto
