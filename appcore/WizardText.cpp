#include "appcore/WizardText.h"

#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

#include "core/ServerList.h"
#include "tasks/BackupFileName.h"
#include "tasks/TaskKinds.h"

namespace brevanto::wizard {

namespace {

const char* const kWeekDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

std::string TwoDigits(int value) {
  return (value > 9 ? "" : "0") + std::to_string(value);
}

bool AnyFlag(const auto& flags) {
  for (auto flag : flags) {
    if (flag != 0) return true;
  }
  return false;
}

bool TimeSet(const ScheduleSettings& s) {
  return s.Hour >= 0 && s.Minute >= 0;
}

}  // namespace

const TaskKind* KindOf(int taskType) {
  return taskType < 0 || taskType > 255 ? nullptr
                                        : FindTaskKind(static_cast<std::uint8_t>(taskType));
}

const char* TaskTypeDescription(int taskType) {
  const TaskKind* kind = KindOf(taskType);
  return kind ? kind->Description : nullptr;
}

int WizardStepCount(int taskType) {
  const TaskKind* kind = KindOf(taskType);
  // The task-name and schedule pages around the kind's own, and the summary.
  return kind ? static_cast<int>(kind->Steps.size()) + 3 : 0;
}

std::string WizardCaption(int taskType, int step) {
  const char* description = TaskTypeDescription(taskType);
  if (description == nullptr) return "Task Wizard";
  return std::string("Task Wizard - ") + description + " - Step " + std::to_string(step) + " of " +
         std::to_string(WizardStepCount(taskType));
}

std::string TrimmedTaskName(const std::string& name) {
  const auto first = name.find_first_not_of(" ");
  if (first == std::string::npos) return {};
  return name.substr(first, name.find_last_not_of(" ") - first + 1);
}

std::string FoldedTaskName(const std::string& name) {
  std::string folded = TrimmedTaskName(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string TaskNameProblem(const std::string& name) {
  const std::string trimmed = TrimmedTaskName(name);
  if (trimmed.empty()) return "Please input task name!";
  for (const char c : trimmed) {
    // Line breaks, tabs and NUL would break the log, the list and the command line.
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return "The task name must not hold control characters (line breaks, tabs)!";
    }
  }
  return "";
}

std::string ValidateTaskName(const std::string& name, const std::vector<std::string>& names,
                             int editIndex) {
  if (std::string problem = TaskNameProblem(name); !problem.empty()) return problem;
  const std::string folded = FoldedTaskName(name);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (static_cast<int>(i) != editIndex && FoldedTaskName(names[i]) == folded) {
      return kTaskNameTaken;
    }
  }
  return "";
}

ServerProblem ValidateServerFields(const std::string& host, const std::string& portText) {
  if (host.empty()) return {ServerField::Host, "Please input the Host name or IP address!"};
  for (char c : portText) {
    if (c < '0' || c > '9') {
      return {ServerField::Port, "The port must be a number between 1 and 65535!"};
    }
  }
  // Leading zeros are allowed; the parser saturates, so long texts are out of range.
  const std::uint32_t port = ParsePortText(portText);
  if (port == 0 || port > 65535) {
    return {ServerField::Port, "Please input a number between 1 and 65535!"};
  }
  return {};
}

bool IsSameServer(const CServerInfo& source, const CServerInfo& destination) {
  return source.Host == destination.Host && source.Port == destination.Port;
}

std::string ConnectFailureText(unsigned int number, const std::string& text) {
  return "Failed to connect to the MySQL server!\n\nError NO. " + std::to_string(number) + "\n" +
         text;
}

std::string UseDatabaseFailureText(unsigned int number, const std::string& text) {
  return "Failed to use the database!\n\nError NO. " + std::to_string(number) + "\n" + text;
}

std::string ConnectSuccessText(const std::string& version) {
  return "Connect to the MySQL server successfully!\n\nMySQL version: " + version;
}

std::string TrustCertificateQuestion(const std::string& errorText, const std::string& fingerprint) {
  // The engine's own advice on pinning follows the reason; here the question replaces it.
  const std::string reason = errorText.substr(0, errorText.find(". The server's certificate has"));
  return "The server's SSL certificate was not accepted:\n" + reason +
         "\n\nIts SHA-256 fingerprint is\n" + fingerprint +
         "\n\nTrust this certificate for this server from now on (trust on first use)? Answer "
         "Yes only if this is your server's own certificate: compare the fingerprint with the "
         "one the server's administrator sees (openssl x509 -noout -fingerprint -sha256 -in "
         "<the server's certificate file>). From then on this certificate, and no other, is "
         "taken for the server, whatever name it is made out to.";
}

std::string ValidateSchedulePage(const ScheduleSettings& s) {
  switch (s.Kind) {
    case 0: return "";
    case 5:
      if (s.IntervalMinutes < 1 || s.IntervalMinutes > 99999) {
        return "Please set the Time Interval Settings!";
      }
      return "";
    case 1: return TimeSet(s) ? "" : "Please set the Every Day Settings!";
    case 2: return TimeSet(s) && AnyFlag(s.WeekDays) ? "" : "Please set the Every Week Settings!";
    case 3: return TimeSet(s) && AnyFlag(s.MonthDays) ? "" : "Please set the Every Month Settings!";
    case 4:
      if (!TimeSet(s) || s.SpecialYear <= 0 || s.SpecialMonth <= 0 || s.SpecialDay <= 0) {
        return "Please set the Special Date Settings!";
      }
      return "";
    default: return "Please choose task schedule options!";
  }
}

namespace {

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool UsesTimeOfDay(int kind) {
  return kind >= 1 && kind <= 4;
}

}  // namespace

ScheduleProblem CheckSchedule(const ScheduleSettings& s, const TaskDateTime& now) {
  if (std::string page = ValidateSchedulePage(s); !page.empty()) return {"", page};
  if (!UsesTimeOfDay(s.Kind)) return {};
  if (s.Hour > 23) return {"Hour", "The hour must be a number from 0 to 23!"};
  if (s.Minute > 59) return {"Minute", "The minute must be a number from 0 to 59!"};
  if (s.Kind != 4) return {};
  if (s.SpecialMonth > 12) return {"SpecialMonth", "The month must be a number from 1 to 12!"};
  if (s.SpecialDay > DaysInMonth(s.SpecialYear, s.SpecialMonth)) {
    return {"SpecialDay", "The special date does not exist!"};
  }
  if (s.RepeatEveryDays < 0) {
    return {"RepeatEveryDays", "The repeat interval must not be negative!"};
  }
  const auto moment = [](int year, int month, int day, int hour, int minute) {
    return ((((static_cast<std::int64_t>(year) * 13 + month) * 32 + day) * 24 + hour) * 60) +
           minute;
  };
  if (s.RepeatEveryDays == 0 &&
      moment(s.SpecialYear, s.SpecialMonth, s.SpecialDay, s.Hour, s.Minute) <
          moment(now.Year, now.Month, now.Day, now.Hour, now.Minute)) {
    // It would never run, and nothing would say so.
    return {"SpecialYear", "The special date is in the past and does not repeat!"};
  }
  return {};
}

const char* WeekDayName(int index) {
  return index >= 0 && index < 7 ? kWeekDays[index] : "";
}

std::string MonthDayOrdinal(int day) {
  const char* suffix = "th";
  if (day % 10 == 1 && day != 11) suffix = "st";
  if (day % 10 == 2 && day != 12) suffix = "nd";
  if (day % 10 == 3 && day != 13) suffix = "rd";
  return std::to_string(day) + suffix;
}

std::string ScheduleTimeText(int hour, int minute, int timeStyle) {
  if (timeStyle == 1) return TwoDigits(hour) + ":" + TwoDigits(minute);
  if (timeStyle != 2) return "";
  const bool afternoon = hour >= 12;
  return TwoDigits(afternoon ? hour - 12 : hour) + ":" + TwoDigits(minute) +
         (afternoon ? " P.M" : " A.M");
}

long long CountFromText(const std::string& text) {
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    if (value < 100000000) value = value * 10 + (c - '0');
  }
  return value;
}

