// --copies NAME --remote, --fetch and --restore-remote: a backup task's copies in its
// off-site target, read back from there. None of them changes the application folder, so
// they run beside the window or the scheduler.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

#include "app/run/Commands.h"
#include "app/run/Output.h"
#include "app/run/OwnerRun.h"
#include "app/run/TaskListing.h"
#include "core/Clock.h"
#include "core/ServerList.h"
#include "engines/OffsiteRestore.h"
#include "engines/RestoreFilesWorker.h"
#include "logs/TaskLog.h"
#include "remote/RemoteCatalogue.h"
#include "remote/RemoteCopyFetch.h"
#include "schedule/RunStatusText.h"
#include "tasks/RemoteOptions.h"

namespace brevanto::run {

namespace {

std::atomic<bool> g_stopRequested{false};

void OnTerminationSignal(int) {
  g_stopRequested = true;
}

void StopOnSignals() {
  std::signal(SIGINT, OnTerminationSignal);
  std::signal(SIGTERM, OnTerminationSignal);
  std::signal(SIGHUP, OnTerminationSignal);
}

TransferControl CommandControl() {
  TransferControl control;
  control.StopRequested = [] { return g_stopRequested.load(); };
  control.Warn = [](const std::string& text) { Say(Escaped(text)); };
  return control;
}

// The task `line` names and its target's store; an exit code when there is none.
struct TaskStore {
  std::vector<CTaskItem> tasks;
  const CTaskItem* task = nullptr;
  RemoteOptions options;
  std::unique_ptr<RemoteStore> store;
};

std::optional<int> OpenTaskStore(const std::string& folder, const CommandLine& line,
                                 TaskStore& out) {
  if (!ReadTasks(folder, out.tasks)) return kExitFailed;
  out.task = NamedTask(out.tasks, line.names.front());
  if (out.task == nullptr) return kExitUsage;
  out.options = RemoteOptionsOf(*out.task);
  if (out.options.Empty()) {
    Error("\"" + Escaped(out.task->TaskName) + "\" has no off-site target");
    return kExitUsage;
  }
  if (Status made = MakeRemoteStore(out.options, CommandControl(), out.store); !made.ok()) {
    Error(Escaped(made.message()));
    return kExitFailed;
  }
  return std::nullopt;
}

std::string Column(std::string text, std::size_t width, bool right = false) {
  if (text.size() >= width) return text + (right ? "" : " ");
  const std::string pad(width - text.size(), ' ');
  return right ? pad + text : text + pad;
}

std::string ServerText(const ManifestServer& server) {
  const std::string& host = server.Hostname.empty() ? server.Host : server.Hostname;
  if (host.empty()) return "-";
  return server.Port > 0 ? host + ":" + std::to_string(server.Port) : host;
}

nlohmann::json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::json() : nlohmann::json(text);
}

nlohmann::json RemoteCopyJson(const RemoteCopy& copy) {
  nlohmann::json item{{"name", RemoteCopyName(copy)},
                      {"manifest", copy.ManifestName},
                      {"task", nullptr},
                      {"started", nullptr},
                      {"ended", nullptr},
                      {"server", nullptr},
                      {"files", copy.ObjectNames.size()},
                      {"size", copy.Size},
                      {"complete", copy.Complete},
                      {"problem", TextOrNull(copy.Problem)}};
  if (copy.Manifest) {
    const CopyManifest& manifest = *copy.Manifest;
    item["task"] = manifest.TaskName;
    item["started"] = TextOrNull(manifest.Started);
    item["ended"] = TextOrNull(manifest.Ended);
    item["server"] = {{"host", manifest.Server.Host},
                      {"port", manifest.Server.Port},
                      {"hostname", manifest.Server.Hostname},
                      {"version", manifest.Server.Version}};
  }
  return item;
}

// The copy `line` names among the store's, or null after saying why.
const RemoteCopy* NamedRemoteCopy(TaskStore& target, const CommandLine& line,
                                  std::vector<RemoteCopy>& copies) {
  if (Status listed = ListRemoteCopies(*target.store, copies); !listed.ok()) {
    Error(Escaped(listed.message()));
    return nullptr;
  }
  std::string problem;
  const RemoteCopy* copy =
      ChooseRemoteCopy(copies, line.names.size() > 1 ? line.names[1] : "", problem);
  if (copy == nullptr) Error(Escaped(problem) + " - " + Escaped(target.store->Describe()));
  return copy;
}

// A run without a task of the folder: its entries are printed as --run prints them.
class CommandRunContext final : public TaskRunContext {
 public:
  CommandRunContext(CTaskItem task, Clock& clock)
      : m_task(std::move(task)), m_clock(clock), m_start(clock.Now()) {}

  const CTaskItem& Task() const override { return m_task; }
  TaskDateTime RunStartTime() const override { return m_start; }
  bool StopRequested() override { return g_stopRequested; }
  void Log(LogLevel level, const std::string& text) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (level == LogLevel::Error) m_failed = true;
    const TaskDateTime now = m_clock.Now();
    CTaskLogEntry entry;
    entry.level = static_cast<std::uint8_t>(level);
    entry.year = now.Year;
    entry.month = now.Month;
    entry.day = now.Day;
    entry.hour = now.Hour;
    entry.minute = now.Minute;
    entry.second = now.Second;
    entry.dayOfWeek = now.DayOfWeek;
    entry.text = text;
    PrintRunEntry(entry);
  }
  void SetCancelHook(std::function<void()>) override {}
  Status RecordBackupCopy(const BackupCopy&) override {
    return Status::Error("a restore records no backup copy");
  }
  Clock& GetClock() override { return m_clock; }
  bool Failed() const { return m_failed; }

