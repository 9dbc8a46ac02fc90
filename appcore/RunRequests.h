#pragma once
// Runs asked of the program that owns an application folder (the window or the headless
// scheduler) by brevanto-run, which may not write the folder's files while another program
// holds it. A request is a file "<folder>/Requests/<id>.run" holding a task name; the
// owner deletes it when it takes the run on, and writes "<id>.run.end" once the run is
// over, so the asker knows when to stop following the task's log: empty, or why no run
// was made.

#include <map>
#include <string>
#include <vector>

#include "core/Status.h"

namespace brevanto {

class CApplicationCore;

std::string RunRequestsFolder(const std::string& folder);

// Drops a request for `taskName` into `folder`; `requestPath` receives its file.
Status PostRunRequest(const std::string& folder, const std::string& taskName,
                      std::string& requestPath);

// The file the owner writes when the requested run is over.
std::string RunRequestEndPath(const std::string& requestPath);

// The owner's side: polled from the owner's loop.
class RunRequestDesk {
 public:
  explicit RunRequestDesk(CApplicationCore& core) : m_core(core) {}

  // Takes the new requests, starts their runs (a task already running is left to its
  // run), and marks the requests whose run is over. Returns messages for the owner to
  // show: what was started, and every failed read, delete or write.
  std::vector<std::string> Poll();

 private:
  CApplicationCore& m_core;
  std::map<std::string, std::string> m_taken;  // request file -> task key
};

}  // namespace brevanto
