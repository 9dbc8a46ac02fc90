// Starts the built brevanto-run for the end-to-end tests and collects what it prints.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

namespace brevanto::test {

inline std::string BrevantoRunPath() {
  return std::string(BREVANTO_BINARY_DIR) + "/app/brevanto-run";
}

struct RunResult {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string output;
  bool interrupted = false;
};

inline int ExitStatus(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

// Runs brevanto-run with the given (shell-quoted) arguments; stdout and stderr together.
// `launcher` goes before the program ("env -u NAME").
inline RunResult RunBrevanto(const std::string& arguments, const std::string& launcher = {}) {
  RunResult result;
  const std::string command =
      (launcher.empty() ? "" : launcher + " ") + BrevantoRunPath() + " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.output.append(buffer, n);
  }
  result.status = ExitStatus(::pclose(pipe));
  return result;
}

// Runs one task of the folder and sends it SIGINT once `awaited` appears in its output,
// after `beforeInterrupt` returns.
inline RunResult RunBrevantoInterrupted(const std::string& folder, const std::string& task,
                                        const std::string& awaited,
                                        const std::function<void()>& beforeInterrupt) {
  RunResult result;
  int out[2];
  if (::pipe(out) != 0) return result;
  const std::string program = BrevantoRunPath();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::execl(program.c_str(), program.c_str(), "--folder", folder.c_str(), "--task", task.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    result.output.append(buffer, static_cast<std::size_t>(n));
    if (!result.interrupted && result.output.find(awaited) != std::string::npos) {
      beforeInterrupt();
      ::kill(pid, SIGINT);
      result.interrupted = true;
    }
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = ExitStatus(status);
  return result;
}

}  // namespace brevanto::test
