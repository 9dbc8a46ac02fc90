// The headless runner sends the same e-mail and webhook as the window when its run fails,
// before it exits; a sending that fails is a Warning and nothing else.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include <systemd/sd-bus.h>

#include <nlohmann/json.hpp>

#include "appcore/ApplicationCore.h"
#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "notify/TaskNotificationsSection.h"
#include "notify/TaskPingSection.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/notify/NotificationSink.h"
#include "tests/support/FakeBusService.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::ClosedPort;
using test::NotificationSink;

// Stands in for the desktop's notification service on the session bus and keeps the
// title and body of every Notify call.
class FakeNotificationService {
 public:
  bool Started() const { return m_service.Started(); }
  std::vector<std::string> Received() {
    std::lock_guard lock(m_lock);
    return m_received;
  }

 private:
  static int OnNotify(sd_bus_message* call, void* self, sd_bus_error*) {
    const char* application = nullptr;
    std::uint32_t replaces = 0;
    const char* icon = nullptr;
    const char* title = nullptr;
    const char* body = nullptr;
    const int read =
        sd_bus_message_read(call, "susss", &application, &replaces, &icon, &title, &body);
    if (read < 0) return read;
    auto* service = static_cast<FakeNotificationService*>(self);
    {
      std::lock_guard lock(service->m_lock);
      service->m_received.push_back(std::string(title) + "\n" + body);
    }
    return sd_bus_reply_method_return(call, "u", std::uint32_t{42});
  }
  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", OnNotify, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END};

  std::mutex m_lock;  // guards m_received
  std::vector<std::string> m_received;
  // Last: it serves the calls that reach the members above, so it goes first.
  test::FakeBusService m_service{"org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                 "org.freedesktop.Notifications", kVtable, this};
};

class BrevantoRunNotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(test::BrevantoRunPath())) {
      GTEST_SKIP() << "brevanto-run is not built";
    }
  }

  // A folder holding one script task whose server refuses the connection: its run fails
  // at once, without any database server.
  void MakeFolder(int smtpPort, const std::string& webhookUrl, const TaskNotifications& own = {},
                  const TaskPing& ping = {}) {
    CApplicationCore core(m_folder.path(), SystemClock());
    core.Start();
    CTaskItem task;
    task.TaskName = "Nightly";
    task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
    task.LogFileName = "nightly.log";
    task.SourceServer.Host = "127.0.0.1";
    task.SourceServer.Port = static_cast<std::uint32_t>(ClosedPort());
    task.ScriptStatements = {"SELECT 1;"};
    SetTaskNotifications(task, own);
    SetTaskPing(task, ping);
    core.Tasks().AddTask(task);
    ASSERT_TRUE(core.SaveTasks());
    ASSERT_TRUE(core.ApplyNotificationSettings(test::LocalServerSettings(smtpPort, webhookUrl)));
  }

  // Without the session bus unless asked: a developer's desktop sees no test runs.
  test::RunResult Run(bool sessionBus = false) {
    return test::RunBrevanto("--folder " + m_folder.path() + " --run Nightly",
                             sessionBus ? "" : "env -u DBUS_SESSION_BUS_ADDRESS");
  }

  std::vector<std::string> Warnings() {
    CTaskLog log(m_folder.path() + "Logs/", SystemClock());
    std::vector<CTaskLogEntry> entries;
    log.ReadAll("nightly.log", entries);
    std::vector<std::string> warnings;
    for (const CTaskLogEntry& entry : entries) {
      if (entry.level == static_cast<std::uint8_t>(LogLevel::Warning))
        warnings.push_back(entry.text);
    }
    return warnings;
  }

  test::TempDir m_folder;
};

TEST_F(BrevantoRunNotificationsTest, AFailedRunSendsOneMailAndOnePostBeforeTheProgramEnds) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  // The task's own recipients stand in for the program's.
  TaskNotifications own;
  own.EmailTo = "oncall@example.org";
  MakeFolder(sink.SmtpPort(), sink.HttpUrl(), own);

  const test::RunResult result = Run();
  EXPECT_EQ(result.status, 1) << result.output;
  // Not a terminal: no progress line, nothing but whole lines.
  EXPECT_EQ(result.output.find_first_of("\r\x1b"), std::string::npos) << result.output;

  const auto mails = sink.Mails();
  ASSERT_EQ(mails.size(), 1u) << result.output;
  EXPECT_NE(mails[0].find("Subject: Brevanto: Nightly - Failed"), std::string::npos) << mails[0];
  EXPECT_EQ(sink.Envelopes()[0], "from=brevanto@example.org\nto=oncall@example.org\n");

  const auto posts = sink.Posts();
  ASSERT_EQ(posts.size(), 1u);
  const nlohmann::json body = nlohmann::json::parse(posts[0]);
  EXPECT_EQ(body["task"], "Nightly");
  EXPECT_EQ(body["type"], "Execute SQL script");
  EXPECT_EQ(body["outcome"], "Failed");
  EXPECT_TRUE(body["start"].is_string());
  EXPECT_TRUE(body["end"].is_string());
  EXPECT_GE(body["errorCount"].get<int>(), 1);
  ASSERT_FALSE(body["errors"].empty());
  // The mail carries the same errors as the webhook.
  EXPECT_NE(mails[0].find(body["errors"][0].get<std::string>()), std::string::npos);
  EXPECT_TRUE(body["files"].is_array());
  EXPECT_TRUE(Warnings().empty());
}

