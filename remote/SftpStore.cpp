#include "remote/SftpStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>
#include <set>
#include <vector>

#include "remote/SftpSession.h"

namespace brevanto {
namespace {

// What a writer gathers before sending: the most a server takes in one request (see
// SftpSession::MaxWrite) or a whole number of smaller ones.
constexpr std::size_t kWriteChunk = 252 * 1024;
// Reads are pipelined: this many requests in flight, each this long (servers may answer
// fewer bytes; the reader then asks again from where the bytes stopped).
constexpr std::uint32_t kReadChunk = 64 * 1024;
constexpr std::size_t kReadsInFlight = 32;
// Writes on their way at once: enough to fill a long network's round trip. OpenSSH's
// channel window is 2 MiB; beyond it libssh waits for the window to open.
constexpr std::size_t kWritesInFlightBytes = 4 * 1024 * 1024;
// A local file is read this much at a time for PutFile.
constexpr std::size_t kLocalBlock = 1024 * 1024;

constexpr const char* kPartMark = ".brevanto-part-";

bool IsPartName(const std::string& leaf) {
  return !leaf.empty() && leaf.front() == '.' && leaf.find(kPartMark) != std::string::npos;
}

std::string ParentOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string LeafOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A transfer at most `bytesPerSecond`, measured from its start.
class Pace {
 public:
  Pace(const TransferControl& control)
      : m_control(control), m_startMs(control.TheClock->MonotonicMs()) {}
  void Moved(std::uint64_t bytes) {
    if (m_control.BandwidthBytesPerSecond == 0) return;
    m_bytes += bytes;
    const auto dueMs =
        m_startMs + static_cast<std::int64_t>(m_bytes * 1000 / m_control.BandwidthBytesPerSecond);
    const std::int64_t aheadMs = dueMs - m_control.TheClock->MonotonicMs();
    if (aheadMs > 0) m_control.TheClock->SleepMs(static_cast<int>(aheadMs));
  }
  // The longest request that keeps each wait short, so a capped transfer stays smooth and
  // never looks stalled.
  std::size_t Slice(std::size_t longest) const {
    if (m_control.BandwidthBytesPerSecond == 0) return longest;
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(m_control.BandwidthBytesPerSecond / 4, 1024, longest));
  }

 private:
  const TransferControl& m_control;
  std::int64_t m_startMs;
  std::uint64_t m_bytes = 0;
};

class SftpStore;

// One upload to a temporary name: bytes are sent in order, each write confirmed by the
// server, so after a lost connection the upload goes on from the last confirmed byte.
class Upload {
 public:
  Upload(SftpStore& store, std::string name);
  ~Upload() { Abort(); }
  Upload(const Upload&) = delete;
  Upload& operator=(const Upload&) = delete;

  // Sends `bytes`, which follow everything taken so far; they may still be on the way when
  // it returns (kept until the server confirms them).
  Status Send(const char* bytes, std::size_t size);
  // Waits for every write, checks the size the server holds and renames the temporary name
  // over the object.
  Status Finish();
  // Removes the temporary name unless finished.
  void Abort();
  std::uint64_t Taken() const { return m_taken; }

 private:
  // Opens the temporary name (again, after a lost connection) and sends the writes whose
  // answers the connection took with it.
  Attempt Resume();
  Attempt OpenPart();
  bool SendChunk(std::size_t index);
  void Answered(std::uint64_t offset, int status);
  // Reads answers until fewer than `bytes` are unconfirmed.
  Attempt AwaitBelow(std::size_t bytes);
  Attempt WriteFailed();

  struct Chunk {
    std::uint64_t Offset;
    std::string Bytes;
    bool Confirmed = false;
  };

