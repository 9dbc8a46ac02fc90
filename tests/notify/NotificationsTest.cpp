// Run notifications end to end: a task run through the application core sends its
// e-mail and webhook to local servers; failures to send become Warnings and nothing else.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "appcore/ApplicationCore.h"
#include "appcore/OverdueCheck.h"
#include "appcore/RunMetrics.h"
#include "core/UtcTime.h"
#include "logs/TaskLog.h"
#include "notify/NotificationSettings.h"
#include "notify/NotificationText.h"
#include "notify/Notifier.h"
#include "notify/TaskNotificationsSection.h"
#include "notify/TaskPingSection.h"
#include "schedule/RunStatusText.h"
#include "schedule/TaskRunner.h"
#include "tasks/TaskOptionsStore.h"
#include "tests/notify/NotificationSink.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::ClosedPort;
using test::FakeClock;
using test::NotificationSink;
using test::TempDir;

class NotificationsTest : public ::testing::Test {
 protected:
  NotificationsTest() : m_core(m_folder.path(), m_clock) {
    m_core.Start();
    m_core.SetRunListener([this](const RunReport& report, bool desktop) {
      std::lock_guard lock(m_lock);
      m_reports.push_back(report);
      m_desktop.push_back(desktop);
      m_changed.notify_all();
    });
  }
  ~NotificationsTest() override { m_core.Shutdown(); }

  void UseServers(int smtpPort, const std::string& webhookUrl) {
    ASSERT_TRUE(m_core.ApplyNotificationSettings(test::LocalServerSettings(smtpPort, webhookUrl)));
  }

  // Runs one task whose routine logs `errors` Error entries and then ends with `outcome`;
  // returns once the run ended and its notifications were sent or failed.
  RunReport RunTask(int errors, RunOutcome outcome, const TaskNotifications& own = {},
                    const TaskPing& ping = {}) {
    TaskRoutineTable routines;
    routines[TaskType::ExecuteScript] = [errors, outcome](TaskRunContext& context) {
      for (int i = 1; i <= errors; ++i) {
        context.Log(LogLevel::Error, "Failed to execute statement " + std::to_string(i));
      }
      context.RecordFileWritten("/backups/out.sql");
      return outcome;
    };
    EXPECT_EQ(m_core.StartRunner(routines), 0);
    CTaskItem task;
    task.TaskName = "Nightly";
    task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
    task.LogFileName = "nightly.log";
    task.RunImmediately = 0;
    SetTaskNotifications(task, own);
    SetTaskPing(task, ping);
    const int index = m_core.Tasks().AddTask(task);
    m_core.Tasks().Update(index, [](CTaskItem& live) { live.RunImmediately = 1; });
    m_core.Runner().LaunchTask(index);
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return !m_reports.empty(); });
    lock.unlock();
    m_core.WaitForNotifications();
    return m_reports.front();
  }

  std::vector<CTaskLogEntry> LogEntries() {
    std::vector<CTaskLogEntry> entries;
    m_core.TaskLog().ReadAll("nightly.log", entries);
    return entries;
  }
  std::vector<std::string> Warnings() {
    std::vector<std::string> warnings;
    for (const CTaskLogEntry& entry : LogEntries()) {
      if (entry.level == static_cast<std::uint8_t>(LogLevel::Warning))
        warnings.push_back(entry.text);
    }
    return warnings;
  }

  TempDir m_folder;
  FakeClock m_clock{test::MakeTime(2026, 3, 7, 9, 5, 0)};
  CApplicationCore m_core;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<RunReport> m_reports;
  std::vector<bool> m_desktop;
};

TEST_F(NotificationsTest, FailedRunSendsOneMailAndOnePost) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  UseServers(sink.SmtpPort(), sink.HttpUrl());

  const RunReport report = RunTask(2, RunOutcome::Failed);
  EXPECT_TRUE(report.Failed());
  EXPECT_EQ(report.ErrorCount, 2);

  const auto mails = sink.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0].find("Subject: Brevanto: Nightly - Failed (2 errors)\r\n"), std::string::npos);
  EXPECT_NE(mails[0].find("\r\nFailed to execute statement 1\r\nFailed to execute statement 2\r\n"),
            std::string::npos);
  EXPECT_NE(mails[0].find("Outcome: Failed (2 errors)"), std::string::npos);
  EXPECT_EQ(sink.Envelopes()[0], "from=brevanto@example.org\nto=dba@example.org\n");

  const auto posts = sink.Posts();
  ASSERT_EQ(posts.size(), 1u);
  const nlohmann::json body = nlohmann::json::parse(posts[0]);
  EXPECT_EQ(body["task"], "Nightly");
  EXPECT_EQ(body["type"], "Execute SQL script");
  EXPECT_EQ(body["outcome"], "Failed");
  EXPECT_EQ(body["start"], "2026-03-07 09:05:00");
  EXPECT_TRUE(body["end"].is_string());
  EXPECT_EQ(body["errors"],
            nlohmann::json({"Failed to execute statement 1", "Failed to execute statement 2"}));
  EXPECT_EQ(body["files"], nlohmann::json({"/backups/out.sql"}));

  // Sending went well: the log holds the run and nothing about notifications.
  EXPECT_TRUE(Warnings().empty());
  EXPECT_TRUE(m_desktop[0]);
}

