#include "remote/RcloneStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>
#include <thread>

#include <nlohmann/json.hpp>

#include "core/Sha256.h"
#include "remote/RcloneProcess.h"
#include "remote/Retry.h"

extern char** environ;

namespace brevanto {

namespace {

using Consumer = std::function<Status(std::string_view)>;

// An upload goes to ".<name>.brevanto-part-<unique>" beside its final name and is renamed
// when complete and checked, so a half upload never carries the final name.
constexpr std::string_view kPartMarker = ".brevanto-part-";

bool IsPartName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view base =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  return !base.empty() && base.front() == '.' && base.find(kPartMarker) != std::string_view::npos;
}

std::string PartNameOf(const std::string& name) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const std::uint64_t unique = (std::uint64_t{random()} << 32) ^ random() ^ counter++;
  const std::size_t slash = name.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&unique);
  return name.substr(0, base) + "." + name.substr(base) + std::string(kPartMarker) +
         ToHex(bytes, sizeof unique);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool ContainsAny(const std::string& lowered, std::initializer_list<const char*> needles) {
  return std::any_of(needles.begin(), needles.end(),
                     [&](const char* needle) { return lowered.find(needle) != std::string::npos; });
}

class Md5 {
 public:
  Md5() : m_context(EVP_MD_CTX_new()) { EVP_DigestInit_ex(m_context, EVP_md5(), nullptr); }
  ~Md5() { EVP_MD_CTX_free(m_context); }
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;
  void Update(std::string_view bytes) { EVP_DigestUpdate(m_context, bytes.data(), bytes.size()); }
  std::string FinishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_context, digest, &size);
    return ToHex(digest, size);
  }

 private:
  EVP_MD_CTX* m_context;
};

