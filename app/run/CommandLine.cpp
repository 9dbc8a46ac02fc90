#include "app/run/CommandLine.h"

#include <cstdlib>
#include <optional>

namespace brevanto::run {

const char* UsageText() {
  return "usage: brevanto-run [--folder DIR] [--quiet] [--wait[=SECONDS]] COMMAND\n"
         "\n"
         "commands:\n"
         "  --list                 list the tasks: name, type, schedule, next run, last run\n"
         "                         and its result\n"
         "  --run NAME             run one task now and wait for it (alias --task)\n"
         "  --log NAME             print a task's log, one entry a line\n"
         "      --since TIME       only entries from TIME on (YYYY-MM-DD[ HH:MM[:SS]])\n"
         "  --copies NAME          list a backup task's copies: time, files, size, manifest\n"
         "                         and whether every file still has its recorded size\n"
         "      --check            also compare each file's SHA-256 with its manifest, and\n"
         "                         count a copy without a manifest as a problem\n"
         "      --remote           list the copies the task's off-site target holds, also\n"
         "                         those other hosts put there: name, start, server, files,\n"
         "                         size and whether each is complete\n"
         "  --fetch NAME [COPY] --to DIR\n"
         "                         download an off-site copy (the newest complete one, or\n"
         "                         COPY as --copies --remote names it) into DIR, checking\n"
         "                         each file's size and SHA-256 with its manifest\n"
         "  --restore-remote NAME [COPY] --into SERVER --database DB\n"
         "                         restore an off-site copy into database DB of the saved\n"
         "                         server SERVER without a local file\n"
         "      --identity FILE    the identity file that opens an encrypted copy\n"
         "  --verify NAME [COPY]   restore a copy (the newest, or the one whose TIME --copies\n"
         "                         shows) into a private scratch server and compare it with\n"
         "                         its manifest; exit status 0 only when it is verified\n"
         "  --daemon               run every task's schedule until stopped (SIGTERM)\n"
         "      --metrics-file PATH  (also with --run) write the tasks' metrics to PATH after\n"
         "                         every run, for node_exporter's textfile collector\n"
         "  --status               each task's last run and last good run, duration, bytes\n"
         "                         written, result and copies kept\n"
         "  --import FILE.json     add the tasks of a JSON file (- reads standard input)\n"
         "      --replace          replace tasks of the same name instead of refusing them\n"
         "  --export [NAME...]     print tasks (all without a NAME) as JSON\n"
         "      --with-passwords   include the servers' passwords\n"
         "  --delete NAME          delete a task\n"
         "  --where                print the application folder\n"
         "  --keygen FILE          write a new encryption identity to FILE (never over an\n"
         "                         existing file) and print its public key\n"
         "  --help, --version\n"
         "\n"
         "options:\n"
         "  --folder DIR           use DIR as the application folder\n"
         "  --json                 --list, --log, --copies and --status print JSON (one object a "
         "line\n"
         "                         for --log)\n"
         "  --quiet                print only errors\n"
         "  --wait[=SECONDS]       wait while another program uses the folder\n"
         "Options go in any order; --opt VALUE and --opt=VALUE are the same.\n"
         "\n"
         "exit status: 0 success, 1 failure (or a copy that does not match), 2 usage error or\n"
         "             unknown task,\n"
         "             3 the folder is in use by another Brevanto program\n";
}

std::string ParseCommandLine(int argc, const char* const argv[], CommandLine& out) {
  bool haveCommand = false;
  auto setCommand = [&](Command command) -> std::string {
    if (haveCommand && out.command != command) return "give only one command";
    haveCommand = true;
    out.command = command;
    return "";
  };
  std::vector<std::string> operands;  // names after --export, a copy, wherever they stand
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // "--name=value" is "--name value"; --wait= has its own meaning.
    std::optional<std::string> attached;
    if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos &&
                                              arg.rfind("--wait=", 0) != 0) {
      attached = arg.substr(eq + 1);
      arg.resize(eq);
    }
    // The option's value: attached, or the next argument.
    auto value = [&](const char* what, std::string& into) -> std::string {
      if (attached) {
        if (attached->empty()) return arg + " needs " + what;
        into = *attached;
        attached.reset();
        return "";
      }
      if (i + 1 >= argc) return arg + " needs " + what;
      into = argv[++i];
      return "";
    };
    std::string problem;
    std::string name;
    if (arg == "--folder") {
      problem = value("a folder", out.folder);
    } else if (arg == "--task" || arg == "--run" || arg == "--delete" || arg == "--log" ||
               arg == "--copies" || arg == "--verify") {
      problem = value("a task name", name);
      if (problem.empty()) {
        problem = setCommand(arg == "--delete"   ? Command::Delete
                             : arg == "--log"    ? Command::Log
                             : arg == "--copies" ? Command::Copies
                             : arg == "--verify" ? Command::Verify
                                                 : Command::Run);
        out.names.push_back(name);
      }
    } else if (arg == "--fetch" || arg == "--restore-remote") {
      problem = value("a task name", name);
      if (problem.empty()) {
        problem = setCommand(arg == "--fetch" ? Command::Fetch : Command::RestoreRemote);
        out.names.push_back(name);
      }
    } else if (arg == "--to") {
      problem = value("a folder", out.to);
    } else if (arg == "--into") {
      problem = value("a server", out.into);
    } else if (arg == "--database") {
      problem = value("a database", out.database);
    } else if (arg == "--identity") {
      problem = value("a file", out.identity);
    } else if (arg == "--keygen") {
      problem = value("a file", out.file);
      if (problem.empty()) problem = setCommand(Command::Keygen);
    } else if (arg == "--import") {
      problem = value("a file", out.file);
      if (problem.empty()) problem = setCommand(Command::Import);
    } else if (arg == "--since") {
      problem = value("a time", out.since);
    } else if (arg == "--export") {
      problem = setCommand(Command::Export);
    } else if (arg == "--list") {
      problem = setCommand(Command::List);
    } else if (arg == "--daemon") {
      problem = setCommand(Command::Daemon);
    } else if (arg == "--status") {
      problem = setCommand(Command::Status);
    } else if (arg == "--metrics-file") {
      problem = value("a file", out.metricsFile);
    } else if (arg == "--where") {
      problem = setCommand(Command::Where);
    } else if (arg == "--help" || arg == "-h") {
      problem = setCommand(Command::Help);
    } else if (arg == "--version") {
      problem = setCommand(Command::Version);
    } else if (arg == "--quiet" || arg == "-q") {
      out.quiet = true;
    } else if (arg == "--json") {
      out.json = true;
    } else if (arg == "--check") {
      out.check = true;
    } else if (arg == "--remote") {
      out.remote = true;
    } else if (arg == "--replace") {
      out.replace = true;
    } else if (arg == "--with-passwords") {
      out.withPasswords = true;
    } else if (arg == "--wait") {
      out.waitSeconds = -1;
    } else if (arg.rfind("--wait=", 0) == 0) {
      const std::string seconds = arg.substr(7);
      char* end = nullptr;
      const long parsed = std::strtol(seconds.c_str(), &end, 10);
      if (seconds.empty() || *end != '\0' || parsed < 0 || parsed > 86400 * 365) {
        return "--wait= needs a number of seconds";
      }
      out.waitSeconds = static_cast<int>(parsed);
    } else if (arg == "--") {
      for (++i; i < argc; ++i) operands.push_back(argv[i]);
    } else if (arg.rfind("-", 0) != 0) {
      operands.push_back(arg);
    } else {
      return "unknown option " + arg;
    }
    if (!problem.empty()) return problem;
    if (attached) return arg + " takes no value";
  }
  if (!haveCommand) return "give a command, e.g. --list or --run NAME";
  const bool namesCopy = out.command == Command::Fetch || out.command == Command::RestoreRemote;
  if (out.command == Command::Verify && operands.size() == 1) {
    out.copy = operands.front();
    operands.clear();
  }
  if (!operands.empty()) {
    if (out.command != Command::Export && !(namesCopy && operands.size() == 1)) {
      return "unexpected argument: " + operands[namesCopy ? 1 : 0];
    }
    out.names.insert(out.names.end(), operands.begin(), operands.end());
  }
  if (out.command == Command::Fetch && out.to.empty()) return "--fetch needs --to DIR";
  if (out.command != Command::Fetch && !out.to.empty()) return "--to goes with --fetch";
  if (out.command == Command::RestoreRemote && (out.into.empty() || out.database.empty())) {
    return "--restore-remote needs --into SERVER and --database DB";
  }
  if (out.command != Command::RestoreRemote &&
      (!out.into.empty() || !out.database.empty() || !out.identity.empty())) {
    return "--into, --database and --identity go with --restore-remote";
  }
  if (out.replace && out.command != Command::Import) return "--replace goes with --import";
  if (out.withPasswords && out.command != Command::Export)
    return "--with-passwords goes with --export";
  if (!out.since.empty() && out.command != Command::Log) return "--since goes with --log";
  if (out.json && out.command != Command::List && out.command != Command::Log &&
      out.command != Command::Copies && out.command != Command::Status)
    return "--json goes with --list, --log, --copies or --status";
  if (!out.metricsFile.empty() && out.command != Command::Run && out.command != Command::Daemon)
    return "--metrics-file goes with --run or --daemon";
  if (out.check && out.command != Command::Copies) return "--check goes with --copies";
  if (out.remote && out.command != Command::Copies) return "--remote goes with --copies";
  if (out.remote && out.check) return "--check goes with the local copies, not --remote";
  return "";
}

}  // namespace brevanto::run
