#include "remote/RemoteStore.h"

#include <algorithm>

#include "remote/RcloneStore.h"
#include "remote/S3Store.h"
#include "remote/SftpStore.h"

namespace brevanto {

Status MakeRemoteStore(const RemoteOptions& options, const TransferControl& control,
                       std::unique_ptr<RemoteStore>& store) {
  store.reset();
  if (const std::string problem = RemoteOptionsProblem(options); !problem.empty()) {
    return Status::Error(problem);
  }
  switch (options.Kind) {
    case RemoteKind::S3: return MakeS3Store(options, control, store);
    case RemoteKind::Sftp: return MakeSftpStore(options, control, store);
    case RemoteKind::Rclone: return MakeRcloneStore(options, control, store);
    case RemoteKind::None: break;
  }
  return Status::Error("No off-site target is set");
}

Status TestRemoteStore(RemoteStore& store) {
  const std::string name = ".brevanto-test-object";
  const std::string text = "Brevanto checks that it can write, list, read and delete here.\n";
  auto failed = [&](const char* step, const Status& status) {
    return Status::Error(std::string(step) + " a test object failed: " + status.message());
  };
  {
    std::unique_ptr<ObjectWriter> writer;
    Status status = store.OpenWriter(name, writer);
    if (status.ok()) status = writer->Write(text);
    if (status.ok()) status = writer->Complete();
    if (!status.ok()) return failed("Writing", status);
  }
  std::vector<RemoteObject> objects;
  if (Status status = store.List(name, objects); !status.ok()) return failed("Listing", status);
  const bool listed = std::any_of(objects.begin(), objects.end(), [&](const RemoteObject& object) {
    return object.Name == name && object.Size == text.size();
  });
  std::string read;
  Status got = store.Get(name, [&](std::string_view bytes) {
    read.append(bytes);
    return Status::Ok();
  });
  // Deleted whatever the checks found, so a failed test leaves nothing behind.
  const Status deleted = store.Delete(name);
  if (!listed) {
    return Status::Error("Listing a test object failed: it was written but not listed - " +
                         store.Describe());
  }
  if (!got.ok()) return failed("Reading", got);
  if (read != text) {
    return Status::Error("Reading a test object failed: other bytes came back - " +
                         store.Describe());
  }
  if (!deleted.ok()) return failed("Deleting", deleted);
  return Status::Ok();
}

}  // namespace brevanto