TEST_F(NotificationsTest, SuccessSendsNothingUnlessAskedFor) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  UseServers(sink.SmtpPort(), sink.HttpUrl());

  const RunReport report = RunTask(0, RunOutcome::Finished);
  EXPECT_FALSE(report.Failed());
  EXPECT_TRUE(sink.Mails().empty());
  EXPECT_TRUE(sink.Posts().empty());
  EXPECT_FALSE(m_desktop[0]);
}

TEST_F(NotificationsTest, FinishedRunWithErrorEntriesCountsAsFailed) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  UseServers(sink.SmtpPort(), sink.HttpUrl());

  RunTask(1, RunOutcome::Finished);
  EXPECT_EQ(sink.Mails().size(), 1u);
  EXPECT_EQ(sink.Posts().size(), 1u);
  EXPECT_EQ(m_core.Tasks().LastResultAt(0).Kind, RunResultKind::Failed);
}

TEST_F(NotificationsTest, ATasksOwnSettingsOverrideTheDefaults) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  UseServers(sink.SmtpPort(), sink.HttpUrl());
  TaskNotifications own;
  own.Desktop = false;
  own.WebhookOnFailure = false;
  own.EmailTo = "oncall@example.org";

  RunTask(1, RunOutcome::Failed, own);
  EXPECT_EQ(sink.Envelopes(),
            std::vector<std::string>{"from=brevanto@example.org\nto=oncall@example.org\n"});
  EXPECT_TRUE(sink.Posts().empty());
  EXPECT_FALSE(m_desktop[0]);
}

TEST_F(NotificationsTest, UnreachableServersGiveOneWarningEachAndNothingElse) {
  UseServers(ClosedPort(), "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/hook");

  const RunReport report = RunTask(1, RunOutcome::Failed);

  const std::vector<std::string> warnings = Warnings();
  std::vector<std::string> texts;
  for (const CTaskLogEntry& entry : LogEntries()) texts.push_back(entry.text);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].rfind("Failed to send the e-mail notification through 127.0.0.1:", 0), 0u)
      << warnings[0];
  EXPECT_EQ(warnings[1].rfind("Failed to call the webhook http://127.0.0.1:", 0), 0u)
      << warnings[1];
  // The run itself is told as it was: its entries, then the two warnings.
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "Running...");
  EXPECT_EQ(texts[1], "Failed to execute statement 1");
  const TaskRunResult result = m_core.Tasks().LastResultAt(0);
  EXPECT_EQ(result.Kind, RunResultKind::Failed);
  EXPECT_EQ(result.Errors, 1);
  EXPECT_EQ(report.WarningCount, 0);
}

TEST_F(NotificationsTest, WebhookAnsweringWithAnErrorIsAWarning) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  UseServers(sink.SmtpPort(), sink.HttpUrl("/fail"));

  RunTask(1, RunOutcome::Failed);
  EXPECT_EQ(sink.Posts().size(), 1u);
  const std::vector<std::string> warnings = Warnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("answered HTTP 500"), std::string::npos);
}

TEST_F(NotificationsTest, PingsTellTheStartAndTheEndInOrder) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  TaskPing ping{sink.HttpUrl("/ping/abc/"), true};

  RunTask(0, RunOutcome::Finished, {}, ping);
  EXPECT_EQ(sink.GetPaths(), (std::vector<std::string>{"/ping/abc/start", "/ping/abc/"}));
  EXPECT_TRUE(Warnings().empty());

  // A run that logged an error fails, and so does its ping; no start ping when not asked.
  m_reports.clear();
  m_core.Shutdown();
  ping.OnStart = false;
  ping.Url = sink.HttpUrl("/ping/abc");
  RunTask(1, RunOutcome::Finished, {}, ping);
  EXPECT_EQ(sink.GetPaths(),
            (std::vector<std::string>{"/ping/abc/start", "/ping/abc/", "/ping/abc/fail"}));
  // Pings go whether or not the run's e-mail and webhook do.
  EXPECT_TRUE(sink.Posts().empty());
}

