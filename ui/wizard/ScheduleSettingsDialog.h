#pragma once
// The schedule settings dialogs ("Time Interval Settings...", "Every Day Settings...",
// "Every Week Settings...", "Every Month Settings...", "Special Date Settings..."): one
// class, built for one schedule kind. OK writes that kind's fields and clears the rest,
// so a record never carries another kind's stale settings.

#include <vector>

#include <QDialog>

class QBoxLayout;
class QCalendarWidget;
class QCheckBox;
class QComboBox;
class QLabel;

namespace brevanto::ui {
class CSpinEdit;
}

namespace brevanto {
struct ScheduleSettings;
}

namespace brevanto::wizard {

class CScheduleSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // `kind` 1..5; `settings` must outlive the dialog. `dateStyle` formats the chosen date.
  CScheduleSettingsDialog(QWidget* parent, int kind, ScheduleSettings& settings, int dateStyle);
  void accept() override;

 private:
  void AddTime(QBoxLayout* layout);
  void AddDays(QBoxLayout* layout, int count, const QString& title);
  void ShowDate();

  int m_kind;
  int m_dateStyle;
  ScheduleSettings& m_settings;
  QComboBox* m_hour = nullptr;
  QComboBox* m_minute = nullptr;
  ui::CSpinEdit* m_number = nullptr;  // interval minutes or repeat days
  std::vector<QCheckBox*> m_days;
  QCalendarWidget* m_calendar = nullptr;
  QLabel* m_dateText = nullptr;
};

}  // namespace brevanto::wizard