std::string EncodeEscapes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\v': out += "\\v"; break;
      case '\\': out += "\\\\"; break;
      default: out += c; break;
    }
  }
  return out;
}

std::string DecodeEscapes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char decoded = 0;
    switch (text[i + 1]) {
      case 'a': decoded = '\a'; break;
      case 'b': decoded = '\b'; break;
      case 'f': decoded = '\f'; break;
      case 'n': decoded = '\n'; break;
      case 'r': decoded = '\r'; break;
      case 't': decoded = '\t'; break;
      case 'v': decoded = '\v'; break;
      case '\'': decoded = '\''; break;
      case '"': decoded = '"'; break;
      case '\\': decoded = '\\'; break;
      case '?': decoded = '?'; break;
      default: break;
    }
    if (decoded == 0) {
      out += text[i];
      continue;
    }
    out += decoded;
    ++i;
  }
  return out;
}

bool HasInvalidDatabaseNameCharacters(const std::string& name) {
  return name.find_first_of("/\\.") != std::string::npos;
}


bool CanCreateFolder(const std::string& folder) {
  if (folder.empty()) return false;
  std::error_code error;
  const std::filesystem::path path(folder);
  std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error);
}

bool CanCreateFile(const std::string& path) {
  if (path.empty() || path.back() == '/') return false;
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno != ENOENT) return false;
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(path.c_str());
  return true;
}

namespace {

bool NearestParentWritable(std::filesystem::path path) {
  std::error_code error;
  while (path.has_relative_path() && !std::filesystem::exists(path, error)) {
    path = path.parent_path();
  }
  return std::filesystem::is_directory(path, error) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

bool CouldCreateFolder(const std::string& folder) {
  if (folder.empty()) return false;
  std::error_code error;
  const std::filesystem::path path(folder);
  if (std::filesystem::exists(path, error)) return std::filesystem::is_directory(path, error);
  return NearestParentWritable(path);
}

bool CouldCreateFile(const std::string& path) {
  if (path.empty() || path.back() == '/') return false;
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), W_OK) == 0;
  }
  // As the page's test: the file's own folder must be there already.
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return std::filesystem::is_directory(parent, error) && ::access(parent.c_str(), W_OK | X_OK) == 0;
}

std::string DefaultTaskFolder(const std::string& backupFolder, const std::string& taskName) {
  std::string folder = backupFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + CleanNameOrDefault(taskName) + "/";
}

}  // namespace brevanto::wizard