  SftpStore& m_store;
  SftpSession& m_session;
  std::string m_name, m_path, m_partPath;
  OpenFile m_file;
  Pace m_pace;
  std::deque<Chunk> m_flight;  // sent, not confirmed in order yet
  std::size_t m_flightBytes = 0;
  std::uint64_t m_taken = 0;  // bytes given to Send
  int m_refused = SSH_FX_OK;  // the first write the server refused
  bool m_created = false;
  bool m_renaming = false;  // a rename was sent, maybe done though unanswered
  bool m_done = false;
};

class SftpWriter : public ObjectWriter {
 public:
  SftpWriter(SftpStore& store, const std::string& name) : m_upload(store, name) {
    m_buffer.reserve(kWriteChunk);
  }
  Status Write(std::string_view bytes) override {
    if (m_failed) return Status::Error("The upload has already failed.");
    m_taken += bytes.size();
    // Small writes are gathered, so each request to the server is a full one.
    while (!bytes.empty()) {
      const std::size_t part = std::min(bytes.size(), kWriteChunk - m_buffer.size());
      if (m_buffer.empty() && part == kWriteChunk) {
        if (Status sent = Flush(bytes.data(), part); !sent.ok()) return sent;
      } else {
        m_buffer.append(bytes.data(), part);
        if (m_buffer.size() == kWriteChunk) {
          if (Status sent = Flush(m_buffer.data(), m_buffer.size()); !sent.ok()) return sent;
          m_buffer.clear();
        }
      }
      bytes.remove_prefix(part);
    }
    return Status::Ok();
  }
  Status Complete() override {
    if (m_failed) return Status::Error("The upload has already failed.");
    if (!m_buffer.empty()) {
      if (Status sent = Flush(m_buffer.data(), m_buffer.size()); !sent.ok()) return sent;
      m_buffer.clear();
    }
    Status finished = m_upload.Finish();
    m_failed = !finished.ok();
    return finished;
  }
  void Abort() override { m_upload.Abort(); }
  std::uint64_t Size() const override { return m_taken; }

 private:
  Status Flush(const char* bytes, std::size_t size) {
    Status sent = m_upload.Send(bytes, size);
    m_failed = !sent.ok();
    return sent;
  }
  Upload m_upload;
  std::string m_buffer;
  std::uint64_t m_taken = 0;
  bool m_failed = false;
};

class SftpStore : public RemoteStore {
 public:
  SftpStore(const RemoteOptions& options, const TransferControl& control,
            const std::string& knownHostsFile)
      : m_options(options), m_control(control), m_session(options, control, knownHostsFile) {
    m_root = options.Path;
    // SFTP servers take "~" literally; the login folder is where relative paths start.
    if (m_root == "~") m_root.clear();
    if (m_root.rfind("~/", 0) == 0) m_root.erase(0, 2);
    while (m_root.size() > 1 && m_root.back() == '/') m_root.pop_back();
  }

  std::string Describe() const override { return RemoteTargetText(m_options); }

  Status OpenWriter(const std::string& name, std::unique_ptr<ObjectWriter>& writer) override {
    writer.reset();
    if (Status valid = CheckName(name); !valid.ok()) return valid;
    writer = std::make_unique<SftpWriter>(*this, name);
    return Status::Ok();
  }

  Status PutFile(const std::string& localPath, const std::string& name) override {
    if (Status valid = CheckName(name); !valid.ok()) return valid;
    const int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return m_session.Error("cannot read " + localPath + ": " + std::strerror(errno));
    Upload upload(*this, name);
    std::vector<char> block(kLocalBlock);
    Status status;
    for (;;) {
      const ssize_t got =
          ::pread(fd, block.data(), block.size(), static_cast<off_t>(upload.Taken()));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        status = m_session.Error("cannot read " + localPath + ": " + std::strerror(errno));
        break;
      }
      if (got == 0) {
        status = upload.Finish();
        break;
      }
      status = upload.Send(block.data(), static_cast<std::size_t>(got));
      if (!status.ok()) break;
    }
    ::close(fd);
    return status;
  }

