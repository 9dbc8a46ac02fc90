// "Use SSL": the certificate is checked (system CAs or the server's CA file, and the name
// connected to; or a pinned SHA-256), on the connection that logs in, before it logs in;
// and no password goes out in clear where anyone on the way could read it. Checked on
// the real TLS test server and on a fake server that shows a self-signed certificate
// for another name and asks every client for its password in clear.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engines/MySqlConnection.h"
#include "engines/ServerTls.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::ServerA;

constexpr const char* kFakeUser = "fakeuser";
constexpr const char* kFakePassword = "fake-secret-pw";

// The SHA-256 of a certificate file as the stock openssl tool prints it.
std::string StockFingerprint(const std::string& certificate) {
  const std::string command = "openssl x509 -noout -fingerprint -sha256 -in '" + certificate + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  ::pclose(pipe);
  std::string text = read ? line : "";
  const auto equals = text.find('=');
  if (equals == std::string::npos) return {};
  text = text.substr(equals + 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// tls_fake_server.py, running for the life of the object; `plan` says per connection
// whether its greeting offers TLS ("tls,plain": the first does, the later ones do not;
// "other" offers it with a second certificate).
class FakeServer {
 public:
  explicit FakeServer(const std::string& plan) {
    m_thread = std::thread([this, plan] {
      const std::string command = "python3 '" + std::string(BREVANTO_TEST_DATA_DIR) +
                                  "/tls_fake_server.py' '" + m_dir.path() + "' '" + plan + "' " +
                                  kFakeUser + " " + kFakePassword;
      (void)std::system(command.c_str());
      m_ended = true;
    });
    // Waits for readiness, not for time: the script writes the file once it listens.
    while (!std::filesystem::exists(m_dir.file("port")) && !m_ended) usleep(10000);
  }
  ~FakeServer() { Stop(); }

  bool Listening() const { return std::filesystem::exists(m_dir.file("port")); }
  std::string Fingerprint() const { return test::ReadWholeFile(m_dir.file("fingerprint")); }

  CServerInfo Server() const {
    CServerInfo server;
    server.Host = "127.0.0.1";
    server.Port = static_cast<std::uint32_t>(std::stoul(test::ReadWholeFile(m_dir.file("port"))));
    server.UserName = kFakeUser;
    server.Password = kFakePassword;
    server.SavePassword = 1;
    return server;
  }

  // One line per connection served: "<n> tls=<0|1> user=<True|False> password=<...>".
  std::string Log() {
    Stop();
    return std::filesystem::exists(m_dir.file("log")) ? test::ReadWholeFile(m_dir.file("log"))
                                                      : std::string();
  }

 private:
  void Stop() {
    if (!m_thread.joinable()) return;
    if (Listening() && !m_ended) {
      // Ends the server: a client that answers the greeting with "STOP".
      const CServerInfo server = Server();
      const int s = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<std::uint16_t>(server.Port));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        char greeting[512];
        (void)::recv(s, greeting, sizeof greeting, 0);
        const char stop[] = {4, 0, 0, 1, 'S', 'T', 'O', 'P'};
        (void)::send(s, stop, sizeof stop, MSG_NOSIGNAL);
      }
      ::close(s);
    }
    m_thread.join();
  }

  test::TempDir m_dir;
  std::thread m_thread;
  std::atomic<bool> m_ended{false};
};

TEST(ServerTlsTest, AForeignCertificateGetsNoLoginAndIsExplained) {
  FakeServer fake("tls");
  ASSERT_TRUE(fake.Listening());
  CServerInfo server = fake.Server();
  server.UseSSL = 1;
  CMySQLConnection connection;
  MySqlError error;
  EXPECT_FALSE(ConnectServer(server, connection, error));
  EXPECT_EQ(2026u, error.Number);
  // Existing servers with a self-signed certificate: the message names what to pin.
  EXPECT_NE(std::string::npos, error.Text.find(fake.Fingerprint())) << error.Text;
  EXPECT_NE(std::string::npos, error.Text.find("SSL fingerprint")) << error.Text;
  EXPECT_EQ(fake.Fingerprint(), ServerCertificateFingerprint(server));
  const std::string log = fake.Log();
  EXPECT_EQ(std::string::npos, log.find("user=True")) << log;
  EXPECT_EQ(std::string::npos, log.find("password=True")) << log;
}

TEST(ServerTlsTest, APinnedCertificateIsTrustedAndNoOther) {
  FakeServer fake("tls");
  ASSERT_TRUE(fake.Listening());
  CServerInfo server = fake.Server();
  server.UseSSL = 1;
  // Another certificate's fingerprint: refused before the login, naming the one shown.
  server.SslFingerprint = std::string(95, 'A');
  for (std::size_t i = 2; i < server.SslFingerprint.size(); i += 3) server.SslFingerprint[i] = ':';
  CMySQLConnection connection;
  MySqlError error;
  EXPECT_FALSE(ConnectServer(server, connection, error));
  EXPECT_EQ(2026u, error.Number);
  EXPECT_NE(std::string::npos, error.Text.find(fake.Fingerprint())) << error.Text;

  // Its own fingerprint, as typed without colons in lower case: verified TLS, over which
  // the clear-text password may go.
  std::string pin = Lower(fake.Fingerprint());
  std::erase(pin, ':');
  server.SslFingerprint = pin;
  EXPECT_TRUE(ConnectServer(server, connection, error)) << error.Text;
  EXPECT_NE(nullptr, mysql_get_ssl_cipher(connection.Handle()));
  connection.Close();
  const std::string log = fake.Log();
  EXPECT_EQ(std::string::npos, log.find("tls=0 user=True")) << log;
  EXPECT_NE(std::string::npos, log.find("tls=1 user=True password=True")) << log;
}

