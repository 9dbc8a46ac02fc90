#include "tests/support/TestServer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <mysql.h>

#include "tests/support/TempDir.h"

extern char** environ;

namespace brevanto::test {
namespace {

#ifndef BREVANTO_TEST_BASEDIR
#define BREVANTO_TEST_BASEDIR "/tmp/brevanto-mariadb-test"
#endif

constexpr unsigned kDefaultPorts[] = {33901, 33902, 33903, 33904};
constexpr const char* kFolderNames[] = {"a", "b", "tls", "binlog"};
constexpr int kServers = 4;

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

// Applies one "[user[:password]@]host:port" entry of BREVANTO_TEST_SERVERS over `server`.
void ApplyOverride(const std::string& entry, TestServerInfo& server) {
  if (entry.empty()) return;
  std::string address = entry;
  const auto at = entry.rfind('@');
  if (at != std::string::npos) {
    const std::string credentials = entry.substr(0, at);
    address = entry.substr(at + 1);
    const auto colon = credentials.find(':');
    server.user = credentials.substr(0, colon);
    if (colon != std::string::npos) server.password = credentials.substr(colon + 1);
  }
  const auto colon = address.rfind(':');
  if (colon == std::string::npos) {
    server.host = address;
    return;
  }
  server.host = address.substr(0, colon);
  server.port = static_cast<unsigned>(std::strtoul(address.substr(colon + 1).c_str(), nullptr, 10));
}

std::vector<TestServerInfo> LoadServers() {
  const std::string basedir = EnvOr("BREVANTO_TEST_BASEDIR", BREVANTO_TEST_BASEDIR);
  std::vector<TestServerInfo> servers;
  for (int i = 0; i < kServers; ++i) {
    servers.push_back(
        {"127.0.0.1", kDefaultPorts[i], "root", "brevanto", basedir + "/" + kFolderNames[i]});
  }
  const std::string list = EnvOr("BREVANTO_TEST_SERVERS", "");
  std::size_t start = 0;
  for (int i = 0; i < kServers && start <= list.size(); ++i) {
    const auto comma = list.find(',', start);
    const auto end = comma == std::string::npos ? list.size() : comma;
    ApplyOverride(list.substr(start, end - start), servers[i]);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return servers;
}

const std::vector<TestServerInfo>& Servers() {
  static const std::vector<TestServerInfo> servers = LoadServers();
  return servers;
}

std::vector<std::string> ClientArguments(const TestServerInfo& server,
                                         const std::string& database) {
  // --no-defaults: option files of the machine or the user (sockets, passwords) stay out.
  std::vector<std::string> args = {"mariadb",
                                   "--no-defaults",
                                   "--protocol=TCP",
                                   "--host=" + server.host,
                                   "--port=" + std::to_string(server.port),
                                   "--user=" + server.user,
                                   "--batch",
                                   "--skip-column-names",
                                   "--default-character-set=utf8mb4"};
  if (!server.password.empty()) args.push_back("--password=" + server.password);
  if (!database.empty()) args.push_back("--database=" + database);
  return args;
}

struct ClientRun {
  int exitStatus = -1;
  std::string output;
};

// Starts the client with stdin from `inputPath`; stdout is captured when `captureOutput`,
// otherwise sent to our stderr; the client's stderr goes to `errorPath`.
ClientRun SpawnClient(const std::vector<std::string>& args, const std::string& inputPath,
                      bool captureOutput, const std::string& errorPath) {
  ClientRun run;
  int pipeFds[2] = {-1, -1};
  if (captureOutput && pipe2(pipeFds, O_CLOEXEC) != 0) return run;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
  if (captureOutput) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  } else {
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
  }
  posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);

  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "mariadb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (captureOutput) close(pipeFds[1]);
  if (spawned != 0) {
    if (captureOutput) close(pipeFds[0]);
    return run;
  }
  if (captureOutput) {
    char buffer[65536];
    ssize_t got = 0;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
      if (got > 0) run.output.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

std::string QuoteName(const std::string& name) {
  std::string quoted = "`";
  for (char c : name) {
    if (c == '`') quoted += '`';
    quoted += c;
  }
  return quoted + "`";
}

}  // namespace

const TestServerInfo& ServerA() {
  return Servers()[0];
}
const TestServerInfo& ServerB() {
  return Servers()[1];
}
const TestServerInfo& ServerTls() {
  return Servers()[2];
}
const TestServerInfo& ServerBinlog() {
  return Servers()[3];
}

bool ServersRequired() {
  return !EnvOr("BREVANTO_TEST_SERVERS", "").empty();
}

std::string TlsCaFile() {
  return ServerTls().basedir + "/certs/ca.pem";
}

std::string TlsCertificateFile() {
  return ServerTls().basedir + "/certs/server-cert.pem";
}

bool IsReachable(const TestServerInfo& server) {
  // The library's implicit initialisation inside mysql_init is not thread-safe.
  static std::once_flag initialised;
  std::call_once(initialised, [] { mysql_library_init(0, nullptr, nullptr); });
  MYSQL* handle = mysql_init(nullptr);
  if (handle == nullptr) return false;
  const unsigned timeoutSeconds = 5;
  mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeoutSeconds);
  const bool connected =
      mysql_real_connect(handle, server.host.c_str(), server.user.c_str(), server.password.c_str(),
                         nullptr, server.port, nullptr, 0) != nullptr;
  mysql_close(handle);
  return connected;
}

CServerInfo AsServerInfo(const TestServerInfo& server) {
  CServerInfo info;
  info.ConnectionName = server.host + ":" + std::to_string(server.port);
  info.Host = server.host;
  info.Port = server.port;
  info.UserName = server.user;
  info.Password = server.password;
  info.SavePassword = 1;
  return info;
}

std::string RunClient(const TestServerInfo& server, const std::string& sql,
                      const std::string& database) {
  TempDir dir;
  if (!WriteWholeFile(dir.file("input.sql"), sql)) {
    ADD_FAILURE() << "cannot write the client's input file in " << dir.path();
    return "";
  }
  const ClientRun run = SpawnClient(ClientArguments(server, database), dir.file("input.sql"), true,
                                    dir.file("stderr.txt"));
  if (run.exitStatus < 0) {
    ADD_FAILURE() << "cannot start the mariadb client (is mariadb-client installed?)";
  } else if (run.exitStatus != 0) {
    ADD_FAILURE() << "mariadb client on " << server.host << ":" << server.port << " exited with "
                  << run.exitStatus << ": " << ReadWholeFile(dir.file("stderr.txt"))
                  << "SQL: " << sql.substr(0, 2000);
  }
  return run.output;
}

int RunClientFile(const TestServerInfo& server, const std::string& path,
                  const std::string& database) {
  TempDir dir;
  const ClientRun run =
      SpawnClient(ClientArguments(server, database), path, false, dir.file("stderr.txt"));
  const std::string errors = ReadWholeFile(dir.file("stderr.txt"));
  if (!errors.empty()) fprintf(stderr, "%s", errors.c_str());
  return run.exitStatus;
}

std::string Checksum(const TestServerInfo& server, const std::string& database,
                     const std::string& table) {
  const std::string output =
      RunClient(server, "CHECKSUM TABLE " + QuoteName(database) + "." + QuoteName(table) + ";");
  // One row: "<db>.<table>\t<checksum>\n"; table names may hold tabs only in theory.
  const auto tab = output.rfind('\t');
  if (tab == std::string::npos) return "";
  std::string value = output.substr(tab + 1);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return value;
}

}  // namespace brevanto::test
