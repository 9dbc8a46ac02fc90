#include "engines/ServerTls.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "engines/MySqlConnection.h"

namespace brevanto {

namespace {

// CR_SSL_CONNECTION_ERROR of the client library.
constexpr unsigned int kSslConnectionError = 2026;
constexpr int kProbeTimeoutMs = static_cast<int>(kConnectTimeoutSeconds) * 1000;
constexpr unsigned int kClientSslCapability = 0x0800;

// Every login method but those that hand the password over as it is (to whoever holds
// the other end): mysql_clear_password and dialog.
constexpr const char* kPluginsWithoutClearPassword =
    "mysql_native_password,mysql_old_password,client_ed25519,caching_sha2_password,"
    "sha256_password,auth_gssapi_client,parsec";

const char* const kNoTlsOffered =
    "SSL connection error: the server does not support encrypted connections";

bool WaitFor(int socket, short events) {
  pollfd entry{socket, events, 0};
  return ::poll(&entry, 1, kProbeTimeoutMs) == 1 && (entry.revents & events) != 0;
}

bool ReadExactly(int socket, unsigned char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (!WaitFor(socket, POLLIN)) return false;
    const ssize_t got = ::recv(socket, out + done, size - done, 0);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool SendAll(int socket, const unsigned char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (!WaitFor(socket, POLLOUT)) return false;
    const ssize_t sent = ::send(socket, data + done, size - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

// The greeting's capability bits (low two bytes), or -1 when it is not a greeting.
int GreetingCapabilities(int socket) {
  unsigned char header[4];
  if (!ReadExactly(socket, header, sizeof header)) return -1;
  const std::size_t size = header[0] | (header[1] << 8) | (header[2] << 16);
  std::vector<unsigned char> body(std::min<std::size_t>(size, 1024));
  // Protocol 10: version text, NUL, thread id (4), scramble (8), filler (1), then the low
  // capability bytes. An error packet (0xFF) is left to the library to report.
  if (body.empty() || !ReadExactly(socket, body.data(), body.size()) || body[0] != 10) return -1;
  std::size_t at = 1;
  while (at < body.size() && body[at] != 0) ++at;
  at += 1 + 4 + 8 + 1;
  if (at + 2 > body.size()) return -1;
  return body[at] | (body[at + 1] << 8);
}

std::string HexFingerprint(const unsigned char* digest, unsigned int size) {
  std::string out;
  char pair[4];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
    out += pair;
  }
  return out;
}

struct SslCtxFree {
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
  void operator()(SSL* s) const { SSL_free(s); }
};
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};

// Answers the greeting with a TLS request (sequence 1: protocol 4.1, TLS, nothing of a
// login) and reads the certificate the server shows; no verification, only its digests.
// No server name is sent, as the client library sends none: both see one certificate.
void ReadCertificate(int socket, TlsProbe& probe) {
  unsigned char request[4 + 32] = {32, 0, 0, 1};
  const unsigned int flags = 0x0200 | kClientSslCapability | 0x8000;  // 4.1, SSL, secure
  for (int i = 0; i < 4; ++i) request[4 + i] = static_cast<unsigned char>(flags >> (8 * i));
  request[4 + 4 + 2] = 0x01;  // max packet 16 MiB
  request[4 + 8] = 45;        // utf8mb4
  if (!SendAll(socket, request, sizeof request)) return;
  // OpenSSL wants a blocking socket here; the time-outs bound each wait instead.
  (void)::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) & ~O_NONBLOCK);
  const timeval timeout{kProbeTimeoutMs / 1000, 0};
  (void)::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  (void)::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  std::unique_ptr<SSL_CTX, SslCtxFree> context(SSL_CTX_new(TLS_client_method()));
  if (!context) return;
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(context.get()));
  if (!ssl || SSL_set_fd(ssl.get(), socket) != 1) return;
  if (SSL_connect(ssl.get()) != 1) return;
  std::unique_ptr<X509, X509Free> certificate(SSL_get1_peer_certificate(ssl.get()));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (certificate && X509_digest(certificate.get(), EVP_sha256(), digest, &size) == 1) {
    probe.Sha256 = HexFingerprint(digest, size);
  }
  if (certificate && X509_digest(certificate.get(), EVP_sha1(), digest, &size) == 1) {
    probe.Sha1 = HexFingerprint(digest, size);
  }
}

}  // namespace

