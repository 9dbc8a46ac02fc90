#pragma once
// CAutoRunOptionsPage: how the task is started, by hand or on one of five schedules, each
// with its settings dialog (the "Task Schedule" tab).

#include "tasks/TaskItem.h"
#include "ui/wizard/TaskPage.h"

class QPushButton;
class QRadioButton;

namespace brevanto::wizard {

class CAutoRunOptionsPage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CAutoRunOptionsPage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  // The radios in the page's order: Manual, Time Interval, Every Day, Every Week,
  // Every Month, Special Date, with their schedule kinds.
  static constexpr int kKinds[6] = {0, 5, 1, 2, 3, 4};
  void Choose(int row);
  void OpenSettings(int row);

  ScheduleSettings m_schedule;  // the page's copy, stored when the page is left
  QRadioButton* m_radios[6];
  QPushButton* m_settings[6] = {};
};

}  // namespace brevanto::wizard
