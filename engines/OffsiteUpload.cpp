#include "engines/OffsiteUpload.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "core/AtomicFile.h"
#include "core/Sha256.h"
#include "core/UtcTime.h"
#include "engines/LocalFileSink.h"
#include "engines/ParallelItems.h"
#include "remote/RemoteCatalogue.h"
#include "schedule/LastRunResult.h"
#include "schedule/RunStatusText.h"
#include "tasks/CopyCatalogue.h"
#include "tasks/CopyManifest.h"
#include "tasks/OffsiteRecord.h"

namespace brevanto {

namespace {

// A name a manifest gives its file must stay inside the copy's place.
bool IsInsideName(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t slash = std::min(name.find('/', start), name.size());
    const std::string_view part = std::string_view(name).substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

// "2026-12-08_03-00-00" for the manifest object "2026-12-08_03-00-00.manifest.json".
std::string CopyLabel(const std::string& manifestName) {
  return manifestName.ends_with(kManifestSuffix)
             ? manifestName.substr(0, manifestName.size() - kManifestSuffix.size())
             : manifestName;
}

}  // namespace

COffsiteRun::COffsiteRun(TaskRunContext& context, const CTaskItem& task)
    : m_serial(context),
      m_context(m_serial),
      m_task(task),
      m_options(RemoteOptionsOf(task)),
      m_target(RemoteTargetText(m_options)),
      m_baseFolder(BaseFolderOf(task)) {}

COffsiteRun::~COffsiteRun() = default;

std::string COffsiteRun::BaseFolderOf(const CTaskItem& task) {
  const BackupSettings& settings = task.BackupSettings;
  if (settings.FileMode == 1) return FolderOf(settings.SameFilePath) + "/";
  return settings.BackupFolder;
}

void COffsiteRun::SendFailed(const std::string& cause) {
  m_context.Log(LogLevel::Error, kCopyNotOffsiteText + m_target + " (" + cause + ")");
}

TransferControl COffsiteRun::StoreControl() {
  TransferControl control;
  control.TheClock = &m_context.GetClock();
  control.StopRequested = [this] { return m_context.StopRequested(); };
  control.Warn = [this](const std::string& text) { m_context.Log(LogLevel::Warning, text); };
  control.BandwidthBytesPerSecond = m_options.BandwidthBytesPerSecond;
  return control;
}

bool COffsiteRun::OpenStore() {
  if (m_store) return true;
  if (Status made = MakeRemoteStore(m_options, StoreControl(), m_store); !made.ok()) {
    m_store.reset();
    SendFailed(made.message());
    return false;
  }
  return true;
}

std::vector<RemoteStore*> COffsiteRun::UploadLanes(std::size_t files) {
  // A bandwidth cap is a store's: with it, one file at a time keeps the run within it.
  const std::size_t wanted =
      m_options.BandwidthBytesPerSecond > 0 ? 1 : std::min(files, kUploadLanes);
  while (!m_noMoreLanes && m_laneStores.size() + 1 < wanted) {
    std::unique_ptr<RemoteStore> store;
    if (Status made = MakeRemoteStore(m_options, StoreControl(), store); !made.ok()) {
      m_context.Log(LogLevel::Warning, "Could not open another connection to " + m_target + "; " +
                                           std::to_string(m_laneStores.size() + 1) +
                                           " at a time - " + made.message());
      m_noMoreLanes = true;
      break;
    }
    m_laneStores.push_back(std::move(store));
  }
  std::vector<RemoteStore*> lanes{m_store.get()};
  for (const auto& store : m_laneStores) {
    if (lanes.size() < wanted) lanes.push_back(store.get());
  }
  return lanes;
}

bool COffsiteRun::OpenForDirect() {
  if (!OpenStore()) return false;
  m_direct = std::make_unique<DirectTarget>(*m_store, m_baseFolder);
  return true;
}

Status COffsiteRun::OpenSink(const std::string& path, bool replace,
                             std::unique_ptr<OutputSink>& sink) {
  if (!m_direct) return Status::Error("The off-site target is not open - " + path);
  return m_direct->Open(path, replace, sink);
}

void COffsiteRun::DiscardDirectObjects() {
  if (!m_direct) return;
  for (const std::string& stayed : m_direct->RemoveCompleted()) {
    m_context.Log(LogLevel::Warning,
                  "Failed to delete an off-site file of a backup that did not complete! - " +
                      m_target + stayed);
  }
}

std::vector<BackupCopy> COffsiteRun::PendingCopies(const BackupCopy* recorded) const {
  std::vector<BackupCopy> all = m_task.BackupHistory;
  if (recorded != nullptr) all.push_back(*recorded);
  // Same-file copies share one manifest: it describes the newest of them only.
  std::map<std::string, std::size_t> newest;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (std::string manifest = ManifestPathOf(all[i]); !manifest.empty()) newest[manifest] = i;
  }
  std::vector<BackupCopy> pending;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::string manifest = ManifestPathOf(all[i]);
    if (manifest.empty() || newest[manifest] != i || !FileExists(manifest)) continue;
    const bool current = recorded != nullptr && i + 1 == all.size();
    if (!current && FileExists(OffsitePathOf(manifest))) continue;
    pending.push_back(all[i]);
  }
  return pending;
}

