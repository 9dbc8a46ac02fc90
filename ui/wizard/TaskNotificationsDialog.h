#pragma once
// "Notifications...": whether a task calls for help as the program's Options say or in
// its own way. Edits the task's "Notifications" section; a task that keeps the program's
// defaults has none. GUI thread only.

#include <QDialog>

#include "notify/NotificationSettings.h"

class QCheckBox;

namespace brevanto {
struct CTaskItem;
}

namespace brevanto::ui {
class CNotificationChoicesBox;
}

namespace brevanto::wizard {

class CTaskNotificationsDialog : public QDialog {
  Q_OBJECT

 public:
  // `defaults` are the program's, shown while the task uses them. accept() stores the
  // choice into `task`, which must outlive the dialog.
  CTaskNotificationsDialog(QWidget* parent, CTaskItem& task, const TaskNotifications& defaults);
  void accept() override;

 private:
  CTaskItem& m_task;
  QCheckBox* m_useDefaults;
  ui::CNotificationChoicesBox* m_choices;
};

// One line per setting for the properties sheet; a single line when the task uses the
// program's defaults.
QString TaskNotificationsSummary(const CTaskItem& task);

}  // namespace brevanto::wizard
