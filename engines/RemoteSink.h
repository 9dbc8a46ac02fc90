#pragma once
// Direct off-site copies: the end of a file's output chain is an upload to the task's
// store instead of a local file. RemoteSink writes one object through an ObjectWriter: it
// appears under its name only on Commit (the store completes the multipart upload or
// renames the temporary name) and is aborted by KeepIncomplete or destruction, so a
// cut-off run leaves no part of a file under a final name. DirectTarget hands the sinks
// their names (as a local file would get them, numbered when taken) and remembers the
// objects a run completed, so a run that fails leaves no stray part of a copy.

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engines/OutputChain.h"
#include "remote/RemoteStore.h"

namespace brevanto {

class DirectTarget {
 public:
  // Object names are the files' paths relative to `baseFolder` (remote/RemoteCatalogue.h).
  DirectTarget(RemoteStore& store, std::string baseFolder)
      : m_store(store), m_baseFolder(std::move(baseFolder)) {}

  // A sink for the file whose local path would be `finalPath`. `replace` writes over an
  // object of that name; otherwise a name in use (in the store, or by this run) is
  // numbered as a local file would be. Thread-safe.
  [[nodiscard]] Status Open(const std::string& finalPath, bool replace,
                            std::unique_ptr<OutputSink>& sink);
  // Deletes the objects this run completed: a failed run's objects are no copy. Returns
  // the texts of those that stay.
  std::vector<std::string> RemoveCompleted();

  RemoteStore& Store() { return m_store; }

 private:
  friend class RemoteSink;
  void Completed(const std::string& name);

  RemoteStore& m_store;
  const std::string m_baseFolder;
  std::mutex m_lock;
  bool m_listed = false;
  std::set<std::string> m_taken;         // names in the store and opened by this run
  std::vector<std::string> m_completed;  // objects this run completed
};

class RemoteSink final : public OutputSink {
 public:
  RemoteSink(DirectTarget& target, std::string path, std::string name,
             std::unique_ptr<ObjectWriter> writer)
      : m_target(target),
        m_path(std::move(path)),
        m_name(std::move(name)),
        m_writer(std::move(writer)) {}
  ~RemoteSink() override;
  RemoteSink(const RemoteSink&) = delete;
  RemoteSink& operator=(const RemoteSink&) = delete;

  // A failure's message is the store's cause + " - " + the local path the file stands for.
  Status Write(std::string_view bytes) override;
  // Completes the object (its name was chosen when it was opened).
  Status Commit(Existing existing) override;
  // Aborts the upload: nothing appears under the name.
  Status KeepIncomplete() override;
  bool IsOpen() const override { return m_writer != nullptr; }
  const std::string& Path() const override { return m_path; }
  const std::string& ObjectName() const { return m_name; }

 private:
  Status Failed(const Status& status) const;

  DirectTarget& m_target;
  std::string m_path;
  std::string m_name;
  std::unique_ptr<ObjectWriter> m_writer;
};

}  // namespace brevanto
