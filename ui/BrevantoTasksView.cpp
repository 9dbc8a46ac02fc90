#include "ui/BrevantoTasksView.h"

#include <algorithm>

#include <QHeaderView>
#include <QListView>
#include <QShortcut>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>

#include "ui/ProgressDelegate.h"
#include "ui/TaskListModel.h"

namespace brevanto::ui {

namespace {

// The widths the list starts from; a column whose texts need more in the current font gets
// more, so "P.M" or a task type is never cut.
constexpr int kColumnWidths[TaskListModel::kColumnCount] = {180, 90, 180, 180, 220, 100, 170};
// Room around a cell's text: the view's margins and the header's sort indicator space.
constexpr int kCellPadding = 16;

// The widest texts a fixed column shows: every status, moment and kind it can hold.
QStringList FixedColumnTexts(int column) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  switch (column) {
    case TaskListModel::kStatus: return {"Status", "Waiting...", "Running...", "Stopping...", "Unknown"};
    case TaskListModel::kLastRun:
    case TaskListModel::kNextRun: {
      // Date style 1 and 2 are equally long and longer than style 3; time style 2 is the
      // longer one. Digits share one width in the usual fonts, names do not.
      QStringList moments;
      for (const char* day : kDays) {
        for (const char* month : kMonths) {
          moments << QStringLiteral("%1, %2 30, 2006 00:00 P.M").arg(QLatin1String(day),
                                                                      QLatin1String(month));
        }
      }
      return moments;
    }
    case TaskListModel::kTaskType:
      return {"Backup to SQL/PHP files", "Backup to another server", "Backup to another database",
              "Export to CSV/XML/HTML/TEXT files", "Execute SQL script", "Restore by SQL files",
              "Restore by another server", "Restore by another database"};
    case TaskListModel::kSchedule:
      return {"Manual", "Every Day", "Every Week", "Every Month", "Special Date", "Minutes"};
    default: return {};
  }
}

// Small icons sit in cells of one width, side by side: each cell keeps a gap at its right
// end, so a highlighted name never runs into the next icon, and a name too long for its
// cell ends in "...".
constexpr int kSmallIconGap = 12;
// The widest small-icon cell, as a multiple of the name column's width.
constexpr int kSmallIconMaxCells = 2;

class SmallIconDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  // The view draws an item as wide as this, up to its cell.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(kSmallIconGap, 0);
  }
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem cell = option;
    cell.rect.setWidth(std::max(0, cell.rect.width() - kSmallIconGap));
    QStyledItemDelegate::paint(painter, cell, index);
  }
};

}  // namespace

int CBrevantoTasksView::DetailsWidthHint() const {
  int width = 2 * m_details->frameWidth() +
              m_details->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_details);
  for (int column = 0; column < TaskListModel::kColumnCount; ++column) {
    width += m_details->columnWidth(column);
  }
  return width;
}

int CBrevantoTasksView::ColumnWidth(int column, const QFontMetrics& metrics) {
  int widest = 0;
  for (const QString& text : FixedColumnTexts(column)) {
    widest = std::max(widest, metrics.horizontalAdvance(text));
  }
  return std::max(kColumnWidths[column], widest + kCellPadding);
}

CBrevantoTasksView::CBrevantoTasksView(const CTaskList& tasks, const TaskRunner* runner,
                                       QWidget* parent)
    : QStackedWidget(parent),
      m_model(new TaskListModel(tasks, runner, this)),
      m_details(new QTreeView(this)),
      m_icons(new QListView(this)),
      m_plainItems(new QStyledItemDelegate(this)),
      m_smallIcons(new SmallIconDelegate(this)) {
  setObjectName("tasksView");
  m_details->setObjectName("taskDetails");
  m_icons->setObjectName("taskIcons");

  m_details->setModel(m_model);
  m_details->setRootIsDecorated(false);
  m_details->setItemsExpandable(false);
  m_details->setUniformRowHeights(true);
  m_details->setAllColumnsShowFocus(true);
  m_details->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_details->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_details->setIconSize(QSize(18, 18));
  m_details->header()->setStretchLastSection(false);
  for (int column = 0; column < TaskListModel::kColumnCount; ++column) {
    m_details->setColumnWidth(column, ColumnWidth(column, m_details->fontMetrics()));
  }
  m_details->setItemDelegateForColumn(TaskListModel::kResult, new ProgressDelegate(m_details));

  m_icons->setModel(m_model);
  m_icons->setSelectionModel(m_details->selectionModel());
  m_icons->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // The commands read whole selected rows; an icon alone would select only its cell.
  m_icons->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_icons->setModelColumn(TaskListModel::kName);
  m_icons->setResizeMode(QListView::Adjust);

  addWidget(m_details);
  addWidget(m_icons);
  setCurrentWidget(m_details);

  for (QAbstractItemView* view :
       {static_cast<QAbstractItemView*>(m_details), static_cast<QAbstractItemView*>(m_icons)}) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
      emit contextMenuRequested(view->viewport()->mapToGlobal(pos));
    });
    connect(view, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { emit rowActivated(index.row()); });
    // Enter opens the current row as a double click does (activated would also fire on a
    // single click where the style says so).
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
      auto* enter = new QShortcut(QKeySequence(key), view, nullptr, nullptr, Qt::WidgetShortcut);
      connect(enter, &QShortcut::activated, this, [this, view] {
        if (view->currentIndex().isValid()) emit rowActivated(view->currentIndex().row());
      });
    }
  }
  connect(Selection(), &QItemSelectionModel::selectionChanged, this,
          &CBrevantoTasksView::selectionChanged);

  m_refresh.setObjectName("refreshTimer");
  m_refresh.setInterval(1000);
  connect(&m_refresh, &QTimer::timeout, this, &CBrevantoTasksView::RefreshAll);
  RefreshAll();
  m_refresh.start();
}

