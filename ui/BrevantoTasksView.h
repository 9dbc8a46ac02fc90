#pragma once
// CBrevantoTasksView: the task list in one of four view modes (large icons, small icons,
// list, details). The details mode is a tree view with the seven columns, the others a list
// view; both share one model and one selection, so switching modes keeps the selection.
// The view refreshes its rows from the live tasks once a second. GUI thread only.

#include <QList>
#include <QStringList>
#include <QStackedWidget>
#include <QTimer>

class QFontMetrics;
class QItemSelectionModel;
class QListView;
class QStyledItemDelegate;
class QTreeView;

namespace brevanto {
class CTaskList;
class TaskRunner;
}

namespace brevanto::ui {

class TaskListModel;

enum class ListViewMode { LargeIcons, SmallIcons, List, Details };

class CBrevantoTasksView : public QStackedWidget {
  Q_OBJECT

 public:
  // `tasks` and `runner` (null when no task runs) must outlive the view.
  CBrevantoTasksView(const CTaskList& tasks, const TaskRunner* runner, QWidget* parent = nullptr);

  // The details column's width in a font: the list's own width, or more when a text the
  // column can show needs it.
  static int ColumnWidth(int column, const QFontMetrics& metrics);
  // The width the details list needs to show every column whole, with its frame and a
  // vertical scroll bar.
  int DetailsWidthHint() const;
  // The small icons' cell width for these names: room for the longest, within limits, and
  // a gap before the next cell.
  static int SmallIconCellWidth(const QFontMetrics& metrics, const QStringList& names);

  TaskListModel* Model() const { return m_model; }
  // The details list, whose column widths the window keeps between runs.
  QTreeView* Details() const { return m_details; }
  QItemSelectionModel* Selection() const;

  ListViewMode ViewMode() const { return m_mode; }
  void SetViewMode(ListViewMode mode);

  // Selected rows in row order.
  QList<int> SelectedRows() const;
  void ClearSelection();
  // Adds `row` to the selection; `current` also gives it the focus and scrolls to it.
  void SelectRow(int row, bool current);
  void DeselectRow(int row);
  void SelectAllRows();
  void ScrollToRow(int row);

  void RefreshAll();
  void RefreshRow(int row);
  // The refresh timer is held while a new task list is loaded.
  void PauseRefresh();
  void ResumeRefresh();
  bool RefreshRunning() const { return m_refresh.isActive(); }

 signals:
  void contextMenuRequested(const QPoint& globalPos);
  void rowActivated(int row);
  void selectionChanged();

 private:
  void FitSmallIconCells();

  TaskListModel* m_model;
  QTreeView* m_details;
  QListView* m_icons;
  QStyledItemDelegate* m_plainItems;  // large icons and list
  QStyledItemDelegate* m_smallIcons;
  QTimer m_refresh;
  ListViewMode m_mode = ListViewMode::Details;
};

}  // namespace brevanto::ui