  Status Get(const std::string& name,
             const std::function<Status(std::string_view)>& consume) override {
    if (Status valid = CheckName(name); !valid.ok()) return valid;
    const std::string path = PathOf(name);
    std::uint64_t delivered = 0;
    Pace pace(m_control);
    std::vector<char> buffer(kReadChunk);
    return WithRetries(m_control, "Downloading " + name, [&]() -> Attempt {
      SftpSession::Busy busy(m_session);
      if (Attempt ready = m_session.Ensure(); !ready.Result.ok()) return ready;
      OpenFile file;
      if (!m_session.Open(path, O_RDONLY, 0, file)) return m_session.Failed("Opening " + name);
      sftp_attributes attributes = sftp_fstat(file.get());
      if (attributes == nullptr) return m_session.Failed("Reading the size of " + name);
      const std::uint64_t size = attributes->size;
      sftp_attributes_free(attributes);
      if (size < delivered) {
        return {m_session.Error(name + " became shorter while it was read"), false};
      }
      if (sftp_seek64(file.get(), delivered) != 0) return m_session.Failed("Reading " + name);
      struct Request {
        int Id;
        std::uint32_t Length;
      };
      std::deque<Request> inFlight;
      std::uint64_t requested = delivered;
      while (delivered < size) {
        if (m_control.StopRequested && m_control.StopRequested()) {
          return {Status::Error("Stopped."), false};
        }
        while (inFlight.size() < kReadsInFlight && requested < size) {
          const auto length = static_cast<std::uint32_t>(
              std::min<std::uint64_t>(pace.Slice(kReadChunk), size - requested));
          const int id = sftp_async_read_begin(file.get(), length);
          if (id < 0) return m_session.Failed("Reading " + name);
          inFlight.push_back({id, length});
          requested += length;
        }
        const Request next = inFlight.front();
        inFlight.pop_front();
        const int got = sftp_async_read(file.get(), buffer.data(), next.Length, next.Id);
        if (got < 0) return m_session.Failed("Reading " + name);
        if (got == 0) return {m_session.Error(name + " ended before its size"), false};
        m_session.Progress();
        if (static_cast<std::uint32_t>(got) < next.Length && delivered + got < size) {
          // A short answer: the requests behind it were for later bytes. Take them in
          // and ask again from where the bytes stopped.
          for (const Request& later : inFlight) {
            std::vector<char> discard(later.Length);
            if (sftp_async_read(file.get(), discard.data(), later.Length, later.Id) < 0) {
              return m_session.Failed("Reading " + name);
            }
          }
          inFlight.clear();
          requested = delivered + static_cast<std::uint64_t>(got);
          if (sftp_seek64(file.get(), requested) != 0) return m_session.Failed("Reading " + name);
        }
        Status used;
        {
          SftpSession::Idle idle(m_session);
          used = consume(std::string_view(buffer.data(), static_cast<size_t>(got)));
        }
        if (!used.ok()) return {used, false};
        delivered += static_cast<std::uint64_t>(got);
        pace.Moved(static_cast<std::uint64_t>(got));
        m_session.Progress();
      }
      return {};
    });
  }

  Status List(const std::string& under, std::vector<RemoteObject>& objects) override {
    return WithRetries(m_control, "Listing " + Describe(), [&]() -> Attempt {
      objects.clear();
      SftpSession::Busy busy(m_session);
      if (Attempt ready = m_session.Ensure(); !ready.Result.ok()) return ready;
      // Only the folders that can hold names starting with `under` are read.
      Attempt listed = ListFolder(ParentOf(under), under, objects);
      if (!listed.Result.ok()) return listed;
      std::sort(objects.begin(), objects.end(),
                [](const RemoteObject& a, const RemoteObject& b) { return a.Name < b.Name; });
      return {};
    });
  }

  Status Delete(const std::string& name) override {
    if (Status valid = CheckName(name); !valid.ok()) return valid;
    return WithRetries(m_control, "Deleting " + name, [&]() -> Attempt {
      SftpSession::Busy busy(m_session);
      if (Attempt ready = m_session.Ensure(); !ready.Result.ok()) return ready;
      if (sftp_unlink(m_session.sftp(), PathOf(name).c_str()) != 0) {
        Attempt failed = m_session.Failed("Deleting " + name);
        if (failed.Transient || (m_session.LastStatus() != SSH_FX_NO_SUCH_FILE &&
                                 m_session.LastStatus() != SSH_FX_NO_SUCH_PATH)) {
          return failed;
        }
      }
      PruneFolders(ParentOf(name));
      return {};
    });
  }

  // The object's path on the server.
  std::string PathOf(const std::string& name) const {
    if (m_root.empty()) return name;
    if (m_root == "/") return "/" + name;
    return m_root + "/" + name;
  }

