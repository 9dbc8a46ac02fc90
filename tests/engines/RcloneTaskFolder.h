// An application folder whose backup task sends its copies to an rclone remote of type local
// (a folder), for the brevanto-run tests of off-site copies. brevanto-run finds the remote
// through RCLONE_CONFIG, which Launcher() sets.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "core/ApplicationFolder.h"
#include "tasks/RemoteOptions.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskOptionsStore.h"
#include "tests/support/TempDir.h"

namespace brevanto::test {

// A BackupToFiles task named `name` whose target is `remoteFolder` through the remote "t".
inline CTaskItem RcloneBackupTask(const std::string& key, const std::string& name,
                                  const std::string& remoteFolder) {
  CTaskItem task;
  task.TaskKey = key;
  task.TaskName = name;
  task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
  RemoteOptions remote;
  remote.Kind = RemoteKind::Rclone;
  remote.RcloneRemote = "t";
  remote.Path = remoteFolder;
  SetRemoteOptions(task, remote);
  return task;
}

// Writes `tasks` and their sections into `folder`, and the rclone config beside them.
inline void WriteRcloneFolder(const TempDir& folder, const std::vector<CTaskItem>& tasks) {
  ASSERT_TRUE(WriteWholeFile(folder.file("rclone.conf"), "[t]\ntype = local\n"));
  ASSERT_TRUE(WriteTaskFile(folder.file(kTaskFileName), tasks));
  ASSERT_TRUE(WriteTaskOptionsFile(TaskOptionsPathFor(folder.file(kTaskFileName)), tasks));
}

inline std::string Launcher(const TempDir& folder) {
  return "env RCLONE_CONFIG='" + folder.file("rclone.conf") + "'";
}

}  // namespace brevanto::test
