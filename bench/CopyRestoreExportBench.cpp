// The server-to-server copy, the SQL-file restore and the CSV export against the stock
// client tools on the same servers in the same run. Needs the two plain test servers
// (tests/mariadb/testservers.sh start <dir>): A on 127.0.0.1:33901 holds the source table,
// B on 33902 receives the copies (both moved by BREVANTO_TEST_PORT_BASE). BREVANTO_BENCH_ROWS
// changes the table's size (default 1,000,000 rows).
//
// Each benchmark's time is Brevanto's; `tool_s` is the tool's time on the same data just
// before, `vs_tool` the ratio of the two, and `peak_rss_mb` the process's peak resident
// memory during Brevanto's run. Run with --benchmark_repetitions=3 for medians.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "engines/BackupToFilesRoutine.h"
#include "engines/ExportWorker.h"
#include "engines/MySqlConnection.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/ServerCopyWorker.h"

namespace brevanto {
namespace {

// The test servers' ports move with BREVANTO_TEST_PORT_BASE, as testservers.sh moves them.
const unsigned kPortA = BenchPortBase() + 1;
const unsigned kPortB = BenchPortBase() + 2;

std::string Tool(const char* tool, unsigned port) {
  return std::string(tool) + " --no-defaults -h127.0.0.1 -P" + std::to_string(port) +
         " -uroot -pbrevanto";
}
const std::string kClientA = Tool("mariadb", kPortA);
const std::string kClientB = Tool("mariadb", kPortB);
const std::string kDumpA = Tool("mariadb-dump", kPortA);
const std::string kWorkDir = "/tmp/brevanto-e2-bench-" + std::to_string(BenchPortBase()) + "/";

long Rows() {
  const char* value = std::getenv("BREVANTO_BENCH_ROWS");
  return value != nullptr ? std::atol(value) : 1000000;
}

bool Shell(const std::string& command) {
  if (std::system(command.c_str()) == 0) return true;
  std::fprintf(stderr, "failed: %s\n", command.c_str());
  return false;
}

// The source table on A, made once: typical columns, about 90 bytes of text per row.
bool EnsureSourceTable() {
  static const bool ready = [] {
    const std::string rows = std::to_string(Rows());
    return Shell("mkdir -p " + kWorkDir) &&
           Shell(kClientA +
                 " -e \"CREATE DATABASE IF NOT EXISTS e2_bench; USE e2_bench;"
                 " CREATE TABLE IF NOT EXISTS t (id INT PRIMARY KEY, name VARCHAR(40),"
                 " amount DECIMAL(12,2), created DATETIME, note TEXT) ENGINE=InnoDB;"
                 " INSERT IGNORE INTO t SELECT seq, CONCAT('customer ', seq), seq / 100,"
                 " '2006-03-07 09:05:00' + INTERVAL seq SECOND,"
                 " IF(seq % 7 = 0, NULL, CONCAT('note ''', seq, ''' line\\nsecond line'))"
                 " FROM seq_1_to_" +
                 rows + "; DELETE FROM t WHERE id > " + rows + ";\"");
  }();
  return ready;
}

void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double PeakMemoryMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

double Seconds(const std::function<bool()>& work, bool& ok) {
  const auto start = std::chrono::steady_clock::now();
  ok = work() && ok;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One iteration runs the tool and then ours on the same data; the iteration's time is
// ours, `vs_tool` the ratio of the pair, so a load change between pairs cancels out.
// `prepare` runs untimed before each of the two.
void ComparePair(benchmark::State& state, const std::function<bool()>& prepare,
                 const std::function<bool()>& tool, const std::function<bool()>& ours) {
  for (auto _ : state) {
    bool ok = prepare();
    const double toolSeconds = Seconds(tool, ok);
    ok = prepare() && ok;
    ResetPeakMemory();
    const double oursSeconds = Seconds(ours, ok);
    if (!ok) state.SkipWithError("a run failed");
    state.SetIterationTime(oursSeconds);
    state.counters["tool_s"] = toolSeconds;
    state.counters["vs_tool"] = oursSeconds / toolSeconds;
    state.counters["peak_rss_mb"] = PeakMemoryMb();
  }
  state.counters["rows"] = static_cast<double>(Rows());
}

bool DropOnB() {
  return Shell(kClientB + " -e 'DROP DATABASE IF EXISTS e2_bench'");
}
bool Nothing() {
  return true;
}

// Copy in single-row mode against a dump without extended inserts piped into the client.
void BM_Copy(benchmark::State& state) {
  if (!EnsureSourceTable()) return state.SkipWithError("set-up failed");
  CTaskItem task;
  task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToServer);
  task.SourceServer = BenchServer(kPortA);
  task.DestinationServer = BenchServer(kPortB);
  task.BackupDatabases.push_back({1, "e2_bench", {{1, 1, "e2_bench", "t"}}});
  ComparePair(
      state, DropOnB,
      [] { return Shell(kDumpA + " --skip-extended-insert --databases e2_bench | " + kClientB); },
      [&] {
        BenchRunContext context(task);
        return ServerCopyWorker(context) == RunOutcome::Finished;
      });
}

// Our own dump of the table, written once with the default options.
bool EnsureDump() {
  static const bool ready = [] {
    CTaskItem task;
    task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    task.SourceServer = BenchServer(kPortA);
    task.BackupDatabases.push_back({1, "e2_bench", {{1, 1, "e2_bench", "t"}}});
    task.BackupSettings.FileMode = 1;
    task.BackupSettings.SameFilePath = kWorkDir + "dump.sql";
    BenchRunContext context(task);
    return EnsureSourceTable() && RunBackupToFiles(context, kWorkDir) == RunOutcome::Finished;
  }();
  return ready;
}

// A restore task of the work folder's `file` against the client reading the same file.
void ComparePairRestore(benchmark::State& state, const std::string& file) {
  CTaskItem task;
  task.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
  task.DestinationServer = BenchServer(kPortB);
  task.RestoreFiles.push_back({0, file, kWorkDir + file, 0, {}});
  ComparePair(
      state, DropOnB, [&] { return Shell(kClientB + " < " + kWorkDir + file); },
      [&] {
        BenchRunContext context(task);
        return RestoreFilesWorker(context) == RunOutcome::Finished;
      });
}

// Restore of our dump.
void BM_Restore(benchmark::State& state) {
  if (!EnsureDump()) return state.SkipWithError("set-up failed");
  ComparePairRestore(state, "dump.sql");
}

// Restore of the stock dump tool's extended-insert dump.
void BM_RestoreStockDump(benchmark::State& state) {
  static const bool ready =
      EnsureSourceTable() && Shell(kDumpA + " --databases e2_bench > " + kWorkDir + "stock.sql");
  if (!ready) return state.SkipWithError("set-up failed");
  ComparePairRestore(state, "stock.sql");
}

// CSV export against the client's batch output of the same SELECT.
void BM_ExportCsv(benchmark::State& state) {
  if (!EnsureSourceTable()) return state.SkipWithError("set-up failed");
  CTaskItem task;
  task.TaskType = static_cast<std::uint8_t>(TaskType::ExportToFiles);
  task.SourceServer = BenchServer(kPortA);
  task.ExportTables.push_back({0, 1, "e2_bench", "t"});
  task.ExportSettings = {1, kWorkDir, ",", "\"", "\\", "\r\n", 1};
  ComparePair(
      state, Nothing,
      [] {
        return Shell(kClientA + " --batch -e 'SELECT * FROM e2_bench.t' > " + kWorkDir +
                     "tool.txt");
      },
      [&] {
        BenchRunContext context(task);
        return ExportWorker(context, kWorkDir) == RunOutcome::Finished;
      });
}

BENCHMARK(BM_Copy)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Restore)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_RestoreStockDump)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_ExportCsv)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace brevanto

int main(int argc, char** argv) {
  brevanto::InitMySqlLibrary();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
