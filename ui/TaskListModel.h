#pragma once
// TaskListModel: the task list as the main window's table, one row per task in list order.
// It keeps the texts it last showed and, on Refresh, tells the views only about the cells
// that changed, so selection and scroll position survive the once-a-second refresh.
// GUI thread only; reads each task under the task's own short lock.

#include <array>
#include <vector>

#include <QAbstractTableModel>
#include <QIcon>

#include "core/DateTime.h"

namespace brevanto {
class CTaskList;
class TaskRunner;
struct CTaskItem;
struct TaskSlot;
}  // namespace brevanto

namespace brevanto::ui {

class TaskListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // kResult: the running task's progress, else its last run's outcome.
  enum Column { kName, kStatus, kLastRun, kNextRun, kTaskType, kSchedule, kResult, kColumnCount };
  // The Result cell's progress in per mille while the task runs, else -1 (an int).
  static constexpr int kProgressRole = Qt::UserRole + 1;

  // `tasks` and `runner` must outlive the model. Without a runner no task is "Stopping...".
  TaskListModel(const CTaskList& tasks, const TaskRunner* runner, QObject* parent = nullptr);

  void SetDisplayStyles(int dateStyle, int timeStyle);
  // Rewrites every row from the live tasks: changed cells, added and removed rows only.
  void Refresh();
  // Rewrites one row (after a command changed its task); a row past the end refreshes all.
  void RefreshRow(int row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  using RowTexts = std::array<QString, kColumnCount>;

  RowTexts MakeRow(const CTaskItem& task) const;
  // The row of a task with its run state. REQUIRES: the slot's lock is held.
  RowTexts MakeRow(const TaskSlot& slot, int& permille) const;
  RowTexts RowAt(int row);
  void UpdateRow(int row, const RowTexts& texts);

  const CTaskList& m_tasks;
  const TaskRunner* m_runner;
  std::vector<RowTexts> m_rows;
  std::vector<int> m_permille;  // kProgressRole of each row
  TaskDateTime m_now;           // read once per refresh, for the time left
  QIcon m_icon;
  int m_dateStyle = 1;
  int m_timeStyle = 1;
};

}  // namespace brevanto::ui
