// Dumps with the advanced options against the stock tools on the same table of the same
// server: a BackupToFiles run as tasks always ran, the same with the advanced defaults
// (one consistent snapshot, objects) plain and compressed with zstd and gzip, then
// `mariadb-dump --single-transaction` (extended inserts) and mydumper with one and two
// threads. Each side runs in a child process, so its peak resident memory is its own.
//
//   AdvancedDumpBench [--port P] [--rounds R]
//
// Uses the table DumpBench creates (e1_bench.mixed on test server A, 127.0.0.1:33901,
// root/brevanto); run DumpBench once first. Default: 1 round.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engines/BackupToFilesRoutine.h"
#include "engines/MySqlConnection.h"
#include "tasks/AdvancedOptions.h"

namespace {

using namespace brevanto;

const char* kDatabase = "e1_bench";
const char* kTable = "mixed";

std::uintmax_t FolderBytes(const std::string& folder) {
  std::uintmax_t bytes = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  return bytes;
}

Measure RunOurs(unsigned port, const std::string& folder, const CAdvancedOptions* advanced) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  CTaskItem task;
  task.TaskName = "bench";
  task.SourceServer.Host = "127.0.0.1";
  task.SourceServer.Port = port;
  task.SourceServer.UserName = "root";
  task.SourceServer.Password = "brevanto";
  task.BackupSettings.FileMode = 1;
  task.BackupSettings.SameFilePath = folder + "brevanto.sql";
  task.BackupDatabases = {DatabaseItem{1, kDatabase, {{1, 1, kDatabase, kTable}}}};
  if (advanced != nullptr) SetAdvancedOptions(task, *advanced);
  Measure m = InChild([&] {
    BenchRunContext context(task);
    return RunBackupToFiles(context, "") == RunOutcome::Finished ? 0 : 1;
  });
  m.bytes = FolderBytes(folder);
  return m;
}

Measure RunTool(const std::string& folder, std::vector<std::string> arguments, bool toStdout) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  Measure m = InChild([&] {
    if (toStdout) {
      const int fd = open((folder + "dump.sql").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd < 0 || dup2(fd, 1) < 0) return 1;
    }
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    return 127;
  });
  m.bytes = FolderBytes(folder);
  return m;
}

}  // namespace

int main(int argc, char* argv[]) {
  unsigned port = 33901;
  int rounds = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--port") port = static_cast<unsigned>(std::stoul(value));
    if (arg == "--rounds") rounds = std::stoi(value);
  }
  InitMySqlLibrary();
  const std::string base = std::filesystem::temp_directory_path().string() +
                           "/brevanto-advanced-bench-" + std::to_string(getpid()) + "/";
  const std::string portText = std::to_string(port);

  CAdvancedOptions plain;  // the advanced defaults: snapshot, objects, no compression
  CAdvancedOptions zstd = plain;
  zstd.Compression = Compression::Zstd;
  CAdvancedOptions gzip = plain;
  gzip.Compression = Compression::Gzip;
  auto mydumper = [&](const char* threads) {
    return std::vector<std::string>{"mydumper", "-h", "127.0.0.1", "-P", portText, "-u", "root",
                                    "-p", "brevanto", "-B", kDatabase, "-T",
                                    std::string(kDatabase) + "." + kTable, "-t", threads,
                                    "--trx-consistency-only", "-o", base + "side"};
  };
  struct Side {
    const char* name;
    std::function<Measure()> run;
  };
  const std::vector<Side> sides = {
      {"brevanto, classic", [&] { return RunOurs(port, base + "side/", nullptr); }},
      {"brevanto, advanced", [&] { return RunOurs(port, base + "side/", &plain); }},
      {"brevanto, zstd", [&] { return RunOurs(port, base + "side/", &zstd); }},
      {"brevanto, gzip", [&] { return RunOurs(port, base + "side/", &gzip); }},
      {"mariadb-dump", [&] {
         return RunTool(base + "side/",
                        {"mariadb-dump", "--no-defaults", "--protocol=TCP", "--host=127.0.0.1",
                         "--port=" + portText, "--user=root", "--password=brevanto",
                         "--single-transaction", kDatabase, kTable},
                        true);
       }},
      {"mydumper -t 1", [&] { return RunTool(base + "side", mydumper("1"), false); }},
      {"mydumper -t 2", [&] { return RunTool(base + "side", mydumper("2"), false); }},
  };
  std::map<std::string, std::vector<double>> seconds;
  std::map<std::string, Measure> last;
  for (int round = 0; round < rounds; ++round) {
    for (const Side& side : sides) {
      const Measure m = side.run();
      if (!m.ok) {
        std::fprintf(stderr, "%s failed\n", side.name);
        return 1;
      }
      std::printf("round %d %-20s %6.2f s (user %.2f s, system %.2f s)  peak %6ld KB  %ju bytes\n",
                  round + 1, side.name, m.seconds, m.userSeconds, m.systemSeconds, m.peakKB,
                  m.bytes);
      seconds[side.name].push_back(m.seconds);
      last[side.name] = m;
    }
  }
  const double classic = Median(seconds["brevanto, classic"]);
  std::printf("\nmedians (ratio to brevanto, classic):\n");
  for (const Side& side : sides) {
    const double median = Median(seconds[side.name]);
    std::printf("%-20s %6.2f s  %5.2f  peak %6ld KB  %ju bytes\n", side.name, median,
                median / classic, last[side.name].peakKB, last[side.name].bytes);
  }
  std::filesystem::remove_all(base);
  return 0;
}
