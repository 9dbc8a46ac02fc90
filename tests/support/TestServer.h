#pragma once
// The throw-away MariaDB servers that server-backed tests run against.
//
// tests/mariadb/testservers.sh starts three servers on 127.0.0.1 (user root, password
// "brevanto"): A on 33901 and B on 33902 accept plain connections only, TLS on 33903 also
// offers TLS with a self-signed certificate. ctest starts them through the "mariadb"
// fixture for every test labelled mysql. A fourth, on 33904, writes a binary log; only
// the programs that need it start it (fixture "mariadb_binlog"). The environment variable
// BREVANTO_TEST_SERVERS overrides the defaults: up to four comma-separated entries for A,
// B, TLS and the binary-log server, each "[user[:password]@]host:port" (an empty entry
// keeps the default).
//
// All functions may be called from any test thread.

#include <string>

#include "core/ServerInfo.h"

#include <gtest/gtest.h>

namespace brevanto::test {

struct TestServerInfo {
  std::string host;
  unsigned port = 0;
  std::string user, password;
  // The server's own folder: data/, the socket mariadbd.sock, error.log and files/ (its
  // secure-file-priv folder); under $BREVANTO_TEST_BASEDIR or the build tree's mariadb-test/.
  std::string basedir;
};

const TestServerInfo& ServerA();
const TestServerInfo& ServerB();
const TestServerInfo& ServerTls();
const TestServerInfo& ServerBinlog();

// The CA file that signed ServerTls()'s certificate (made for 127.0.0.1 and localhost),
// and that certificate, in its server folder.
std::string TlsCaFile();
std::string TlsCertificateFile();

// True when a libmariadb connection to the server succeeds within a few seconds.
bool IsReachable(const TestServerInfo& server);

// A connection record for the server: host, port, user and password filled in,
// no database, compression and SSL flags off (set UseSSL yourself for ServerTls()).
CServerInfo AsServerInfo(const TestServerInfo& server);

// Runs `sql` through the stock `mariadb` client in batch mode without column names
// (--no-defaults --batch --skip-column-names, utf8mb4) and returns its stdout: one line per row,
// tab-separated, with the client's batch escaping of tabs, newlines and backslashes.
// A non-zero exit adds a test failure naming the client's error text.
std::string RunClient(const TestServerInfo& server, const std::string& sql,
                      const std::string& database = "");

// Pipes the file at `path` into the `mariadb` client (as `mariadb db < path` would) and
// returns the client's exit status; its output goes to the test's stderr.
int RunClientFile(const TestServerInfo& server, const std::string& path,
                  const std::string& database = "");

// CHECKSUM TABLE `database`.`table` through the stock client: the checksum as text,
// "NULL" for a missing table, "" when the client failed (a test failure is added then).
std::string Checksum(const TestServerInfo& server, const std::string& database,
                     const std::string& table);

// Whether an unreachable server fails the test instead of skipping it: true when
// BREVANTO_TEST_SERVERS is set, as ctest does after its fixture started the servers.
bool ServersRequired();

}  // namespace brevanto::test

// Skips the current test (or fails it under ctest) when `server` does not answer.
#define BREVANTO_REQUIRE_SERVER(server)                                                 \
  do {                                                                                  \
    const ::brevanto::test::TestServerInfo& brevanto_required_server_ = (server);       \
    if (!::brevanto::test::IsReachable(brevanto_required_server_)) {                    \
      if (::brevanto::test::ServersRequired()) {                                        \
        GTEST_FAIL() << "MariaDB test server " << brevanto_required_server_.host << ":" \
                     << brevanto_required_server_.port << " does not answer";           \
      }                                                                                 \
      GTEST_SKIP() << "MariaDB test server " << brevanto_required_server_.host << ":"   \
                   << brevanto_required_server_.port                                    \
                   << " does not answer (start it with tests/mariadb/testservers.sh "   \
                      "start <dir>, or run the test through ctest)";                    \
    }                                                                                   \
  } while (false)
