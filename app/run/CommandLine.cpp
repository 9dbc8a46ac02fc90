#include "app/run/CommandLine.h"

#include <cstdlib>

namespace brevanto::run {

const char* UsageText() {
  return "usage: brevanto-run [--folder DIR] [--quiet] [--wait[=SECONDS]] COMMAND\n"
         "\n"
         "commands:\n"
         "  --list                 list the tasks: name, type, schedule, last run\n"
         "  --run NAME             run one task now and wait for it (alias --task)\n"
         "  --daemon               run every task's schedule until stopped (SIGTERM)\n"
         "  --import FILE.json     add the tasks of a JSON file (- reads standard input)\n"
         "      --replace          replace tasks of the same name instead of refusing them\n"
         "  --export [NAME...]     print tasks (all without a NAME) as JSON\n"
         "      --with-passwords   include the servers' passwords\n"
         "  --delete NAME          delete a task\n"
         "  --where                print the application folder\n"
         "  --help, --version\n"
         "\n"
         "options:\n"
         "  --folder DIR           use DIR as the application folder\n"
         "  --quiet                print only errors\n"
         "  --wait[=SECONDS]       wait while another program uses the folder\n"
         "\n"
         "exit status: 0 success, 1 failure, 2 usage error or unknown task,\n"
         "             3 the folder is in use by another Brevanto program\n";
}

std::string ParseCommandLine(int argc, char* argv[], CommandLine& out) {
  bool haveCommand = false;
  auto setCommand = [&](Command command) -> std::string {
    if (haveCommand && out.command != command) return "give only one command";
    haveCommand = true;
    out.command = command;
    return "";
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    std::string problem;
    if (arg == "--folder") {
      if (!hasValue) return "--folder needs a folder";
      out.folder = argv[++i];
    } else if (arg == "--task" || arg == "--run") {
      if (!hasValue) return arg + " needs a task name";
      problem = setCommand(Command::Run);
      out.names.push_back(argv[++i]);
    } else if (arg == "--delete") {
      if (!hasValue) return "--delete needs a task name";
      problem = setCommand(Command::Delete);
      out.names.push_back(argv[++i]);
    } else if (arg == "--import") {
      if (!hasValue) return "--import needs a file";
      problem = setCommand(Command::Import);
      out.file = argv[++i];
    } else if (arg == "--export") {
      problem = setCommand(Command::Export);
      while (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
        out.names.push_back(argv[++i]);
      }
    } else if (arg == "--list") {
      problem = setCommand(Command::List);
    } else if (arg == "--daemon") {
      problem = setCommand(Command::Daemon);
    } else if (arg == "--where") {
      problem = setCommand(Command::Where);
    } else if (arg == "--help" || arg == "-h") {
      problem = setCommand(Command::Help);
    } else if (arg == "--version") {
      problem = setCommand(Command::Version);
    } else if (arg == "--quiet" || arg == "-q") {
      out.quiet = true;
    } else if (arg == "--replace") {
      out.replace = true;
    } else if (arg == "--with-passwords") {
      out.withPasswords = true;
    } else if (arg == "--wait") {
      out.waitSeconds = -1;
    } else if (arg.rfind("--wait=", 0) == 0) {
      const std::string value = arg.substr(7);
      char* end = nullptr;
      const long seconds = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || seconds < 0 || seconds > 86400 * 365) {
        return "--wait= needs a number of seconds";
      }
      out.waitSeconds = static_cast<int>(seconds);
    } else {
      return "unexpected argument: " + arg;
    }
    if (!problem.empty()) return problem;
  }
  if (!haveCommand) return "give a command, e.g. --list or --run NAME";
  if (out.replace && out.command != Command::Import) return "--replace goes with --import";
  if (out.withPasswords && out.command != Command::Export)
    return "--with-passwords goes with --export";
  return "";
}

}  // namespace brevanto::run
