#include "engines/ScratchServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "engines/MySqlConnection.h"

namespace brevanto {
namespace {

constexpr const char* kServerProgram = "mariadbd";
constexpr const char* kInstallProgram = "mariadb-install-db";
constexpr const char* kFolderPrefix = "scratch-";
constexpr const char* kTemplatePrefix = "template-";
constexpr int kInstallTimeoutMs = 180000;
// Unix socket paths hold at most 107 bytes.
constexpr std::size_t kLongestSocket = 100;

std::atomic<int> g_serial{0};

std::string SystemReason(int error) {
  return std::strerror(error);
}

// The kernel's start time of process `pid` (field 22 of its stat file), "" when gone: with
// the pid it names one process, whatever later reuses the number.
std::string StartTimeOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return std::string();
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::string();
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && (fields >> field); ++i) {
    if (i == 22) return field;
  }
  return std::string();
}

std::string MegaBytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

// Starts `argv` with stdin from /dev/null and stdout and stderr appended to `log`. The
// child is killed when the thread that started it ends, so a crash of ours takes the
// server with it.
Status Spawn(const std::vector<std::string>& argv, const std::string& log, pid_t& pid) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (out < 0) return Status::Error("Cannot create " + log + ": " + SystemReason(errno));
  const pid_t parent = ::getpid();
  pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    ::close(out);
    return Status::Error("Cannot start " + argv[0] + ": " + SystemReason(error));
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::setpgid(0, 0);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0) ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out);
  return Status::Ok();
}

// Whether `pid` has ended; reaps it then. `code` receives its exit status.
bool Ended(pid_t pid, int& code) {
  int status = 0;
  const pid_t done = ::waitpid(pid, &status, WNOHANG);
  if (done == 0) return false;
  code = done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

std::string ReadSmallFile(const std::string& path) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes, 1u << 20)) return std::string();
  return bytes;
}

// The value of "key=" in the folder's my.cnf, or "".
std::string ConfigValue(const std::string& folder, const std::string& key) {
  std::istringstream lines(ReadSmallFile(folder + "/my.cnf"));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  }
  return std::string();
}

// Kills the mariadbd started from `folder`'s my.cnf, if one runs, and waits for it to go.
void KillServerOf(const std::string& folder, Clock& clock) {
  const std::string text = ReadSmallFile(folder + "/mariadbd.pid");
  const pid_t pid = static_cast<pid_t>(std::atoi(text.c_str()));
  if (pid <= 0) return;
  const std::string cmdline = ReadSmallFile("/proc/" + std::to_string(pid) + "/cmdline");
  const std::string mine = "--defaults-file=" + folder + "/my.cnf";
  if (cmdline.find(mine) == std::string::npos) return;  // not ours: a reused number
  ::kill(pid, SIGKILL);
  for (int waited = 0; waited < 10000 && ::kill(pid, 0) == 0; waited += 50) {
    int code = 0;
    if (Ended(pid, code)) break;
    clock.SleepMs(50);
  }
}

Status RemoveFolder(const std::string& folder) {
  const std::string socket = ConfigValue(folder, "socket");
  std::error_code error;
  // A socket kept outside the folder (the folder's path was too long) goes too.
  if (!socket.empty() && !socket.starts_with(folder + "/") && !RemoveFileIfExists(socket)) {
    return Status::Error("Cannot delete the scratch server's socket " + socket + ": " +
                         SystemReason(errno));
  }
  std::filesystem::remove_all(folder, error);
  if (error) {
    return Status::Error("Cannot delete the scratch server's folder " + folder + ": " +
                         error.message());
  }
  return Status::Ok();
}

bool MakeFolders(const std::string& path) {
  std::string partial;
  std::size_t from = 1;
  while (true) {
    const std::size_t slash = path.find('/', from);
    partial = path.substr(0, slash);
    if (!partial.empty() && !MakeFolder(partial)) return false;
    if (slash == std::string::npos) return true;
    from = slash + 1;
  }
}

}  // namespace

std::string DefaultScratchCache() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/Brevanto";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "/tmp") + "/.cache/Brevanto";
}

