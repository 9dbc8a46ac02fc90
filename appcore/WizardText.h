#pragma once
// The task wizard's words and checks that need no window: type descriptions, step
// captions, and the validations of the name, server, schedule and file-name pages.
// Each check returns the warning to show, or "" when the input is acceptable.

#include <cstdint>
#include <string>
#include <vector>

#include "tasks/TaskItem.h"
#include "tasks/TaskKinds.h"

namespace brevanto::wizard {

// The kind of a task type value, or nullptr when it has none (tasks/TaskKinds.h).
const TaskKind* KindOf(int taskType);
// The description of a task type, or nullptr for a type with no kind.
const char* TaskTypeDescription(int taskType);
// The wizard's steps after its welcome page; 0 for a type with no kind.
int WizardStepCount(int taskType);
// "Task Wizard - <description> - Step <step> of <N>"; "Task Wizard" for an unknown type.
std::string WizardCaption(int taskType, int step);
inline constexpr const char* kWelcomeCaption = "Welcome to the Task Wizard";

// Task name page. `names` are the list's task names in order; `editIndex` is the task
// being edited (skipped), or -1 for a new task. Names are compared trimmed and without
// regard to case: each task's log file is named after it, and "Dup" and "dup" would share
// one on a case-insensitive file system.
std::string ValidateTaskName(const std::string& name, const std::vector<std::string>& names,
                             int editIndex);
// The name without blanks at either end, as it is stored.
std::string TrimmedTaskName(const std::string& name);
// The form two names are compared in (trimmed, ASCII letters in lower case).
std::string FoldedTaskName(const std::string& name);
// The name page's checks of the name alone: "" or the warning.
std::string TaskNameProblem(const std::string& name);
inline constexpr const char* kTaskNameTaken =
    "The task name is already existed!\nPlease choose a different task name.";

// Server fields, checked in the page's order.
enum class ServerField { None, Host, Port };
struct ServerProblem {
  ServerField Field = ServerField::None;
  std::string Message;
  bool ok() const { return Message.empty(); }
};
ServerProblem ValidateServerFields(const std::string& host, const std::string& portText);
// Destination page: same host (exact) and port as the source.
bool IsSameServer(const CServerInfo& source, const CServerInfo& destination);

// "Failed to connect to the MySQL server!\n\nError NO. %d\n%s".
std::string ConnectFailureText(unsigned int number, const std::string& text);
// "Failed to use the database!\n\nError NO. %d\n%s".
std::string UseDatabaseFailureText(unsigned int number, const std::string& text);
// "Connect to the MySQL server successfully!\n\nMySQL version: " + version.
std::string ConnectSuccessText(const std::string& version);
// The question after a test whose TLS certificate was refused (`errorText`): shows its
// SHA-256 `fingerprint` and asks whether to trust that certificate from now on.
std::string TrustCertificateQuestion(const std::string& errorText, const std::string& fingerprint);
// A pinned fingerprint that is not one, for the server editor and the wizard.
inline constexpr const char* kBadFingerprintText =
    "The SSL fingerprint must be the certificate's SHA-256: 64 hexadecimal digits, in pairs "
    "separated by colons or not at all!";

// Leaving the schedule page with `schedule`; the message asks for the kind's settings.
std::string ValidateSchedulePage(const ScheduleSettings& schedule);
// The same checks and the values a clock could never show (hour 25, 30 February) or never
// reach again (a special date in the past that does not repeat), each with the key of the
// schedule it is about ("" for the schedule as a whole).
struct ScheduleProblem {
  std::string Key;  // "Hour", "SpecialDay", ...
  std::string Message;
};
ScheduleProblem CheckSchedule(const ScheduleSettings& schedule, const TaskDateTime& now);

// Day and time words the schedule dialogs and the properties sheet share.
const char* WeekDayName(int index);    // 0 Sunday .. 6 Saturday
std::string MonthDayOrdinal(int day);  // 1 "1st", 2 "2nd", 11 "11th", 22 "22nd"
// Hour and minute as the properties sheet shows them: "07:05", "01:00 P.M" with time
// style 2, "" with a style other than 1 and 2.
std::string ScheduleTimeText(int hour, int minute, int timeStyle);

// A count field of the settings dialogs: "" counts as 0; digits only, else -1.
long long CountFromText(const std::string& text);

// Export file page: \a \b \f \n \r \t \v \' \" \\ \? turned into their characters in one
// pass from the left, so that "\\t" stays a backslash followed by "t".
std::string DecodeEscapes(const std::string& text);
// The reverse, for showing stored characters as typed: the control characters above and
// the backslash become their escapes, so a stored line feed shows as \n, not as nothing.
std::string EncodeEscapes(const std::string& text);

// True when the text holds "/", "\" or ".": such a name could leave the data folder.
bool HasInvalidDatabaseNameCharacters(const std::string& name);

}  // namespace brevanto::wizard

namespace brevanto::wizard {

// The pages test a path by creating it. A folder is created with its parents and left in
// place; a file that did not exist is created and removed again.
bool CanCreateFolder(const std::string& folder);
bool CanCreateFile(const std::string& path);
// The same answers without creating anything: the path exists as the right kind, or its
// nearest existing parent is a folder this user may write in.
bool CouldCreateFolder(const std::string& folder);
bool CouldCreateFile(const std::string& path);
// The default output folder of a task: the options' backup folder + the cleaned task name
// + "/".
std::string DefaultTaskFolder(const std::string& backupFolder, const std::string& taskName);

}  // namespace brevanto::wizard