TEST_F(NotificationsTest, AFailedPingIsAWarningAndTheRunStandsAsItWas) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/ping";

  const RunReport report = RunTask(0, RunOutcome::Finished, {}, TaskPing{closed, true});
  EXPECT_FALSE(report.Failed());
  EXPECT_EQ(report.WarningCount, 0);
  EXPECT_EQ(m_core.Tasks().LastResultAt(0).Kind, RunResultKind::Ok);
  const std::vector<std::string> warnings = Warnings();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].rfind("Failed to ping http://127.0.0.1:", 0), 0u) << warnings[0];
  EXPECT_NE(warnings[0].find("/ping/start: "), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("/ping: "), std::string::npos) << warnings[1];

  // A monitor answering with an error is told the same way.
  m_reports.clear();
  m_core.Shutdown();
  RunTask(1, RunOutcome::Failed, {}, TaskPing{sink.HttpUrl("/broken"), false});
  EXPECT_EQ(sink.GetPaths(), std::vector<std::string>{"/broken/fail"});
  ASSERT_EQ(Warnings().size(), 3u);
  EXPECT_NE(Warnings()[2].find("answered HTTP 500"), std::string::npos);
  EXPECT_EQ(m_core.Tasks().LastResultAt(0).Errors, 1);
}

TEST_F(NotificationsTest, AnOverdueTaskAlarmsOnceForEachLastGoodRun) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  UseServers(sink.SmtpPort(), sink.HttpUrl());
  CTaskItem task;
  task.TaskName = "Nightly";
  task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
  task.LogFileName = "nightly.log";
  task.Schedule.Kind = static_cast<std::uint8_t>(ScheduleKind::EveryDay);
  task.Schedule.Hour = 2;
  SetOverdueGrace(task, 60);
  m_core.Tasks().AddTask(task);
  const auto unix = [](const TaskDateTime& local) {
    std::tm fields = LocalTm(local);
    return static_cast<std::int64_t>(std::mktime(&fields));
  };
  const std::string records = m_core.DataFolder() + kRunRecordsFileName;
  const auto succeeded = [&](const TaskDateTime& when) {
    RunRecords all = ReadRunRecords(records);
    all["Nightly"].LastRun = all["Nightly"].LastSuccess = unix(when);
    ASSERT_TRUE(SaveRunRecords(records, all).ok());
  };
  succeeded(test::MakeTime(2026, 3, 7, 2, 5, 0));

  // Due at 02:00 the next day, with an hour's grace.
  EXPECT_TRUE(m_core.CheckOverdue().empty());
  m_clock.SetNow(test::MakeTime(2026, 3, 8, 2, 59, 0));
  EXPECT_TRUE(m_core.CheckOverdue().empty());
  m_clock.SetNow(test::MakeTime(2026, 3, 8, 3, 0, 0));
  EXPECT_EQ(m_core.CheckOverdue(), std::vector<std::string>{"Nightly"});
  EXPECT_EQ(LastResultText(m_core.Tasks().LastResultAt(0)), "Overdue");
  m_clock.SetNow(test::MakeTime(2026, 3, 9, 12, 0, 0));
  EXPECT_TRUE(m_core.CheckOverdue().empty());
  EXPECT_TRUE(m_core.Tasks().LastResultAt(0).Overdue);
  m_core.WaitForNotifications();
  const std::string text = "No good backup of Nightly since 2026-03-07 02:05:00";
  ASSERT_EQ(sink.Posts().size(), 1u);
  const nlohmann::json body = nlohmann::json::parse(sink.Posts()[0]);
  EXPECT_EQ(body["outcome"], "Failed");
  EXPECT_EQ(body["errors"], nlohmann::json({text}));
  EXPECT_EQ(sink.Mails().size(), 1u);
  EXPECT_EQ(Warnings(), std::vector<std::string>{text});

  // A good run re-arms the alarm for the next silence.
  succeeded(test::MakeTime(2026, 3, 9, 12, 30, 0));
  m_clock.SetNow(test::MakeTime(2026, 3, 10, 2, 30, 0));
  EXPECT_TRUE(m_core.CheckOverdue().empty());
  EXPECT_FALSE(m_core.Tasks().LastResultAt(0).Overdue);
  m_clock.SetNow(test::MakeTime(2026, 3, 10, 3, 0, 0));
  EXPECT_EQ(m_core.CheckOverdue(), std::vector<std::string>{"Nightly"});
  m_core.WaitForNotifications();
  EXPECT_EQ(sink.Posts().size(), 2u);
}