std::string FindServerProgram(const std::string& program, const std::string& searchPath) {
  std::string path = searchPath;
  if (path.empty()) {
    const char* env = std::getenv("PATH");
    path = std::string(env != nullptr ? env : "/usr/bin:/bin") + ":/usr/sbin:/usr/local/sbin:/sbin";
  }
  std::istringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/" + program;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return std::string();
}

ScratchServer::~ScratchServer() {
  (void)Stop();
}

CServerInfo ScratchServer::Server() const {
  CServerInfo server;
  server.ConnectionName = "scratch server";
  server.Host = m_socket;
  server.Port = 0;
  server.UserName = "root";
  server.DefaultsFile = m_folder + "/client.cnf";
  return server;
}

Status ScratchServer::Prepare(const ScratchServerOptions& options, std::string& server,
                              std::string& install) {
  server = FindServerProgram(kServerProgram, options.SearchPath);
  install = FindServerProgram(kInstallProgram, options.SearchPath);
  if (server.empty() || install.empty()) {
    return Status::Error(std::string("No MariaDB server program (") +
                         (server.empty() ? kServerProgram : kInstallProgram) +
                         ") was found: install the package mariadb-server-core to check copies "
                         "on a private server.");
  }
  const std::string cache =
      options.CacheFolder.empty() ? DefaultScratchCache() : options.CacheFolder;
  if (!MakeFolders(cache)) {
    return Status::Error("Cannot create the folder " + cache + ": " + SystemReason(errno));
  }
  if (options.NeededBytes > 0) {
    struct statvfs fs {};
    if (::statvfs(cache.c_str(), &fs) != 0) {
      return Status::Error("Cannot learn the free disk space in " + cache + ": " +
                           SystemReason(errno));
    }
    const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    if (free < options.NeededBytes) {
      return Status::Error("Not enough free disk space for the scratch server in " + cache + ": " +
                           MegaBytes(free) + " free, about " + MegaBytes(options.NeededBytes) +
                           " needed.");
    }
  }
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string folder = cache + "/" + kFolderPrefix + std::to_string(::getpid()) + "-" +
                               std::to_string(g_serial.fetch_add(1));
    if (::mkdir(folder.c_str(), 0700) == 0) {
      m_folder = folder;
      break;
    }
    if (errno != EEXIST) {
      return Status::Error("Cannot create the folder " + folder + ": " + SystemReason(errno));
    }
  }
  if (m_folder.empty()) return Status::Error("Cannot create a scratch folder in " + cache);
  m_socket = m_folder + "/mariadbd.sock";
  if (m_socket.size() > kLongestSocket) {
    m_socket = "/tmp/brevanto-" + m_folder.substr(m_folder.rfind('/') + 1) + ".sock";
  }
  // Written first, so a leftover clean-up always knows whose folder this is.
  if (Status s = WriteFileAtomically(
          m_folder + "/owner", std::to_string(::getpid()) + " " + StartTimeOf(::getpid()) + "\n");
      !s.ok()) {
    return s;
  }
  for (const char* sub : {"/data", "/tmp"}) {
    if (!MakeFolder(m_folder + sub)) {
      return Status::Error("Cannot create the folder " + m_folder + sub + ": " +
                           SystemReason(errno));
    }
  }
  std::string config = "[mariadbd]\n";
  config += "datadir=" + m_folder + "/data\n";
  config += "socket=" + m_socket + "\n";
  config += "pid-file=" + m_folder + "/mariadbd.pid\n";
  config += "log-error=" + m_folder + "/error.log\n";
  config += "tmpdir=" + m_folder + "/tmp\n";
  config += "secure-file-priv=" + m_folder + "/tmp\n";
  // Reached only through the socket in our own 0700 folder.
  config += "skip-networking\n";
  config += "skip-name-resolve\n";
  config += "skip-log-bin\n";
  // The copy's events must not run in it (DISABLED would refuse their CREATE EVENT).
  config += "event-scheduler=OFF\n";
  config += "local-infile=0\n";
  config += "max_allowed_packet=1G\n";
  config += "character-set-server=utf8mb4\n";
  config += "collation-server=utf8mb4_general_ci\n";
  // Small, and nothing kept safe across a crash: the data is thrown away anyway.
  config += "innodb_buffer_pool_size=128M\n";
  config += "innodb_log_file_size=64M\n";
  config += "innodb_log_buffer_size=8M\n";
  config += "innodb_flush_log_at_trx_commit=0\n";
  config += "innodb_doublewrite=0\n";
  config += "innodb_use_native_aio=0\n";
  config += "performance_schema=OFF\n";
  config += "key_buffer_size=4M\n";
  config += "max_connections=32\n";
  config += "table_open_cache=400\n";
  if (::geteuid() == 0) config += "user=root\n";
  if (Status s = WriteFileAtomically(m_folder + "/my.cnf", config); !s.ok()) return s;
  // No password: the socket's folder is the protection.
  return WriteFileAtomically(m_folder + "/client.cnf", "[client]\nuser=root\npassword=\n");
}

