#include "remote/SftpSession.h"

#include <openssl/evp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <string_view>
#include <vector>

namespace brevanto {
namespace {

// "SHA256:" and the unpadded base64 of the key's hash, as `ssh-keygen -lf` prints it.
std::string Sha256Fingerprint(ssh_key key) {
  unsigned char* hash = nullptr;
  size_t length = 0;
  if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != 0) return "";
  std::vector<unsigned char> text(4 * ((length + 2) / 3) + 1);
  const int written = EVP_EncodeBlock(text.data(), hash, static_cast<int>(length));
  ssh_clean_pubkey_hash(&hash);
  std::string encoded(reinterpret_cast<const char*>(text.data()), static_cast<size_t>(written));
  while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
  return "SHA256:" + encoded;
}

std::string WithoutPadding(std::string fingerprint) {
  while (!fingerprint.empty() && fingerprint.back() == '=') fingerprint.pop_back();
  return fingerprint;
}

}  // namespace

bool OpenFile::Close() {
  if (m_file == nullptr) return true;
  const bool closed = sftp_close(m_file) == SSH_NO_ERROR;
  m_file = nullptr;
  if (m_session != nullptr) m_session->m_files.erase(this);
  m_session = nullptr;
  return closed;
}

SftpSession::SftpSession(const RemoteOptions& options, const TransferControl& control,
                         std::string knownHostsFile)
    : m_options(options), m_control(control), m_knownHosts(std::move(knownHostsFile)) {
  m_watchdog = std::thread([this] { Watch(); });
}

SftpSession::~SftpSession() {
  {
    std::lock_guard lock(m_mutex);
    m_ending = true;
  }
  m_wake.notify_all();
  m_watchdog.join();
  Drop();
}

Status SftpSession::Error(const std::string& cause) const {
  return Status::Error(RemoteTargetText(m_options) + ": " + cause);
}

void SftpSession::Drop() {
  // The handles first: they belong to the channel about to go.
  while (!m_files.empty()) (*m_files.begin())->Close();
  m_pending.clear();
  if (m_sftp != nullptr) sftp_free(m_sftp);
  m_sftp = nullptr;
  if (m_ssh != nullptr) {
    ssh_disconnect(m_ssh);
    ssh_free(m_ssh);
  }
  m_ssh = nullptr;
  m_lost = false;
  std::lock_guard lock(m_mutex);
  m_fd = -1;
}

bool SftpSession::Lost() const {
  return m_ssh == nullptr || ssh_is_connected(m_ssh) == 0 || ssh_get_error_code(m_ssh) == SSH_FATAL;
}

Attempt SftpSession::Ensure() {
  // Answers to pipelined writes are taken in before libssh reads the channel again.
  if (m_sftp != nullptr && !m_lost && !Lost() && Settle()) return {};
  Drop();
  Attempt connected = Connect();
  if (!connected.Result.ok()) Drop();
  return connected;
}