TEST(TaskPingTest, UrlsOfEachEventAndTheSectionReadsBack) {
  TaskPing ping{"https://hc.example.org/abc", false};
  EXPECT_EQ(PingUrlFor(ping, PingEvent::Start), "https://hc.example.org/abc/start");
  EXPECT_EQ(PingUrlFor(ping, PingEvent::Failure), "https://hc.example.org/abc/fail");
  EXPECT_EQ(PingUrlFor(ping, PingEvent::Success), "https://hc.example.org/abc");
  CTaskItem task;
  SetTaskPing(task, ping);
  EXPECT_EQ(FindTaskPing(task), ping);
  SetTaskPing(task, {});
  EXPECT_TRUE(GetTaskSection(task, kPingSection).is_null());
  // A damaged section loads as no ping rather than stopping the task.
  EXPECT_EQ(TaskPingFromJson(nlohmann::json::parse(R"({"Url": 5, "OnStart": "no"})")), TaskPing{});
}

// A sender that hangs to its time-out every time must neither grow the queue without end
// nor hold a stopping service past its manager's stop time-out.
TEST(NotifierTest, TheQueueIsBoundedAndTheWaitForItToo) {
  std::mutex lock;
  std::condition_variable changed;
  bool release = false;
  std::vector<std::string> warnings;
  CNotifier notifier([&](const std::string& logFileName, const std::string& text) {
    std::lock_guard guard(lock);
    warnings.push_back(logFileName + ": " + text);
  });
  notifier.SetDesktopSender([&](const RunReport&) {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return release; });
  });
  NotificationChoice desktop;
  desktop.Desktop = true;
  RunReport report;
  report.LogFileName = "hung.log";
  // One in the sender, kMaxQueued waiting, and two more turned away.
  for (std::size_t i = 0; i < CNotifier::kMaxQueued + 3; ++i) {
    notifier.Submit(report, desktop, CNotificationSettings());
  }
  FakeClock clock;
  clock.SetAutoAdvance(true);
  const std::int64_t before = clock.MonotonicMs();
  EXPECT_GE(notifier.WaitUntilIdle(clock, 5000), CNotifier::kMaxQueued);
  EXPECT_LE(clock.MonotonicMs() - before, 5100);
  {
    std::lock_guard guard(lock);
    EXPECT_GE(warnings.size(), 2u);
    EXPECT_EQ(warnings.front(), std::string("hung.log: ") + CNotifier::kNotificationsDropped);
    release = true;
  }
  changed.notify_all();
  notifier.WaitUntilIdle();
}

// A sender that throws is a Warning in the run's log, and the notifier's thread lives on
// to send the next run's notifications.
TEST(NotifierTest, ASendingThatThrowsIsAWarningAndTheNextRunIsStillSent) {
  std::mutex lock;
  std::vector<std::string> warnings;
  std::vector<std::string> shown;
  CNotifier notifier([&](const std::string& logFileName, const std::string& text) {
    std::lock_guard guard(lock);
    warnings.push_back(logFileName + ": " + text);
  });
  notifier.SetDesktopSender([&](const RunReport& report) {
    if (report.LogFileName == "bad.log") throw std::runtime_error("no session bus");
    if (report.LogFileName == "odd.log") throw 42;
    std::lock_guard guard(lock);
    shown.push_back(report.LogFileName);
  });
  NotificationChoice desktop;
  desktop.Desktop = true;
  for (const char* log : {"bad.log", "odd.log", "good.log"}) {
    RunReport report;
    report.LogFileName = log;
    notifier.Submit(report, desktop, CNotificationSettings());
  }
  notifier.WaitUntilIdle();
  std::lock_guard guard(lock);
  const std::string failed = CNotifier::kNotificationsFailed;
  EXPECT_EQ(warnings, (std::vector<std::string>{"bad.log: " + failed + ": no session bus",
                                                "odd.log: " + failed + "!"}));
  EXPECT_EQ(shown, std::vector<std::string>{"good.log"});
}