// The MD5 of the file open as `fd`, read with pread (the offset is rclone's); gives up
// without a result once `ended` is set.
Status Md5OfFile(int fd, const std::string& path, const std::atomic<bool>& ended,
                 std::string& hex) {
  Md5 hash;
  std::vector<char> buffer(1 << 20);
  for (off_t at = 0; !ended;) {
    const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Status::Error(path + " cannot be read: " + std::strerror(errno));
    if (got == 0) {
      hex = hash.FinishHex();
      return Status::Ok();
    }
    hash.Update(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    at += got;
  }
  return Status::Error("the upload ended");
}

// What one run of rclone came to, judged for a retry: rclone's exit code 5 and messages of
// dropped or timed-out connections and busy servers are worth another try; a missing
// remote, refused credentials and a full or read-only target are not, whatever the code.
Attempt Judge(const RcloneOutcome& outcome, int stallSeconds) {
  if (!outcome.Failure.ok()) return {outcome.Failure, false};
  if (outcome.Stopped) return {Status::Error("Stopped."), false};
  if (outcome.Stalled) {
    return {Status::Error("nothing moved for " + std::to_string(stallSeconds) + " s"), true};
  }
  if (outcome.ExitCode == 0) return {Status::Ok(), false};
  std::string message = outcome.Message.empty()
                            ? "rclone ended with exit code " + std::to_string(outcome.ExitCode)
                            : outcome.Message;
  const std::string lowered = Lower(message);
  if (lowered.find("didn't find section in config file") != std::string::npos) {
    return {Status::Error(message + " (set the remote up with `rclone config` as the user that "
                                    "runs the task, or point RCLONE_CONFIG at its config file)"),
            false};
  }
  const bool lasting =
      ContainsAny(lowered, {"permission denied", "no space left", "quota", "insufficient storage",
                            "access denied", "accessdenied", "unauthorized", "forbidden",
                            "unable to authenticate", "authentication failed", "invalid_grant",
                            "decrypt", "password", "read-only file system", "invalidaccesskeyid",
                            "signaturedoesnotmatch", "nosuchbucket", "requesttimetooskewed"});
  const bool passing =
      outcome.ExitCode == 5 ||
      ContainsAny(lowered, {"timeout", "timed out", "connection reset", "connection refused",
                            "broken pipe", "unexpected eof", "temporar", "slowdown",
                            "service unavailable", "bad gateway", "internal server error",
                            "too many requests", "connection lost", "closed network connection"}) ||
      (lowered.size() >= 3 && lowered.compare(lowered.size() - 3, 3, "eof") == 0);
  return {Status::Error(std::move(message)), passing && !lasting};
}

// The innermost cause of an error: rclone's "Failed to create file system for "x:": didn't
// find section in config file" is "didn't find section in config file".
std::string FinalCause(const Status& status) {
  const std::string& text = status.message();
  const std::size_t colon = text.rfind(": ");
  return colon == std::string::npos ? text : text.substr(colon + 2);
}

// rclone's answer to `lsjson --stat`: one object, or nothing when there is none.
struct RemoteStat {
  bool Found = false;
  bool IsDir = false;
  std::uint64_t Size = 0;
  std::string Md5;  // "" when the remote keeps no MD5
};

class RcloneStore final : public RemoteStore {
 public:
  RcloneStore(const RemoteOptions& options, const TransferControl& control)
      : m_options(options), m_control(control) {
    m_root = options.RcloneRemote;
    if (m_root.back() != ':') m_root += ':';
    std::string path = options.Path;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (!path.empty() && path != "/") path += '/';
    m_root += path;
    // The config password reaches rclone in its environment, never on its command line.
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      if (!options.Password.empty() && text.rfind("RCLONE_CONFIG_PASS=", 0) == 0) continue;
      m_environment.emplace_back(text);
    }
    if (!options.Password.empty()) {
      m_environment.push_back("RCLONE_CONFIG_PASS=" + options.Password);
    }
  }

  std::string Describe() const override { return RemoteTargetText(m_options); }
  Status OpenWriter(const std::string& name, std::unique_ptr<ObjectWriter>& writer) override;
  Status PutFile(const std::string& localPath, const std::string& name) override;
  Status Get(const std::string& name, const Consumer& consume) override;
  Status List(const std::string& under, std::vector<RemoteObject>& objects) override;
  Status Delete(const std::string& name) override { return Delete(m_control, name); }

  // Moves a finished part to its name once its size and (where the remote keeps one) its
  // MD5 are what was sent; the part is removed when anything fails.
  Status Publish(const std::string& part, const std::string& name, std::uint64_t size,
                 const std::string& md5);
  // Removes an unfinished part, also after a stop request. A failure is a warning: the
  // upload's own result is what the caller gets, and a part is never listed.
  void Discard(const std::string& part, const Status& cause);

  const TransferControl& Control() const { return m_control; }
  std::int64_t StallMs() const { return std::int64_t{m_control.Retry.StallSeconds} * 1000; }
  std::unique_ptr<RcloneProcess> NewProcess(const TransferControl& control,
                                            std::int64_t stallMs) const {
    return std::make_unique<RcloneProcess>(control, m_environment, stallMs);
  }
  std::string Target(const std::string& name) const { return m_root + name; }

  // `rclone command operands... flags`: one try each, so that our backoff governs; a dead
  // connection noticed within the stall time; stats once a second as a sign of progress.
  std::vector<std::string> Arguments(const std::string& command,
                                     const std::vector<std::string>& operands) const {
    std::vector<std::string> arguments{command};
    arguments.insert(arguments.end(), operands.begin(), operands.end());
    for (const char* flag :
         {"--retries", "1", "--low-level-retries", "1", "--stats", "1s", "--stats-log-level",
          "NOTICE", "--use-json-log", "--ask-password=false"}) {
      arguments.emplace_back(flag);
    }
    const RetryPolicy& retry = m_control.Retry;
    arguments.insert(
        arguments.end(),
        {"--contimeout", std::to_string(std::max(retry.ConnectTimeoutSeconds, 1)) + "s",
         "--timeout", std::to_string(std::max(retry.StallSeconds, 1)) + "s"});
    const std::uint64_t bandwidth = m_control.BandwidthBytesPerSecond != 0
                                        ? m_control.BandwidthBytesPerSecond
                                        : m_options.BandwidthBytesPerSecond;
    if (bandwidth != 0) {
      arguments.insert(arguments.end(), {"--bwlimit", std::to_string(bandwidth) + "B"});
    }
    return arguments;
  }

  // "<what> failed: <cause>"; a stop stays "Stopped.".
  static Status Failed(const std::string& what, const Status& cause) {
    if (cause.message() == "Stopped.") return cause;
    return Status::Error(what + " failed: " + cause.message());
  }

 private:
  // One run of rclone with no input, its output handed to `consume`.
  RcloneOutcome RunOnce(const TransferControl& control, const std::vector<std::string>& arguments,
                        const Consumer& consume, std::int64_t stallMs) const {
    std::unique_ptr<RcloneProcess> process = NewProcess(control, stallMs);
    if (!process->Start(arguments, false).ok()) return process->Finish();
    return process->Finish(consume);
  }
  Status Delete(const TransferControl& control, const std::string& name);
  // The object `name`, or Found false when there is none.
  Status Stat(const TransferControl& control, const std::string& name, bool withHash,
              std::int64_t stallMs, RemoteStat& stat);

  RemoteOptions m_options;
  TransferControl m_control;
  std::string m_root;  // "remote:path/"
  std::vector<std::string> m_environment;
};

