#pragma once
// A local SMTP server and HTTP server that record what they receive
// (notification_sink.py, run by the system's python3). Both listen on 127.0.0.1 only,
// on ports the system picks; they end with this object.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "notify/NotificationSettings.h"
#include "tests/support/ClosedPort.h"
#include "tests/support/TempDir.h"

namespace brevanto::test {

// Settings that send every failure's e-mail (SMTP without TLS or login) and webhook to
// local test servers.
inline CNotificationSettings LocalServerSettings(int smtpPort, const std::string& webhookUrl) {
  CNotificationSettings settings;
  settings.SmtpServer = "127.0.0.1";
  settings.SmtpPort = smtpPort;
  settings.Security = SmtpSecurity::None;
  settings.Sender = "brevanto@example.org";
  settings.Defaults.EmailTo = "dba@example.org";
  settings.Defaults.WebhookUrl = webhookUrl;
  return settings;
}

class NotificationSink {
 public:
  NotificationSink() {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      ::execl("/usr/bin/python3", "python3", BREVANTO_NOTIFICATION_SINK, m_folder.path().c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_input = in[1];
    FILE* ports = ::fdopen(out[0], "r");
    if (ports != nullptr) {
      if (std::fscanf(ports, "smtp=%d http=%d", &m_smtpPort, &m_httpPort) != 2) m_smtpPort = 0;
      std::fclose(ports);
    }
  }
  ~NotificationSink() {
    if (m_input >= 0) ::close(m_input);  // the sink ends when its input closes
    if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
  }

  bool Started() const { return m_smtpPort > 0 && m_httpPort > 0; }
  int SmtpPort() const { return m_smtpPort; }
  std::string HttpUrl(const std::string& path = "/hook") const {
    return "http://127.0.0.1:" + std::to_string(m_httpPort) + path;
  }

  // Everything received so far, in order: the messages (headers and body) and the
  // envelopes ("from=...\nto=...\n"), the POST bodies and their paths, the GETs' paths.
  std::vector<std::string> Mails() const { return Read("mail", ".eml"); }
  std::vector<std::string> Envelopes() const { return Read("mail", ".env"); }
  std::vector<std::string> Posts() const { return Read("post", ".json"); }
  std::vector<std::string> PostPaths() const { return Read("post", ".path"); }
  std::vector<std::string> GetPaths() const { return Read("get", ".path"); }

 private:
  std::vector<std::string> Read(const std::string& kind, const std::string& extension) const {
    std::vector<std::string> all;
    for (int i = 1;; ++i) {
      const std::string path = m_folder.file(kind + "-" + std::to_string(i) + extension);
      if (::access(path.c_str(), F_OK) != 0) return all;
      all.push_back(ReadWholeFile(path));
    }
  }

  TempDir m_folder;
  pid_t m_pid = -1;
  int m_input = -1;
  int m_smtpPort = 0;
  int m_httpPort = 0;
};

}  // namespace brevanto::test
