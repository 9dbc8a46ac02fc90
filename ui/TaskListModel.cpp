#include "ui/TaskListModel.h"

#include <memory>
#include <mutex>

#include <QColor>

#include "core/Clock.h"
#include "schedule/RunStatusText.h"
#include "schedule/TaskRunner.h"
#include "tasks/DisplayDateTime.h"
#include "tasks/TaskList.h"
#include "ui/Icons.h"
#include "ui/TaskTexts.h"
#include "ui/Text.h"

namespace brevanto::ui {

TaskListModel::TaskListModel(const CTaskList& tasks, const TaskRunner* runner, QObject* parent)
    : QAbstractTableModel(parent),
      m_tasks(tasks),
      m_runner(runner),
      m_icon(MakeIcon(IconRole::Program)) {}

void TaskListModel::SetDisplayStyles(int dateStyle, int timeStyle) {
  if (dateStyle == m_dateStyle && timeStyle == m_timeStyle) return;
  m_dateStyle = dateStyle;
  m_timeStyle = timeStyle;
  Refresh();
}

TaskListModel::RowTexts TaskListModel::MakeRow(const CTaskItem& task) const {
  auto moment = [this](const TaskDateTime& t) {
    return t.Year <= 0 ? QString()
                       : ToQt(FormatDisplayDateTime(t, m_dateStyle, m_timeStyle, false));
  };
  RowTexts row;
  row[kName] = ToQt(task.TaskName);
  row[kStatus] = QString::fromLatin1(StatusText(task.Status));
  row[kLastRun] = moment(task.LastRunTime);
  row[kNextRun] = moment(task.NextRunTime);
  row[kTaskType] = QString::fromLatin1(TaskTypeText(task.TaskType));
  row[kSchedule] = QString::fromLatin1(ScheduleKindText(task.Schedule.Kind));
  return row;
}

TaskListModel::RowTexts TaskListModel::MakeRow(const TaskSlot& slot, int& permille) const {
  RowTexts row = MakeRow(slot.Task);
  permille = -1;
  if (slot.Task.GetStatus() == TaskStatus::Running && slot.Progress.Active) {
    permille = slot.Progress.Permille;
    row[kResult] = ToQt(ProgressText(slot.Progress, SecondsBetween(slot.Task.LastRunTime, m_now)));
  } else {
    row[kResult] = ToQt(LastResultText(slot.LastResult));
  }
  return row;
}

// Formats the row under the task's own lock instead of copying the whole record (with its
// database, table and file lists) on every tick.
TaskListModel::RowTexts TaskListModel::RowAt(int row) {
  const std::shared_ptr<TaskSlot> slot = m_tasks.SlotAt(row);
  if (!slot) return MakeRow(CTaskItem());
  const bool stopping = m_runner != nullptr && m_runner->IsStopping(row);
  int permille = -1;
  RowTexts texts;
  {
    std::lock_guard lock(slot->Lock);
    texts = MakeRow(*slot, permille);
  }
  if (stopping) texts[kStatus] = QStringLiteral("Stopping...");
  if (row < static_cast<int>(m_permille.size())) m_permille[static_cast<std::size_t>(row)] = permille;
  return texts;
}

void TaskListModel::UpdateRow(int row, const RowTexts& texts) {
  RowTexts& shown = m_rows[static_cast<std::size_t>(row)];
  int first = -1;
  int last = -1;
  for (int column = 0; column < kColumnCount; ++column) {
    if (shown[static_cast<std::size_t>(column)] == texts[static_cast<std::size_t>(column)])
      continue;
    if (first < 0) first = column;
    last = column;
  }
  if (first < 0) return;
  shown = texts;
  emit dataChanged(index(row, first), index(row, last), {Qt::DisplayRole});
}

void TaskListModel::Refresh() {
  m_now = m_tasks.GetClock().Now();
  const int count = m_tasks.Count();
  m_permille.resize(static_cast<std::size_t>(count), -1);
  const int shown = static_cast<int>(m_rows.size());
  for (int row = 0; row < count; ++row) {
    RowTexts texts = RowAt(row);
    if (row < shown) {
      UpdateRow(row, texts);
    } else {
      beginInsertRows(QModelIndex(), row, row);
      m_rows.push_back(std::move(texts));
      endInsertRows();
    }
  }
  if (count < shown) {
    beginRemoveRows(QModelIndex(), count, shown - 1);
    m_rows.resize(static_cast<std::size_t>(count));
    endRemoveRows();
  }
}

void TaskListModel::RefreshRow(int row) {
  if (row < 0) return;
  if (row >= static_cast<int>(m_rows.size()) || row >= m_tasks.Count()) {
    Refresh();
    return;
  }
  UpdateRow(row, RowAt(row));
}

int TaskListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TaskListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return {};
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      return m_rows[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(column)];
    case Qt::DecorationRole: return column == kName ? QVariant(m_icon) : QVariant();
    case kProgressRole:
      return column == kResult && index.row() < static_cast<int>(m_permille.size())
                 ? m_permille[static_cast<std::size_t>(index.row())]
                 : -1;
    case Qt::ForegroundRole:
      if (column == kResult &&
          m_rows[static_cast<std::size_t>(index.row())][kResult].startsWith(QLatin1String("Failed"))) {
        return QColor(0xB0, 0x1C, 0x1C);
      }
      return {};
    case Qt::TextAlignmentRole:
      return column == kTaskType || column == kSchedule
                 ? QVariant(Qt::AlignCenter)
                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default: return {};
  }
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole) {
    return section == kTaskType || section == kSchedule
               ? QVariant(Qt::AlignCenter)
               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) return {};
  static const char* const kCaptions[kColumnCount] = {"Task Name", "Status",   "Last Run",
                                                      "Next Run",  "Task Type", "Schedule",
                                                      "Result"};
  return section >= 0 && section < kColumnCount ? tr(kCaptions[section]) : QVariant();
}

}  // namespace brevanto::ui
