#include "tests/support/SshServer.h"

#include "tests/support/ClosedPort.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

namespace brevanto::test {
namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";

// Runs `args` (argv[0] a path or a name on PATH) with stdin from /dev/null; stdout is
// returned in `output`, stderr appended to it. False when it did not exit with 0.
bool RunTool(const std::vector<std::string>& args, std::string& output) {
  output.clear();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) output.append(buffer, static_cast<std::size_t>(got));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// Every process below `root`, children before their parents' siblings, from /proc.
std::vector<pid_t> Descendants(pid_t root) {
  std::vector<std::pair<pid_t, pid_t>> parents;  // (pid, parent)
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
    const std::string stat = ReadWholeFile(entry.path().string() + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    parents.emplace_back(static_cast<pid_t>(std::stol(name)), parent);
  }
  std::vector<pid_t> found{root};
  for (std::size_t i = 0; i < found.size(); ++i) {
    for (const auto& [pid, parent] : parents) {
      if (parent == found[i]) found.push_back(pid);
    }
  }
  found.erase(found.begin());
  return found;
}

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

}  // namespace

bool MakeSshKeyPair(const std::string& privatePath) {
  std::string output;
  return RunTool(
      {"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "brevanto-test", "-f", privatePath},
      output);
}

SshServer::SshServer(const SshServerSettings& settings) {
  if (!start(settings)) {
    stop();
    m_pid = -1;
  }
}

SshServer::~SshServer() {
  stop();
}

std::string SshServer::log() const {
  return ReadWholeFile(m_dir.file("sshd.log"));
}

bool SshServer::start(const SshServerSettings& settings) {
  const passwd* account = getpwuid(geteuid());
  if (account == nullptr) {
    m_problem = "the account the tests run as has no name";
    return false;
  }
  m_user = account->pw_name;
  // sshd run by root insists on its privilege separation folder, which the Debian package
  // makes only when the service starts.
  if (geteuid() == 0) ::mkdir("/run/sshd", 0755);
  ::mkdir(data().c_str(), 0700);

  std::string output;
  if (!RunTool({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "", "-f",
                m_dir.file("host_ed25519")},
               output) ||
      !MakeSshKeyPair(clientKeyFile())) {
    m_problem = "ssh-keygen failed: " + output;
    return false;
  }
  if (!RunTool({"ssh-keygen", "-l", "-E", "sha256", "-f", m_dir.file("host_ed25519.pub")},
               output)) {
    m_problem = "ssh-keygen -l failed: " + output;
    return false;
  }
  // "256 SHA256:... comment (ED25519)"
  std::istringstream fields(output);
  std::string bits;
  fields >> bits >> m_hostKeySha256;
  if (m_hostKeySha256.rfind("SHA256:", 0) != 0) {
    m_problem = "ssh-keygen -l printed no fingerprint: " + output;
    return false;
  }
  if (!WriteWholeFile(m_dir.file("authorized_keys"), ReadWholeFile(clientKeyFile() + ".pub"))) {
    m_problem = "cannot write authorized_keys";
    return false;
  }
  if (!settings.password.empty() && !writeShadow(settings.password)) return false;
  for (int tries = 0; tries < 5; ++tries) {
    if (launch(settings)) {
      std::istringstream hostKey(FirstLine(ReadWholeFile(m_dir.file("host_ed25519.pub"))));
      std::string type, key;
      hostKey >> type >> key;
      m_knownHostsLine = "[" + host() + "]:" + std::to_string(m_port) + " " + type + " " + key;
      return true;
    }
  }
  return false;
}

bool SshServer::writeShadow(const std::string& password) {
  if (geteuid() != 0) {
    m_problem = "a password login needs the tests to run as root";
    return false;
  }
  std::string hash;
  if (!RunTool({"openssl", "passwd", "-6", password}, hash)) {
    m_problem = "openssl passwd failed: " + hash;
    return false;
  }
  hash = FirstLine(hash);
  std::istringstream lines(ReadWholeFile("/etc/shadow"));
  std::string shadow;
  bool found = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(m_user + ":", 0) == 0) {
      const auto end = line.find(':', m_user.size() + 1);
      line = m_user + ":" + hash + (end == std::string::npos ? "" : line.substr(end));
      found = true;
    }
    shadow += line + "\n";
  }
  if (!found || !WriteWholeFile(m_dir.file("shadow"), shadow)) {
    m_problem = "cannot make a shadow file for " + m_user;
    return false;
  }
  ::chmod(m_dir.file("shadow").c_str(), 0600);
  return true;
}

