#pragma once
// Names the program makes: backup file paths and their DATE_TIME folders, export file
// paths, task keys and log file names, and the name cleaning they share. Paths use "/";
// folders are passed and returned with a trailing "/". Pure functions unless noted;
// every moment comes in as an argument.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "tasks/TaskItem.h"

namespace brevanto {

// Removes CR, LF, tab, "\", "/", ":", "*", "?", "\"", "<", ">" and "|", then trims
// blanks at both ends. May return an empty text.
std::string CleanName(std::string_view name);
// CleanName, or "Default" when that is empty.
std::string CleanNameOrDefault(std::string_view name);
// Trims blanks (space, tab, CR, LF, vertical tab, form feed) at both ends.
std::string TrimBlanks(std::string_view text);

// "YYYY-MM-DD" and "HH-MM-SS" (year without leading zeros, the rest two digits).
std::string FormatRunDate(const TaskDateTime& t);
std::string FormatRunTime(const TaskDateTime& t);

// ".sql" for FileType 1, ".php" for FileType 2 (and any other value).
const char* BackupFileExtension(std::uint8_t fileType);
// The format the settings dialog offers for a FileGrouping (1, 2 or 3; others as 1).
const char* DefaultFileNameFormat(std::uint8_t fileGrouping);

// The path of one backup file. FileMode 1: SameFilePath as it is. Otherwise
// BackupFolder + `dateTimeSubPath` + FileNameFormat with %TASKNAME%, %HOST%, %DATABASE%,
// %TABLE%, %DATE% and %TIME% replaced + the extension. Task name and host are cleaned;
// database and table names are inserted as they are, except that "/" and NUL become "_"
// so no name can reach outside the backup folder. Text inserted for one placeholder is
// never taken for another.
std::string MakeBackupFilePath(const BackupSettings& settings, const std::string& dateTimeSubPath,
                               const std::string& taskName, const CServerInfo& source,
                               const std::string& database, const std::string& table,
                               const TaskDateTime& runStart);

// Creates BackupFolder (one level; failures surface later when the file is created) and,
// with CreateDateTimeSubfolder, its "YYYY-MM-DD_HH-MM-SS" subfolder. Returns the sub-path
// for MakeBackupFilePath: that name + "/", or "" without the option (or with an empty
// BackupFolder, which runs refuse before). Touches the disk.
std::string MakeDateTimeFolder(const BackupSettings& settings, const TaskDateTime& runStart);
// The subfolder name alone: "YYYY-MM-DD_HH-MM-SS".
std::string DateTimeFolderName(const TaskDateTime& runStart);

// Checks a file name format for a FileGrouping. Returns "" when it is acceptable, else the
// warning to show. `stored`, when given, receives the trimmed text to store.
std::string ValidateFileNameFormat(const std::string& format, std::uint8_t fileGrouping,
                                   std::string* stored = nullptr);

// Export folder + database + "_" + table + extension for the table at `index`; "" when
// the folder is empty or the index is outside `tables`. "/" and NUL in names become "_".
std::string MakeExportFilePath(const ExportSettings& settings, const std::vector<TableItem>& tables,
                               int index);

// The key a task gets when it enters a list holding `count` tasks at `now`:
// year, month, day, hour, minute, second and count in decimal, no separators.
std::string MakeTaskKey(const TaskDateTime& now, int count);

// The log file name of a task created (or copied) at `createdTime`:
// CleanNameOrDefault(taskName) + "_" + year month day hour minute second + ".log".
std::string MakeLogFileName(std::string_view taskName, const TaskDateTime& createdTime);

}  // namespace brevanto
