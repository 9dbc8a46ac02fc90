#include "ui/wizard/SummaryText.h"

#include "schedule/Calendar.h"
#include "tasks/DisplayDateTime.h"
#include "appcore/WizardText.h"

namespace brevanto::wizard {

namespace {

constexpr const char* kIndent = "    ";

const char* ScheduleName(int kind) {
  static const char* const kNames[] = {"Manual",      "Every Day",    "Every Week",
                                       "Every Month", "Special Date", "Time Interval"};
  return kind >= 0 && kind <= 5 ? kNames[kind] : "";
}

const char* ExportTypeName(int format) {
  static const char* const kNames[] = {"CSV", "XML", "HTML", "TEXT"};
  return format >= 1 && format <= 4 ? kNames[format - 1] : "";
}

std::string CountsLine(const CTaskItem& task) {
  const ChosenCounts counts = CountChosen(task.BackupDatabases);
  return std::string(kIndent) + std::to_string(counts.Databases) + " database(s), " +
         std::to_string(counts.Tables) + " table(s)\r\n";
}

std::string Heading(const char* title, const std::string& value) {
  return std::string(title) + ":\r\n" + kIndent + value;
}

// "host:port"; a socket path stands alone, as the connection ignores the port then.
std::string ServerText(const CServerInfo& server) {
  if (!server.Host.empty() && server.Host.front() == '/') return server.Host;
  return server.Host + ":" + std::to_string(server.Port);
}

}  // namespace

ChosenCounts CountChosen(const std::vector<DatabaseItem>& databases) {
  ChosenCounts counts;
  for (const DatabaseItem& database : databases) {
    if (database.Selected == 0) continue;
    ++counts.Databases;
    for (const TableItem& table : database.Tables) {
      if (table.Selected != 0) ++counts.Tables;
    }
  }
  return counts;
}

std::string BuildTaskSummary(const CTaskItem& task) {
  const TaskKind* kind = KindOf(task.TaskType);
  const char* description = kind ? kind->Description : nullptr;
  std::string text = Heading("Task name", task.TaskName) + "\r\n\r\n" +
                     Heading("Task type", description ? description : "") + "\r\n\r\n";
  const std::string source = Heading("Source MySQL server", ServerText(task.SourceServer)) + "\r\n\r\n";
  // What the kind uses decides what is summed up.
  const KindSettings uses = kind ? kind->Settings : KindSettings{};
  if (uses.BackupFiles) {
    const BackupSettings& b = task.BackupSettings;
    text += source + "Backup information:\r\n" + CountsLine(task) + "\r\n";
    text +=
        b.FileMode == 1 ? Heading("To file", b.SameFilePath) : Heading("To folder", b.BackupFolder);
    if (const RemoteOptions remote = RemoteOptionsOf(task); !remote.Empty()) {
      text += "\r\n\r\n" + Heading("Off-site copy", RemoteTargetText(remote));
    }
  } else if (uses.BackupSettings) {
    text += source +
            (kind->Group == KindGroup::Restore ? "Restore information:\r\n"
                                               : "Backup information:\r\n") +
            CountsLine(task) + "\r\n" +
            Heading("Destination MySQL server", ServerText(task.DestinationServer));
  } else if (uses.ExportSettings) {
    text += source + "Export information:\r\n" + kIndent +
            std::to_string(task.ExportTables.size()) + " table(s)\r\n\r\n" +
            Heading("To file ( type and directory )", ExportTypeName(task.ExportSettings.Format)) +
            "\r\n" + kIndent + task.ExportSettings.Folder;
  } else if (uses.ScriptStatements) {
    text += Heading("MySQL server", ServerText(task.SourceServer)) + "\r\n\r\nSQL script:\r\n" +
            kIndent + std::to_string(task.ScriptStatements.size()) + " statement(s)\r\n";
  } else if (uses.RestoreFiles) {
    text += std::string("Backup Files:\r\n") + kIndent + std::to_string(task.RestoreFiles.size()) +
            " file(s)\r\n\r\n" + Heading("MySQL server", ServerText(task.DestinationServer));
  }
  text += uses.ScriptStatements ? "\r\n" : "\r\n\r\n";
  text += Heading("Task schedule", ScheduleName(task.Schedule.Kind)) + "\r\n";
  return text;
}

std::string ProtocolsText(const CServerInfo& server) {
  if (server.UseCompression == 0 && server.UseSSL == 0) return "None";
  std::string text;
  if (server.UseCompression != 0) text += "Use compression protocol\r\n";
  if (server.UseSSL != 0) text += "Use SSL protocol";
  return text;
}

std::string ExportFileTypeText(std::uint8_t format) {
  if (format < 1 || format > 4) return "None";
  return std::string(ExportTypeName(format)) + " File  (Table Export)";
}

std::string BackupFileSettingsText(const BackupSettings& b) {
  std::string text;
  if (b.FileMode == 1) {
    text = "Backup to file:\r\n" + b.SameFilePath;
  } else {
    text = "Backup to folder:\r\n" + b.BackupFolder;
    if (b.FileGrouping == 1) text += "\r\n\r\nAll selected databases and tables in a file\r\n\r\n";
    if (b.FileGrouping == 2) text += "\r\n\r\nEvery file include a selected database\r\n\r\n";
    if (b.FileGrouping == 3) text += "\r\n\r\nEvery file include a selected table\r\n\r\n";
    text += "File Name Format:\r\n" + b.FileNameFormat;
    if (b.CreateDateTimeSubfolder != 0) {
      text +=
          "\r\n\r\nCreate a new subdirectory that named DATE_TIME each time for store the backup "
          "files";
    }
    const std::string count = std::to_string(b.AutoDeleteValue);
    if (b.AutoDeleteMode == 1) {
      text += "\r\n\r\nAuto delete this task's backup data older than " + count + " days";
    }
    if (b.AutoDeleteMode == 2) {
      text +=
          "\r\n\r\nAuto delete the oldest backup files when more than " + count + " backup copies";
    }
  }
  if (b.UnixLineEnds != 0) text += "\r\n\r\nUse the '\\n' instead of '\\r\\n' in the backup files";
  return text;
}

std::string RemoteKindText(RemoteKind kind) {
  switch (kind) {
    case RemoteKind::S3: return "S3-compatible storage";
    case RemoteKind::Sftp: return "SFTP";
    case RemoteKind::Rclone: return "rclone remote";
    case RemoteKind::None: break;
  }
  return "None";
}

std::string OffsiteSettingsText(const RemoteOptions& o) {
  std::string text;
  const auto line = [&text](const std::string& value) {
    text += (text.empty() ? "" : "\r\n") + value;
  };
  const auto named = [&line](const char* name, const std::string& value) {
    if (!value.empty()) line(std::string(name) + ": " + value);
  };
  switch (o.Kind) {
    case RemoteKind::None: return "None";
    case RemoteKind::S3:
      named("Endpoint", o.Endpoint);
      named("Region", o.Region);
      if (o.PathStyle) line("Path-style addressing");
      named("Storage class", o.StorageClass);
      named("Access key ID", o.AccessKeyId);
      named("CA file", o.CaFile);
      break;
    case RemoteKind::Sftp:
      line(!o.PrivateKeyFile.empty() ? "Login: key file " + o.PrivateKeyFile
           : !o.Password.empty()     ? std::string("Login: password")
                                     : std::string("Login: SSH agent"));
      line(o.HostKeySha256.empty() ? std::string("Host key: as known_hosts holds it")
                                   : "Host key: " + o.HostKeySha256);
      break;
    case RemoteKind::Rclone: break;
  }
  line(o.KeepCopies > 0 ? "Keep " + std::to_string(o.KeepCopies) + " copies off-site"
                        : std::string("Keep all copies off-site"));
  if (o.Direct) {
    line("Written directly to the target, no local file");
  } else if (o.KeepLocalCopies < 0) {
    line("Keep local copies as the backup file settings say");
  } else if (o.KeepLocalCopies == 0) {
    line("Delete the local files once a copy is off-site");
  } else {
    line("Keep the newest " + std::to_string(o.KeepLocalCopies) + " local copies");
  }
  const std::uint64_t cap = o.BandwidthBytesPerSecond;
  if (cap != 0) {
    line("Bandwidth cap: " + (cap % 1024 == 0 ? std::to_string(cap / 1024) + " KB/s"
                                              : std::to_string(cap) + " bytes/s"));
  }
  return text;
}

std::string ScriptViewText(const std::vector<std::string>& statements) {
  std::string text;
  for (const std::string& statement : statements) text += statement + "\r\n\r\n";
  return text;
}

ScheduleView ScheduleViewText(const ScheduleSettings& s, int dateStyle, int timeStyle) {
  const std::string runTime = "Run Time: " + ScheduleTimeText(s.Hour, s.Minute, timeStyle);
  std::string days;
  switch (s.Kind) {
    case 0: return {"Manual", "None"};
    case 1: return {"Every Day", runTime};
    case 2:
      for (int i = 0; i < 7; ++i) {
        if (s.WeekDays[i] == 0) continue;
        days += (days.empty() ? "" : ", ") + std::string(WeekDayName(i));
      }
      return {"Every Week", runTime + "\r\n\r\nDays of the week:\r\n" + days};
    case 3:
      for (int i = 0; i < 31; ++i) {
        if (s.MonthDays[i] == 0) continue;
        days += (days.empty() ? "" : ", ") + MonthDayOrdinal(i + 1);
      }
      return {"Every Month", runTime + "\r\n\r\nDays of the month:\r\n" + days};
    case 4: {
      std::string text =
          "Run Date and Time:\r\n" +
          FormatDisplayDateTime(s.SpecialYear, s.SpecialMonth, s.SpecialDay, s.Hour, s.Minute, 0,
                                IsValidDate(s.SpecialYear, s.SpecialMonth, s.SpecialDay)
                                    ? DayOfWeekOf(s.SpecialYear, s.SpecialMonth, s.SpecialDay)
                                    : 0,
                                dateStyle, timeStyle, false);
      if (s.RepeatEveryDays > 0) {
        text += "\r\n\r\nRun the task every " + std::to_string(s.RepeatEveryDays) + " day(s)";
      }
      return {"Special Date", text};
    }
    case 5:
      return {"Time Interval",
              "Time Interval: " + std::to_string(s.IntervalMinutes) + " Minute(s)"};
    default: return {"None", "None"};
  }
}

}  // namespace brevanto::wizard
