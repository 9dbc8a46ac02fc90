// brevanto-run: the tasks of an application folder without a window, for servers without
// a display, scripting (cron, systemd timers) and keeping tasks as text. The commands live
// in app/run/; see UsageText() there and the brevanto-run(1) manual page.

#include <cstdio>
#include <string>

#include "app/run/CommandLine.h"
#include "app/run/Commands.h"
#include "app/run/Output.h"
#include "core/ApplicationFolder.h"
#include "core/AtomicFile.h"
#include "core/Version.h"

int main(int argc, char* argv[]) {
  using namespace brevanto;
  using namespace brevanto::run;
  CommandLine line;
  if (const std::string problem = ParseCommandLine(argc, argv, line); !problem.empty()) {
    Error(problem);
    std::fprintf(stderr, "%s\n", kTryHelp);
    return kExitUsage;
  }
  SetQuiet(line.quiet);
  switch (line.command) {
    case Command::Help: std::fputs(UsageText(), stdout); return kExitOk;
    case Command::Version: std::printf("brevanto-run %s\n", ProgramVersion()); return kExitOk;
    case Command::Keygen: return GenerateKey(line);
    default: break;
  }
  std::string folder;
  if (line.folder.empty()) {
    folder = ApplicationFolder();
  } else {
    folder = WithTrailingSlash(line.folder);
    MakeFolder(folder);
  }
  switch (line.command) {
    case Command::Where: std::printf("%s\n", folder.c_str()); return kExitOk;
    case Command::List: return ListTasks(folder, line);
    case Command::Log: return PrintTaskLog(folder, line);
    case Command::Copies:
      return line.remote ? PrintRemoteCopies(folder, line) : PrintCopies(folder, line);
    case Command::Fetch: return FetchCopy(folder, line);
    case Command::RestoreRemote: return RestoreRemoteCopy(folder, line);
    case Command::Verify: return VerifyCopyCommand(folder, line);
    case Command::Run: return RunTask(folder, line);
    case Command::Import: return ImportTasks(folder, line);
    case Command::Export: return ExportTasks(folder, line);
    case Command::Delete: return DeleteTask(folder, line);
    case Command::Daemon: return RunDaemon(folder, line);
    case Command::Status: return PrintStatus(folder, line);
    default: return kExitUsage;
  }
}