COffsiteRun::Sent COffsiteRun::SendCopy(const BackupCopy& copy, bool current) {
  const std::string manifestPath = ManifestPathOf(copy);
  const std::string manifestName = RemoteNameOf(m_baseFolder, manifestPath);
  const std::string label = manifestName.empty() ? manifestPath : CopyLabel(manifestName);
  // The run's own copy must go; an earlier one that cannot is said once a run and stays.
  auto cannot = [&](const std::string& problem) {
    if (current) {
      SendFailed("the copy " + label + " cannot be sent: " + problem);
      return Sent::Failed;
    }
    m_context.Log(
        LogLevel::Warning,
        "The backup copy " + label + " cannot be sent off-site and stays here only: " + problem);
    return Sent::Skipped;
  };
  auto storeFailed = [&](const Status& status) {
    if (m_context.StopRequested()) return Sent::Stopped;
    SendFailed(status.message());
    return Sent::Failed;
  };
  m_context.Log(LogLevel::General, current
                                       ? "Sending the backup copy off-site to " + m_target + "..."
                                       : "Sending the earlier backup copy " + label + " off-site");

  CopyManifest manifest;
  if (Status read = ReadManifest(manifestPath, manifest); !read.ok()) return cannot(read.message());
  if (manifestName.empty()) {
    return cannot("its manifest lies outside the backup folder - " + manifestPath);
  }
  // Written straight to the store, its files are there already; the rest are checked
  // against the manifest before a byte leaves.
  const bool inStore = LocalFilesDeleted(copy);
  std::map<std::string, std::uint64_t> stored;
  if (inStore) {
    std::vector<RemoteObject> objects;
    if (Status listed = m_store->List("", objects); !listed.ok()) return storeFailed(listed);
    for (const RemoteObject& object : objects) stored[object.Name] = object.Size;
  }
  struct Item {
    std::string local, object;
    std::uint64_t size = 0;
  };
  std::vector<Item> items;
  std::uint64_t bytes = 0;
  for (const ManifestFile& file : manifest.Files) {
    if (!IsInsideName(file.Name)) return cannot("a file lies outside its folder - " + file.Name);
    Item item{ManifestFilePath(manifestPath, file.Name), RemoteObjectName(manifestName, file.Name),
              file.Size};
    bytes += file.Size;
    if (inStore) {
      const auto found = stored.find(item.object);
      if (found == stored.end()) return cannot("missing in the store: " + item.object);
      if (found->second != file.Size)
        return cannot("its size changed in the store: " + item.object);
    } else {
      if (m_context.StopRequested()) return Sent::Stopped;
      std::string sha;
      std::uint64_t size = 0;
      if (Status hashed = Sha256OfFile(item.local, sha, &size); !hashed.ok()) {
        return cannot(hashed.message());
      }
      if (size != file.Size) return cannot("its size is not the manifest's - " + item.local);
      if (sha != file.Sha256) return cannot("its content is not the manifest's - " + item.local);
    }
    items.push_back(std::move(item));
  }

  OffsiteRecord record;
  record.Target = m_target;
  if (!inStore) {
    const std::vector<RemoteStore*> lanes = UploadLanes(items.size());
    std::mutex failureLock;
    std::optional<Status> failure;  // the first; the copy's Error
    auto send = [&](int lane, std::size_t index) {
      if (m_context.StopRequested()) return false;
      const Item& item = items[index];
      Status put = lanes[static_cast<std::size_t>(lane)]->PutFile(item.local, item.object);
      if (put.ok()) return true;
      std::lock_guard guard(failureLock);
      if (!failure) {
        failure = std::move(put);
      } else if (!m_context.StopRequested()) {
        m_context.Log(LogLevel::Warning, put.message());
      }
      return false;
    };
    const bool whole = RunInParallel(static_cast<int>(lanes.size()), items.size(), send);
    if (failure) return storeFailed(*failure);
    if (!whole) return Sent::Stopped;
  }
  for (const Item& item : items) record.Objects.push_back({item.object, item.size});
  // Last: a copy without its manifest in the store is not there yet.
  if (Status put = m_store->PutFile(manifestPath, manifestName); !put.ok()) return storeFailed(put);
  record.Objects.push_back({manifestName, static_cast<std::uint64_t>(StampOf(manifestPath).Size)});
  record.Uploaded = UtcIso8601(m_context.GetClock().Now());
  const std::string recordPath = OffsitePathOf(manifestPath);
  if (Status written = WriteOffsiteRecord(recordPath, record); !written.ok()) {
    SendFailed("the off-site record could not be written: " + written.message());
    return Sent::Failed;
  }
  m_context.Log(LogLevel::General,
                std::string(inStore ? "Completed " : "Uploaded ") + std::to_string(items.size()) +
                    (items.size() == 1 ? " file (" : " files (") +
                    ByteCountText(static_cast<std::int64_t>(bytes)) + ") to " + m_target);
  return Sent::Yes;
}

