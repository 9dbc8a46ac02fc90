#pragma once
// CServerManagerDlg: the "MySQL Servers" window, the saved connections in the user's
// order with commands to add, edit, view, delete and reorder them. Every change goes
// straight to the live list (and, through it, to the server file). GUI thread only.

#include <functional>
#include <optional>

#include <QDialog>

#include "core/ServerInfo.h"
#include "ui/dialogs/ServerDlg.h"

class QAction;
class QTableWidget;

namespace brevanto {
class CServerList;
}

namespace brevanto::ui {

class CServerManagerDlg : public QDialog {
  Q_OBJECT

 public:
  // Opens the server editor; the edited server on OK, nothing when cancelled.
  using Editor = std::function<std::optional<CServerInfo>(
      QWidget* parent, ServerDlgMode mode, const CServerInfo& server, int editingIndex)>;

  // REQUIRES: `servers` outlives the window.
  explicit CServerManagerDlg(CServerList& servers, QWidget* parent = nullptr);

  // Tests replace the modal editor with one that answers at once.
  void SetEditor(Editor editor) { m_editor = std::move(editor); }
  QTableWidget* List() const { return m_list; }

  void AddServer();
  void EditServer();
  void ViewServer();
  void DeleteServer();
  void MoveUp();
  void MoveDown();

 private:
  void FillRow(int row, const CServerInfo& server);
  // The selected row, or -1 after saying "Please choose a server item!".
  int ChosenRow();
  void Move(int row, int neighbour);

  CServerList& m_servers;
  Editor m_editor;
  QTableWidget* m_list;
};

}  // namespace brevanto::ui