bool SshServer::launch(const SshServerSettings& settings) {
  // Free a moment ago; should another program take it first, sshd exits and start() tries
  // another.
  m_port = ClosedPort();
  const std::string config = m_dir.file("sshd_config");
  std::ostringstream text;
  text << "Port " << m_port << "\n"
       << "ListenAddress 127.0.0.1\n"
       << "HostKey " << m_dir.file("host_ed25519") << "\n"
       << "PidFile " << m_dir.file("sshd.pid") << "\n"
       << "AuthorizedKeysFile " << m_dir.file("authorized_keys") << "\n"
       << "UsePAM no\n"
       << "StrictModes no\n"
       << "PermitRootLogin yes\n"
       << "PubkeyAuthentication yes\n"
       << "PasswordAuthentication " << (settings.passwordLogin ? "yes" : "no") << "\n"
       << "KbdInteractiveAuthentication no\n"
       << "PrintMotd no\n"
       << "UseDNS no\n"
       << "MaxStartups 100\n"
       << "LogLevel VERBOSE\n"
       << "Subsystem sftp internal-sftp -d " << data() << "\n";
  if (!WriteWholeFile(config, text.str())) {
    m_problem = "cannot write " + config;
    return false;
  }
  const std::string logPath = m_dir.file("sshd.log");
  const pid_t pid = fork();
  if (pid < 0) {
    m_problem = "fork failed";
    return false;
  }
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    const int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(devNull, 0);
    dup2(logFd, 1);
    dup2(logFd, 2);
    if (settings.fileSizeLimit > 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = settings.fileSizeLimit;
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (settings.password.empty()) {
      execl(kSshd, kSshd, "-D", "-e", "-f", config.c_str(), static_cast<char*>(nullptr));
    } else {
      // unshare and sh each replace themselves, so the process stays sshd.
      const std::string script = "mount --bind '" + m_dir.file("shadow") +
                                 "' /etc/shadow && exec " + kSshd + " -D -e -f '" + config + "'";
      execlp("unshare", "unshare", "--mount", "--propagation", "private", "sh", "-c",
             script.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  m_pid = pid;
  for (int waited = 0; waited < 10000; waited += 20) {
    if (Accepts(m_port)) return true;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      m_pid = -1;
      m_problem = "sshd exited: " + log();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  m_problem = "sshd did not listen within 10 s: " + log();
  stop();
  return false;
}

int SshServer::cutSessions() {
  if (m_pid <= 0) return 0;
  ::kill(m_pid, SIGSTOP);
  const std::vector<pid_t> sessions = Descendants(m_pid);
  for (const pid_t session : sessions) ::kill(session, SIGKILL);
  ::kill(m_pid, SIGCONT);
  return static_cast<int>(sessions.size());
}

bool SshServer::stop() {
  if (m_pid <= 0) return false;
  // Sessions run in their own process groups (sshd calls setsid for each), so they are
  // found by parent; the listener is held first so it forks no more while they are.
  ::kill(m_pid, SIGSTOP);
  for (const pid_t session : Descendants(m_pid)) ::kill(session, SIGKILL);
  ::kill(m_pid, SIGKILL);
  int status = 0;
  while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
  return true;
}

}  // namespace brevanto::test