RunOutcome COffsiteRun::Finish(RunOutcome outcome, const BackupCopy* recorded) {
  if (!Active() || outcome == RunOutcome::Canceled) return outcome;
  if (recorded != nullptr) {
    // Same-file mode rewrote the manifest; a record beside it describes the copy before.
    const std::string stale = OffsitePathOf(ManifestPathOf(*recorded));
    if (!stale.empty() && !RemoveFileIfExists(stale)) {
      m_context.Log(LogLevel::Warning, "Failed to delete an outdated off-site record! - " + stale +
                                           " (" + std::strerror(errno) + ")");
    }
  }
  const std::vector<BackupCopy> pending = PendingCopies(recorded);
  bool sent = false;
  bool failed = false;
  if (!pending.empty() && !OpenStore()) failed = true;
  for (std::size_t i = 0; !failed && i < pending.size(); ++i) {
    const bool current =
        recorded != nullptr && i + 1 == pending.size() && SameCopy(pending[i], *recorded);
    switch (SendCopy(pending[i], current)) {
      case Sent::Yes:
        sent = true;
        if (current) m_context.Log(LogLevel::General, kCopyOffsiteText + m_target);
        break;
      case Sent::Skipped: break;
      case Sent::Failed: failed = true; break;
      case Sent::Stopped: return RunOutcome::Canceled;
    }
  }
  std::vector<BackupCopy> history = m_task.BackupHistory;
  if (recorded != nullptr) history.push_back(*recorded);
  if (!failed && sent) ApplyStoreRetention(history);
  // A copy that went off-site now may lose its local files.
  if (sent) m_context.DeleteExpiredCopies();
  return failed ? RunOutcome::Failed : outcome;
}

