// The fast options against the stock tools on the same servers in the same run, 1,000,000
// rows in four tables of one database:
//   dump:    ours (one file per table, advanced defaults) with 1 and 2 threads, plain and
//            zstd, against mariadb-dump --single-transaction and mydumper -t 1 / -t 2;
//            and zstd encrypted to an age key, beside the same dump unencrypted (the first
//            encrypted dump is opened once with the stock `age -d | zstd -d`, untimed);
//   copy:    ours (BackupToServer, advanced defaults, and with 1 thread) against
//            mariadb-dump | mariadb, with both servers' CPU seconds;
//   restore: ours of our own 2-thread dump against myloader -t 1 / -t 2 of mydumper's.
// Every side runs in a child process, so its wall time and peak memory are its own; the
// restores also show the CPU seconds the destination server spent on them.
//
//   FastPathBench [--rounds R] [--rows N] [--only dump|copy|restore]
//
// Needs the plain test servers A (source) and B (destination) of
// tests/mariadb/testservers.sh, whose ports follow BREVANTO_TEST_PORT_BASE. The source
// database e14_bench is created once and kept. Default: 1 round.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "core/Age.h"
#include "engines/BackupToFilesRoutine.h"
#include "engines/MySqlConnection.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/ServerCopyWorker.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/EncryptionOptions.h"

namespace {

using namespace brevanto;

const char* kDatabase = "e14_bench";
constexpr int kTables = 4;

const unsigned kPortA = BenchPortBase() + 1;
const unsigned kPortB = BenchPortBase() + 2;

std::string Client(unsigned port) {
  return "mariadb --no-defaults -h127.0.0.1 -P" + std::to_string(port) + " -uroot -pbrevanto";
}

bool Shell(const std::string& command) {
  if (std::system(command.c_str()) == 0) return true;
  std::fprintf(stderr, "failed: %s\n", command.c_str());
  return false;
}

std::string TableName(int i) { return "t" + std::to_string(i + 1); }

// Four tables of typical columns, about 90 bytes of text per row; made once.
bool PrepareSource(long rows) {
  std::string sql = std::string("CREATE DATABASE IF NOT EXISTS ") + kDatabase + "; USE " +
                    kDatabase + ";";
  const long perTable = rows / kTables;
  for (int i = 0; i < kTables; ++i) {
    const std::string t = TableName(i);
    sql += " CREATE TABLE IF NOT EXISTS " + t +
           " (id INT PRIMARY KEY, name VARCHAR(40), amount DECIMAL(12,2), created DATETIME,"
           " note TEXT) ENGINE=InnoDB;"
           " INSERT IGNORE INTO " + t + " SELECT seq, CONCAT('customer ', seq), seq / 100,"
           " '2006-03-07 09:05:00' + INTERVAL seq SECOND,"
           " IF(seq % 7 = 0, NULL, CONCAT('note ''', seq, ''' line\\nsecond line'))"
           " FROM seq_1_to_" + std::to_string(perTable) + "; DELETE FROM " + t +
           " WHERE id > " + std::to_string(perTable) + ";";
  }
  return Shell(Client(kPortA) + " -e \"" + sql + "\"");
}

void DropOnB() { (void)Shell(Client(kPortB) + " -e 'DROP DATABASE IF EXISTS " + kDatabase + "'"); }

std::uintmax_t FolderBytes(const std::string& folder) {
  std::uintmax_t bytes = 0;
  if (!std::filesystem::exists(folder)) return 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  return bytes;
}

DatabaseItem Selection() {
  DatabaseItem database{1, kDatabase, {}};
  for (int i = 0; i < kTables; ++i) database.Tables.push_back({1, 1, kDatabase, TableName(i)});
  return database;
}

Measure OurDump(const std::string& folder, const CAdvancedOptions& advanced,
                const std::vector<std::string>& recipients = {}) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  CTaskItem task;
  task.TaskName = "bench";
  task.SourceServer = BenchServer(kPortA);
  task.BackupSettings.FileMode = 2;
  task.BackupSettings.FileGrouping = 3;
  task.BackupSettings.BackupFolder = folder;
  task.BackupSettings.FileNameFormat = "%DATABASE%_%TABLE%";
  task.BackupDatabases = {Selection()};
  SetAdvancedOptions(task, advanced);
  SetEncryptionOptions(task, {recipients, ""});
  Measure m = InChild([&] {
    BenchRunContext context(task);
    return RunBackupToFiles(context, "") == RunOutcome::Finished ? 0 : 1;
  });
  m.bytes = FolderBytes(folder);
  return m;
}