// The probe is shown the pinned certificate, the connection that logs in another one.
TEST(ServerTlsTest, APinIsCheckedOnTheConnectionThatLogsIn) {
  FakeServer fake("tls,other");
  ASSERT_TRUE(fake.Listening());
  CServerInfo server = fake.Server();
  server.UseSSL = 1;
  server.SslFingerprint = fake.Fingerprint();
  CMySQLConnection connection;
  MySqlError error;
  EXPECT_FALSE(ConnectServer(server, connection, error));
  EXPECT_EQ(2026u, error.Number) << error.Text;
  const std::string log = fake.Log();
  EXPECT_NE(std::string::npos, log.find("2 tls=")) << log;
  EXPECT_EQ(std::string::npos, log.find("user=True")) << log;
}

TEST(ServerTlsTest, NoClearTextPasswordOverPlainTcp) {
  FakeServer fake("plain");
  ASSERT_TRUE(fake.Listening());
  CMySQLConnection connection;
  MySqlError error;
  EXPECT_FALSE(ConnectServer(fake.Server(), connection, error));
  const std::string log = fake.Log();
  EXPECT_NE(std::string::npos, log.find("password=False")) << log;
  EXPECT_EQ(std::string::npos, log.find("password=True")) << log;
}

// The probe sees TLS offered, the connection that logs in does not: it must notice itself.
TEST(ServerTlsTest, TlsOfferedOnlyToTheProbeGetsNoLogin) {
  for (const bool pinned : {false, true}) {
    SCOPED_TRACE(pinned ? "pinned" : "verified by CAs");
    FakeServer fake("tls,plain");
    ASSERT_TRUE(fake.Listening());
    CServerInfo server = fake.Server();
    server.UseSSL = 1;
    if (pinned) server.SslFingerprint = fake.Fingerprint();
    CMySQLConnection connection;
    MySqlError error;
    EXPECT_FALSE(ConnectServer(server, connection, error));
    EXPECT_EQ(2026u, error.Number) << error.Text;
    const std::string log = fake.Log();
    EXPECT_EQ(std::string::npos, log.find("user=True")) << log;
  }
}

class ServerTlsRealTest : public ::testing::Test {
 protected:
  void SetUp() override { BREVANTO_REQUIRE_SERVER(test::ServerTls()); }

  static CServerInfo Tls(const std::string& host) {
    CServerInfo server = test::AsServerInfo(test::ServerTls());
    server.Host = host;
    server.UseSSL = 1;
    return server;
  }
  static bool Connects(const CServerInfo& server, MySqlError& error) {
    CMySQLConnection connection;
    const bool connected = ConnectServer(server, connection, error);
    return connected && mysql_get_ssl_cipher(connection.Handle()) != nullptr;
  }
};

TEST_F(ServerTlsRealTest, VerifiesTheChainAndTheName) {
  MySqlError error;
  // Its CA is in no system store: refused, with the fingerprint to pin instead.
  EXPECT_FALSE(Connects(Tls("127.0.0.1"), error));
  EXPECT_EQ(2026u, error.Number);
  const std::string fingerprint = StockFingerprint(test::TlsCertificateFile());
  ASSERT_EQ(95u, fingerprint.size());
  EXPECT_NE(std::string::npos, error.Text.find(fingerprint)) << error.Text;

  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    CServerInfo server = Tls(host);
    server.SslCaFile = test::TlsCaFile();
    EXPECT_TRUE(Connects(server, error)) << error.Text;
  }
  // "127.1" reaches the same server, but the certificate is not made out to that name.
  CServerInfo otherName = Tls("127.1");
  otherName.SslCaFile = test::TlsCaFile();
  EXPECT_FALSE(Connects(otherName, error));
  EXPECT_EQ(2026u, error.Number);

  CServerInfo missingCa = Tls("127.0.0.1");
  missingCa.SslCaFile = test::TlsCaFile() + ".missing";
  EXPECT_FALSE(Connects(missingCa, error));
  EXPECT_NE(std::string::npos, error.Text.find(missingCa.SslCaFile)) << error.Text;
}

TEST_F(ServerTlsRealTest, APinnedFingerprintStandsInForCaAndName) {
  const std::string fingerprint = StockFingerprint(test::TlsCertificateFile());
  MySqlError error;
  CServerInfo server = Tls("127.1");
  server.SslFingerprint = fingerprint;
  EXPECT_TRUE(Connects(server, error)) << error.Text;
  EXPECT_EQ(fingerprint, ServerCertificateFingerprint(server));

  server.SslFingerprint = "not a fingerprint";
  EXPECT_FALSE(Connects(server, error));
  EXPECT_NE(std::string::npos, error.Text.find("not a SHA-256 fingerprint")) << error.Text;

  // Pinned and a CA file: both must hold, so the name counts again.
  server.SslFingerprint = fingerprint;
  server.SslCaFile = test::TlsCaFile();
  EXPECT_FALSE(Connects(server, error));
  server.Host = "127.0.0.1";
  EXPECT_TRUE(Connects(server, error)) << error.Text;
}

}  // namespace
}  // namespace brevanto
