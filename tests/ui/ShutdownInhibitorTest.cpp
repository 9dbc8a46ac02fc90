// logind's shutdown lock: taken while a task runs and the options ask for it, released
// when the task ends, and a refusal reported. The real logind is never touched: a stand-in
// takes its name on a bus of the test's own, which the lock is told is the system bus.

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>

#include "tests/support/FakeBusService.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/MainFrame.h"
#include "ui/ShutdownInhibitor.h"

namespace brevanto::ui {
namespace {

// Hands out the write end of a pipe for each Inhibit call, as logind does, and keeps the
// read end: it reports end-of-file once every copy of the lock is closed.
class FakeLogind {
 public:
  ~FakeLogind() {
    for (int fd : m_readEnds) ::close(fd);
  }

  bool Started() const { return m_service.Started(); }
  std::vector<std::string> Calls() {
    std::lock_guard lock(m_lock);
    return m_calls;
  }
  // Whether the lock of call `index` is still held once the stand-in's copy is gone.
  bool Held(std::size_t index) { return !Released(index, 300); }
  // Whether it is let go within `timeoutMs`: the stand-in's own copy in its reply goes
  // on its thread, maybe after the caller has read the reply.
  bool Released(std::size_t index, int timeoutMs = 5000) {
    int fd = -1;
    {
      std::lock_guard lock(m_lock);
      fd = m_readEnds.at(index);
    }
    pollfd watch{fd, POLLIN, 0};
    return ::poll(&watch, 1, timeoutMs) == 1;
  }

 private:
  static int OnInhibit(sd_bus_message* call, void* self, sd_bus_error*) {
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    if (const int read = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode); read < 0) {
      return read;
    }
    auto* logind = static_cast<FakeLogind*>(self);
    int ends[2];
    if (::pipe(ends) != 0) return -errno;
    {
      std::lock_guard lock(logind->m_lock);
      logind->m_calls.push_back(std::string(what) + "|" + who + "|" + mode);
      logind->m_readEnds.push_back(ends[0]);
    }
    const int replied = sd_bus_reply_method_return(call, "h", ends[1]);
    ::close(ends[1]);  // the reply took its own copy
    return replied;
  }
  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Inhibit", "ssss", "h", OnInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };

  std::mutex m_lock;
  std::vector<std::string> m_calls;
  std::vector<int> m_readEnds;
  test::FakeBusService m_service{"org.freedesktop.login1", "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", kVtable, this};
};

class SystemBusIs {
 public:
  explicit SystemBusIs(const char* address) {
    if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) m_old = old;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address, 1);
  }
  ~SystemBusIs() {
    if (m_old.empty()) {
      ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    } else {
      ::setenv("DBUS_SYSTEM_BUS_ADDRESS", m_old.c_str(), 1);
    }
  }

 private:
  std::string m_old;
};

TEST(ShutdownInhibitorTest, ANoLogindIsAnErrorAndNothingIsHeld) {
  SystemBusIs nowhere("unix:path=/nonexistent/brevanto-test-bus");
  ShutdownInhibitor inhibitor;
  const Status held = inhibitor.Hold(true);
  EXPECT_FALSE(held.ok());
  EXPECT_NE(held.message().find("system bus"), std::string::npos) << held.message();
  EXPECT_FALSE(inhibitor.Held());
  EXPECT_TRUE(inhibitor.Hold(false).ok());
}

TEST(ShutdownInhibitorTest, HeldWhileATaskRunsAndTheOptionIsOn) {
  if (std::getenv("BREVANTO_PRIVATE_SESSION_BUS") == nullptr) {
    GTEST_SKIP() << "runs under dbus-run-session only";
  }
  FakeLogind logind;
  ASSERT_TRUE(logind.Started());
  SystemBusIs own(std::getenv("DBUS_SESSION_BUS_ADDRESS"));

  ShutdownInhibitor inhibitor;
  ASSERT_TRUE(inhibitor.Hold(true).ok());
  ASSERT_TRUE(inhibitor.Hold(true).ok());
  ASSERT_EQ(logind.Calls(), std::vector<std::string>{"shutdown:sleep|Brevanto|block"});
  EXPECT_TRUE(logind.Held(0));
  ASSERT_TRUE(inhibitor.Hold(false).ok());
  EXPECT_TRUE(logind.Released(0));

  // The window: held from its first tick while the running task is there, then let go.
  Dialogs::Script();
  test::FakeClock clock;
  test::CoreFixture fixture(clock);
  fixture.Add(test::MakeTask("Busy", ScheduleKind::Manual, TaskStatus::Running));
  fixture.Core().Options().BlockShutdownWhileRunning = 1;
  {
    CMainFrame frame(fixture.Core(), FrameDialogs());
    EXPECT_TRUE(frame.HoldsShutdownLock());
    ASSERT_EQ(logind.Calls().size(), 2u);
    EXPECT_TRUE(logind.Held(1));
    frame.EndNow();
    EXPECT_TRUE(logind.Released(1));
  }
  fixture.Core().Options().BlockShutdownWhileRunning = 0;
  CMainFrame frame(fixture.Core(), FrameDialogs());
  EXPECT_FALSE(frame.HoldsShutdownLock());
  EXPECT_EQ(logind.Calls().size(), 2u);
  Dialogs::EndScript();
}

}  // namespace
}  // namespace brevanto::ui
