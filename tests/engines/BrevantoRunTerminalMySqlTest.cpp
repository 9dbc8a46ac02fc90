// brevanto-run on a terminal: one progress line, redrawn in place, that gives way to every
// log line and never outgrows the terminal.

#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/engines/BrevantoRunProgram.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

constexpr const char* kEraseLine = "\r\x1b[K";

// Runs brevanto-run on a pseudo-terminal `columns` wide; everything it wrote there.
std::string RunOnTerminal(const std::vector<std::string>& arguments, unsigned short columns) {
  termios raw{};
  cfmakeraw(&raw);  // no "\r\n" for "\n": the output as the program wrote it
  winsize size{};
  size.ws_col = columns;
  size.ws_row = 24;
  int terminal = -1;
  const std::string program = test::BrevantoRunPath();
  const pid_t pid = ::forkpty(&terminal, nullptr, &raw, &size);
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  std::string output;
  if (pid < 0) return output;
  char buffer[4096];
  // The terminal reports an error once the program has gone and its output is read.
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(terminal);
  ::waitpid(pid, nullptr, 0);
  return output;
}

TEST(BrevantoRunTerminalTest, OneProgressLineGivesWayToEveryLogLine) {
  if (!std::filesystem::exists(test::BrevantoRunPath()))
    GTEST_SKIP() << "brevanto-run is not built";
  BREVANTO_REQUIRE_SERVER(test::ServerA());
  test::TempDir dir;
  const test::TestServerInfo server = test::ServerA();
  // Long enough for the program to look at the run a few times, with an Error entry
  // logged while the bar is up.
  ASSERT_TRUE(test::WriteWholeFile(
      dir.file("slow.json"),
      R"([{"TaskName": "Slow", "TaskType": 5, "SourceServer": {"Host": ")" + server.host +
          R"(", "Port": )" + std::to_string(server.port) + R"(, "UserName": ")" + server.user +
          R"(", "Password": ")" + server.password +
          R"json("}, "ScriptStatements": ["SELECT SLEEP(0.6)", "SELECT no_such_column",
                                         "SELECT SLEEP(0.6)"]}])json"));
  const std::string folder = dir.file("data");
  ASSERT_EQ(test::RunBrevanto("--folder " + folder + " --import " + dir.file("slow.json")).status,
            0);

  const unsigned short columns = 40;
  const std::string output = RunOnTerminal({"--folder", folder, "--run", "Slow"}, columns);
  ASSERT_NE(output.find(std::string(kEraseLine) + "Slow  ["), std::string::npos) << output;

  // Every line the terminal keeps is a whole log line or result: the bar was erased before
  // each, and what it drew fitted in the terminal's width.
  bool failed = false;
  bool finished = false;
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string written = output.substr(start, end - start);
    // Between two erasures: a drawn bar (or nothing, where one was cleared).
    const std::size_t eraseSize = std::strlen(kEraseLine);
    std::size_t at = written.find(kEraseLine);
    for (std::size_t next; at != std::string::npos; at = next) {
      next = written.find(kEraseLine, at + eraseSize);
      if (next == std::string::npos) break;
      EXPECT_LT(next - at - eraseSize, columns) << written;
    }
    const std::size_t erased = written.rfind(kEraseLine);
    const std::string kept =
        erased == std::string::npos ? written : written.substr(erased + eraseSize);
    EXPECT_EQ(kept.find("Slow  ["), std::string::npos) << kept;
    if (kept.find("  Error    Failed to execute the SQL statement! NO. 2") == 19) failed = true;
    if (kept.size() > 20 && kept.compare(kept.size() - 8, 8, "Finished") == 0) finished = true;
  }
  EXPECT_TRUE(failed) << output;
  EXPECT_TRUE(finished) << output;
  // Nothing is left drawn after the last line.
  EXPECT_EQ(output.find("Slow  [", start), std::string::npos) << output.substr(start);
}

}  // namespace
}  // namespace brevanto
