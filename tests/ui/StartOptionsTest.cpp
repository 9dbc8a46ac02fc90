// The windowed program's command line: answered on a terminal without a display, and
// nothing unknown opens the window.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "ui/StartOptions.h"

namespace brevanto::ui {
namespace {

struct Outcome {
  int status = -1;  // -1 when it did not exit normally (an abort)
  std::string output;
};

// The built program with no display of any kind.
Outcome RunWithoutDisplay(const std::string& arguments) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                              std::string(BREVANTO_BINARY_DIR) + "/app/brevanto " + arguments +
                              " 2>&1";
  Outcome outcome;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    outcome.output.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

TEST(StartOptionsTest, HelpVersionAndMistakesAnswerWithoutADisplay) {
  const struct {
    const char* arguments;
    int status;
    const char* output;
  } cases[] = {
      {"--version", 0, "brevanto "},
      {"--help", 0, "usage: brevanto [--folder DIR]\n"},
      {"-h", 0, "usage: brevanto"},
      {"--folder /tmp --version", 0, "brevanto "},
      {"--frobnicate", 2, "brevanto: unexpected argument: --frobnicate (try brevanto --help)\n"},
      {"stray", 2, "brevanto: unexpected argument: stray"},
      {"--folder", 2, "brevanto: --folder needs a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Outcome outcome = RunWithoutDisplay(c.arguments);
    EXPECT_EQ(outcome.status, c.status) << outcome.output;
    EXPECT_EQ(outcome.output.rfind(c.output, 0), 0u) << outcome.output;
  }
}

TEST(StartOptionsTest, FolderInBothFormsAndQtsOwnOptionsPassThrough) {
  const struct {
    std::vector<const char*> argv;
    StartOptions::Action action;
    const char* folder;
  } cases[] = {
      {{"brevanto"}, StartOptions::Action::Start, ""},
      {{"brevanto", "--folder", "/srv/tasks"}, StartOptions::Action::Start, "/srv/tasks"},
      {{"brevanto", "--folder=/srv/my tasks"}, StartOptions::Action::Start, "/srv/my tasks"},
      {{"brevanto", "-platform", "offscreen", "--folder", "/a"}, StartOptions::Action::Start, "/a"},
      {{"brevanto", "-session", "1a2b", "-reverse"}, StartOptions::Action::Start, ""},
      {{"brevanto", "--folder="}, StartOptions::Action::UsageError, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv.back());
    const StartOptions options = ParseStartOptions(static_cast<int>(c.argv.size()), c.argv.data());
    EXPECT_EQ(options.action, c.action) << options.problem;
    EXPECT_EQ(options.folder, c.folder);
  }
}

}  // namespace
}  // namespace brevanto::ui
