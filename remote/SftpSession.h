#pragma once
// One SSH connection with its SFTP channel, for the SFTP store: connects, checks the host
// key (pinned SHA-256 fingerprint, else known_hosts; never accepted blindly), logs in, and
// tells a lost connection or a stall (a transient fault) from a refusal (an Error).
//
// A lost connection is dropped on the next Ensure(), which connects afresh; files open on it
// are closed first (OpenFile), so no handle outlives its session. A watchdog thread shuts
// the socket down when an operation moves no byte for RetryPolicy::StallSeconds, which turns
// a hung network into an ordinary failure of the call that was waiting.

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "remote/Retry.h"

namespace brevanto {

class SftpSession;

// A remote file handle that its session closes when the connection is dropped.
class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile() { Close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  sftp_file get() const { return m_file; }
  explicit operator bool() const { return m_file != nullptr; }
  // Closes the handle; false when the server did not confirm (the file may be incomplete).
  bool Close();

 private:
  friend class SftpSession;
  SftpSession* m_session = nullptr;
  sftp_file m_file = nullptr;
};

class SftpSession {
 public:
  SftpSession(const RemoteOptions& options, const TransferControl& control,
              std::string knownHostsFile);
  ~SftpSession();
  SftpSession(const SftpSession&) = delete;
  SftpSession& operator=(const SftpSession&) = delete;

  // Connected and logged in (connecting now if need be), or why not.
  Attempt Ensure();
  sftp_session sftp() const { return m_sftp; }

  // Opens `path` on the current connection into `file`; false on failure (see Failed).
  bool Open(const std::string& path, int access, mode_t mode, OpenFile& file);

  // What a failed SFTP call on `path` means: a lost or stalled connection is transient
  // (and the connection is dropped at the next Ensure), a status from the server an Error.
  // `writing` says a failure may be a full disk.
  Attempt Failed(const std::string& doing, bool writing = false);
  // What the server's status `status` for `doing` means (never transient).
  Attempt Refused(const std::string& doing, int status, bool writing = false);
  // The SFTP status code of the last failed call; 0 once the connection is lost.
  int LastStatus() const;

  // Pipelined writes, which libssh 0.10 lacks (its sftp_write waits for each answer, one
  // round trip per request): SendWrite sends the request at once and `answered` gets the
  // server's status when its answer is read, by AwaitAnswer or Settle. Both return false
  // when the connection was lost (Failed() then says so). Ensure() settles first, so
  // libssh never meets these answers. Forget drops the callbacks of an owner that goes.
  bool SendWrite(sftp_file file, std::uint64_t offset, std::string_view data, const void* owner,
                 std::function<void(int)> answered);
  bool AwaitAnswer();
  bool AnswerWaiting();
  bool Settle();
  void Forget(const void* owner);

  // Renames `from` over `to` at once with posix-rename@openssh.com, which libssh 0.10 does not
  // offer: false when the server lacks it. `status` is the server's answer, or -1 when the
  // connection was lost (Failed() then says so).
  bool PosixRename(const std::string& from, const std::string& to, int& status);
  // The longest write the server takes in one request.
  std::size_t MaxWrite() const { return m_maxWrite; }

  // "<target>: <cause>".
  Status Error(const std::string& cause) const;

  // An operation is under way while a Busy lives: the watchdog counts from its start and
  // from each Progress().
  class Busy {
   public:
    explicit Busy(SftpSession& session);
    ~Busy();
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

   private:
    SftpSession& m_session;
  };
  // The reverse of Busy, around handing bytes to a reader: a reader that takes its time
  // (a restore running a long statement) is not a stalled server.
  class Idle {
   public:
    explicit Idle(SftpSession& session);
    ~Idle();
    Idle(const Idle&) = delete;
    Idle& operator=(const Idle&) = delete;

   private:
    SftpSession& m_session;
  };
  void Progress();

 private:
  friend class OpenFile;
  Attempt Connect();
  Attempt CheckHostKey();
  Attempt Login();
  void Drop();
  void ReadLimits();
  // Sends an SFTP extended request and waits for its answer; false when the connection
  // was lost.
  bool Extended(const std::string& request, const std::string& arguments, unsigned char& type,
                std::string& reply);
  bool SendPacket(unsigned char type, std::uint32_t id, std::string_view payload);
  bool ReadPacket(unsigned char& type, std::uint32_t& id, std::string& body);
  // Hands a write's answer to its owner; false when no write waits for `id`.
  bool Dispatch(std::uint32_t id, unsigned char type, const std::string& body);
  bool Lost() const;
  void Watch();

  RemoteOptions m_options;
  TransferControl m_control;
  std::string m_knownHosts;
  ssh_session m_ssh = nullptr;
  sftp_session m_sftp = nullptr;
  bool m_lost = false;
  std::set<OpenFile*> m_files;
  std::size_t m_maxWrite = 32 * 1024;
  struct PendingWrite {
    const void* Owner;
    std::function<void(int)> Answered;
  };
  std::map<std::uint32_t, PendingWrite> m_pending;
  std::string m_packet, m_writePayload;  // kept, so large requests reuse their memory

  std::mutex m_mutex;  // guards the fields below, which the watchdog reads
  std::condition_variable m_wake;
  int m_fd = -1;
  int m_busy = 0;
  std::int64_t m_lastProgressMs = 0;
  bool m_stalled = false;
  bool m_ending = false;
  std::thread m_watchdog;
};

}  // namespace brevanto