  // Makes the folders of `folder` (a name's parent, relative to the place) that are missing.
  Attempt MakeFolders(const std::string& folder) {
    std::vector<std::string> paths;
    for (std::string part = folder; !part.empty(); part = ParentOf(part)) paths.push_back(part);
    // The place itself too, unless it is the login folder.
    std::vector<std::string> wanted;
    if (!m_root.empty()) {
      std::string root = m_root;
      while (!root.empty() && root != "/") {
        wanted.insert(wanted.begin(), root);
        const std::string parent = ParentOf(root);
        root = parent.empty() && root.front() == '/' ? "/" : parent;
      }
    }
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) wanted.push_back(PathOf(*it));
    for (const std::string& path : wanted) {
      if (m_made.count(path) != 0) continue;
      if (sftp_mkdir(m_session.sftp(), path.c_str(), 0700) != 0) {
        Attempt failed = m_session.Failed("Making the folder " + path);
        if (failed.Transient) return failed;
        // Most often it is there already (SFTP 3 says only "Failure"); the stat tells.
        sftp_attributes attributes = sftp_stat(m_session.sftp(), path.c_str());
        const bool folder =
            attributes != nullptr && attributes->type == SSH_FILEXFER_TYPE_DIRECTORY;
        if (attributes != nullptr) sftp_attributes_free(attributes);
        if (!folder) {
          if (attributes == nullptr) {
            if (Attempt lost = m_session.Failed("Making the folder " + path); lost.Transient) {
              return lost;
            }
          }
          return failed;
        }
      }
      m_made.insert(path);
    }
    return {};
  }

  // After a name could not be made: a folder may have gone since it was made.
  void ForgetFolders() { m_made.clear(); }
  SftpSession& Session() { return m_session; }
  const TransferControl& Control() const { return m_control; }

 private:
  Status CheckName(const std::string& name) const {
    bool bad = name.empty() || name.front() == '/' || name.back() == '/';
    for (std::size_t start = 0; !bad && start <= name.size();) {
      const auto slash = std::min(name.find('/', start), name.size());
      const std::string part = name.substr(start, slash - start);
      bad = part.empty() || part == "." || part == ".." || IsPartName(part);
      start = slash + 1;
    }
    if (bad) return m_session.Error("\"" + name + "\" is not a name an object can have here");
    return Status::Ok();
  }

  // Adds the objects in `folder` (relative, "" for the place) and below whose names start
  // with `under`. A missing folder holds none.
  Attempt ListFolder(const std::string& folder, const std::string& under,
                     std::vector<RemoteObject>& objects) {
    const std::string path = folder.empty() ? (m_root.empty() ? "." : m_root) : PathOf(folder);
    sftp_dir dir = sftp_opendir(m_session.sftp(), path.c_str());
    if (dir == nullptr) {
      Attempt failed = m_session.Failed("Listing " + path);
      if (!failed.Transient && (m_session.LastStatus() == SSH_FX_NO_SUCH_FILE ||
                                m_session.LastStatus() == SSH_FX_NO_SUCH_PATH)) {
        return {};
      }
      return failed;
    }
    std::vector<std::string> folders;
    while (sftp_attributes entry = sftp_readdir(m_session.sftp(), dir)) {
      const std::string leaf = entry->name != nullptr ? entry->name : "";
      std::uint8_t type = entry->type;
      std::uint64_t size = entry->size;
      sftp_attributes_free(entry);
      if (leaf.empty() || leaf == "." || leaf == ".." || IsPartName(leaf)) continue;
      const std::string name = folder.empty() ? leaf : folder + "/" + leaf;
      if (type == SSH_FILEXFER_TYPE_SYMLINK) {
        sftp_attributes target = sftp_stat(m_session.sftp(), PathOf(name).c_str());
        if (target == nullptr) continue;  // a dangling link is no object
        type = target->type;
        size = target->size;
        sftp_attributes_free(target);
      }
      if (type == SSH_FILEXFER_TYPE_DIRECTORY) {
        const std::string inside = name + "/";
        if (inside.compare(0, std::min(inside.size(), under.size()), under, 0,
                           std::min(inside.size(), under.size())) == 0) {
          folders.push_back(name);
        }
      } else if (type == SSH_FILEXFER_TYPE_REGULAR && name.compare(0, under.size(), under) == 0) {
        objects.push_back({name, size});
      }
    }
    m_session.Progress();
    const bool complete = sftp_dir_eof(dir) != 0;
    sftp_closedir(dir);
    if (!complete) return m_session.Failed("Listing " + path);
    for (const std::string& inner : folders) {
      if (Attempt listed = ListFolder(inner, under, objects); !listed.Result.ok()) return listed;
    }
    return {};
  }

  // Removes `folder` and its parents below the place while they are empty: a deleted copy
  // leaves no empty folders behind. A folder still holding something stays, as it should.
  void PruneFolders(std::string folder) {
    for (; !folder.empty(); folder = ParentOf(folder)) {
      const std::string path = PathOf(folder);
      if (sftp_rmdir(m_session.sftp(), path.c_str()) != 0) return;
      m_made.erase(path);
    }
  }

  RemoteOptions m_options;
  TransferControl m_control;
  SftpSession m_session;
  std::string m_root;
  std::set<std::string> m_made;  // folders known to exist
};