void COffsiteRun::ApplyStoreRetention(const std::vector<BackupCopy>& history) {
  if (m_options.KeepCopies <= 0 || m_context.StopRequested()) return;
  const auto keep = static_cast<std::size_t>(m_options.KeepCopies);
  std::vector<RemoteCopy> copies;
  if (Status listed = ListRemoteCopies(*m_store, copies); !listed.ok()) {
    m_context.Log(LogLevel::Warning, "The off-site copies could not be listed to keep the newest " +
                                         std::to_string(keep) + ": " + listed.message());
    return;
  }
  // This task's copies, oldest first; only a manifest of its own names what may go.
  std::vector<std::size_t> mine;
  std::vector<std::size_t> complete;  // positions in `mine`
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (!copies[i].Manifest || copies[i].Manifest->TaskName != m_task.TaskName) continue;
    if (copies[i].Complete) complete.push_back(mine.size());
    mine.push_back(i);
  }
  if (complete.size() <= keep) return;
  // Everything older than the oldest complete copy kept goes, incomplete ones too.
  const std::size_t oldestKept = complete[complete.size() - keep];
  std::set<std::size_t> doomed(mine.begin(),
                               mine.begin() + static_cast<std::ptrdiff_t>(oldestKept));
  // An object a remaining manifest (of any task) names stays, whoever else names it.
  std::set<std::string> named;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (doomed.contains(i)) continue;
    named.insert(copies[i].ManifestName);
    named.insert(copies[i].ObjectNames.begin(), copies[i].ObjectNames.end());
  }
  std::vector<std::string> deleted;
  for (const std::size_t i : doomed) {
    const RemoteCopy& copy = copies[i];
    bool whole = true;
    auto remove = [&](const std::string& name) {
      if (named.contains(name)) return true;
      if (Status gone = m_store->Delete(name); !gone.ok()) {
        m_context.Log(LogLevel::Warning, "Failed to delete an expired off-site copy's object! - " +
                                             name + " (" + gone.message() + ")");
        return false;
      }
      return true;
    };
    for (const std::string& name : copy.ObjectNames) whole = remove(name) && whole;
    // The manifest goes last, and only after every file: a later run finds the rest.
    if (whole && remove(copy.ManifestName)) deleted.push_back(copy.ManifestName);
  }
  if (!deleted.empty()) {
    m_context.Log(
        LogLevel::General,
        "Deleted " + std::to_string(deleted.size()) +
            (deleted.size() == 1 ? " expired off-site copy" : " expired off-site copies") + " at " +
            m_target + "; the newest " + std::to_string(keep) + " stay");
  }
  NoteRemoved(history, deleted);
}

void COffsiteRun::NoteRemoved(const std::vector<BackupCopy>& history,
                              const std::vector<std::string>& manifests) {
  const std::set<std::string> gone(manifests.begin(), manifests.end());
  std::vector<BackupCopy> forget;
  std::set<std::string> handled;
  for (const BackupCopy& copy : history) {
    const std::string manifestPath = ManifestPathOf(copy);
    const std::string name = RemoteNameOf(m_baseFolder, manifestPath);
    if (name.empty() || !gone.contains(name)) continue;
    const bool localLeft =
        !LocalFilesDeleted(copy) &&
        std::any_of(copy.CopyFiles.begin(), copy.CopyFiles.end(), [&](const std::string& file) {
          return FileExists(RecordedFilePath(copy, file));
        });
    if (!localLeft) {
      forget.push_back(copy);
      continue;
    }
    // Still here: local retention may delete it as it would any copy, and it is never sent
    // again.
    const std::string recordPath = OffsitePathOf(manifestPath);
    OffsiteRecord record;
    Status changed = ReadOffsiteRecord(recordPath, record);
    if (changed.ok() && handled.insert(recordPath).second) {
      record.Removed = UtcIso8601(m_context.GetClock().Now());
      changed = WriteOffsiteRecord(recordPath, record);
    }
    if (!changed.ok()) m_context.Log(LogLevel::Warning, changed.message());
  }
  if (forget.empty() || !m_context.ForgetBackupCopies(forget).ok()) return;
  for (const BackupCopy& copy : forget) {
    const std::string manifestPath = ManifestPathOf(copy);
    for (const std::string& path : {manifestPath, OffsitePathOf(manifestPath)}) {
      if (!RemoveFileIfExists(path)) {
        m_context.Log(LogLevel::Warning,
                      "Failed to delete the manifest of a copy that is gone! - " + path + " (" +
                          std::strerror(errno) + ")");
      }
    }
    if (!copy.CopyFolder.empty()) (void)::rmdir(copy.CopyFolder.c_str());  // only when empty
  }
}

}  // namespace brevanto