TEST(NotificationSettingsTest, SavedFileIsPrivateKeepsThePasswordScrambledAndReadsBack) {
  TempDir folder;
  CNotificationSettings settings;
  settings.SmtpServer = "mail.example.org";
  settings.SmtpPort = 465;
  settings.Security = SmtpSecurity::Tls;
  settings.SmtpUser = "backup";
  settings.SmtpPassword = "s3cr\xC3\xA9t\"";
  settings.Defaults.DesktopOnSuccess = true;
  settings.Defaults.WebhookUrl = "https://chat.example.org/hook";
  ASSERT_TRUE(SaveNotificationSettings(folder.path(), settings));

  const std::string path = folder.file(kNotificationSettingsFileName);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(test::ReadWholeFile(path).find("s3cr"), std::string::npos);

  CNotificationSettings read;
  ASSERT_TRUE(LoadNotificationSettings(folder.path(), read));
  EXPECT_EQ(read, settings);
}

TEST(NotificationSettingsTest, DamagedOrOddFilesKeepTheDefaults) {
  struct Case {
    const char* name;
    const char* text;
    bool parses;
  } cases[] = {
      {"not JSON", "{\"Smtp\": ", false},
      {"an array", "[1, 2]", false},
      {"wrong types", R"({"Smtp": {"Port": "25", "Server": 7}, "Defaults": {"Desktop": "yes"}})",
       true},
      {"port out of range", R"({"Smtp": {"Port": 70000}})", true},
      {"password not hex", R"({"Smtp": {"Password": "zz"}})", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CNotificationSettings settings;
    EXPECT_EQ(ParseNotificationSettings(c.text, settings), c.parses);
    EXPECT_EQ(settings, CNotificationSettings{});
  }
}

TEST(NotificationSettingsTest, TaskValuesOverrideTheDefaultsKeyByKey) {
  CNotificationSettings settings;
  settings.Defaults.EmailTo = "team@example.org";
  settings.Defaults.WebhookUrl = "http://hook";
  const TaskNotifications none;
  TaskNotifications own = TaskNotificationsFromJson(nlohmann::json::parse(
      R"({"EmailTo": "me@example.org", "WebhookOnFailure": false, "DesktopOnSuccess": true,
          "Unknown": 1})"));

  NotificationChoice failed = ChooseNotifications(settings, none, true);
  EXPECT_TRUE(failed.Desktop);
  EXPECT_EQ(failed.EmailTo, "team@example.org");
  EXPECT_EQ(failed.WebhookUrl, "http://hook");
  EXPECT_FALSE(ChooseNotifications(settings, none, false).Any());

  failed = ChooseNotifications(settings, own, true);
  EXPECT_EQ(failed.EmailTo, "me@example.org");
  EXPECT_EQ(failed.WebhookUrl, "");
  const NotificationChoice succeeded = ChooseNotifications(settings, own, false);
  EXPECT_TRUE(succeeded.Desktop);
  EXPECT_EQ(succeeded.EmailTo, "");

  EXPECT_EQ(TaskNotificationsFromJson(TaskNotificationsToJson(own)), own);
  EXPECT_EQ(TaskNotificationsToJson(none).dump(), "{}");
}

TEST(NotificationTextTest, MailHeadersCannotBeForgedAndLongErrorListsAreCut) {
  RunReport report;
  report.TaskName = "Nightly\r\nBcc: victim@example.org";
  report.TaskType = 1;
  report.Outcome = RunOutcome::Failed;
  report.ErrorCount = 60;
  for (std::size_t i = 0; i < kMaxReportedErrors; ++i) report.Errors.push_back("error");
  const std::string message = MakeMailMessage(report, "a@example.org", {"b@example.org"});
  EXPECT_EQ(message.find("\r\nBcc:"), std::string::npos);
  EXPECT_NE(
      message.find("Subject: Brevanto: Nightly  Bcc: victim@example.org - Failed (60 errors)"),
      std::string::npos);
  EXPECT_NE(message.find("... and 10 more in the task's log\r\n"), std::string::npos);

  report.TaskName = "Sauvegarde \xC3\xA9t\xC3\xA9";
  EXPECT_NE(MakeMailMessage(report, "a@example.org", {"b@example.org"}).find("Subject: =?UTF-8?B?"),
            std::string::npos);

  EXPECT_EQ(SplitAddresses(" a@example.org; b@example.org ,,\r\nc@x>, <d@x>"),
            (std::vector<std::string>{"a@example.org", "b@example.org"}));
}

}  // namespace
}  // namespace brevanto