Attempt SftpSession::Connect() {
  {
    std::lock_guard lock(m_mutex);
    m_stalled = false;
  }
  m_ssh = ssh_new();
  if (m_ssh == nullptr) return {Error("libssh could not make a session"), false};
  const int port = m_options.Port;
  const long timeout = m_control.Retry.ConnectTimeoutSeconds;
  const int noDelay = 1;
  // The task's settings are the whole story: no ~/.ssh/config rewriting host, port or user.
  const bool processConfig = false;
  ssh_options_set(m_ssh, SSH_OPTIONS_HOST, m_options.Host.c_str());
  ssh_options_set(m_ssh, SSH_OPTIONS_PORT, &port);
  if (!m_options.User.empty()) ssh_options_set(m_ssh, SSH_OPTIONS_USER, m_options.User.c_str());
  ssh_options_set(m_ssh, SSH_OPTIONS_TIMEOUT, &timeout);
  ssh_options_set(m_ssh, SSH_OPTIONS_NODELAY, &noDelay);
  ssh_options_set(m_ssh, SSH_OPTIONS_PROCESS_CONFIG, &processConfig);
  // AES-GCM first: with the processor's AES instructions it is the fastest cipher both ends
  // have (libssh would pick ChaCha20 otherwise).
  const char* ciphers =
      "aes128-gcm@openssh.com,aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,"
      "aes128-ctr,aes256-ctr";
  ssh_options_set(m_ssh, SSH_OPTIONS_CIPHERS_C_S, ciphers);
  ssh_options_set(m_ssh, SSH_OPTIONS_CIPHERS_S_C, ciphers);
  if (!m_knownHosts.empty()) {
    ssh_options_set(m_ssh, SSH_OPTIONS_KNOWNHOSTS, m_knownHosts.c_str());
  }
  if (ssh_connect(m_ssh) != SSH_OK) {
    // Refused, reset or timed out: the server may be back in a moment.
    return {Error(std::string("cannot connect: ") + ssh_get_error(m_ssh)), true};
  }
  {
    std::lock_guard lock(m_mutex);
    m_fd = ssh_get_fd(m_ssh);
  }
  if (Attempt checked = CheckHostKey(); !checked.Result.ok()) return checked;
  if (Attempt logged = Login(); !logged.Result.ok()) return logged;
  m_sftp = sftp_new(m_ssh);
  if (m_sftp == nullptr || sftp_init(m_sftp) != SSH_OK) {
    const bool lost = Lost();
    return {Error(std::string("the server's SFTP service did not start: ") + ssh_get_error(m_ssh)),
            lost};
  }
  ReadLimits();
  if (m_lost) return {Error("the connection was lost after login"), true};
  return {};
}

Attempt SftpSession::CheckHostKey() {
  ssh_key key = nullptr;
  if (ssh_get_server_publickey(m_ssh, &key) != SSH_OK) {
    return {Error(std::string("the server offered no host key: ") + ssh_get_error(m_ssh)), false};
  }
  // With its type: a pin of the server's other key (ECDSA where Ed25519 was agreed) reads
  // as what it is.
  const char* type = ssh_key_type_to_char(ssh_key_type(key));
  const std::string fingerprint = Sha256Fingerprint(key);
  const std::string offered = fingerprint + (type != nullptr ? " (" + std::string(type) + ")" : "");
  ssh_key_free(key);
  const std::string host = m_options.Host + ":" + std::to_string(m_options.Port);
  if (!m_options.HostKeySha256.empty()) {
    if (WithoutPadding(m_options.HostKeySha256) == fingerprint) return {};
    return {Error("the host key of " + host + " is " + offered + ", not the pinned " +
                  m_options.HostKeySha256 +
                  "; nothing was sent. If the server's key was replaced, pin the new one"),
            false};
  }
  switch (ssh_session_is_known_server(m_ssh)) {
    case SSH_KNOWN_HOSTS_OK: return {};
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
      return {Error("the host key of " + host + " has changed: it offered " + offered +
                    ", which known_hosts does not hold for it; nothing was sent. Check the "
                    "server before trusting the new key"),
              false};
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
      return {Error("the host key of " + host + " is not known: it offered " + offered +
                    "; nothing was sent. Add it to known_hosts or pin it as HostKeySha256"),
              false};
    case SSH_KNOWN_HOSTS_ERROR: break;
  }
  return {Error("the host key of " + host + " (" + offered +
                ") could not be checked against known_hosts: " + ssh_get_error(m_ssh)),
          false};
}