std::string UniqueSuffix() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
  return text;
}

Upload::Upload(SftpStore& store, std::string name)
    : m_store(store),
      m_session(store.Session()),
      m_name(std::move(name)),
      m_path(store.PathOf(m_name)),
      m_pace(store.Control()) {
  const std::string parent = ParentOf(m_path);
  m_partPath = (parent.empty() && m_path.front() != '/' ? "" : parent + "/") + "." +
               LeafOf(m_path) + kPartMark + UniqueSuffix();
}

Attempt Upload::OpenPart() {
  if (Attempt ready = m_session.Ensure(); !ready.Result.ok()) return ready;
  const int access = m_created ? O_WRONLY : O_WRONLY | O_CREAT | O_TRUNC;
  if (!m_session.Open(m_partPath, access, 0600, m_file)) {
    Attempt failed = m_session.Failed("Writing " + m_name, true);
    if (failed.Transient || m_created) return failed;
    m_store.ForgetFolders();
    if (Attempt made = m_store.MakeFolders(ParentOf(m_name)); !made.Result.ok()) return made;
    if (!m_session.Open(m_partPath, access, 0600, m_file)) {
      return m_session.Failed("Writing " + m_name, true);
    }
  }
  m_created = true;
  return {};
}

Attempt Upload::Resume() {
  if (m_file) return {};
  if (Attempt opened = OpenPart(); !opened.Result.ok()) return opened;
  for (std::size_t i = 0; i < m_flight.size(); ++i) {
    if (!m_flight[i].Confirmed && !SendChunk(i)) return WriteFailed();
  }
  return {};
}

bool Upload::SendChunk(std::size_t index) {
  const Chunk& chunk = m_flight[index];
  return m_session.SendWrite(
      m_file.get(), chunk.Offset, chunk.Bytes, this,
      [this, offset = chunk.Offset](int status) { Answered(offset, status); });
}

void Upload::Answered(std::uint64_t offset, int status) {
  if (status != SSH_FX_OK) {
    if (m_refused == SSH_FX_OK) m_refused = status;
    return;
  }
  for (Chunk& chunk : m_flight) {
    if (chunk.Offset == offset) chunk.Confirmed = true;
  }
  while (!m_flight.empty() && m_flight.front().Confirmed) {
    m_flightBytes -= m_flight.front().Bytes.size();
    m_flight.pop_front();
  }
}

Attempt Upload::WriteFailed() {
  Attempt failed = m_session.Failed("Writing " + m_name, true);
  m_file.Close();
  return failed;
}

Attempt Upload::AwaitBelow(std::size_t bytes) {
  while (m_flightBytes > bytes && m_refused == SSH_FX_OK) {
    if (!m_session.AwaitAnswer()) return WriteFailed();
  }
  if (m_refused != SSH_FX_OK) {
    // The other answers are taken in first, so libssh finds the channel as it left it.
    m_session.Settle();
    return m_session.Refused("Writing " + m_name, m_refused, true);
  }
  return {};
}