Measure OurCopy(const CAdvancedOptions& advanced) {
  DropOnB();
  CTaskItem task;
  task.TaskName = "bench";
  task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToServer);
  task.SourceServer = BenchServer(kPortA);
  task.DestinationServer = BenchServer(kPortB);
  task.BackupDatabases = {Selection()};
  SetAdvancedOptions(task, advanced);
  return InChild([&] {
    BenchRunContext context(task);
    return ServerCopyWorker(context) == RunOutcome::Finished ? 0 : 1;
  });
}

Measure OurRestore(const std::string& folder) {
  DropOnB();
  CTaskItem task;
  task.TaskName = "bench";
  task.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
  task.DestinationServer = BenchServer(kPortB);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) task.RestoreFiles.push_back({0, file, file, 0, {}});
  SetAdvancedOptions(task, CAdvancedOptions{});
  return InChild([&] {
    BenchRunContext context(task);
    return RestoreFilesWorker(context) == RunOutcome::Finished ? 0 : 1;
  });
}

// Every ".age" file of an encrypted dump in `folder` must open with the stock tools to
// the same SQL as the unencrypted zstd dump of the same tables in `plainFolder` (the run
// time is fixed, so the texts are equal byte for byte). Prints the SQL bytes compared.
bool OpensWithStockTools(const std::string& folder, const std::string& plainFolder,
                         const std::string& keyFile) {
  std::uintmax_t sqlBytes = 0;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string file = entry.path().string();
    if (!file.ends_with(".age")) continue;
    ++files;
    const std::string plain = plainFolder + entry.path().stem().string();
    // bash for pipefail: a failed `age -d` must not pass as a short text.
    if (!Shell("bash -o pipefail -c \"age -d -i '" + keyFile + "' '" + file +
               "' | zstd -d -q -c | cmp - <(zstd -d -q -c '" + plain + "')\"")) {
      return false;
    }
    FILE* count = popen(("zstd -d -q -c '" + plain + "' | wc -c").c_str(), "r");
    unsigned long long bytes = 0;
    if (count == nullptr || std::fscanf(count, "%llu", &bytes) != 1) bytes = 0;
    if (count != nullptr) pclose(count);
    sqlBytes += bytes;
  }
  std::printf(
      "check: %d encrypted files open with age -d | zstd -d to the plain dump's %ju "
      "bytes of SQL\n",
      files, sqlBytes);
  return files > 0;
}

// A stock tool: `command` through the shell, with `folder` made empty first.
Measure Tool(const std::string& folder, const std::string& command) {
  if (!folder.empty()) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  Measure m = InChild([&] {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    return 127;
  });
  if (!folder.empty()) m.bytes = FolderBytes(folder);
  return m;
}

// CPU seconds the server on `port` (on this machine) has used so far; -1 when unknown.
// A restore's wall time on a shared machine swings with the load; the server's own
// work does not, and it is where a restore's time goes.
double ServerCpuSeconds(unsigned port) {
  const std::string command = Client(port) + " -N -e 'SELECT @@pid_file' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char path[4096] = {};
  const bool read = std::fgets(path, sizeof path, pipe) != nullptr;
  pclose(pipe);
  if (!read) return -1;
  std::string pidFile = path;
  while (!pidFile.empty() && (pidFile.back() == '\n' || pidFile.back() == '\r')) pidFile.pop_back();
  long pid = 0;
  if (FILE* file = std::fopen(pidFile.c_str(), "r")) {
    if (std::fscanf(file, "%ld", &pid) != 1) pid = 0;
    std::fclose(file);
  }
  if (pid <= 0) return -1;
  FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (stat == nullptr) return -1;
  char text[1024] = {};
  const std::size_t size = std::fread(text, 1, sizeof text - 1, stat);
  std::fclose(stat);
  // Fields after the command's closing parenthesis: state is 3rd, utime 14th, stime 15th.
  const char* rest = std::strrchr(text, ')');
  if (rest == nullptr || size == 0) return -1;
  unsigned long long user = 0, system = 0;
  if (std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                  &system) != 2) {
    return -1;
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string Login(unsigned port) {
  return " -h 127.0.0.1 -P " + std::to_string(port) + " -u root -p brevanto";
}

}  // namespace

