// Off-site upload: the same backup (a folder of files of incompressible data, 1 GB by
// default) sent through each of our stores beside `rclone copy` of the same folder to the
// same place, in the same run:
//   local: our rclone store with a local-folder remote, against `rclone copy` to that remote.
// Ours uploads one file at a time and four at a time, beside `rclone copy --transfers 1`
// and `rclone copy` (four at a time, its default).
// Every side runs in a child process, so its wall time and peak memory are its own; for our
// side the peak of our process is shown apart from the peak with the rclone it runs.
//
//   RemoteBench [--rounds R] [--files N] [--file-mb M] [--only local]
//
// The data is made once under $TMPDIR/brevanto-remote-bench/backup-<N>x<M>MB/ and kept;
// what a side uploaded is removed before the next one.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "remote/RemoteCatalogue.h"
#include "remote/RemoteStore.h"

namespace {

using namespace brevanto;
namespace fs = std::filesystem;

const std::string kCopy = "2026-12-08_03-00";

std::uintmax_t FolderBytes(const std::string& folder) {
  std::uintmax_t bytes = 0;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  return bytes;
}

// `files` files of `megabytes` MB of random bytes in `backup`/<copy>/db/, made once.
bool MakeBackup(const std::string& backup, int files, int megabytes,
                std::vector<std::string>& paths) {
  const std::string folder = backup + kCopy + "/db/";
  fs::create_directories(folder);
  std::mt19937_64 random(42);
  std::vector<std::uint64_t> block(1 << 17);  // 1 MB
  for (int i = 0; i < files; ++i) {
    const std::string path = folder + "t" + std::to_string(i + 1) + ".sql.zst";
    paths.push_back(path);
    const auto size = static_cast<std::uintmax_t>(megabytes) << 20;
    std::error_code error;
    if (fs::file_size(path, error) == size) continue;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    for (int mb = 0; mb < megabytes; ++mb) {
      for (std::uint64_t& word : block) word = random();
      const auto length = static_cast<ssize_t>(block.size() * sizeof(std::uint64_t));
      if (write(fd, block.data(), static_cast<std::size_t>(length)) != length) {
        close(fd);
        return false;
      }
    }
    if (close(fd) != 0) return false;
  }
  return true;
}

struct Result {
  Measure measure;
  long selfPeakKB = 0;  // our process alone; 0 for a stock tool
};

// Our store uploads the files as the upload step would, `atOnce` at a time.
Result OurUpload(const RemoteOptions& options, const std::string& backup,
                 const std::vector<std::string>& paths, int atOnce) {
  int report[2] = {-1, -1};
  if (pipe(report) != 0) return {};
  Result result;
  result.measure = InChild([&] {
    close(report[0]);
    TransferControl control;
    std::unique_ptr<RemoteStore> store;
    Status status = MakeRemoteStore(options, control, store);
    if (!status.ok()) {
      std::fprintf(stderr, "error: %s\n", status.message().c_str());
      return 1;
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> workers;
    for (int i = 0; i < atOnce; ++i) {
      workers.emplace_back([&] {
        for (std::size_t k; !failed && (k = next++) < paths.size();) {
          const Status put = store->PutFile(paths[k], RemoteNameOf(backup, paths[k]));
          if (!put.ok()) {
            std::fprintf(stderr, "error: %s\n", put.message().c_str());
            failed = true;
          }
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
    if (failed) return 1;
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const long peak = self.ru_maxrss;
    return write(report[1], &peak, sizeof peak) == sizeof peak ? 0 : 1;
  });
  close(report[1]);
  if (read(report[0], &result.selfPeakKB, sizeof result.selfPeakKB) != sizeof result.selfPeakKB) {
    result.measure.ok = false;
  }
  close(report[0]);
  return result;
}

// `rclone copy` with its default of 4 files at a time, or `transfers`.
Result RcloneCopy(const std::string& backup, const std::string& destination,
                  const char* transfers = nullptr) {
  Result result;
  result.measure = InChild([&] {
    if (transfers != nullptr) {
      execlp("rclone", "rclone", "copy", "--transfers", transfers, backup.c_str(),
             destination.c_str(), static_cast<char*>(nullptr));
    } else {
      execlp("rclone", "rclone", "copy", backup.c_str(), destination.c_str(),
             static_cast<char*>(nullptr));
    }
    return 127;
  });
  return result;
}

struct Side {
  const char* target;
  const char* name;
  std::function<Result()> run;
  std::string landed;  // the folder the side's copy lands in, to count and remove
};

}  // namespace

int main(int argc, char* argv[]) {
  int rounds = 1, files = 8, megabytes = 128;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--rounds") rounds = std::stoi(value);
    if (arg == "--files") files = std::stoi(value);
    if (arg == "--file-mb") megabytes = std::stoi(value);
    if (arg == "--only") only = value;
  }
  const std::string base = fs::temp_directory_path().string() + "/brevanto-remote-bench/";
  // One folder per shape, so that `rclone copy` of it sends just these files.
  const std::string backup =
      base + "backup-" + std::to_string(files) + "x" + std::to_string(megabytes) + "MB/";
  std::vector<std::string> paths;
  if (!MakeBackup(backup, files, megabytes, paths)) {
    std::fprintf(stderr, "cannot write the backup under %s\n", backup.c_str());
    return 1;
  }
  const std::uintmax_t total = FolderBytes(backup);

  // rclone's remotes for this run only.
  const std::string config = base + "rclone.conf";
  {
    const std::string text = "[bench]\ntype = local\n";
    const int fd = open(config.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool written =
        fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd < 0 || close(fd) != 0 || !written) return 1;
  }
  setenv("RCLONE_CONFIG", config.c_str(), 1);

  RemoteOptions local;
  local.Kind = RemoteKind::Rclone;
  local.RcloneRemote = "bench";
  local.Path = base + "local-ours";

  const std::vector<Side> sides = {
      {"local", "brevanto, 1 at a time", [&] { return OurUpload(local, backup, paths, 1); },
       base + "local-ours"},
      {"local", "rclone copy --transfers 1",
       [&] { return RcloneCopy(backup, "bench:" + base + "local-rclone", "1"); },
       base + "local-rclone"},
      {"local", "brevanto, 4 at a time", [&] { return OurUpload(local, backup, paths, 4); },
       base + "local-ours"},
      {"local", "rclone copy", [&] { return RcloneCopy(backup, "bench:" + base + "local-rclone"); },
       base + "local-rclone"},
  };
  // Ours against rclone at the same number of files at a time.
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"local brevanto, 1 at a time", "local rclone copy --transfers 1"},
      {"local brevanto, 4 at a time", "local rclone copy"},
  };

  std::printf("%d files, %ju bytes\n", files, total);
  std::map<std::string, std::vector<double>> seconds;
  std::map<std::string, Result> highest;
  // Ours over rclone's within each round: sides that ran one after the other met the same
  // load, which on a shared machine swings more than the sides differ.
  std::map<std::string, std::vector<double>> roundRatios;
  for (int round = 0; round < rounds; ++round) {
    std::map<std::string, double> roundSeconds;
    // Every other round starts with rclone, so neither side always meets a warm cache.
    for (std::size_t k = 0; k < sides.size(); ++k) {
      const Side& side = sides[round % 2 == 0 ? k : sides.size() - 1 - k];
      if (!only.empty() && only != side.target) continue;
      fs::remove_all(side.landed);
      sync();  // what the side before wrote goes to the disk on nobody's time
      const Result result = side.run();
      const std::uintmax_t landed = FolderBytes(side.landed);
      fs::remove_all(side.landed);
      if (!result.measure.ok || landed != total) {
        std::fprintf(stderr, "%s %s failed (%ju of %ju bytes landed)\n", side.target, side.name,
                     landed, total);
        return 1;
      }
      const Measure& m = result.measure;
      std::printf("round %d %-6s %-26s %7.2f s (user %.2f s, system %.2f s)  peak %7ld KB",
                  round + 1, side.target, side.name, m.seconds, m.userSeconds, m.systemSeconds,
                  m.peakKB);
      if (result.selfPeakKB != 0) std::printf(" (ours alone %ld KB)", result.selfPeakKB);
      std::printf("\n");
      std::fflush(stdout);
      const std::string key = std::string(side.target) + " " + side.name;
      seconds[key].push_back(m.seconds);
      roundSeconds[key] = m.seconds;
      Result& top = highest[key];
      top.measure.peakKB = std::max(top.measure.peakKB, m.peakKB);
      top.selfPeakKB = std::max(top.selfPeakKB, result.selfPeakKB);
    }
    for (const auto& [ours, theirs] : pairs) {
      if (roundSeconds.count(ours) != 0 && roundSeconds.count(theirs) != 0) {
        roundRatios[ours].push_back(roundSeconds[ours] / roundSeconds[theirs]);
      }
    }
  }
  std::printf("\nmedians (peak memory: the highest of all rounds):\n");
  for (const Side& side : sides) {
    const std::string key = std::string(side.target) + " " + side.name;
    if (seconds[key].empty()) continue;
    std::printf("%-36s %7.2f s  %6.1f MB/s  peak %7ld KB", key.c_str(), Median(seconds[key]),
                static_cast<double>(total) / 1e6 / Median(seconds[key]),
                highest[key].measure.peakKB);
    if (highest[key].selfPeakKB != 0) std::printf(" (ours alone %ld KB)", highest[key].selfPeakKB);
    std::printf("\n");
  }
  std::printf("\nratios of medians:\n");
  for (const auto& [ours, theirs] : pairs) {
    if (seconds[ours].empty() || seconds[theirs].empty()) continue;
    std::printf("%-30s / %-34s %5.2f (median of the rounds' own ratios %.2f)\n", ours.c_str(),
                theirs.c_str(), Median(seconds[ours]) / Median(seconds[theirs]),
                Median(roundRatios[ours]));
  }
  return 0;
}