 private:
  const CTaskItem m_task;
  Clock& m_clock;
  const TaskDateTime m_start;
  std::mutex m_lock;
  bool m_failed = false;
};

}  // namespace

int PrintRemoteCopies(const std::string& folder, const CommandLine& line) {
  TaskStore target;
  if (const std::optional<int> code = OpenTaskStore(folder, line, target)) return *code;
  std::vector<RemoteCopy> copies;
  if (Status listed = ListRemoteCopies(*target.store, copies); !listed.ok()) {
    Error(Escaped(listed.message()));
    return kExitFailed;
  }
  bool complete = true;
  nlohmann::json list = nlohmann::json::array();
  if (!line.json && !copies.empty()) {
    Say(Column("COPY", 24) + Column("STARTED (UTC)", 21) + Column("SERVER", 22) +
        Column("FILES", 5, true) + Column("SIZE", 11, true) + "  STATE");
  }
  for (const RemoteCopy& copy : copies) {
    complete = complete && copy.Complete;
    if (line.json) {
      list.push_back(RemoteCopyJson(copy));
      continue;
    }
    const std::string started = copy.Manifest ? ManifestTimeText(copy.Manifest->Started) : "-";
    const std::string server = copy.Manifest ? ServerText(copy.Manifest->Server) : "-";
    Say(Column(Escaped(RemoteCopyName(copy)), 24) + Column(started, 21) +
        Column(Escaped(server), 22) + Column(std::to_string(copy.ObjectNames.size()), 5, true) +
        Column(ByteCountText(static_cast<std::int64_t>(copy.Size)), 11, true) + "  " +
        (copy.Complete ? std::string("complete") : Escaped(copy.Problem)));
    if (copy.Manifest && copy.Manifest->TaskName != target.task->TaskName) {
      Say("    made by the task \"" + Escaped(copy.Manifest->TaskName) + "\"");
    }
  }
  if (line.json) {
    const nlohmann::json document{{"task", target.task->TaskName},
                                  {"target", RemoteTargetText(target.options)},
                                  {"ok", complete},
                                  {"copies", list}};
    std::printf("%s\n",
                document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else if (copies.empty()) {
    Say("\"" + Escaped(target.task->TaskName) + "\" has no copies in " +
        Escaped(RemoteTargetText(target.options)));
  }
  if (std::fflush(stdout) != 0) return kExitFailed;
  return complete ? kExitOk : kExitFailed;
}

int FetchCopy(const std::string& folder, const CommandLine& line) {
  StopOnSignals();
  TaskStore target;
  if (const std::optional<int> code = OpenTaskStore(folder, line, target)) return *code;
  std::vector<RemoteCopy> copies;
  const RemoteCopy* copy = NamedRemoteCopy(target, line, copies);
  if (copy == nullptr) return kExitFailed;
  Say("fetching " + Escaped(RemoteCopyName(*copy)) + " from " +
      Escaped(RemoteTargetText(target.options)));
  const Status fetched =
      FetchRemoteCopy(*target.store, *copy, line.to,
                      [](const std::string& path) { Say("fetched: " + Escaped(path)); });
  if (!fetched.ok()) {
    Error(Escaped(fetched.message()));
    return kExitFailed;
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

int RestoreRemoteCopy(const std::string& folder, const CommandLine& line) {
  StopOnSignals();
  TaskStore target;
  if (const std::optional<int> code = OpenTaskStore(folder, line, target)) return *code;
  std::vector<CServerInfo> servers;
  if (!LoadServers(folder, servers)) {
    Error("the saved servers could not be read");
    return kExitFailed;
  }
  const CServerInfo* server = nullptr;
  for (const CServerInfo& candidate : servers) {
    if (candidate.ConnectionName == line.into) server = &candidate;
  }
  if (server == nullptr) {
    Error("no saved server named \"" + Escaped(line.into) + "\"");
    return kExitUsage;
  }
  std::vector<RemoteCopy> copies;
  const RemoteCopy* copy = NamedRemoteCopy(target, line, copies);
  if (copy == nullptr) return kExitFailed;
  const CTaskItem task = MakeOffsiteRestoreTask(*target.task, RemoteCopyName(*copy), *server,
                                                line.database, line.identity);
  CommandRunContext context(task, SystemClock());
  const RunOutcome outcome = RestoreFromFiles(context, RestoreFilesRequestOf(task));
  if (outcome == RunOutcome::Canceled) context.Log(LogLevel::Warning, "User canceled!");
  if (outcome == RunOutcome::Finished) context.Log(LogLevel::General, "Finished");
  std::fflush(stdout);
  return outcome == RunOutcome::Finished && !context.Failed() ? kExitOk : kExitFailed;
}

}  // namespace brevanto::run
