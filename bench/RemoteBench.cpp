// Off-site upload: the same backup (a folder of files of incompressible data, 1 GB by
// default) sent through each of our stores beside `rclone copy` of the same folder to the
// same place, in the same run:
//   local: our rclone store with a local-folder remote, against `rclone copy` to it;
//   s3:    our S3 store against `rclone copy` to an s3 remote, both to the tests' S3 server
//          (s3rver behind its signature check, tests/support/S3Server.h);
//   sftp:  our SFTP store, and our rclone store with an sftp remote, against `rclone copy`
//          to that remote, all to the tests' sshd (tests/support/SshServer.h).
// Ours uploads one file at a time and four at a time, beside `rclone copy --transfers 1`
// and `rclone copy` (four at a time, its default).
// Every side runs in a child process, so its wall time and peak memory are its own; for our
// side the peak of our process is shown apart from the peak with the rclone it runs.
//
//   RemoteBench [--rounds R] [--files N] [--file-mb M] [--only local|s3|sftp]
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
#include "tests/support/S3Server.h"
#include "tests/support/SshServer.h"

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
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> workers;
    // A store each: a store is not promised to take calls from several threads at once.
    for (int i = 0; i < atOnce; ++i) {
      workers.emplace_back([&] {
        TransferControl control;
        std::unique_ptr<RemoteStore> store;
        Status status = MakeRemoteStore(options, control, store);
        for (std::size_t k; status.ok() && !failed && (k = next++) < paths.size();) {
          status = store->PutFile(paths[k], RemoteNameOf(backup, paths[k]));
        }
        if (!status.ok()) {
          std::fprintf(stderr, "error: %s\n", status.message().c_str());
          failed = true;
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
  std::string target;
  std::string name;
  std::function<Result()> run;
  RemoteOptions landed;  // where the side's copy lands, to count and remove
};

// The bytes under the store's place, or -1 when it cannot be listed.
std::intmax_t LandedBytes(const RemoteOptions& options) {
  std::unique_ptr<RemoteStore> store;
  std::vector<RemoteObject> objects;
  if (!MakeRemoteStore(options, TransferControl{}, store).ok() || !store->List("", objects).ok()) {
    return -1;
  }
  std::intmax_t bytes = 0;
  for (const RemoteObject& object : objects) bytes += static_cast<std::intmax_t>(object.Size);
  return bytes;
}

bool Clear(const RemoteOptions& options) {
  std::unique_ptr<RemoteStore> store;
  std::vector<RemoteObject> objects;
  if (!MakeRemoteStore(options, TransferControl{}, store).ok() || !store->List("", objects).ok()) {
    return false;
  }
  for (const RemoteObject& object : objects) {
    if (!store->Delete(object.Name).ok()) return false;
  }
  return true;
}

bool WriteFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool written =
      fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return fd >= 0 && close(fd) == 0 && written;
}

// --only names one target; without it, all.
bool Wanted(const std::string& only, const std::string& target) {
  return only.empty() || only == target;
}

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
  const auto total = static_cast<std::intmax_t>(FolderBytes(backup));

  // The servers: the tests' own, on 127.0.0.1.
  std::unique_ptr<test::S3Server> s3;
  if (Wanted(only, "s3")) {
    s3 = std::make_unique<test::S3Server>();
    if (!s3->Running()) std::fprintf(stderr, "no s3: %s\n", s3->Problem().c_str());
  }
  std::unique_ptr<test::SshServer> ssh;
  if (Wanted(only, "sftp")) {
    ssh = std::make_unique<test::SshServer>();
    if (!ssh->running()) std::fprintf(stderr, "no sftp: %s\n", ssh->problem().c_str());
  }

  // rclone's remotes for this run only: the same places our stores write to.
  std::string config = "[local]\ntype = local\n";
  if (s3 && s3->Running()) {
    config +=
        "\n[s3]\ntype = s3\nprovider = Other\nregion = us-east-1\nforce_path_style = true\n"
        "endpoint = " +
        s3->Endpoint() + "\naccess_key_id = " + test::S3Server::kKeyId +
        "\nsecret_access_key = " + test::S3Server::kSecret + "\n";
  }
  if (ssh && ssh->running()) {
    config += "\n[sftp]\ntype = sftp\nhost = " + ssh->host() +
              "\nport = " + std::to_string(ssh->port()) + "\nuser = " + ssh->user() +
              "\nkey_file = " + ssh->clientKeyFile() + "\n";
  }
  const std::string configFile = base + "rclone.conf";
  if (!WriteFile(configFile, config)) return 1;
  setenv("RCLONE_CONFIG", configFile.c_str(), 1);
  // rclone 1.60's s3 remotes fail on any AWS_CA_BUNDLE ("unsupported transport"); the
  // servers here speak plain HTTP to 127.0.0.1.
  unsetenv("AWS_CA_BUNDLE");

  std::vector<Side> sides;
  std::vector<std::pair<std::string, std::string>> pairs;  // ours, rclone's: compared
  // Ours one file at a time and four at a time, each beside rclone copy at the same.
  // `withCopy` false: the rclone sides are there already, for another store of ours.
  auto addTarget = [&](const std::string& target, const std::string& ours,
                       const RemoteOptions& oursAt, const std::string& remote,
                       const std::string& rcloneFolder, const RemoteOptions& rcloneAt,
                       bool withCopy = true) {
    const std::string destination = remote + ":" + rcloneFolder;
    for (int atOnce : {1, 4}) {
      const std::string name = ours + (atOnce == 1 ? ", 1 at a time" : ", 4 at a time");
      const std::string copy = atOnce == 1 ? "rclone copy --transfers 1" : "rclone copy";
      sides.push_back({target, name,
                       [&, oursAt, atOnce] { return OurUpload(oursAt, backup, paths, atOnce); },
                       oursAt});
      if (withCopy) {
        sides.push_back({target, copy,
                         [&, destination, atOnce] {
                           return RcloneCopy(backup, destination, atOnce == 1 ? "1" : nullptr);
                         },
                         rcloneAt});
      }
      pairs.emplace_back(target + " " + name, target + " " + copy);
    }
  };
  auto rcloneAt = [](const std::string& remote, const std::string& path) {
    RemoteOptions options;
    options.Kind = RemoteKind::Rclone;
    options.RcloneRemote = remote;
    options.Path = path;
    return options;
  };
  if (Wanted(only, "local")) {
    addTarget("local", "brevanto rclone store", rcloneAt("local", base + "local-ours"), "local",
              base + "local-rclone", rcloneAt("local", base + "local-rclone"));
  }
  if (s3 && s3->Running()) {
    RemoteOptions ours;
    ours.Kind = RemoteKind::S3;
    ours.Endpoint = s3->Endpoint();
    ours.Region = "us-east-1";
    ours.Bucket = "brevanto";
    ours.PathStyle = true;
    ours.AccessKeyId = test::S3Server::kKeyId;
    ours.SecretAccessKey = test::S3Server::kSecret;
    ours.Prefix = "ours/";
    RemoteOptions theirs = ours;
    theirs.Prefix = "rclone/";
    addTarget("s3", "brevanto s3 store", ours, "s3", "brevanto/rclone", theirs);
  }
  if (ssh && ssh->running()) {
    RemoteOptions ours;
    ours.Kind = RemoteKind::Sftp;
    ours.Host = ssh->host();
    ours.Port = ssh->port();
    ours.User = ssh->user();
    ours.PrivateKeyFile = ssh->clientKeyFile();
    ours.HostKeySha256 = ssh->hostKeySha256();
    ours.Path = ssh->data() + "ours";
    RemoteOptions theirs = ours;
    theirs.Path = ssh->data() + "rclone";
    addTarget("sftp", "brevanto sftp store", ours, "sftp", ssh->data() + "rclone", theirs);
    // Our rclone store over the same server: what rclone's own transfers cost through us.
    addTarget("sftp", "brevanto rclone store", rcloneAt("sftp", ssh->data() + "ours-rclone"),
              "sftp", ssh->data() + "rclone", theirs, false);
  }

  std::printf("%d files, %jd bytes\n", files, total);
  std::map<std::string, std::vector<double>> seconds;
  std::map<std::string, Result> highest;
  // Ours over rclone's within each round: sides that ran one after the other met the same
  // load, which on a shared machine swings more than the sides differ.
  std::map<std::string, std::vector<double>> roundRatios;
  for (int round = 0; round < rounds; ++round) {
    std::map<std::string, double> roundSeconds;
    // Every other round runs backwards, so no side always follows the same one.
    for (std::size_t k = 0; k < sides.size(); ++k) {
      const Side& side = sides[round % 2 == 0 ? k : sides.size() - 1 - k];
      const std::string key = side.target + " " + side.name;
      if (!Clear(side.landed)) {
        std::fprintf(stderr, "%s: cannot clear its place\n", key.c_str());
        return 1;
      }
      sync();  // what the side before wrote goes to the disk on nobody's time
      const Result result = side.run();
      const std::intmax_t landed = LandedBytes(side.landed);
      if (!result.measure.ok || landed != total || !Clear(side.landed)) {
        std::fprintf(stderr, "%s failed (%jd of %jd bytes landed)\n", key.c_str(), landed, total);
        return 1;
      }
      const Measure& m = result.measure;
      std::printf("round %d %-42s %7.2f s (user %.2f s, system %.2f s)  peak %7ld KB", round + 1,
                  key.c_str(), m.seconds, m.userSeconds, m.systemSeconds, m.peakKB);
      if (result.selfPeakKB != 0) std::printf(" (ours alone %ld KB)", result.selfPeakKB);
      std::printf("\n");
      std::fflush(stdout);
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
  for (const auto& [key, values] : seconds) {
    std::printf("%-42s %7.2f s  %6.1f MB/s  peak %7ld KB", key.c_str(), Median(values),
                static_cast<double>(total) / 1e6 / Median(values), highest[key].measure.peakKB);
    if (highest[key].selfPeakKB != 0) std::printf(" (ours alone %ld KB)", highest[key].selfPeakKB);
    std::printf("\n");
  }
  std::printf("\nratios of medians:\n");
  for (const auto& [ours, theirs] : pairs) {
    if (seconds[ours].empty() || seconds[theirs].empty()) continue;
    std::printf("%-42s / %-26s %5.2f (median of the rounds' own ratios %.2f)\n", ours.c_str(),
                theirs.c_str(), Median(seconds[ours]) / Median(seconds[theirs]),
                Median(roundRatios[ours]));
  }
  return 0;
}
