#pragma once
// brevanto-run's command line: what to do, on which folder, and how to report it.

#include <string>
#include <vector>

namespace brevanto::run {

// Exit codes, also documented in the manual page and docs/ADMIN.md.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a run failed, an import was refused, a file is damaged,
                                       // a backup copy does not match its record
inline constexpr int kExitUsage = 2;   // bad arguments or an unknown task name
inline constexpr int kExitFolderInUse = 3;  // another program holds the application folder

enum class Command {
  List,
  Run,
  Import,
  Export,
  Delete,
  Daemon,
  Help,
  Version,
  Where,
  Log,
  Copies,
  Keygen,
  Fetch,
  RestoreRemote,
  Verify,
  Status
};

struct CommandLine {
  Command command = Command::Help;
  std::string folder;              // "" for the usual application folder
  // --run/--delete/--log/--copies/--verify NAME, --export [NAME...], --fetch/--restore-remote
  // NAME [COPY]
  std::vector<std::string> names;
  std::string copy;                // --verify NAME [COPY]: the copy's time as --copies shows it
  std::string file;                // --import FILE ("-" reads standard input), --keygen FILE
  std::string since;               // --log ... --since TIME, as given
  bool json = false;               // --list/--log/--copies/--status --json
  bool check = false;              // --copies --check
  bool remote = false;             // --copies --remote
  std::string to;                  // --fetch ... --to DIR
  std::string into;                // --restore-remote ... --into SERVER
  std::string database;            // --restore-remote ... --database DB
  std::string identity;            // --restore-remote ... --identity FILE
  std::string metricsFile;         // --run/--daemon ... --metrics-file PATH
  bool quiet = false;
  bool replace = false;
  bool withPasswords = false;
  int waitSeconds = 0;  // --wait: -1 waits as long as it takes
};

// Parses argv[1..]: options in any order, each taking its value as the next argument or
// after "=" (--folder=DIR). Returns "" or what is wrong with the arguments, in one line.
std::string ParseCommandLine(int argc, const char* const argv[], CommandLine& out);

// The --help text.
const char* UsageText();
// The line that follows a usage error.
inline constexpr const char* kTryHelp = "Try 'brevanto-run --help' for more information.";

}  // namespace brevanto::run
