// The dump writer against the stock dump client on the same table of the same server:
// wall time and peak memory of `brevanto` (a BackupToFiles run with the default options)
// and of `mariadb-dump --skip-extended-insert` (one INSERT per row, as ours writes).
// Each side runs in a child process, so its peak resident memory is its own.
//
//   DumpBench [--host H] [--port P] [--user U] [--password W] [--rows N] [--rounds R]
//
// Defaults: test server A (127.0.0.1:33901, root/brevanto), 1,000,000 rows, 3 rounds.
// The table e1_bench.mixed is created once and kept for later runs.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engines/BackupToFilesRoutine.h"
#include "engines/MySqlConnection.h"

namespace {

using namespace brevanto;

struct Options {
  std::string host = "127.0.0.1";
  unsigned port = 33901;
  std::string user = "root";
  std::string password = "brevanto";
  long rows = 1000000;
  int rounds = 3;
};

const char* kDatabase = "e1_bench";
const char* kTable = "mixed";

CServerInfo Server(const Options& o) {
  CServerInfo server;
  server.Host = o.host;
  server.Port = o.port;
  server.UserName = o.user;
  server.Password = o.password;
  return server;
}

bool Execute(CMySQLConnection& connection, const std::string& sql) {
  if (connection.Execute(sql)) return true;
  std::fprintf(stderr, "%s: %s\n", sql.c_str(), connection.LastError().Text.c_str());
  return false;
}

long CountRows(CMySQLConnection& connection) {
  if (!connection.Execute(std::string("SELECT COUNT(*) FROM ") + kDatabase + "." + kTable))
    return -1;
  MySqlResult result(mysql_store_result(connection.Handle()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  return row != nullptr && row[0] != nullptr ? std::atol(row[0]) : -1;
}

// Integers of three widths, a decimal, a double, a date-time, short and longer text with
// quotes to escape, a small blob and NULLs.
bool PrepareTable(const Options& o) {
  CMySQLConnection connection;
  MySqlError error;
  if (!ConnectServer(Server(o), connection, error)) {
    std::fprintf(stderr, "cannot connect: %u %s\n", error.Number, error.Text.c_str());
    return false;
  }
  if (CountRows(connection) == o.rows) return true;
  std::printf("creating %s.%s with %ld rows...\n", kDatabase, kTable, o.rows);
  return Execute(connection, std::string("DROP DATABASE IF EXISTS ") + kDatabase) &&
         Execute(connection, std::string("CREATE DATABASE ") + kDatabase) &&
         Execute(connection, std::string("USE ") + kDatabase) &&
         Execute(connection, std::string("CREATE TABLE ") + kTable +
                                 " (id INT NOT NULL PRIMARY KEY, small SMALLINT, big BIGINT, "
                                 "price DECIMAL(12,2), ratio DOUBLE, created DATETIME, "
                                 "name VARCHAR(64), note TEXT, data BLOB) ENGINE=InnoDB") &&
         Execute(connection,
                 std::string("INSERT INTO ") + kTable +
                     " SELECT seq, seq % 32000, seq * 7919, seq / 100, seq / 7, "
                     "'2020-01-01' + INTERVAL seq SECOND, CONCAT('name ', seq, ' O''Brien'), "
                     "IF(seq % 5 = 0, NULL, REPEAT(CONCAT('note ', seq, ' \\\\ '), 3)), "
                     "IF(seq % 3 = 0, NULL, UNHEX(MD5(seq))) FROM seq_1_to_" +
                     std::to_string(o.rows));
}

Measure RunOurs(const Options& o, const std::string& folder) {
  CTaskItem task;
  task.TaskName = "bench";
  task.SourceServer = Server(o);
  task.BackupSettings.FileMode = 1;
  task.BackupSettings.SameFilePath = folder + "brevanto.sql";
  DatabaseItem database{1, kDatabase, {{1, 1, kDatabase, kTable}}};
  task.BackupDatabases = {database};
  Measure m = InChild([&] {
    BenchRunContext context(task);
    return RunBackupToFiles(context, "") == RunOutcome::Finished ? 0 : 1;
  });
  m.bytes = std::filesystem::file_size(task.BackupSettings.SameFilePath);
  return m;
}

Measure RunTheirs(const Options& o, const std::string& folder) {
  const std::string out = folder + "mariadb-dump.sql";
  Measure m = InChild([&] {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, 1) < 0) return 1;
    const std::string host = "--host=" + o.host, port = "--port=" + std::to_string(o.port),
                      user = "--user=" + o.user, password = "--password=" + o.password;
    execlp("mariadb-dump", "mariadb-dump", "--no-defaults", "--protocol=TCP", host.c_str(),
           port.c_str(), user.c_str(), password.c_str(), "--skip-extended-insert", kDatabase,
           kTable, static_cast<char*>(nullptr));
    return 127;
  });
  m.bytes = std::filesystem::file_size(out);
  return m;
}

}  // namespace

int main(int argc, char* argv[]) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--host")
      o.host = value;
    else if (arg == "--port")
      o.port = static_cast<unsigned>(std::stoul(value));
    else if (arg == "--user")
      o.user = value;
    else if (arg == "--password")
      o.password = value;
    else if (arg == "--rows")
      o.rows = std::stol(value);
    else if (arg == "--rounds")
      o.rounds = std::stoi(value);
  }
  InitMySqlLibrary();
  if (!PrepareTable(o)) return 1;
  const std::string folder = std::filesystem::temp_directory_path().string() + "/brevanto-bench-" +
                             std::to_string(getpid()) + "/";
  std::filesystem::create_directories(folder);

  std::vector<double> ours, theirs;
  long oursPeak = 0, theirsPeak = 0;
  std::uintmax_t oursBytes = 0, theirsBytes = 0;
  for (int round = 0; round < o.rounds; ++round) {
    // Alternate the order so neither side always finds a warmer cache.
    for (int side = 0; side < 2; ++side) {
      const bool oursNow = (side == 0) == (round % 2 == 0);
      const Measure m = oursNow ? RunOurs(o, folder) : RunTheirs(o, folder);
      if (!m.ok) {
        std::fprintf(stderr, "%s failed\n", oursNow ? "brevanto" : "mariadb-dump");
        return 1;
      }
      std::printf("round %d %-12s %6.2f s (user %.2f s, system %.2f s)  peak %6ld KB  %ju bytes\n",
                  round + 1, oursNow ? "brevanto" : "mariadb-dump", m.seconds, m.userSeconds,
                  m.systemSeconds, m.peakKB, m.bytes);
      (oursNow ? ours : theirs).push_back(m.seconds);
      long& peak = oursNow ? oursPeak : theirsPeak;
      peak = std::max(peak, m.peakKB);
      (oursNow ? oursBytes : theirsBytes) = m.bytes;
    }
  }
  const double ratio = Median(ours) / Median(theirs);
  std::printf(
      "\n%ld rows: brevanto %.2f s (peak %ld KB, %ju bytes), mariadb-dump "
      "--skip-extended-insert %.2f s (peak %ld KB, %ju bytes); ratio %.2f\n",
      o.rows, Median(ours), oursPeak, oursBytes, Median(theirs), theirsPeak, theirsBytes, ratio);
  std::filesystem::remove_all(folder);
  return 0;
}