Attempt SftpSession::Login() {
  const std::string who =
      "login as " + std::string(m_options.User.empty() ? "the local user" : m_options.User);
  int result = SSH_AUTH_DENIED;
  if (!m_options.PrivateKeyFile.empty()) {
    ssh_key key = nullptr;
    // A Password beside a key file may be the key's passphrase; an unencrypted key ignores it.
    const char* passphrase = m_options.Password.empty() ? nullptr : m_options.Password.c_str();
    if (ssh_pki_import_privkey_file(m_options.PrivateKeyFile.c_str(), passphrase, nullptr, nullptr,
                                    &key) != SSH_OK) {
      return {Error("cannot read the private key " + m_options.PrivateKeyFile +
                    " (missing, unreadable, or locked by a passphrase that was not given)"),
              false};
    }
    result = ssh_userauth_publickey(m_ssh, nullptr, key);
    ssh_key_free(key);
  } else if (m_options.Password.empty()) {
    result = ssh_userauth_publickey_auto(m_ssh, nullptr, nullptr);
  }
  if (result == SSH_AUTH_DENIED && !m_options.Password.empty()) {
    result = ssh_userauth_password(m_ssh, nullptr, m_options.Password.c_str());
    if (result == SSH_AUTH_DENIED) {
      // Many servers ask for the password through keyboard-interactive instead.
      result = ssh_userauth_kbdint(m_ssh, nullptr, nullptr);
      while (result == SSH_AUTH_INFO) {
        const int prompts = ssh_userauth_kbdint_getnprompts(m_ssh);
        for (int i = 0; i < prompts; ++i) {
          ssh_userauth_kbdint_setanswer(m_ssh, static_cast<unsigned>(i),
                                        m_options.Password.c_str());
        }
        result = ssh_userauth_kbdint(m_ssh, nullptr, nullptr);
      }
    }
  }
  if (result == SSH_AUTH_SUCCESS) return {};
  if (result == SSH_AUTH_ERROR && Lost()) {
    return {Error(who + " failed: " + ssh_get_error(m_ssh)), true};
  }
  return {Error(who + " was refused (" +
                (!m_options.PrivateKeyFile.empty()
                     ? "key " + m_options.PrivateKeyFile +
                           (m_options.Password.empty() ? "" : ", password")
                 : !m_options.Password.empty() ? std::string("password")
                                               : std::string("the ssh agent and default keys")) +
                ")"),
          false};
}

bool SftpSession::Open(const std::string& path, int access, mode_t mode, OpenFile& file) {
  file.Close();
  sftp_file opened = sftp_open(m_sftp, path.c_str(), access, mode);
  if (opened == nullptr) return false;
  file.m_file = opened;
  file.m_session = this;
  m_files.insert(&file);
  return true;
}

int SftpSession::LastStatus() const {
  return m_sftp == nullptr || m_lost ? 0 : sftp_get_error(m_sftp);
}

Attempt SftpSession::Failed(const std::string& doing, bool writing) {
  bool stalled = false;
  {
    std::lock_guard lock(m_mutex);
    stalled = m_stalled;
  }
  if (stalled) {
    m_lost = true;
    return {Error(doing + " stalled: no byte moved for " +
                  std::to_string(m_control.Retry.StallSeconds) + " s"),
            true, true};
  }
  if (m_sftp == nullptr || Lost()) {
    m_lost = true;
    const char* why = m_ssh != nullptr ? ssh_get_error(m_ssh) : "";
    return {Error(doing + " failed: the connection was lost" +
                  (why != nullptr && *why != '\0' ? std::string(" (") + why + ")" : "")),
            true};
  }
  return Refused(doing, sftp_get_error(m_sftp), writing);
}

Attempt SftpSession::Refused(const std::string& doing, int status, bool writing) {
  switch (status) {
    case SSH_FX_NO_SUCH_FILE:
    case SSH_FX_NO_SUCH_PATH: return {Error(doing + " failed: no such file or folder"), false};
    case SSH_FX_PERMISSION_DENIED:
    case SSH_FX_WRITE_PROTECT: return {Error(doing + " failed: permission denied"), false};
    case SSH_FX_FAILURE:
      // SFTP 3 has no code for a full disk: the server says "Failure" for ENOSPC and EFBIG.
      return {Error(doing + (writing ? " failed: the server could not write it (disk full, or a "
                                       "file size limit there)"
                                     : " failed: the server refused it (Failure)")),
              false};
    case SSH_FX_CONNECTION_LOST:
    case SSH_FX_NO_CONNECTION:
      m_lost = true;
      return {Error(doing + " failed: the connection was lost"), true};
    case SSH_FX_OP_UNSUPPORTED:
      return {Error(doing + " failed: the server does not support it"), false};
    case SSH_FX_FILE_ALREADY_EXISTS: return {Error(doing + " failed: the name is taken"), false};
    default: break;
  }
  return {Error(doing + " failed: " + ssh_get_error(m_ssh)), false};
}

