#pragma once
// A private, throw-away MariaDB server for checks that must restore a copy somewhere no
// one else looks: started from the installed server programs (mariadbd and
// mariadb-install-db) as the current user, with a data folder of its own under the user's
// cache ("scratch-<pid>-<n>"), small memory settings, no network (skip-networking: only a
// Unix socket in a 0700 folder reaches it), no event scheduler, and deleted when stopped.
// The first data folder set up is kept in the cache ("template-<key>") and copied for the
// next ones.
// The server dies with the thread that started it (so Start and Stop belong on one
// thread); what a crash of ours leaves behind is removed by RemoveScratchLeftovers at the
// next start.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/ServerInfo.h"
#include "core/Status.h"

namespace brevanto {

class Clock;

struct ScratchServerOptions {
  // Where the scratch folders go; empty: DefaultScratchCache().
  std::string CacheFolder;
  // Free space the check needs in CacheFolder; 0 skips the check.
  std::uint64_t NeededBytes = 0;
  // Folders searched for the server programs, ':'-separated; empty: $PATH and the
  // system's sbin folders.
  std::string SearchPath;
  int StartTimeoutMs = 120000;
};

// $XDG_CACHE_HOME/Brevanto, else ~/.cache/Brevanto (not created here).
std::string DefaultScratchCache();

// The path of `program` in `searchPath` (as ScratchServerOptions::SearchPath), or "".
std::string FindServerProgram(const std::string& program, const std::string& searchPath);

class ScratchServer {
 public:
  explicit ScratchServer(Clock& clock) : m_clock(clock) {}
  ~ScratchServer();  // Stop(), its failure unseen: call Stop() to learn of it
  ScratchServer(const ScratchServer&) = delete;
  ScratchServer& operator=(const ScratchServer&) = delete;

  // Creates the data folder and starts the server; Ok once it answers. An Error says
  // plainly what is missing (the server programs, free space) or shows the server's own
  // last words. A failed start leaves nothing behind.
  Status Start(const ScratchServerOptions& options);
  // Kills the server (its data is thrown away, so nothing is worth a clean shutdown) and
  // deletes its folder. An Error when something could not be removed.
  Status Stop();

  bool Running() const { return m_pid > 0; }
  // How to reach it: the socket as host, root without a password from an option file of
  // the folder's own (so the user's ~/.my.cnf is never read for it).
  CServerInfo Server() const;
  const std::string& Folder() const { return m_folder; }
  const std::string& Socket() const { return m_socket; }
  pid_t Pid() const { return m_pid; }

 private:
  Status Prepare(const ScratchServerOptions& options, std::string& server, std::string& install);
  Status Install(const std::string& install);
  Status MakeDataFolder(const std::string& cache, const std::string& server,
                        const std::string& install);
  Status WaitUntilAnswers(int timeoutMs);
  std::string LastLogLines() const;

  Clock& m_clock;
  std::string m_folder;
  std::string m_socket;
  pid_t m_pid = 0;
};

// Deletes the scratch folders under `cacheFolder` (empty: DefaultScratchCache()) whose
// owner process is gone, killing a server still running in one. Folders of a process that
// still runs are kept. `removed` receives the folders deleted; an Error names each folder
// that could not be deleted.
Status RemoveScratchLeftovers(Clock& clock, const std::string& cacheFolder,
                              std::vector<std::string>* removed);

}  // namespace brevanto
