#include "remote/RcloneProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

namespace brevanto {

namespace {

constexpr int kSliceMs = 100;
constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kLongestErrorLine = 64 * 1024;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void SetNonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// rclone's plain log lines (its final "Failed to ..." among them) start "2026/12/08 03:00:00 ".
std::string_view WithoutTimeStamp(std::string_view line) {
  const std::string_view shape = "0000/00/00 00:00:00 ";
  if (line.size() < shape.size()) return line;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (shape[i] == '0' ? !digit : line[i] != shape[i]) return line;
  }
  return Trimmed(line.substr(shape.size()));
}

// The counters of a stats line that grow while work is done.
std::string StatsCounters(const nlohmann::json& stats) {
  std::string counters;
  for (const char* key : {"bytes", "checks", "transfers", "deletes", "renames", "errors"}) {
    const auto found = stats.find(key);
    if (found != stats.end() && found->is_number()) counters += found->dump() + ",";
  }
  return counters;
}

}  // namespace

RcloneProcess::RcloneProcess(const TransferControl& control,
                             const std::vector<std::string>& environment, std::int64_t stallMs)
    : m_control(control), m_environment(environment), m_stallMs(stallMs) {}

RcloneProcess::~RcloneProcess() {
  Terminate();
}

Status RcloneProcess::Start(const std::vector<std::string>& arguments, bool feedInput,
                            int inputFd) {
  int input[2] = {-1, -1}, output[2] = {-1, -1}, errors[2] = {-1, -1};
  // The input is a socket so that writing to an rclone that has gone is EPIPE, not SIGPIPE.
  const bool opened =
      (!feedInput || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) == 0) &&
      ::pipe2(output, O_CLOEXEC) == 0 && ::pipe2(errors, O_CLOEXEC) == 0;
  if (!opened) {
    const int error = errno;
    for (int* fd : {&input[0], &input[1], &output[0], &output[1], &errors[0], &errors[1]}) {
      CloseFd(*fd);
    }
    return m_outcome.Failure =
               Status::Error(std::string("Could not start rclone: ") + std::strerror(error));
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (feedInput) {
    posix_spawn_file_actions_adddup2(&actions, input[1], 0);
  } else if (inputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, inputFd, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errors[1], 2);

  std::vector<std::string> argv{"rclone"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> argp, envp;
  for (std::string& arg : argv) argp.push_back(arg.data());
  argp.push_back(nullptr);
  for (std::string& entry : m_environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const int spawned = ::posix_spawnp(&m_pid, "rclone", &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  CloseFd(input[1]);
  CloseFd(output[1]);
  CloseFd(errors[1]);
  m_input = input[0];
  m_output = output[0];
  m_errors = errors[0];
  if (spawned != 0) {
    m_pid = -1;
    CloseAll();
    return m_outcome.Failure =
               Status::Error(std::string("Could not start rclone (") + std::strerror(spawned) +
                             "); is the rclone package installed?");
  }
  for (int fd : {m_input, m_output, m_errors}) {
    if (fd >= 0) SetNonBlocking(fd);
  }
  m_lastProgressMs = m_control.TheClock->MonotonicMs();
  return Status::Ok();
}

bool RcloneProcess::Send(std::string_view bytes) {
  if (m_pid < 0 || m_input < 0) return false;
  return Pump(&bytes, {}) == Pumped::Sent;
}

RcloneOutcome RcloneProcess::Finish(const std::function<Status(std::string_view)>& consume) {
  CloseFd(m_input);
  if (m_pid >= 0 && Pump(nullptr, consume) == Pumped::Ended) {
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    if (WIFEXITED(status)) m_outcome.ExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status) && m_outcome.Message.empty()) {
      m_outcome.Message = "rclone was ended by signal " + std::to_string(WTERMSIG(status));
    }
  }
  CloseAll();
  return m_outcome;
}

void RcloneProcess::Kill() {
  Terminate();
}

RcloneProcess::Pumped RcloneProcess::Pump(std::string_view* pending,
                                          const std::function<Status(std::string_view)>& consume) {
  for (;;) {
    if (pending != nullptr && pending->empty()) return Pumped::Sent;
    pollfd fds[3];
    nfds_t count = 0;
    int inputAt = -1, outputAt = -1, errorsAt = -1;
    if (pending != nullptr && m_input >= 0) {
      inputAt = static_cast<int>(count);
      fds[count++] = {m_input, POLLOUT, 0};
    }
    if (m_output >= 0) {
      outputAt = static_cast<int>(count);
      fds[count++] = {m_output, POLLIN, 0};
    }
    if (m_errors >= 0) {
      errorsAt = static_cast<int>(count);
      fds[count++] = {m_errors, POLLIN, 0};
    }
    if (count == 0 || (pending != nullptr && m_input < 0)) return Pumped::Ended;

    if (::poll(fds, count, kSliceMs) < 0 && errno != EINTR) {
      m_outcome.Failure =
          Status::Error(std::string("Could not talk to rclone: ") + std::strerror(errno));
      Terminate();
      return Pumped::Killed;
    }
    bool moved = false;
    if (inputAt >= 0 && fds[inputAt].revents != 0) {
      const ssize_t sent = ::send(m_input, pending->data(), pending->size(), MSG_NOSIGNAL);
      if (sent > 0) {
        pending->remove_prefix(static_cast<std::size_t>(sent));
        moved = true;
      } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        CloseFd(m_input);  // rclone stopped reading: it has ended or is ending
      }
    }
    if (outputAt >= 0 && fds[outputAt].revents != 0) {
      m_buffer.resize(kReadSize);
      const ssize_t got = ::read(m_output, m_buffer.data(), m_buffer.size());
      if (got > 0) {
        moved = true;
        if (consume) {
          if (Status status =
                  consume(std::string_view(m_buffer.data(), static_cast<std::size_t>(got)));
              !status.ok()) {
            m_outcome.Failure = std::move(status);
            Terminate();
            return Pumped::Killed;
          }
        }
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        CloseFd(m_output);
      }
    }
    if (errorsAt >= 0 && fds[errorsAt].revents != 0) ReadErrors();

    const std::int64_t now = m_control.TheClock->MonotonicMs();
    if (moved) m_lastProgressMs = now;
    if (m_control.StopRequested && m_control.StopRequested()) {
      m_outcome.Stopped = true;
      Terminate();
      return Pumped::Killed;
    }
    if (now - m_lastProgressMs >= m_stallMs) {
      m_outcome.Stalled = true;
      Terminate();
      return Pumped::Killed;
    }
  }
}

