#include "ui/wizard/ScheduleSettingsDialog.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "schedule/Calendar.h"
#include "tasks/DisplayDateTime.h"
#include "tasks/TaskItem.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/dialogs/SpinEdit.h"
#include "appcore/WizardText.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

namespace {

const char* const kCaptions[] = {"Every Day Settings...", "Every Week Settings...",
                                 "Every Month Settings...", "Special Date Settings...",
                                 "Time Interval Settings..."};

QComboBox* NumberList(QWidget* parent, int count, int current, const char* name) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  for (int i = 0; i < count; ++i) list->addItem(QStringLiteral("%1").arg(i, 2, 10, QChar('0')));
  list->setCurrentIndex(current >= 0 && current < count ? current : -1);
  return list;
}

}  // namespace

CScheduleSettingsDialog::CScheduleSettingsDialog(QWidget* parent, int kind,
                                                 ScheduleSettings& settings, int dateStyle)
    : QDialog(parent), m_kind(kind), m_dateStyle(dateStyle), m_settings(settings) {
  setObjectName(QStringLiteral("scheduleSettingsDialog"));
  setWindowTitle(QString::fromLatin1(kCaptions[(kind >= 1 && kind <= 5 ? kind : 1) - 1]));
  auto* layout = new QVBoxLayout(this);
  if (kind == 5) {
    auto* group = new QGroupBox(tr("Time Interval"), this);
    auto* row = new QHBoxLayout(group);
    m_number = new ui::CSpinEdit(1, 99999, 5, group);
    m_number->setText(QString::number(settings.IntervalMinutes));
    row->addWidget(m_number);
    row->addWidget(new QLabel(tr("Minutes"), group));
    layout->addWidget(group);
  } else if (kind == 4) {
    m_calendar = new QCalendarWidget(this);
    m_calendar->setObjectName(QStringLiteral("calendar"));
    const QDate date(settings.SpecialYear, settings.SpecialMonth, settings.SpecialDay);
    if (date.isValid()) m_calendar->setSelectedDate(date);
    m_dateText = new QLabel(this);
    m_dateText->setObjectName(QStringLiteral("dateText"));
    layout->addWidget(m_calendar);
    layout->addWidget(m_dateText);
    AddTime(layout);
    auto* row = new QHBoxLayout;
    m_number = new ui::CSpinEdit(0, 1000, 4, this);
    m_number->setText(QString::number(settings.RepeatEveryDays));
    row->addWidget(new QLabel(tr("Run the task every"), this));
    row->addWidget(m_number);
    row->addWidget(new QLabel(tr("day(s)"), this));
    layout->addLayout(row);
    // A calendar always holds a date (today when the record has none), and OK stores the
    // one it holds: the text shows that date rather than "Unknown".
    ShowDate();
    connect(m_calendar, &QCalendarWidget::selectionChanged, this,
            &CScheduleSettingsDialog::ShowDate);
  } else {
    AddTime(layout);
    if (kind == 2) AddDays(layout, 7, tr("Days of the week"));
    if (kind == 3) AddDays(layout, 31, tr("Days of the month"));
  }
  if (m_number) m_number->Edit()->setObjectName(QStringLiteral("numberEdit"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void CScheduleSettingsDialog::AddTime(QBoxLayout* layout) {
  auto* row = new QHBoxLayout;
  m_hour = NumberList(this, 24, m_settings.Hour, "hourList");
  m_minute = NumberList(this, 60, m_settings.Minute, "minuteList");
  row->addWidget(new QLabel(tr("Time"), this));
  row->addWidget(m_hour);
  row->addWidget(new QLabel(QStringLiteral(":"), this));
  row->addWidget(m_minute);
  row->addStretch();
  if (m_kind == 1) {
    auto* group = new QGroupBox(tr("Every Day"), this);
    group->setLayout(row);
    layout->addWidget(group);
  } else {
    layout->addLayout(row);
  }
}

void CScheduleSettingsDialog::AddDays(QBoxLayout* layout, int count, const QString& title) {
  auto* group = new QGroupBox(title, this);
  auto* grid = new QGridLayout(group);
  const int columns = count == 7 ? 4 : 7;
  for (int i = 0; i < count; ++i) {
    const QString text =
        count == 7 ? QString::fromLatin1(WeekDayName(i)) : ToQt(MonthDayOrdinal(i + 1));
    auto* box = new QCheckBox(text, group);
    box->setObjectName(QStringLiteral("day%1Check").arg(i + 1));
    box->setChecked(count == 7 ? m_settings.WeekDays[i] != 0 : m_settings.MonthDays[i] != 0);
    grid->addWidget(box, i / columns, i % columns);
    m_days.push_back(box);
  }
  layout->addWidget(group);
  auto* row = new QHBoxLayout;
  const struct {
    const char* Text;
    const char* Name;
    int Action;  // 0 set, 1 clear, 2 flip
  } kButtons[] = {{"Select All", "selectAllButton", 0},
                  {"Deselect All", "deselectAllButton", 1},
                  {"Invert", "invertButton", 2}};
  for (const auto& b : kButtons) {
    auto* button = new QPushButton(tr(b.Text), this);
    button->setObjectName(QString::fromLatin1(b.Name));
    const int action = b.Action;
    connect(button, &QPushButton::clicked, this, [this, action] {
      for (QCheckBox* box : m_days) box->setChecked(action == 2 ? !box->isChecked() : action == 0);
    });
    row->addWidget(button);
  }
  row->addStretch();
  layout->addLayout(row);
}

void CScheduleSettingsDialog::ShowDate() {
  const QDate date = m_calendar->selectedDate();
  m_dateText->setText(ToQt(FormatDisplayDateTime(date.year(), date.month(), date.day(), 0, 0, 0,
                                                 date.dayOfWeek() % 7 + 1, m_dateStyle, 0, false)));
}

void CScheduleSettingsDialog::accept() {
  ScheduleSettings s;
  s.Kind = static_cast<std::uint8_t>(m_kind);
  s.Hour = 0;
  s.Minute = 0;
  s.IntervalMinutes = 0;
  if (m_kind == 5) {
    const long long minutes = CountFromText(FromQt(m_number->text()));
    if (minutes < 1 || minutes > 99999) {
      ui::Dialogs::Warning(this, tr("Please input a number between 1 and 99999!"));
      m_number->Edit()->setFocus();
      return;
    }
    s.IntervalMinutes = static_cast<std::int32_t>(minutes);
  } else {
    if (m_hour->currentIndex() < 0) {
      ui::Dialogs::Warning(this, tr("Please choose the hour of run time!"));
      m_hour->setFocus();
      return;
    }
    if (m_minute->currentIndex() < 0) {
      ui::Dialogs::Warning(this, tr("Please choose the minute of run time!"));
      m_minute->setFocus();
      return;
    }
    s.Hour = m_hour->currentIndex();
    s.Minute = m_minute->currentIndex();
    bool anyDay = false;
    for (std::size_t i = 0; i < m_days.size(); ++i) {
      const std::uint8_t on = m_days[i]->isChecked() ? 1 : 0;
      anyDay = anyDay || on != 0;
      (m_kind == 2 ? s.WeekDays[i] : s.MonthDays[i]) = on;
    }
    if (!m_days.empty() && !anyDay) {
      ui::Dialogs::Warning(this, m_kind == 2 ? tr("Please choose the days of the week!")
                                             : tr("Please choose the days of the month!"));
      m_days.front()->setFocus();
      return;
    }
    if (m_kind == 4) {
      const QDate date = m_calendar->selectedDate();
      s.SpecialYear = date.year();
      s.SpecialMonth = date.month();
      s.SpecialDay = date.day();
      const long long repeat = CountFromText(FromQt(m_number->text()));
      // The spin control keeps the count within 0..1000.
      s.RepeatEveryDays = static_cast<std::int32_t>(repeat < 0 ? 0 : repeat > 1000 ? 1000 : repeat);
    }
  }
  m_settings = s;
  QDialog::accept();
}

}  // namespace brevanto::wizard
