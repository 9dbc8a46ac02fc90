#pragma once
// One run of the rclone program, started without a shell. Its standard input is ours to
// feed, its output is handed on as it comes, and its stderr is always read, so it never
// blocks on a full pipe: the last message there explains a failure, and its stats lines
// (asked for once a second) tell whether bytes still move. A run in which nothing moves for
// the stall time, or whose task is asked to stop, is killed.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Status.h"
#include "remote/RemoteStore.h"

namespace brevanto {

struct RcloneOutcome {
  int ExitCode = -1;     // rclone's own exit code; -1 when it did not end by itself
  bool Stalled = false;  // killed: nothing moved for the stall time
  bool Stopped = false;  // killed: the task was asked to stop
  // rclone's last message on stderr, without its time stamp; "" when it said nothing.
  std::string Message;
  // Set when rclone could not be started or `consume` refused the bytes: the run's result.
  Status Failure;
};

class RcloneProcess {
 public:
  // `environment`: the child's whole environment, "NAME=value" each. `stallMs`: how long
  // the run may go without a sign of progress.
  RcloneProcess(const TransferControl& control, const std::vector<std::string>& environment,
                std::int64_t stallMs);
  ~RcloneProcess();  // kills a child still running
  RcloneProcess(const RcloneProcess&) = delete;
  RcloneProcess& operator=(const RcloneProcess&) = delete;

  // Starts `rclone arguments...`; with `feedInput`, Send() writes its standard input;
  // otherwise it reads `inputFd` (a file of ours, from where its offset stands), or
  // /dev/null when that is -1.
  [[nodiscard]] Status Start(const std::vector<std::string>& arguments, bool feedInput,
                             int inputFd = -1);

  // Hands `bytes` to rclone's standard input, waiting while it takes them. False when
  // rclone is gone, stalled or stopped; Finish() then says why.
  bool Send(std::string_view bytes);

  // Closes the input, hands the rest of the output to `consume` (an Error from it kills
  // rclone and becomes the outcome's Failure) and waits until rclone ends.
  RcloneOutcome Finish(const std::function<Status(std::string_view)>& consume = {});

  // Ends the child at once (no outcome wanted).
  void Kill();

 private:
  enum class Pumped { Sent, Ended, Killed };
  Pumped Pump(std::string_view* pending, const std::function<Status(std::string_view)>& consume);
  void ReadErrors();
  void TakeErrorLine(std::string_view line);
  void Terminate();
  void CloseAll();

  const TransferControl& m_control;
  std::vector<std::string> m_environment;
  std::int64_t m_stallMs;
  pid_t m_pid = -1;
  int m_input = -1, m_output = -1, m_errors = -1;
  std::int64_t m_lastProgressMs = 0;
  std::vector<char> m_buffer;  // for the output
  std::string m_errorLine;     // an unfinished stderr line
  std::string m_statsSeen;     // the counters of the last stats line
  RcloneOutcome m_outcome;
};

}  // namespace brevanto