class RcloneWriter final : public ObjectWriter {
 public:
  RcloneWriter(RcloneStore& store, const std::string& name)
      : m_store(store),
        m_name(name),
        m_part(PartNameOf(name)),
        m_what("Uploading " + name + " to " + store.Describe()) {}
  ~RcloneWriter() override { Abort(); }

  Status Start() {
    m_process = m_store.NewProcess(m_store.Control(), m_store.StallMs());
    Status status = m_process->Start(m_store.Arguments("rcat", {m_store.Target(m_part)}), true);
    if (!status.ok()) {
      m_done = true;
      return RcloneStore::Failed(m_what, status);
    }
    return status;
  }

  Status Write(std::string_view bytes) override {
    if (m_done) return RcloneStore::Failed(m_what, Status::Error("the upload has ended"));
    m_md5.Update(bytes);
    m_size += bytes.size();
    if (m_process->Send(bytes)) return Status::Ok();
    return Ended();
  }

  Status Complete() override {
    if (m_done) return RcloneStore::Failed(m_what, Status::Error("the upload has ended"));
    if (Status status = Ended(); !status.ok()) return status;
    return m_store.Publish(m_part, m_name, m_size, m_md5.FinishHex());
  }

  void Abort() override {
    if (m_done) return;
    m_done = true;
    m_process->Kill();
    m_store.Discard(m_part, Status::Ok());
  }

  std::uint64_t Size() const override { return m_size; }

 private:
  // rclone has the whole input or has ended early: its result; the part goes on failure.
  Status Ended() {
    m_done = true;
    Status status = Judge(m_process->Finish(), m_store.Control().Retry.StallSeconds).Result;
    if (status.ok()) return status;
    m_store.Discard(m_part, status);
    return RcloneStore::Failed(m_what, status);
  }

  RcloneStore& m_store;
  std::string m_name, m_part, m_what;
  std::unique_ptr<RcloneProcess> m_process;
  Md5 m_md5;
  std::uint64_t m_size = 0;
  bool m_done = false;
};

Status RcloneStore::OpenWriter(const std::string& name, std::unique_ptr<ObjectWriter>& writer) {
  writer.reset();
  auto opened = std::make_unique<RcloneWriter>(*this, name);
  if (Status status = opened->Start(); !status.ok()) return status;
  writer = std::move(opened);
  return Status::Ok();
}

Status RcloneStore::PutFile(const std::string& localPath, const std::string& name) {
  const std::string what = "Uploading " + name + " to " + Describe();
  const int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    return Status::Error(what + " failed: " + localPath +
                         " cannot be read: " + std::strerror(error));
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  const std::string part = PartNameOf(name);
  std::string md5;
  // Each try sends the whole file again: rcat cannot resume. rclone reads the file itself,
  // as its standard input; we hash it meanwhile, for the check of what arrived.
  Status status = WithRetries(m_control, what, [&]() -> Attempt {
    if (::lseek(fd, 0, SEEK_SET) != 0) {
      return {Status::Error(localPath + " cannot be read: " + std::strerror(errno)), false};
    }
    std::unique_ptr<RcloneProcess> process = NewProcess(m_control, StallMs());
    Status started = process->Start(
        Arguments("rcat", {"--size", std::to_string(size), Target(part)}), false, fd);
    if (!started.ok()) return {started, false};
    std::atomic<bool> ended{false};
    Status hashed;
    std::thread hashing([&] { hashed = Md5OfFile(fd, localPath, ended, md5); });
    RcloneOutcome outcome = process->Finish();
    ended = !outcome.Failure.ok() || outcome.Stalled || outcome.Stopped || outcome.ExitCode != 0;
    hashing.join();
    Attempt attempt = Judge(outcome, m_control.Retry.StallSeconds);
    if (attempt.Result.ok() && !hashed.ok()) return {hashed, false};
    return attempt;
  });
  ::close(fd);
  if (!status.ok()) {
    Discard(part, status);
    return Failed(what, status);
  }
  return Publish(part, name, size, md5);
}

