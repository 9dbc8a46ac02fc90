#pragma once
// Draws the task list's Result cell as a progress bar, with the cell's text on it, while
// the task runs (TaskListModel::kProgressRole is 0..1000); other cells as usual.
// GUI thread only.

#include <QStyledItemDelegate>

namespace brevanto::ui {

class ProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

}  // namespace brevanto::ui