int main(int argc, char* argv[]) {
  int rounds = 1;
  long rows = 1000000;
  std::string only;  // one group: "dump", "copy" or "restore"
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--rounds") rounds = std::stoi(value);
    if (arg == "--rows") rows = std::stol(value);
    if (arg == "--only") only = value;
  }
  InitMySqlLibrary();
  if (!PrepareSource(rows)) return 1;
  const std::string base = std::filesystem::temp_directory_path().string() +
                           "/brevanto-fast-bench-" + std::to_string(getpid()) + "/";
  const std::string ours = base + "ours/";    // our 2-thread dump, restored below
  const std::string theirs = base + "mydumper";  // mydumper's 2-thread dump, for myloader
  const std::string scratch = base + "scratch/";

  CAdvancedOptions one;
  one.Threads = 1;
  CAdvancedOptions two;  // the defaults: 2 threads, 1 MB statements, snapshot, objects
  CAdvancedOptions oneZstd = one;
  oneZstd.Compression = Compression::Zstd;
  CAdvancedOptions twoZstd = two;
  twoZstd.Compression = Compression::Zstd;
  // A fresh key each run; only the sanity check reads the identity file.
  const AgeIdentity identity = GenerateAgeIdentity();
  const std::vector<std::string> recipients = {identity.Recipient().Text()};
  const std::string keyFile = base + "key.txt";
  std::filesystem::create_directories(base);
  {
    const std::string text = AgeIdentityFileText(identity, "2026-12-08T00:00:00Z");
    const int fd = open(keyFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const bool written =
        fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0 && close(fd) != 0) return 1;
    if (!written) return 1;
  }
  bool checked = false;
  auto encryptedDump = [&](const CAdvancedOptions& advanced) {
    const Measure m = OurDump(scratch, advanced, recipients);
    if (!m.ok || checked) return m;
    checked = true;
    const std::string plainFolder = base + "plain/";
    Measure opened = m;
    opened.ok =
        OurDump(plainFolder, advanced).ok && OpensWithStockTools(scratch, plainFolder, keyFile);
    std::filesystem::remove_all(plainFolder);
    return opened;
  };
  const std::string dumpTool = "mariadb-dump --no-defaults --protocol=TCP --host=127.0.0.1 "
                               "--port=" + std::to_string(kPortA) +
                               " --user=root --password=brevanto --single-transaction";
  auto mydumper = [&](const char* threads, const std::string& folder) {
    // mydumper 0.10 matches -T against bare table names of -B: the whole database it is.
    return "mydumper" + Login(kPortA) + " -B " + kDatabase + " -t " + threads +
           " --trx-consistency-only -o " + folder;
  };
  auto myloader = [&](const char* threads) {
    return "myloader" + Login(kPortB) + " -B " + kDatabase + " -t " + threads +
           " --overwrite-tables -d " + theirs;
  };

  struct Side {
    const char* group;
    const char* name;
    std::function<Measure()> run;
  };
  const std::vector<Side> sides = {
      {"dump", "brevanto, 1 thread", [&] { return OurDump(scratch, one); }},
      {"dump", "brevanto, 2 threads", [&] { return OurDump(ours, two); }},
      {"dump", "brevanto zstd, 1 thread", [&] { return OurDump(scratch, oneZstd); }},
      {"dump", "brevanto zstd, 2 threads", [&] { return OurDump(scratch, twoZstd); }},
      {"dump", "brevanto zstd+age, 1 thread", [&] { return encryptedDump(oneZstd); }},
      {"dump", "brevanto zstd+age, 2 threads", [&] { return encryptedDump(twoZstd); }},
      {"dump", "mariadb-dump",
       [&] { return Tool(scratch, dumpTool + " " + kDatabase + " > " + scratch + "dump.sql"); }},
      {"dump", "mydumper -t 1", [&] { return Tool(scratch, mydumper("1", scratch)); }},
      {"dump", "mydumper -t 2", [&] { return Tool(theirs, mydumper("2", theirs)); }},
      {"copy", "brevanto copy", [&] { return OurCopy(two); }},
      {"copy", "brevanto copy, 1 thread", [&] { return OurCopy(one); }},
      {"copy", "mariadb-dump | mariadb",
       [&] {
         DropOnB();
         return Tool("", dumpTool + " --databases " + kDatabase + " | " + Client(kPortB));
       }},
      {"restore", "brevanto restore", [&] { return OurRestore(ours); }},
      {"restore", "myloader -t 1",
       [&] {
         DropOnB();
         return Tool("", myloader("1"));
       }},
      {"restore", "myloader -t 2",
       [&] {
         DropOnB();
         return Tool("", myloader("2"));
       }},
  };
  std::map<std::string, std::vector<double>> seconds;
  std::map<std::string, Measure> last;
  // The restores read the two-thread dumps, so those run with them.
  auto wanted = [&](const Side& side) {
    if (only.empty() || only == side.group) return true;
    const std::string name = side.name;
    return only == "restore" && (name == "brevanto, 2 threads" || name == "mydumper -t 2");
  };
  // Each round starts a group at a different side, so no side always runs right after
  // the same other one (whose background flushing it would pay for).
  auto roundOrder = [&](int round) {
    std::vector<const Side*> order;
    for (std::size_t begin = 0; begin < sides.size();) {
      std::size_t end = begin;
      while (end < sides.size() && std::string(sides[end].group) == sides[begin].group) ++end;
      const std::size_t count = end - begin;
      for (std::size_t i = 0; i < count; ++i) {
        order.push_back(&sides[begin + (i + static_cast<std::size_t>(round)) % count]);
      }
      begin = end;
    }
    return order;
  };
  for (int round = 0; round < rounds; ++round) {
    for (const Side* current : roundOrder(round)) {
      const Side& side = *current;
      if (!wanted(side)) continue;
      const bool restore = std::string(side.group) == "restore";
      // A copy's time goes to both servers.
      const bool copy = std::string(side.group) == "copy";
      const double serverBefore = restore || copy ? ServerCpuSeconds(kPortB) : -1;
      const double sourceBefore = copy ? ServerCpuSeconds(kPortA) : -1;
      const Measure m = side.run();
      if (!m.ok) {
        std::fprintf(stderr, "%s failed\n", side.name);
        return 1;
      }
      const double serverAfter = restore || copy ? ServerCpuSeconds(kPortB) : -1;
      const double sourceAfter = copy ? ServerCpuSeconds(kPortA) : -1;
      std::printf(
          "round %d %-8s %-28s %7.2f s (user %.2f s, system %.2f s)  peak %7ld KB  %ju bytes",
          round + 1, side.group, side.name, m.seconds, m.userSeconds, m.systemSeconds, m.peakKB,
          m.bytes);
      if (serverBefore >= 0 && serverAfter >= 0) {
        std::printf("  server CPU %.2f s", serverAfter - serverBefore);
      }
      if (sourceBefore >= 0 && sourceAfter >= 0) {
        std::printf(" (source %.2f s)", sourceAfter - sourceBefore);
      }
      std::printf("\n");
      std::fflush(stdout);
      seconds[side.name].push_back(m.seconds);
      const long highest = std::max(last[side.name].peakKB, m.peakKB);
      last[side.name] = m;
      last[side.name].peakKB = highest;  // the medians line shows the highest peak of all rounds
    }
  }
  std::printf("\nmedians:\n");
  for (const Side& side : sides) {
    if (!wanted(side)) continue;
    std::printf("%-8s %-28s %7.2f s  peak %7ld KB  %ju bytes\n", side.group, side.name,
                Median(seconds[side.name]), last[side.name].peakKB, last[side.name].bytes);
  }
  auto ratio = [&](const char* a, const char* b) {
    if (seconds[a].empty() || seconds[b].empty()) return;
    std::printf("%-28s / %-28s %5.2f\n", a, b, Median(seconds[a]) / Median(seconds[b]));
  };
  std::printf("\nratios of medians:\n");
  ratio("brevanto, 1 thread", "mariadb-dump");
  ratio("brevanto, 1 thread", "mydumper -t 1");
  ratio("brevanto, 2 threads", "mydumper -t 2");
  ratio("brevanto zstd, 1 thread", "brevanto, 1 thread");
  ratio("brevanto zstd, 2 threads", "brevanto, 2 threads");
  ratio("brevanto zstd+age, 1 thread", "brevanto zstd, 1 thread");
  ratio("brevanto zstd+age, 2 threads", "brevanto zstd, 2 threads");
  ratio("brevanto copy", "mariadb-dump | mariadb");
  ratio("brevanto copy, 1 thread", "mariadb-dump | mariadb");
  ratio("brevanto restore", "myloader -t 1");
  ratio("brevanto restore", "myloader -t 2");
  DropOnB();
  std::filesystem::remove_all(base);
  return 0;
}
