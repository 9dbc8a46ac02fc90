#pragma once
// brevanto-run's commands, each returning the program's exit code (app/run/CommandLine.h).

#include <string>

#include "app/run/CommandLine.h"

namespace brevanto::run {

int ListTasks(const std::string& folder, const CommandLine& line);
int PrintTaskLog(const std::string& folder, const CommandLine& line);
int PrintCopies(const std::string& folder, const CommandLine& line);
// --copies NAME --remote, --fetch NAME [COPY] --to DIR, --restore-remote NAME [COPY] ...
int PrintRemoteCopies(const std::string& folder, const CommandLine& line);
int FetchCopy(const std::string& folder, const CommandLine& line);
int RestoreRemoteCopy(const std::string& folder, const CommandLine& line);
int VerifyCopyCommand(const std::string& folder, const CommandLine& line);
// Needs no application folder.
int GenerateKey(const CommandLine& line);
int RunTask(const std::string& folder, const CommandLine& line);
int ImportTasks(const std::string& folder, const CommandLine& line);
int ExportTasks(const std::string& folder, const CommandLine& line);
int DeleteTask(const std::string& folder, const CommandLine& line);
int RunDaemon(const std::string& folder, const CommandLine& line);
int PrintStatus(const std::string& folder, const CommandLine& line);

}  // namespace brevanto::run
