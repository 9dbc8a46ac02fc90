#pragma once
// What "Use SSL" asks of a connection: TLS, offered in the greeting of the very
// connection that logs in, and a certificate the system's CAs (or the server's CA file)
// vouch for under the name connected to, or the one certificate pinned by its SHA-256.
// Passwords go in clear (mysql_clear_password, dialog) only over such TLS or a socket.
//
// The client library does the checks on the real connection; a probe of our own reads
// the greeting (and, when asked, the certificate) first, for an early, plain message and
// for the fingerprint the user may pin.

#include <string>

#include "core/ServerInfo.h"
#include "engines/MySqlHandles.h"

namespace brevanto {

struct MySqlError;

enum class TlsOffer { Offered, NotOffered, Unknown };

struct TlsProbe {
  TlsOffer Offer = TlsOffer::Unknown;
  // The certificate's fingerprints ("AB:CD:..."); empty when not asked for or not read.
  std::string Sha256;
  std::string Sha1;
};

// Reads the greeting of the server at host:port on a connection of its own. With
// `readCertificate` and TLS offered it then asks for TLS and reads the certificate the
// server shows, without checking it. Never sends anything of a login.
TlsProbe ProbeServerTls(const std::string& host, unsigned int port, bool readCertificate);

// The SHA-256 fingerprint of the certificate `server` shows over TCP; empty when it
// offers no TLS or cannot be reached (or its host is a socket).
std::string ServerCertificateFingerprint(const CServerInfo& server);

// Sets the library's TLS and login options on `handle` for `server` before it connects.
// False with `error` set when the connection must not be tried: the probe found no TLS
// on offer, or a certificate other than the pinned one.
bool PrepareServerTls(MYSQL* handle, const CServerInfo& server, MySqlError& error);

// After a failed connect: when the certificate was refused, adds its fingerprint and
// how to trust it to `error`, so that a server with a self-signed certificate can be
// pinned from the message alone.
void ExplainRefusedCertificate(const CServerInfo& server, MySqlError& error);

// After the connect: with UseSSL a connection that did not negotiate TLS counts as
// failed, with `error` set.
bool ConfirmServerTls(MYSQL* handle, const CServerInfo& server, MySqlError& error);

}  // namespace brevanto