Status ScratchServer::Install(const std::string& install) {
  std::vector<std::string> args = {install, "--defaults-file=" + m_folder + "/my.cnf",
                                   "--datadir=" + m_folder + "/data",
                                   "--auth-root-authentication-method=normal", "--skip-test-db"};
  if (::geteuid() == 0) args.push_back("--user=root");
  pid_t pid = 0;
  const std::string log = m_folder + "/install.log";
  if (Status status = Spawn(args, log, pid); !status.ok()) return status;
  int code = -1;
  const std::int64_t deadline = m_clock.MonotonicMs() + kInstallTimeoutMs;
  while (!Ended(pid, code)) {
    if (m_clock.MonotonicMs() > deadline) {
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      code = -2;
      break;
    }
    m_clock.SleepMs(50);
  }
  if (code == 0) return Status::Ok();
  std::string said = ReadSmallFile(log);
  if (said.size() > 2000) said = said.substr(said.size() - 2000);
  return Status::Error(install + " could not set up the scratch server's data folder (" +
                       (code == -2 ? std::string("no end within the time-out")
                                   : "exit code " + std::to_string(code)) +
                       "): " + said);
}

// Setting up a data folder takes mariadb-install-db seconds, mostly waiting for the disk:
// the first one is kept as a template ("template-<programs>" in the cache) and copied for
// the next checks. Another version of the programs gets a template of its own.
Status ScratchServer::MakeDataFolder(const std::string& cache, const std::string& server,
                                     const std::string& install) {
  std::string identity;
  for (const std::string& program : {server, install}) {
    struct stat st {};
    if (::stat(program.c_str(), &st) != 0) continue;
    identity += program + ":" + std::to_string(st.st_size) + ":" +
                std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ";";
  }
  char key[32];
  std::snprintf(key, sizeof key, "%016zx", std::hash<std::string>{}(identity));
  const std::string name = std::string(kTemplatePrefix) + key;
  const std::string templateFolder = cache + "/" + name;
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::copy_options recursive = fs::copy_options::recursive;
  if (fs::is_directory(templateFolder + "/data", error)) {
    fs::remove(m_folder + "/data", error);
    fs::copy(templateFolder + "/data", m_folder + "/data", recursive, error);
    if (!error) return Status::Ok();
    // A damaged template: set up afresh.
    fs::remove_all(m_folder + "/data", error);
    MakeFolder(m_folder + "/data");
  }
  if (Status status = Install(install); !status.ok()) return status;
  // The copy is made under a scratch folder's name, so a crash leaves only a leftover the
  // clean-up knows, and appears under the template's name whole or not at all.
  const std::string partial = m_folder + "-template";
  fs::remove_all(partial, error);
  fs::copy(m_folder + "/data", partial + "/data", recursive, error);
  if (!error) fs::rename(partial, templateFolder, error);
  if (error) {
    fs::remove_all(partial, error);  // only slower next time
    return Status::Ok();
  }
  for (const auto& entry : fs::directory_iterator(cache, error)) {
    const std::string other = entry.path().filename().string();
    if (other.starts_with(kTemplatePrefix) && other != name) fs::remove_all(entry.path(), error);
  }
  return Status::Ok();
}