Status RcloneStore::Publish(const std::string& part, const std::string& name, std::uint64_t size,
                            const std::string& md5) {
  const std::string what = "Uploading " + name + " to " + Describe();
  // The remote may read the whole object again to hash it: time for that beyond the stall
  // time, at a modest 50 MB/s.
  const std::int64_t hashMs = StallMs() + static_cast<std::int64_t>(size / 50000);
  RemoteStat stat;
  Status status = Stat(m_control, part, true, hashMs, stat);
  if (status.ok() && !stat.Found) status = Status::Error("the upload is not there");
  if (status.ok() && stat.Size != size) {
    status = Status::Error("it arrived as " + std::to_string(stat.Size) + " bytes instead of " +
                           std::to_string(size));
  }
  if (status.ok() && !stat.Md5.empty() && stat.Md5 != md5) {
    status = Status::Error("its MD5 there is " + stat.Md5 + ", not " + md5 + " as sent");
  }
  if (status.ok()) {
    // --ignore-times: an older object of the name is replaced even if it looks the same.
    std::vector<std::string> arguments =
        Arguments("moveto", {Target(part), Target(name), "--ignore-times"});
    status = WithRetries(m_control, what, [&] {
      return Judge(RunOnce(m_control, arguments, {}, StallMs()), m_control.Retry.StallSeconds);
    });
  }
  if (status.ok()) return status;
  Discard(part, status);
  return Failed(what, status);
}

void RcloneStore::Discard(const std::string& part, const Status& cause) {
  TransferControl tidying = m_control;
  tidying.StopRequested = nullptr;
  tidying.Retry.Attempts = 1;
  tidying.Retry.StallSeconds = std::min(m_control.Retry.StallSeconds, 15);
  const Status status = Delete(tidying, part);
  // Failing for the reason the upload failed (a remote unknown or out of reach), it adds
  // nothing to the upload's Error.
  if (status.ok() || !m_control.Warn || FinalCause(status) == FinalCause(cause)) return;
  m_control.Warn("The unfinished upload " + part + " stays in " + Describe() + ": " +
                 status.message());
}

Status RcloneStore::Get(const std::string& name, const Consumer& consume) {
  const std::string what = "Downloading " + name + " from " + Describe();
  std::uint64_t delivered = 0;
  Status refused;
  Status status = WithRetries(m_control, what, [&]() -> Attempt {
    // A retry goes on where the bytes stopped.
    std::vector<std::string> operands{Target(name)};
    if (delivered > 0) operands = {"--offset", std::to_string(delivered), Target(name)};
    RcloneOutcome outcome = RunOnce(
        m_control, Arguments("cat", operands),
        [&](std::string_view bytes) {
          delivered += bytes.size();
          refused = consume(bytes);
          return refused;
        },
        StallMs());
    if (outcome.ExitCode == 3 || outcome.ExitCode == 4) {
      return {Status::Error("there is no such object"), false};
    }
    return Judge(outcome, m_control.Retry.StallSeconds);
  });
  if (!refused.ok()) return refused;
  return status.ok() ? status : Failed(what, status);
}

