#pragma once
// A throw-away OpenSSH server for tests of the SFTP store: the stock /usr/sbin/sshd on
// 127.0.0.1, on a free port, with its own host key, its own client key pair (authorised for
// the user the tests run as) and its own config, all in a temporary folder that goes with
// the object. SFTP sessions start in data() (internal-sftp -d), so relative paths land there.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tests/support/TempDir.h"

namespace brevanto::test {

struct SshServerSettings {
  bool passwordLogin = false;
  // When set (with passwordLogin), sshd sees user() with this password: it runs in a mount
  // namespace of its own where /etc/shadow is a copy holding the password's hash, so no
  // account of the machine changes. Needs root and unshare(1); running() is false without.
  std::string password;
  // Writes past this many bytes in one file fail on the server as on a full disk (the
  // server's file-size limit, SIGXFSZ ignored); 0: no limit.
  std::uint64_t fileSizeLimit = 0;
};

class SshServer {
 public:
  explicit SshServer(const SshServerSettings& settings = {});
  // Stops sshd (and its sessions) and removes the folder.
  ~SshServer();
  SshServer(const SshServer&) = delete;
  SshServer& operator=(const SshServer&) = delete;

  // False, with problem() saying why, when sshd could not be set up or did not listen.
  bool running() const { return m_pid > 0; }
  const std::string& problem() const { return m_problem; }

  std::string host() const { return "127.0.0.1"; }
  int port() const { return m_port; }
  // The account the tests run as, which the client key logs in to.
  const std::string& user() const { return m_user; }
  // The authorised client key (OpenSSH format, no passphrase) and its ".pub".
  std::string clientKeyFile() const { return m_dir.file("client_ed25519"); }
  // "SHA256:..." as `ssh-keygen -lf` prints the host key's fingerprint.
  const std::string& hostKeySha256() const { return m_hostKeySha256; }
  // The host key as a known_hosts line: "[127.0.0.1]:PORT ssh-ed25519 AAAA...".
  const std::string& knownHostsLine() const { return m_knownHostsLine; }
  // Where SFTP sessions start, ending in "/".
  std::string data() const { return m_dir.file("data/"); }
  // sshd's own log (-e), for a failing test's message.
  std::string log() const;

  // Stops sshd at once, cutting every session; false when it was not running.
  bool stop();
  // Kills the sessions under way, as a dropped network would end them, and keeps listening.
  // Returns how many processes it ended.
  int cutSessions();

 private:
  bool start(const SshServerSettings& settings);
  bool launch(const SshServerSettings& settings);
  bool writeShadow(const std::string& password);

  TempDir m_dir;
  std::string m_user;
  std::string m_problem;
  std::string m_hostKeySha256;
  std::string m_knownHostsLine;
  int m_port = 0;
  pid_t m_pid = -1;
};

// Makes an ed25519 key pair without passphrase at `privatePath` (+ ".pub"); false on failure.
bool MakeSshKeyPair(const std::string& privatePath);

}  // namespace brevanto::test
