#pragma once
// Taking the application folder for a command, waiting as --wait says.

#include <memory>
#include <string>

#include "core/InstanceLock.h"

namespace brevanto {
class Clock;
}

namespace brevanto::run {

struct FolderAccess {
  std::unique_ptr<InstanceLock> lock;  // null when the folder is shared with the scheduler
  bool shared = false;                 // the scheduler holds the folder and takes changes in
  bool granted = false;
};

// Takes the folder's lock as a holder of `kind`. With `shareWithScheduler`, a folder the
// headless scheduler holds is granted shared: the command changes the task file under the
// task-file lock and the scheduler reloads it. Otherwise waits up to `waitSeconds` (-1
// without end) for the holder to go; when it does not, prints who holds the folder and
// grants nothing.
FolderAccess TakeFolder(const std::string& folder, const char* kind, int waitSeconds,
                        bool shareWithScheduler, Clock& clock);

}  // namespace brevanto::run