Status RcloneStore::List(const std::string& under, std::vector<RemoteObject>& objects) {
  objects.clear();
  // Only the folder that holds `under` is walked.
  const std::size_t slash = under.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : under.substr(0, slash + 1);
  const std::string what = "Listing " + Describe() + folder;
  std::string text;
  bool missing = false;
  Status status = WithRetries(m_control, what, [&]() -> Attempt {
    text.clear();
    RcloneOutcome outcome = RunOnce(
        m_control,
        Arguments("lsjson",
                  {"-R", "--files-only", "--no-mimetype", "--no-modtime", Target(folder)}),
        [&](std::string_view bytes) {
          text.append(bytes);
          return Status::Ok();
        },
        StallMs());
    // A folder not made yet holds nothing.
    missing = outcome.ExitCode == 3;
    if (missing) return {Status::Ok(), false};
    return Judge(outcome, m_control.Retry.StallSeconds);
  });
  if (!status.ok()) return Failed(what, status);
  if (missing) return Status::Ok();
  const nlohmann::json listing = nlohmann::json::parse(text, nullptr, false);
  if (!listing.is_array()) return Failed(what, Status::Error("rclone's listing is unreadable"));
  for (const nlohmann::json& entry : listing) {
    if (!entry.is_object() || !entry.value("Path", nlohmann::json()).is_string()) continue;
    if (entry.value("IsDir", false)) continue;
    std::string name = folder + entry["Path"].get<std::string>();
    if (IsPartName(name) || name.compare(0, under.size(), under) != 0) continue;
    const nlohmann::json size = entry.value("Size", nlohmann::json());
    objects.push_back({std::move(name), size.is_number_unsigned() ? size.get<std::uint64_t>() : 0});
  }
  std::sort(objects.begin(), objects.end(),
            [](const RemoteObject& a, const RemoteObject& b) { return a.Name < b.Name; });
  return Status::Ok();
}

Status RcloneStore::Delete(const TransferControl& control, const std::string& name) {
  const std::string what = "Deleting " + name + " from " + Describe();
  bool transient = false;
  Status status = WithRetries(control, what, [&] {
    Attempt attempt = Judge(RunOnce(control, Arguments("deletefile", {Target(name)}), {},
                                    std::int64_t{control.Retry.StallSeconds} * 1000),
                            control.Retry.StallSeconds);
    transient = attempt.Transient;
    return attempt;
  });
  if (status.ok()) return status;
  if (transient || status.message() == "Stopped.") return Failed(what, status);
  // rclone says only "is a directory or doesn't exist": gone already is what was wanted.
  RemoteStat stat;
  if (Stat(control, name, false, std::int64_t{control.Retry.StallSeconds} * 1000, stat).ok()) {
    if (!stat.Found) return Status::Ok();
    if (stat.IsDir) return Failed(what, Status::Error("it is a folder, not an object"));
  }
  return Failed(what, status);
}

Status RcloneStore::Stat(const TransferControl& control, const std::string& name, bool withHash,
                         std::int64_t stallMs, RemoteStat& stat) {
  stat = {};
  std::vector<std::string> operands{"--stat", "--no-mimetype", Target(name)};
  if (withHash) operands.insert(operands.end(), {"--hash", "--hash-type", "md5"});
  std::string text;
  bool missing = false;
  Status status = WithRetries(control, "Checking " + name + " in " + Describe(), [&]() -> Attempt {
    text.clear();
    RcloneOutcome outcome = RunOnce(
        control, Arguments("lsjson", operands),
        [&](std::string_view bytes) {
          text.append(bytes);
          return Status::Ok();
        },
        stallMs);
    missing = outcome.ExitCode == 3 || outcome.ExitCode == 4;
    if (missing) return {Status::Ok(), false};
    return Judge(outcome, control.Retry.StallSeconds);
  });
  if (!status.ok() || missing) return status;
  const nlohmann::json entry = nlohmann::json::parse(text, nullptr, false);
  if (!entry.is_object()) return Status::Error("rclone's answer about " + name + " is unreadable");
  stat.Found = true;
  stat.IsDir = entry.value("IsDir", false);
  const nlohmann::json size = entry.value("Size", nlohmann::json());
  stat.Size = size.is_number_unsigned() ? size.get<std::uint64_t>() : 0;
  const nlohmann::json hashes = entry.value("Hashes", nlohmann::json::object());
  if (hashes.is_object()) {
    const nlohmann::json md5 = hashes.value("md5", nlohmann::json());
    if (md5.is_string()) stat.Md5 = Lower(md5.get<std::string>());
  }
  return Status::Ok();
}

}  // namespace

Status MakeRcloneStore(const RemoteOptions& options, const TransferControl& control,
                       std::unique_ptr<RemoteStore>& store) {
  store.reset();
  if (options.RcloneRemote.empty()) return Status::Error("The off-site target has no RcloneRemote");
  store = std::make_unique<RcloneStore>(options, control);
  return Status::Ok();
}

}  // namespace brevanto
