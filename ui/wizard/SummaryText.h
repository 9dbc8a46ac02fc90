#pragma once
// The texts that show a task to the user: the wizard's "Task Information" summary and the
// read-only fields of the properties sheet. Plain text with "\r\n" line breaks.

#include <string>

#include "tasks/RemoteOptions.h"
#include "tasks/TaskItem.h"

namespace brevanto::wizard {

// Chosen databases, and chosen tables within chosen databases.
struct ChosenCounts {
  int Databases = 0;
  int Tables = 0;
};
ChosenCounts CountChosen(const std::vector<DatabaseItem>& databases);

// The summary of the wizard's last page.
std::string BuildTaskSummary(const CTaskItem& task);

// "Protocols" of a server view: the flags on, or "None".
std::string ProtocolsText(const CServerInfo& server);
// "File Type" of the export view.
std::string ExportFileTypeText(std::uint8_t format);
// "Settings:" of the backup file view.
std::string BackupFileSettingsText(const BackupSettings& settings);
// "S3-compatible storage", "SFTP", "rclone remote", "None": the off-site view's kind.
std::string RemoteKindText(RemoteKind kind);
// "Settings:" of the off-site view: the target's details beside its address, the copies
// kept there and here, direct writing and the bandwidth cap. Never a secret.
std::string OffsiteSettingsText(const RemoteOptions& options);
// The statements of the script view, each followed by an empty line.
std::string ScriptViewText(const std::vector<std::string>& statements);

// "Task Schedule:" and "Settings:" of the schedule view.
struct ScheduleView {
  std::string Kind;
  std::string Settings;
};
ScheduleView ScheduleViewText(const ScheduleSettings& schedule, int dateStyle, int timeStyle);

}  // namespace brevanto::wizard