void RcloneProcess::ReadErrors() {
  char buffer[8192];
  const ssize_t got = ::read(m_errors, buffer, sizeof buffer);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (got <= 0) {
    TakeErrorLine(m_errorLine);
    m_errorLine.clear();
    CloseFd(m_errors);
    return;
  }
  m_errorLine.append(buffer, static_cast<std::size_t>(got));
  std::size_t start = 0;
  for (std::size_t end; (end = m_errorLine.find('\n', start)) != std::string::npos;
       start = end + 1) {
    TakeErrorLine(std::string_view(m_errorLine).substr(start, end - start));
  }
  m_errorLine.erase(0, start);
  if (m_errorLine.size() > kLongestErrorLine) m_errorLine.erase(0, m_errorLine.size() / 2);
}

void RcloneProcess::TakeErrorLine(std::string_view line) {
  line = Trimmed(line);
  if (line.empty()) return;
  if (line.front() == '{') {
    const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (entry.is_object()) {
      const auto stats = entry.find("stats");
      if (stats != entry.end() && stats->is_object()) {
        std::string counters = StatsCounters(*stats);
        if (counters != m_statsSeen) {
          m_lastProgressMs = m_control.TheClock->MonotonicMs();
          m_statsSeen = std::move(counters);
        }
        return;
      }
      const auto message = entry.find("msg");
      if (message != entry.end() && message->is_string()) {
        const std::string text = message->get<std::string>();
        if (!Trimmed(text).empty()) m_outcome.Message = std::string(Trimmed(text));
        return;
      }
    }
  }
  m_outcome.Message = std::string(WithoutTimeStamp(line));
}

void RcloneProcess::Terminate() {
  if (m_pid >= 0) {
    // A moment to end by itself (it may tidy up after a signal it can catch), then for good.
    ::kill(m_pid, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int slice = 0; slice < 20 && !ended; ++slice) {
      ended = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
      if (!ended) ::poll(nullptr, 0, kSliceMs);
    }
    if (!ended) {
      ::kill(m_pid, SIGKILL);
      while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    m_pid = -1;
  }
  CloseAll();
}

void RcloneProcess::CloseAll() {
  CloseFd(m_input);
  CloseFd(m_output);
  CloseFd(m_errors);
}

}  // namespace brevanto