Status Upload::Send(const char* bytes, std::size_t size) {
  const std::uint64_t base = m_taken;
  const auto& control = m_store.Control();
  return WithRetries(control, "Uploading " + m_name, [&]() -> Attempt {
    SftpSession::Busy busy(m_session);
    if (Attempt resumed = Resume(); !resumed.Result.ok()) return resumed;
    while (m_taken < base + size) {
      if (control.StopRequested && control.StopRequested()) {
        return {Status::Error("Stopped."), false};
      }
      const std::size_t length = std::min(m_pace.Slice(m_session.MaxWrite()),
                                          static_cast<std::size_t>(base + size - m_taken));
      if (Attempt room = AwaitBelow(kWritesInFlightBytes - length); !room.Result.ok()) return room;
      m_flight.push_back({m_taken, std::string(bytes + (m_taken - base), length)});
      m_flightBytes += length;
      if (!SendChunk(m_flight.size() - 1)) return WriteFailed();
      m_taken += length;
      m_pace.Moved(length);
      m_session.Progress();
      while (m_session.AnswerWaiting()) {
        if (!m_session.AwaitAnswer()) return WriteFailed();
      }
    }
    return AwaitBelow(kWritesInFlightBytes);
  });
}

Status Upload::Finish() {
  if (m_done) return Status::Ok();
  Status finished = WithRetries(m_store.Control(), "Uploading " + m_name, [&]() -> Attempt {
    SftpSession::Busy busy(m_session);
    if (Attempt resumed = Resume(); !resumed.Result.ok()) return resumed;
    if (Attempt written = AwaitBelow(0); !written.Result.ok()) return written;
    if (m_file && !m_file.Close()) {
      Attempt failed = m_session.Failed("Closing " + m_name, true);
      if (!failed.Transient) return failed;
    }
    if (Attempt ready = m_session.Ensure(); !ready.Result.ok()) return ready;
    sftp_session sftp = m_session.sftp();
    sftp_attributes part = sftp_stat(sftp, m_partPath.c_str());
    if (part == nullptr) {
      Attempt failed = m_session.Failed("Checking " + m_name);
      if (failed.Transient) return failed;
      // A rename whose answer the lost connection took: the object is there, whole.
      sftp_attributes object = sftp_stat(sftp, m_path.c_str());
      const bool renamed = object != nullptr && object->size == m_taken;
      if (object != nullptr) sftp_attributes_free(object);
      if (renamed && m_renaming) return {};
      return failed;
    }
    const std::uint64_t held = part->size;
    sftp_attributes_free(part);
    if (held != m_taken) {
      return {m_session.Error("the server holds " + std::to_string(held) + " bytes of " + m_name +
                              " where " + std::to_string(m_taken) + " were sent"),
              false};
    }
    m_renaming = true;
    int renamed = SSH_FX_OK;
    if (m_session.PosixRename(m_partPath, m_path, renamed)) {
      if (renamed == SSH_FX_OK) return {};
      if (renamed < 0) return m_session.Failed("Renaming " + m_name + " into place");
      return {m_session.Error("Renaming " + m_name + " into place failed: the server answered " +
                              std::to_string(renamed)),
              false};
    }
    // A plain SFTP 3 rename refuses an existing name: the old object goes first.
    if (sftp_rename(sftp, m_partPath.c_str(), m_path.c_str()) != 0) {
      Attempt failed = m_session.Failed("Renaming " + m_name + " into place");
      if (failed.Transient) return failed;
      if (sftp_unlink(sftp, m_path.c_str()) != 0 ||
          sftp_rename(sftp, m_partPath.c_str(), m_path.c_str()) != 0) {
        return m_session.Failed("Renaming " + m_name + " into place");
      }
    }
    return {};
  });
  m_done = finished.ok();
  return finished;
}

void Upload::Abort() {
  if (m_done) return;
  m_done = true;
  SftpSession::Busy busy(m_session);
  if (m_file) m_session.Settle();
  m_session.Forget(this);
  m_file.Close();
  if (!m_created) return;
  const auto& control = m_store.Control();
  Attempt ready = m_session.Ensure();
  if (ready.Result.ok() && sftp_unlink(m_session.sftp(), m_partPath.c_str()) == 0) return;
  const Attempt failed = ready.Result.ok() ? m_session.Failed("Removing " + m_partPath) : ready;
  if (!ready.Result.ok() || m_session.LastStatus() != SSH_FX_NO_SUCH_FILE) {
    if (control.Warn) control.Warn("An unfinished upload stays behind: " + failed.Result.message());
  }
}

}  // namespace

Status MakeSftpStore(const RemoteOptions& options, const TransferControl& control,
                     std::unique_ptr<RemoteStore>& store, const std::string& knownHostsFile) {
  store = std::make_unique<SftpStore>(options, control, knownHostsFile);
  return Status::Ok();
}

}  // namespace brevanto
