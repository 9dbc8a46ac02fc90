#include "engines/OffsiteRestore.h"

#include <algorithm>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "remote/RemoteCopyFetch.h"
#include "tasks/EncryptionOptions.h"
#include "tasks/RemoteOptions.h"
#include "tasks/TaskOptionsStore.h"

namespace brevanto {

CTaskItem MakeOffsiteRestoreTask(const CTaskItem& backup, const std::string& copy,
                                 const CServerInfo& server, const std::string& database,
                                 const std::string& identityFile) {
  CTaskItem task;
  task.TaskName = "Restore " + backup.TaskName + " " + copy;
  task.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
  task.DestinationServer = server;
  task.RestoreOptions = backup.RestoreOptions;
  SetRemoteOptions(task, RemoteOptionsOf(backup));
  EncryptionOptions encryption;
  encryption.IdentityFile = identityFile;
  SetEncryptionOptions(task, encryption);
  SetTaskSection(task, kOffsiteRestoreSection, {{"Copy", copy}, {"Database", database}});
  return task;
}

std::shared_ptr<const OffsiteSource> OffsiteSourceOf(const CTaskItem& task) {
  const OffsiteRestoreOptions options = OffsiteRestoreOptionsOf(task);
  if (!options.Set) return nullptr;
  auto source = std::make_shared<OffsiteSource>();
  const RemoteOptions remote = RemoteOptionsOf(task);
  source->Target = RemoteTargetText(remote);
  source->Copy = options.Copy;
  source->OpenStore = [remote](const TransferControl& control,
                               std::unique_ptr<RemoteStore>& store) {
    return MakeRemoteStore(remote, control, store);
  };
  return source;
}

TransferControl TransferControlFor(TaskRunContext& context) {
  TransferControl control;
  control.TheClock = &context.GetClock();
  control.StopRequested = [&context] { return context.StopRequested(); };
  control.Warn = [&context](const std::string& text) { context.Log(LogLevel::Warning, text); };
  return control;
}

Status ResolveOffsiteCopy(const OffsiteSource& source, const TransferControl& control,
                          std::shared_ptr<const OffsiteSource>& resolved,
                          std::vector<RestoreFileItem>& files, std::string& copyName) {
  files.clear();
  std::unique_ptr<RemoteStore> store;
  Status status = source.OpenStore(control, store);
  std::vector<RemoteCopy> copies;
  if (status.ok()) status = ListRemoteCopies(*store, copies);
  if (!status.ok()) return status;
  std::string problem;
  const RemoteCopy* copy = ChooseRemoteCopy(copies, source.Copy, problem);
  if (copy == nullptr)
    return Status::Error("No copy to restore: " + problem + " - " + source.Target);
  copyName = RemoteCopyName(*copy);
  auto filled = std::make_shared<OffsiteSource>(source);
  filled->Files.clear();
  filled->Databases.clear();
  for (const ManifestTable& table : copy->Manifest->Tables)
    filled->Databases.insert(table.Database);
  for (const ManifestObject& object : copy->Manifest->Objects) {
    filled->Databases.insert(object.Database);
  }
  for (const ManifestFile& file : copy->Manifest->Files) {
    const std::string name = RemoteObjectName(copy->ManifestName, file.Name);
    filled->Files[name] = file;
    RestoreFileItem item;
    item.FullPath = name;
    item.FileName = name.substr(name.rfind('/') + 1);
    item.FileSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(file.Size, UINT32_MAX));
    files.push_back(std::move(item));
  }
  resolved = std::move(filled);
  return Status::Ok();
}

}  // namespace brevanto