namespace {

void PutU32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}
void PutString(std::string& out, const std::string& text) {
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  out += text;
}
std::uint32_t GetU32(const unsigned char* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// Reads exactly `size` bytes from the channel; false when it ends or fails.
bool ReadExactly(ssh_channel channel, unsigned char* bytes, std::size_t size) {
  for (std::size_t got = 0; got < size;) {
    const int read =
        ssh_channel_read(channel, bytes + got, static_cast<std::uint32_t>(size - got), 0);
    if (read < 0) return false;
    if (read == 0 && ssh_channel_is_eof(channel) != 0) return false;
    got += static_cast<std::size_t>(read);
  }
  return true;
}

constexpr unsigned char kFxpWrite = 6;
constexpr unsigned char kFxpExtended = 200;
constexpr unsigned char kFxpStatus = 101;
constexpr unsigned char kFxpExtendedReply = 201;

}  // namespace

bool SftpSession::SendPacket(unsigned char type, std::uint32_t id, std::string_view payload) {
  m_packet.clear();
  PutU32(m_packet, static_cast<std::uint32_t>(payload.size() + 5));
  m_packet += static_cast<char>(type);
  PutU32(m_packet, id);
  m_packet += payload;
  if (ssh_channel_write(m_sftp->channel, m_packet.data(),
                        static_cast<std::uint32_t>(m_packet.size())) ==
      static_cast<int>(m_packet.size())) {
    return true;
  }
  m_lost = true;
  return false;
}

bool SftpSession::ReadPacket(unsigned char& type, std::uint32_t& id, std::string& body) {
  unsigned char head[9];  // length, type, id
  if (ReadExactly(m_sftp->channel, head, sizeof head)) {
    const std::uint32_t length = GetU32(head);
    if (length >= 5 && length <= 1024 * 1024) {
      body.assign(length - 5, '\0');
      if (ReadExactly(m_sftp->channel, reinterpret_cast<unsigned char*>(body.data()),
                      body.size())) {
        type = head[4];
        id = GetU32(head + 5);
        return true;
      }
    }
  }
  m_lost = true;
  return false;
}

bool SftpSession::Dispatch(std::uint32_t id, unsigned char type, const std::string& body) {
  const auto pending = m_pending.find(id);
  if (pending == m_pending.end()) return false;
  const int status =
      type == kFxpStatus && body.size() >= 4
          ? static_cast<int>(GetU32(reinterpret_cast<const unsigned char*>(body.data())))
          : SSH_FX_BAD_MESSAGE;
  auto answered = std::move(pending->second.Answered);
  m_pending.erase(pending);
  Progress();
  answered(status);
  return true;
}

bool SftpSession::Extended(const std::string& request, const std::string& arguments,
                           unsigned char& type, std::string& reply) {
  // libssh's own requests wait for their answers, so the channel is ours between them.
  const std::uint32_t id = ++m_sftp->id_counter;
  std::string payload;
  PutString(payload, request);
  payload += arguments;
  if (!SendPacket(kFxpExtended, id, payload)) return false;
  for (;;) {
    std::uint32_t answered = 0;
    if (!ReadPacket(type, answered, reply)) return false;
    if (answered == id) return true;
    Dispatch(answered, type, reply);
  }
}

bool SftpSession::SendWrite(sftp_file file, std::uint64_t offset, std::string_view data,
                            const void* owner, std::function<void(int)> answered) {
  const std::uint32_t id = ++m_sftp->id_counter;
  std::string& payload = m_writePayload;
  payload.clear();
  const auto handleLength = static_cast<std::uint32_t>(ssh_string_len(file->handle));
  PutU32(payload, handleLength);
  payload.append(static_cast<const char*>(ssh_string_data(file->handle)), handleLength);
  PutU32(payload, static_cast<std::uint32_t>(offset >> 32));
  PutU32(payload, static_cast<std::uint32_t>(offset));
  PutU32(payload, static_cast<std::uint32_t>(data.size()));
  payload += data;
  if (!SendPacket(kFxpWrite, id, payload)) return false;
  m_pending.emplace(id, PendingWrite{owner, std::move(answered)});
  return true;
}