TEST_F(BrevantoRunNotificationsTest, UnreachableServersAreWarningsThatChangeNoOutcome) {
  MakeFolder(ClosedPort(), "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/hook");

  const test::RunResult result = Run();
  EXPECT_EQ(result.status, 1) << result.output;
  const std::vector<std::string> warnings = Warnings();
  ASSERT_EQ(warnings.size(), 2u) << result.output;
  EXPECT_EQ(warnings[0].rfind("Failed to send the e-mail notification through 127.0.0.1:", 0), 0u);
  EXPECT_EQ(warnings[1].rfind("Failed to call the webhook http://127.0.0.1:", 0), 0u);
  // The program shows them as it shows the run's own entries.
  EXPECT_NE(result.output.find("Warning  Failed to send the e-mail notification"),
            std::string::npos)
      << result.output;
}

// The URL's user, password and query are credentials: no log shows them. A redirect is not
// followed, so the call was not delivered.
TEST_F(BrevantoRunNotificationsTest, WebhookWarningsHideCredentialsAndCountRedirectsAsUndelivered) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  const std::string host = sink.HttpUrl("").substr(std::string("http://").size());
  const auto url = [&](const char* path) {
    return "http://hook:s3cret@" + host + path + "/a?token=t0k3n#f";
  };
  MakeFolder(sink.SmtpPort(), url("/moved"));
  for (const char* path : {"/moved", "/fail"}) {
    if (std::string(path) == "/fail") {
      CApplicationCore core(m_folder.path(), SystemClock());
      core.Start();
      ASSERT_TRUE(core.ApplyNotificationSettings(test::LocalServerSettings(sink.SmtpPort(), url(path))));
    }
    const test::RunResult result = Run();
    EXPECT_EQ(result.status, 1) << result.output;
    const std::vector<std::string> warnings = Warnings();
    ASSERT_FALSE(warnings.empty()) << result.output;
    const std::string shown = "http://***@" + host + path + "/a?***#***";
    EXPECT_EQ(warnings.back().rfind("Failed to call the webhook " + shown + ": the server answered HTTP ", 0), 0u)
        << warnings.back();
    for (const char* secret : {"s3cret", "t0k3n", "hook:"}) {
      EXPECT_EQ(result.output.find(secret), std::string::npos) << result.output;
    }
  }
  EXPECT_EQ(Warnings().size(), 2u);
  EXPECT_EQ(sink.PostPaths(), (std::vector<std::string>{"/moved/a?token=t0k3n", "/fail/a?token=t0k3n"}));
}

// The run-once program pings at the start too, writes the metrics file it is given, and
// --status tells the same values.
TEST_F(BrevantoRunNotificationsTest, RunPingsWritesTheMetricsAndStatusTellsTheSame) {
  NotificationSink sink;
  ASSERT_TRUE(sink.Started());
  MakeFolder(sink.SmtpPort(), "", {}, TaskPing{sink.HttpUrl("/hc"), true});
  const std::string metrics = m_folder.file("brevanto.prom");

  const test::RunResult result =
      test::RunBrevanto("--folder " + m_folder.path() + " --run Nightly --metrics-file " + metrics);
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_EQ(sink.GetPaths(), (std::vector<std::string>{"/hc/start", "/hc/fail"}));
  const std::string text = test::ReadWholeFile(metrics);
  EXPECT_NE(text.find("brevanto_task_last_run_success{task=\"Nightly\"} 0\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("brevanto_task_last_success_timestamp_seconds{task=\"Nightly\"} 0\n"),
            std::string::npos)
      << text;

  const test::RunResult status =
      test::RunBrevanto("--folder " + m_folder.path() + " --status --json");
  ASSERT_EQ(status.status, 0) << status.output;
  const nlohmann::json list = nlohmann::json::parse(status.output, nullptr, false);
  ASSERT_TRUE(list.is_array() && list.size() == 1u) << status.output;
  EXPECT_EQ(list[0]["name"], "Nightly");
  EXPECT_EQ(list[0]["result"], 0);
  EXPECT_TRUE(list[0]["lastSuccess"].is_null());
  EXPECT_TRUE(list[0]["lastRun"].is_number_integer());
  EXPECT_NE(text.find("brevanto_task_last_run_timestamp_seconds{task=\"Nightly\"} " +
                      list[0]["lastRun"].dump() + "\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(list[0]["copiesKept"], 0);
  const test::RunResult human = test::RunBrevanto("--folder " + m_folder.path() + " --status");
  EXPECT_EQ(human.output.rfind("Nightly\tFailed\tlast run: ", 0), 0u) << human.output;
}

TEST_F(BrevantoRunNotificationsTest, DesktopNotificationOnlyOnASessionBus) {
  // Only on a bus of its own: the test takes the notification service's name.
  if (std::getenv("BREVANTO_PRIVATE_SESSION_BUS") == nullptr) {
    GTEST_SKIP() << "runs under dbus-run-session only";
  }
  FakeNotificationService service;
  ASSERT_TRUE(service.Started());
  MakeFolder(ClosedPort(), "");

  test::RunResult result = Run(true);
  EXPECT_EQ(result.status, 1) << result.output;
  std::vector<std::string> received = service.Received();
  ASSERT_EQ(received.size(), 1u) << result.output;
  EXPECT_EQ(received[0].rfind("Brevanto: Nightly - Failed (", 0), 0u) << received[0];
  EXPECT_NE(received[0].find("\nFailed ("), std::string::npos) << received[0];

  // A program started without the session's bus address (cron, a system service) stays
  // away from the desktop, and says nothing about it.
  result = Run(false);
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_EQ(service.Received().size(), 1u);
  // Only the e-mails to the closed port failed, once a run.
  EXPECT_EQ(Warnings().size(), 2u);
}

}  // namespace
}  // namespace brevanto
