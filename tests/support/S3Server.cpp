#include "tests/support/S3Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace brevanto::test {
namespace {

namespace fs = std::filesystem;

fs::path ScriptDir() {
  return fs::path(BREVANTO_TEST_SUPPORT_SOURCE_DIR) / "s3";
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const fs::path candidate = fs::path(dirs.substr(start, end - start)) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

}  // namespace

S3Server::S3Server(const Options& options) {
  const std::string node = FindOnPath("node");
  const fs::path script = ScriptDir() / "s3-test-server.js";
  if (node.empty()) {
    m_problem = "`node` is not on PATH (it comes with the machine; test.sh runs `npm ci` too)";
    return;
  }
  for (const char* module : {"s3rver", "aws4", "fast-xml-parser"}) {
    if (!fs::exists(ScriptDir() / "node_modules" / module / "package.json")) {
      m_problem = std::string("the npm package ") + module + " is missing: run `npm ci` in " +
                  ScriptDir().string() + " (test.sh does)";
      return;
    }
  }
  const std::string portFile = m_dir.file("port");
  const std::string logFile = m_dir.file("server.log");
  // s3rver makes its continuation tokens with DES, which OpenSSL 3 keeps in its legacy provider.
  std::vector<std::string> args{node,
                                "--openssl-legacy-provider",
                                script,
                                "--data",
                                m_dir.file("data"),
                                "--port-file",
                                portFile,
                                "--key-id",
                                kKeyId,
                                "--secret",
                                kSecret,
                                "--clock-skew-seconds",
                                std::to_string(options.ClockSkewSeconds)};
  if (options.Tls) {
    const std::string key = m_dir.file("key.pem");
    const std::string cert = m_dir.file("cert.pem");
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext "
        "subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
        key + "' -out '" + cert + "' >'" + logFile + "' 2>&1";
    if (std::system(command.c_str()) != 0) {
      m_problem = "openssl could not make a certificate: " + ReadWholeFile(logFile);
      return;
    }
    m_caFile = cert;
    args.insert(args.end(), {"--tls-cert", cert, "--tls-key", key});
  }
  for (const std::string& bucket : options.Buckets) {
    args.push_back("--bucket");
    args.push_back(bucket);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) {
    m_problem = "cannot make a pipe";
    return;
  }
  m_pid = ::fork();
  if (m_pid == 0) {
    ::dup2(pipe[0], 0);
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(log, 1);
    ::dup2(log, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipe[0]);
  m_stdin = pipe[1];

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string port = ReadWholeFile(portFile);
    if (port.find(' ') != std::string::npos) {
      m_port = std::atoi(port.c_str());
      m_controlPort = std::atoi(port.c_str() + port.find(' '));
      return;
    }
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      m_problem = "the server ended at its start: " + ReadWholeFile(logFile);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  m_problem = "the server did not start within 30 s: " + ReadWholeFile(logFile);
}

S3Server::~S3Server() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
  if (m_stdin >= 0) ::close(m_stdin);
}

S3Server& S3Server::Shared() {
  static S3Server server;
  return server;
}

std::string S3Server::Endpoint() const {
  return (m_caFile.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(m_port);
}

int S3Server::PendingUploads(const std::string& bucket) const {
  const fs::path uploads = fs::path(m_dir.file("data")) / bucket / "._S3rver_uploads";
  std::error_code error;
  int count = 0;
  for (fs::directory_iterator it(uploads, error), end; !error && it != end; it.increment(error)) {
    ++count;
  }
  return count;
}

int S3Server::SignedRequests() const {
  const std::string body = Control("GET", "/__control/stats");
  const std::size_t colon = body.find(':');
  return colon == std::string::npos ? -1 : std::atoi(body.c_str() + colon + 1);
}

void S3Server::FailNext(int count, int status, const std::string& code, const std::string& method) {
  Control("POST", "/__control/fail?count=" + std::to_string(count) +
                      "&status=" + std::to_string(status) + "&code=" + code +
                      (method.empty() ? "" : "&method=" + method));
}

void S3Server::LoseReplies(int count, const std::string& method, const std::string& query) {
  Control("POST", "/__control/lose-reply?count=" + std::to_string(count) + "&method=" + method +
                      (query.empty() ? "" : "&query=" + query));
}

void S3Server::LimitObjectBytes(std::uint64_t bytes) {
  Control("POST", "/__control/max-object-bytes" +
                      (bytes == 0 ? std::string() : "?bytes=" + std::to_string(bytes)));
}

// Plain HTTP/1.0 over a socket: control requests are tiny and the support library has no
// HTTP client.
std::string S3Server::Control(const std::string& method, const std::string& target) const {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(m_controlPort));
  std::string response;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request =
        method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        response.append(buffer, static_cast<std::size_t>(got));
      }
    }
  }
  ::close(fd);
  const std::size_t headerEnd = response.find("\r\n\r\n");
  if (response.rfind("HTTP/1.1 2", 0) != 0 || headerEnd == std::string::npos) {
    ADD_FAILURE() << "S3 test server control request " << method << " " << target
                  << " failed: " << response;
    return "";
  }
  return response.substr(headerEnd + 4);
}

}  // namespace brevanto::test