bool SftpSession::AwaitAnswer() {
  unsigned char type = 0;
  std::uint32_t id = 0;
  std::string body;
  if (!ReadPacket(type, id, body)) return false;
  Dispatch(id, type, body);  // an answer nobody waits for any more is passed over
  return true;
}

bool SftpSession::AnswerWaiting() {
  return !m_pending.empty() && ssh_channel_poll(m_sftp->channel, 0) > 0;
}

bool SftpSession::Settle() {
  while (!m_pending.empty()) {
    if (!AwaitAnswer()) return false;
  }
  return true;
}

void SftpSession::Forget(const void* owner) {
  std::erase_if(m_pending, [owner](const auto& pending) { return pending.second.Owner == owner; });
}

bool SftpSession::PosixRename(const std::string& from, const std::string& to, int& status) {
  status = -1;
  if (sftp_extension_supported(m_sftp, "posix-rename@openssh.com", "1") == 0) return false;
  std::string arguments;
  PutString(arguments, from);
  PutString(arguments, to);
  unsigned char type = 0;
  std::string reply;
  if (Extended("posix-rename@openssh.com", arguments, type, reply) && type == kFxpStatus &&
      reply.size() >= 4) {
    status = static_cast<int>(GetU32(reinterpret_cast<const unsigned char*>(reply.data())));
  }
  return true;
}

void SftpSession::ReadLimits() {
  // SFTP promises no more than 32 KiB of data per request; a server that says otherwise
  // through limits@openssh.com (OpenSSH 8.6 and later) gets larger ones: fewer requests and
  // answers for the same bytes.
  m_maxWrite = 32 * 1024;
  if (sftp_extension_supported(m_sftp, "limits@openssh.com", "1") == 0) return;
  unsigned char type = 0;
  std::string reply;
  if (!Extended("limits@openssh.com", "", type, reply) || type != kFxpExtendedReply ||
      reply.size() < 32) {
    return;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(reply.data());
  const std::uint64_t maxWrite = (std::uint64_t{GetU32(bytes + 16)} << 32) | GetU32(bytes + 20);
  // A little under the limit: it counts the request's handle and offset too on some servers.
  if (maxWrite > 64 * 1024)
    m_maxWrite = static_cast<std::size_t>(std::min<std::uint64_t>(maxWrite, 256 * 1024) - 1024);
}

SftpSession::Busy::Busy(SftpSession& session) : m_session(session) {
  std::lock_guard lock(session.m_mutex);
  if (session.m_busy++ == 0) session.m_lastProgressMs = session.m_control.TheClock->MonotonicMs();
}

SftpSession::Busy::~Busy() {
  std::lock_guard lock(m_session.m_mutex);
  --m_session.m_busy;
}

SftpSession::Idle::Idle(SftpSession& session) : m_session(session) {
  std::lock_guard lock(session.m_mutex);
  --session.m_busy;
}

SftpSession::Idle::~Idle() {
  std::lock_guard lock(m_session.m_mutex);
  if (m_session.m_busy++ == 0) {
    m_session.m_lastProgressMs = m_session.m_control.TheClock->MonotonicMs();
  }
}

void SftpSession::Progress() {
  const std::int64_t now = m_control.TheClock->MonotonicMs();
  std::lock_guard lock(m_mutex);
  m_lastProgressMs = now;
}

void SftpSession::Watch() {
  const std::int64_t stallMs = std::int64_t{m_control.Retry.StallSeconds} * 1000;
  std::unique_lock lock(m_mutex);
  while (!m_ending) {
    m_wake.wait_for(lock, std::chrono::milliseconds(200));
    if (m_busy == 0 || m_fd < 0 || stallMs <= 0 || m_stalled) continue;
    if (m_control.TheClock->MonotonicMs() - m_lastProgressMs >= stallMs) {
      // The blocked call then fails like a reset connection, and Failed() says why.
      m_stalled = true;
      ::shutdown(m_fd, SHUT_RDWR);
    }
  }
}

}  // namespace brevanto
