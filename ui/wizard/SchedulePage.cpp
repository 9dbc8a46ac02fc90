#include "ui/wizard/SchedulePage.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "appcore/ApplicationCore.h"
#include "appcore/WizardText.h"
#include "core/Clock.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/wizard/ScheduleSettingsDialog.h"
#include "ui/wizard/TaskNotificationsDialog.h"

namespace brevanto::wizard {

namespace {
const char* const kRadioTexts[6] = {"Manual",     "Time Interval", "Every Day",
                                    "Every Week", "Every Month",   "Special Date"};
const char* const kRadioNames[6] = {"manualRadio",    "timeIntervalRadio", "everyDayRadio",
                                    "everyWeekRadio", "everyMonthRadio",   "specialDateRadio"};
}  // namespace

CAutoRunOptionsPage::CAutoRunOptionsPage(CSheetContext& context)
    : CTaskPage(context, tr("Task Schedule")) {
  setObjectName(QStringLiteral("schedulePage"));
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(tr("Task Schedule"), this);
  auto* grid = new QGridLayout(group);
  auto* radios = new QButtonGroup(this);
  for (int row = 0; row < 6; ++row) {
    m_radios[row] = new QRadioButton(tr(kRadioTexts[row]), group);
    m_radios[row]->setObjectName(QString::fromLatin1(kRadioNames[row]));
    radios->addButton(m_radios[row], row);
    grid->addWidget(m_radios[row], row, 0);
    connect(m_radios[row], &QRadioButton::clicked, this, [this, row] { Choose(row); });
    if (row == 0) continue;
    m_settings[row] = new QPushButton(tr("Settings..."), group);
    m_settings[row]->setObjectName(QStringLiteral("%1Settings").arg(kRadioNames[row]));
    grid->addWidget(m_settings[row], row, 1);
    connect(m_settings[row], &QPushButton::clicked, this, [this, row] { OpenSettings(row); });
  }
  layout->addWidget(group);
  // Every task type calls for help the same way; its own settings sit beside its schedule.
  auto* notifications = new QPushButton(tr("N&otifications..."), this);
  notifications->setObjectName(QStringLiteral("taskNotificationsButton"));
  connect(notifications, &QPushButton::clicked, this, [this] {
    const TaskNotifications defaults = Context().Core
                                           ? Context().Core->NotificationSettings().Defaults
                                           : CNotificationSettings().Defaults;
    CTaskNotificationsDialog dialog(this, Task(), defaults);
    dialog.exec();
  });
  auto* row = new QHBoxLayout;
  row->addWidget(notifications);
  row->addStretch();
  layout->addLayout(row);
  layout->addStretch();
}

void CAutoRunOptionsPage::Load() {
  m_schedule = Task().Schedule;
  int checked = 0;
  for (int row = 0; row < 6; ++row) {
    if (kKinds[row] == m_schedule.Kind) checked = row;
  }
  // An unknown kind shows (and becomes) Manual.
  m_schedule.Kind = static_cast<std::uint8_t>(kKinds[checked]);
  m_radios[checked]->setChecked(true);
  for (int row = 1; row < 6; ++row) m_settings[row]->setEnabled(row == checked);
}

void CAutoRunOptionsPage::Choose(int row) {
  m_schedule.Kind = static_cast<std::uint8_t>(kKinds[row]);
  for (int r = 1; r < 6; ++r) m_settings[r]->setEnabled(r == row);
}

void CAutoRunOptionsPage::OpenSettings(int row) {
  const int dateStyle = Context().Core ? Context().Core->Options().DateFormat : 1;
  CScheduleSettingsDialog dialog(this, kKinds[row], m_schedule, dateStyle);
  dialog.exec();
}

bool CAutoRunOptionsPage::Leave() {
  const TaskDateTime now = Context().Core ? Context().Core->GetClock().Now() : SystemClock().Now();
  const ScheduleProblem problem = CheckSchedule(m_schedule, now);
  if (!problem.Message.empty()) {
    ui::Dialogs::Warning(this, ui::ToQt(problem.Message));
    return false;
  }
  Task().Schedule = m_schedule;
  return true;
}

}  // namespace brevanto::wizard
