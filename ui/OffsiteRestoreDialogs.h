#pragma once
// The window's restore of an off-site copy, in three steps: the backup task and its copy
// (the newest complete one preselected), then the server and database to restore into,
// then a question that names both. The copies are listed on a thread of their own: the
// window never waits for the store. GUI thread only.

#include <functional>
#include <memory>
#include <vector>

#include <QDialog>

#include "core/ServerInfo.h"
#include "core/Status.h"
#include "remote/RemoteCatalogue.h"
#include "tasks/TaskItem.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;

namespace brevanto::ui {

// Lists the copies in a backup task's off-site target; called on a thread of its own.
using CopyLister = std::function<Status(const CTaskItem& backup, std::vector<RemoteCopy>& copies)>;
// Through the store the task's "Remote" section describes.
CopyLister StoreCopyLister();

// The backup tasks that have an off-site target.
std::vector<CTaskItem> TasksWithOffsiteTarget(const std::vector<CTaskItem>& tasks);

// Step one: the backup task and one of its complete copies.
class OffsiteCopyDialog : public QDialog {
  Q_OBJECT

 public:
  // `backups` have an off-site target; `preselected` indexes them.
  OffsiteCopyDialog(std::vector<CTaskItem> backups, int preselected, CopyLister lister,
                    QWidget* parent = nullptr);
  ~OffsiteCopyDialog() override;

  const CTaskItem& Backup() const;
  // The chosen copy; REQUIRES: accepted.
  const RemoteCopy& Copy() const { return m_chosen; }
  QComboBox* TaskBox() const { return m_taskBox; }
  QTreeWidget* CopyList() const { return m_copyList; }
  // Whether the listing of the shown task has arrived.
  bool Listed() const { return m_listed; }

  void accept() override;

 signals:
  void listed();

 private:
  void ListCopies();
  void FitColumns();
  void ShowCopies(int generation, const Status& status, const std::vector<RemoteCopy>& copies);

  std::vector<CTaskItem> m_backups;
  CopyLister m_lister;
  QComboBox* m_taskBox;
  QTreeWidget* m_copyList;
  QLabel* m_state;
  std::vector<RemoteCopy> m_copies;
  RemoteCopy m_chosen;
  bool m_listed = false;
  // Answers of listings for a task no longer shown, or of a closed dialog, are dropped.
  std::shared_ptr<int> m_generation;
};

// Step two: where the copy goes, and the identity file when it is encrypted.
class OffsiteTargetDialog : public QDialog {
  Q_OBJECT

 public:
  OffsiteTargetDialog(const std::vector<CServerInfo>& servers, const RemoteCopy& copy,
                      const std::string& identityFile, QWidget* parent = nullptr);

  CServerInfo Server() const;
  std::string Database() const;
  std::string IdentityFile() const;
  QComboBox* ServerBox() const { return m_serverBox; }
  QLineEdit* DatabaseEdit() const { return m_database; }
  QLineEdit* IdentityEdit() const { return m_identity; }

  void accept() override;

 private:
  std::vector<CServerInfo> m_servers;
  bool m_encrypted;
  QComboBox* m_serverBox;
  QLineEdit* m_database;
  QLineEdit* m_identity;
};

// Step three's question.
QString OffsiteRestoreQuestion(const CTaskItem& backup, const RemoteCopy& copy,
                               const CServerInfo& server, const std::string& database);

}  // namespace brevanto::ui