Status ScratchServer::Start(const ScratchServerOptions& options) {
  if (Running()) return Status::Error("The scratch server is already running");
  std::string server;
  std::string install;
  Status status = Prepare(options, server, install);
  if (status.ok()) {
    const std::string cache =
        options.CacheFolder.empty() ? DefaultScratchCache() : options.CacheFolder;
    status = MakeDataFolder(cache, server, install);
  }
  if (status.ok()) {
    status = Spawn({server, "--defaults-file=" + m_folder + "/my.cnf"}, m_folder + "/console.log",
                   m_pid);
    if (status.ok()) status = WaitUntilAnswers(options.StartTimeoutMs);
  }
  if (!status.ok() && !m_folder.empty()) {
    const Status stopped = Stop();
    if (!stopped.ok()) return Status::Error(status.message() + " " + stopped.message());
  }
  return status;
}

std::string ScratchServer::LastLogLines() const {
  std::string log = ReadSmallFile(m_folder + "/error.log");
  std::size_t from = log.size();
  for (int lines = 0; lines < 6 && from > 0; ++lines) {
    from = log.rfind('\n', from >= 2 ? from - 2 : 0);
    if (from == std::string::npos) {
      from = 0;
      break;
    }
  }
  return log.substr(from);
}

Status ScratchServer::WaitUntilAnswers(int timeoutMs) {
  const std::int64_t deadline = m_clock.MonotonicMs() + timeoutMs;
  const CServerInfo server = Server();
  while (true) {
    CMySQLConnection connection;
    MySqlError error;
    struct stat st {};
    if (::stat(m_socket.c_str(), &st) == 0 && ConnectServer(server, connection, error)) {
      return Status::Ok();
    }
    int code = 0;
    if (Ended(m_pid, code)) {
      m_pid = 0;
      return Status::Error("The scratch server stopped during its start (exit code " +
                           std::to_string(code) + "): " + LastLogLines());
    }
    if (m_clock.MonotonicMs() > deadline) {
      return Status::Error("The scratch server did not answer within " +
                           std::to_string(timeoutMs / 1000) + " s: " + LastLogLines());
    }
    m_clock.SleepMs(50);
  }
}

Status ScratchServer::Stop() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = 0;
  }
  if (m_folder.empty()) return Status::Ok();
  Status status = RemoveFolder(m_folder);
  if (status.ok() && m_socket.starts_with("/tmp/") && !RemoveFileIfExists(m_socket)) {
    status = Status::Error("Cannot delete " + m_socket + ": " + SystemReason(errno));
  }
  m_folder.clear();
  m_socket.clear();
  return status;
}

Status RemoveScratchLeftovers(Clock& clock, const std::string& cacheFolder,
                              std::vector<std::string>* removed) {
  const std::string cache = cacheFolder.empty() ? DefaultScratchCache() : cacheFolder;
  std::error_code error;
  std::filesystem::directory_iterator entries(cache, error);
  if (error) {
    if (error == std::errc::no_such_file_or_directory) return Status::Ok();
    return Status::Error("Cannot read the folder " + cache + ": " + error.message());
  }
  std::string problems;
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(kFolderPrefix) || !entry.is_directory(error)) continue;
    const std::string folder = entry.path().string();
    // "<pid> <start time>": the owner is alive only when both still match.
    std::istringstream owner(ReadSmallFile(folder + "/owner"));
    long pid = 0;
    std::string started;
    owner >> pid >> started;
    if (pid == 0) {
      // The owner file is written first: a folder without one was caught being created,
      // unless its name says whose it is and that one is gone.
      const long named = std::atol(name.c_str() + std::strlen(kFolderPrefix));
      if (named <= 0 || !StartTimeOf(static_cast<pid_t>(named)).empty()) continue;
    } else if (!started.empty() && StartTimeOf(static_cast<pid_t>(pid)) == started) {
      continue;
    }
    KillServerOf(folder, clock);
    if (Status status = RemoveFolder(folder); !status.ok()) {
      problems += (problems.empty() ? "" : " ") + status.message();
      continue;
    }
    if (removed != nullptr) removed->push_back(folder);
  }
  return problems.empty() ? Status::Ok() : Status::Error(problems);
}

}  // namespace brevanto
