#pragma once
// One MySQL connection: an entry of the saved-server list and, twice, part of a task.

#include <cstdint>
#include <string>

namespace brevanto {

struct CServerInfo {
  std::string ConnectionName;
  std::string Host = "localhost";
  std::uint32_t Port = 3306;
  std::string UserName = "root";
  std::string Password;
  std::string Database;
  std::string Comment;
  std::uint8_t SavePassword = 0;
  std::uint8_t UseCompression = 0;
  std::uint8_t UseSSL = 0;
  std::uint8_t Reserved = 0;
  // Checks of "Use SSL" beyond the system's CAs. The binary records (server file, task
  // file) keep their layout: these live in JSON beside them.
  std::string SslCaFile;       // PEM file of the CA that signs the server's certificate
  std::string SslFingerprint;  // the certificate's SHA-256 ("AB:CD:..."): trust only it
  // An option file read instead of ~/.my.cnf when no password is saved (absolute path).
  std::string DefaultsFile;

  friend bool operator==(const CServerInfo&, const CServerInfo&) = default;
};

// A SHA-256 fingerprint as typed (64 hex digits in any case, colons between the pairs
// or none, blanks around) in the form it is kept and shown: "AB:CD:...". Empty when
// `text` is not one.
std::string CanonicalFingerprint(const std::string& text);

}  // namespace brevanto