QItemSelectionModel* CBrevantoTasksView::Selection() const {
  return m_details->selectionModel();
}

void CBrevantoTasksView::SetViewMode(ListViewMode mode) {
  m_mode = mode;
  if (mode == ListViewMode::Details) {
    setCurrentWidget(m_details);
    return;
  }
  m_icons->setItemDelegate(m_plainItems);
  switch (mode) {
    case ListViewMode::LargeIcons:
      m_icons->setViewMode(QListView::IconMode);
      m_icons->setFlow(QListView::LeftToRight);
      m_icons->setIconSize(QSize(32, 32));
      m_icons->setGridSize(QSize(120, 84));
      m_icons->setWordWrap(true);
      m_icons->setTextElideMode(Qt::ElideRight);
      break;
    case ListViewMode::SmallIcons:
      // Small icons have their names beside them, in rows; icon mode would put them under.
      m_icons->setViewMode(QListView::ListMode);
      m_icons->setFlow(QListView::LeftToRight);
      m_icons->setIconSize(QSize(18, 18));
      // Cells of one width line the names up in columns, as in the large icons' grid.
      m_icons->setItemDelegate(m_smallIcons);
      FitSmallIconCells();
      m_icons->setWordWrap(false);
      m_icons->setTextElideMode(Qt::ElideRight);
      break;
    default:
      m_icons->setViewMode(QListView::ListMode);
      m_icons->setFlow(QListView::TopToBottom);
      m_icons->setIconSize(QSize(18, 18));
      m_icons->setGridSize(QSize());
      m_icons->setWordWrap(false);
      break;
  }
  // Small icons flow in rows and the list in columns, both wrapping at the view's edge.
  m_icons->setWrapping(true);
  // IconMode lets items be dragged about; the list order is the task order.
  m_icons->setMovement(QListView::Static);
  setCurrentWidget(m_icons);
}

QList<int> CBrevantoTasksView::SelectedRows() const {
  QList<int> rows;
  for (const QModelIndex& index : Selection()->selectedRows()) rows.append(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CBrevantoTasksView::ClearSelection() {
  Selection()->clearSelection();
}

void CBrevantoTasksView::SelectRow(int row, bool current) {
  const QModelIndex index = m_model->index(row, 0);
  if (!index.isValid()) return;
  auto flags = QItemSelectionModel::Select | QItemSelectionModel::Rows;
  if (current) {
    Selection()->setCurrentIndex(index, flags);
    ScrollToRow(row);
  } else {
    Selection()->select(index, flags);
  }
}

void CBrevantoTasksView::DeselectRow(int row) {
  const QModelIndex index = m_model->index(row, 0);
  if (index.isValid())
    Selection()->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
}

void CBrevantoTasksView::SelectAllRows() {
  const int rows = m_model->rowCount();
  if (rows == 0) return;
  const QItemSelection all(m_model->index(0, 0),
                           m_model->index(rows - 1, TaskListModel::kColumnCount - 1));
  Selection()->select(all, QItemSelectionModel::Select);
  Selection()->setCurrentIndex(m_model->index(0, 0), QItemSelectionModel::NoUpdate);
}

void CBrevantoTasksView::ScrollToRow(int row) {
  const QModelIndex index = m_model->index(row, 0);
  m_details->scrollTo(index);
  m_icons->scrollTo(index);
}

void CBrevantoTasksView::RefreshAll() {
  m_model->Refresh();
  if (m_mode == ListViewMode::SmallIcons) FitSmallIconCells();
}

int CBrevantoTasksView::SmallIconCellWidth(const QFontMetrics& metrics,
                                           const QStringList& names) {
  int widest = 0;
  for (const QString& name : names) widest = std::max(widest, metrics.horizontalAdvance(name));
  // The icon, the spaces either side of it and the cell's own margins.
  constexpr int kIconAndMargins = 18 + 3 * 4 + kCellPadding;
  const int least = kColumnWidths[TaskListModel::kName];
  return std::clamp(widest + kIconAndMargins, least, kSmallIconMaxCells * least) + kSmallIconGap;
}

void CBrevantoTasksView::FitSmallIconCells() {
  QStringList names;
  for (int row = 0; row < m_model->rowCount(); ++row) {
    names << m_model->index(row, TaskListModel::kName).data().toString();
  }
  const QFontMetrics metrics = m_icons->fontMetrics();
  const QSize cell(SmallIconCellWidth(metrics, names), metrics.height() + 8);
  if (m_icons->gridSize() != cell) m_icons->setGridSize(cell);
}

void CBrevantoTasksView::RefreshRow(int row) {
  m_model->RefreshRow(row);
}

void CBrevantoTasksView::PauseRefresh() {
  m_refresh.stop();
}

void CBrevantoTasksView::ResumeRefresh() {
  m_refresh.start();
}

}  // namespace brevanto::ui