TlsProbe ProbeServerTls(const std::string& host, unsigned int port, bool readCertificate) {
  TlsProbe probe;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port == 0 ? 3306 : port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return probe;
  for (addrinfo* address = found; address != nullptr && probe.Offer == TlsOffer::Unknown;
       address = address->ai_next) {
    const int socket = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC |
                                                        SOCK_NONBLOCK, address->ai_protocol);
    if (socket < 0) continue;
    int error = 0;
    socklen_t length = sizeof error;
    const bool connected =
        (::connect(socket, address->ai_addr, address->ai_addrlen) == 0 || errno == EINPROGRESS) &&
        WaitFor(socket, POLLOUT) &&
        ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    const int capabilities = connected ? GreetingCapabilities(socket) : -1;
    if (capabilities >= 0) {
      probe.Offer = (capabilities & kClientSslCapability) != 0 ? TlsOffer::Offered
                                                               : TlsOffer::NotOffered;
      if (readCertificate && probe.Offer == TlsOffer::Offered) ReadCertificate(socket, probe);
    }
    ::close(socket);
  }
  ::freeaddrinfo(found);
  return probe;
}

std::string ServerCertificateFingerprint(const CServerInfo& server) {
  if (IsSocketPath(server.Host)) return {};
  return ProbeServerTls(server.Host, server.Port, true).Sha256;
}

bool PrepareServerTls(MYSQL* handle, const CServerInfo& server, MySqlError& error) {
  const bool socketPath = IsSocketPath(server.Host);
  if (server.UseSSL != 1) {
    // Plain TCP can be read and answered by anyone on the way.
    if (!socketPath) {
      mysql_optionsv(handle, MARIADB_OPT_RESTRICTED_AUTH, kPluginsWithoutClearPassword);
    }
    return true;
  }
  // The SSL flag alone is not enough: without mysql_ssl_set the library neither offers
  // TLS properly nor insists on it.
  mysql_ssl_set(handle, nullptr, nullptr, nullptr, nullptr, nullptr);
  const my_bool enforce = 1;
  mysql_options(handle, MYSQL_OPT_SSL_ENFORCE, &enforce);
  // A socket is not on the network: TLS there stays as it was, unchecked.
  if (socketPath) return true;

  const std::string pin = CanonicalFingerprint(server.SslFingerprint);
  if (!server.SslFingerprint.empty() && pin.empty()) {
    error = {kSslConnectionError, "SSL connection error: the SSL fingerprint \"" +
                                      server.SslFingerprint +
                                      "\" is not a SHA-256 fingerprint (64 hexadecimal digits)"};
    return false;
  }
  if (!server.SslCaFile.empty() && ::access(server.SslCaFile.c_str(), R_OK) != 0) {
    error = {kSslConnectionError,
             "SSL connection error: the CA file \"" + server.SslCaFile + "\" cannot be read"};
    return false;
  }
  // The library refuses a greeting without TLS before it sends the login only while it
  // verifies (a certificate or a fingerprint); the probe just says so early and plainly.
  const TlsProbe probe = ProbeServerTls(server.Host, server.Port, !pin.empty());
  if (probe.Offer == TlsOffer::NotOffered) {
    error = {kSslConnectionError, kNoTlsOffered};
    return false;
  }
  if (!server.SslCaFile.empty()) {
    mysql_options(handle, MYSQL_OPT_SSL_CA, server.SslCaFile.c_str());
  }
  if (pin.empty() || !server.SslCaFile.empty()) {
    // Chain (system CAs, or the CA file) and the name connected to.
    const my_bool verify = 1;
    mysql_options(handle, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
  }
  if (!pin.empty()) {
    if (probe.Sha256.empty()) {
      error = {kSslConnectionError,
               "SSL connection error: the server's certificate could not be read to compare it "
               "with the pinned SSL fingerprint"};
      return false;
    }
    if (probe.Sha256 != pin) {
      error = {kSslConnectionError,
               "SSL connection error: the server's certificate is not the pinned one (its SHA-256 "
               "fingerprint is " + probe.Sha256 + ", the pinned one " + pin + ")"};
      return false;
    }
    // The library compares SHA-1 digests only. The SHA-1 of the certificate whose
    // SHA-256 was pinned makes it refuse any other certificate on the real connection,
    // before the login.
    mysql_optionsv(handle, MARIADB_OPT_TLS_PEER_FP, probe.Sha1.c_str());
  }
  return true;
}

void ExplainRefusedCertificate(const CServerInfo& server, MySqlError& error) {
  if (server.UseSSL != 1 || error.Number != kSslConnectionError || IsSocketPath(server.Host) ||
      !server.SslFingerprint.empty()) {
    return;
  }
  const std::string fingerprint = ServerCertificateFingerprint(server);
  if (fingerprint.empty()) return;
  error.Text += ". The server's certificate has the SHA-256 fingerprint " + fingerprint +
                ". If that is your server's own certificate, trust it: enter the fingerprint as "
                "the server's SSL fingerprint (the Test button offers to), or choose the CA "
                "file that signed it";
}

bool ConfirmServerTls(MYSQL* handle, const CServerInfo& server, MySqlError& error) {
  if (server.UseSSL != 1 || mysql_get_ssl_cipher(handle) != nullptr) return true;
  // The user asked for encryption; a plain connection is not what they configured.
  error = {kSslConnectionError, kNoTlsOffered};
  return false;
}

}  // namespace brevanto
