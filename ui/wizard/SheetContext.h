#pragma once
// What the wizard and the edit and properties sheets share with their pages: the task
// copy the pages edit, the sheet's mode, the other tasks' names for the name check, the
// saved servers and options, and the catalogue loaded from the source server.
// Owned by the sheet; UI thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Status.h"
#include "tasks/TaskItem.h"
#include "ui/wizard/ServerBrowser.h"

class QWidget;

namespace brevanto {
class CApplicationCore;
struct RemoteOptions;
struct TransferControl;
}  // namespace brevanto

namespace brevanto::wizard {

enum class SheetMode { New, Edit, View };

struct CSheetContext {
  CTaskItem Task;
  SheetMode Mode = SheetMode::New;
  int EditIndex = -1;                  // the task being edited, -1 for a new one
  std::vector<std::string> TaskNames;  // every task of the list, in order
  CApplicationCore* Core = nullptr;    // saved servers and options; may be null in tests
  std::shared_ptr<ServerBrowser> Browser = std::make_shared<ServerBrowser>();
  // The server editor for a new saved server ("New" beside the connections); unset
  // disables the button.
  std::function<std::optional<CServerInfo>(QWidget* parent)> NewServer;
  // The source server's databases with their tables and views (kinds that choose databases
  // or tables), or the source database's tables in a single entry (kinds that copy one
  // database).
  std::vector<DatabaseItem> Catalogue;
  // The off-site page's Test: reaches the target and writes, lists, reads and deletes a
  // small object. Called on a worker thread; unset means the real stores.
  std::function<Status(const RemoteOptions&, const TransferControl&)> TestRemote;

  int Type() const { return Task.TaskType; }
  bool Wizard() const { return Mode == SheetMode::New; }
};

}  // namespace brevanto::wizard
