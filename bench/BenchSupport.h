// What the benchmarks share: a run context with no runner behind it.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "core/ServerInfo.h"
#include "schedule/TaskRoutine.h"

namespace brevanto {

// The throw-away test servers: A is PortBase() + 1, B is PortBase() + 2.
inline unsigned BenchPortBase() {
  const char* value = std::getenv("BREVANTO_TEST_PORT_BASE");
  return value != nullptr ? static_cast<unsigned>(std::atoi(value)) : 33900;
}

inline CServerInfo BenchServer(unsigned port) {
  CServerInfo server;
  server.Host = "127.0.0.1";
  server.Port = port;
  server.UserName = "root";
  server.Password = "brevanto";
  return server;
}

// Prints errors and never stops; a benchmark run must end "Finished".
class BenchRunContext : public TaskRunContext {
 public:
  explicit BenchRunContext(CTaskItem task) : m_task(std::move(task)) {}
  const CTaskItem& Task() const override { return m_task; }
  TaskDateTime RunStartTime() const override { return {2006, 3, 7, 9, 5, 0, 3}; }
  bool StopRequested() override { return false; }
  void Log(LogLevel level, const std::string& text) override {
    if (level == LogLevel::Error) std::fprintf(stderr, "error: %s\n", text.c_str());
  }
  void SetCancelHook(std::function<void()>) override {}
  Status RecordBackupCopy(const BackupCopy&) override { return Status::Ok(); }
  Clock& GetClock() override { return SystemClock(); }

 private:
  CTaskItem m_task;
};

// One side of a comparison, run in a child process so its peak memory is its own.
struct Measure {
  double seconds = 0;
  double userSeconds = 0;
  double systemSeconds = 0;
  long peakKB = 0;
  std::uintmax_t bytes = 0;
  bool ok = false;
};

// Runs `child` in a forked process; its wall time and peak resident memory.
template <typename Child>
Measure InChild(Child child) {
  Measure m;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(child());
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peakKB = usage.ru_maxrss;
  m.userSeconds = static_cast<double>(usage.ru_utime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
  m.systemSeconds = static_cast<double>(usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace brevanto
