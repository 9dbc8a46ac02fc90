#include "ui/wizard/BackupFilesSettingsDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "tasks/BackupFileName.h"
#include "tasks/TaskItem.h"
#include "ui/Dialogs.h"
#include "ui/HelpWindow.h"
#include "ui/Text.h"
#include "ui/dialogs/SpinEdit.h"
#include "appcore/WizardText.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

CBackupFilesSettingsDialog::CBackupFilesSettingsDialog(QWidget* parent, BackupSettings& settings)
    : QDialog(parent),
      m_settings(settings),
      m_grouping{new QRadioButton(tr("All selected databases and tables in a file"), this),
                 new QRadioButton(tr("Each file include a selected database"), this),
                 new QRadioButton(tr("Each file include a selected table"), this)},
      m_format(new QLineEdit(this)),
      m_subfolder(new QCheckBox(
          tr("Create a new subdirectory that named DATE_TIME each time for store the backup files"),
          this)),
      m_keepDays(new QCheckBox(tr("Auto delete this task's backup data older than"), this)),
      m_days(new ui::CSpinEdit(1, 10000, 5, this)),
      m_keepCopies(new QCheckBox(tr("Auto delete the oldest backup files when more than"), this)),
      m_copies(new ui::CSpinEdit(1, 10000, 5, this)) {
  setObjectName(QStringLiteral("backupFilesSettingsDialog"));
  setWindowTitle(tr("Backup Files Settings..."));
  m_format->setObjectName(QStringLiteral("fileNameFormatEdit"));
  m_subfolder->setObjectName(QStringLiteral("subfolderCheck"));
  m_keepDays->setObjectName(QStringLiteral("keepDaysCheck"));
  m_days->Edit()->setObjectName(QStringLiteral("keepDaysEdit"));
  m_keepCopies->setObjectName(QStringLiteral("keepCopiesCheck"));
  m_copies->Edit()->setObjectName(QStringLiteral("keepCopiesEdit"));
  auto* layout = new QVBoxLayout(this);
  for (int i = 0; i < 3; ++i) {
    m_grouping[i]->setObjectName(QStringLiteral("grouping%1Radio").arg(i + 1));
    layout->addWidget(m_grouping[i]);
    connect(m_grouping[i], &QRadioButton::clicked, this, [this, i] { ChooseGrouping(i + 1); });
  }
  layout->addWidget(new QLabel(tr("File Name Format"), this));
  layout->addWidget(m_format);
  layout->addWidget(m_subfolder);
  auto* expiry = new QGridLayout;
  expiry->addWidget(m_keepDays, 0, 0);
  expiry->addWidget(m_days, 0, 1);
  expiry->addWidget(new QLabel(tr("days"), this), 0, 2);
  expiry->addWidget(m_keepCopies, 1, 0);
  expiry->addWidget(m_copies, 1, 1);
  expiry->addWidget(new QLabel(tr("backup copies"), this), 1, 2);
  layout->addLayout(expiry);
  // At most one expiry rule applies.
  connect(m_keepDays, &QCheckBox::toggled, this, [this](bool on) {
    if (on) m_keepCopies->setChecked(false);
    m_days->setEnabled(on);
  });
  connect(m_keepCopies, &QCheckBox::toggled, this, [this](bool on) {
    if (on) m_keepDays->setChecked(false);
    m_copies->setEnabled(on);
  });

  auto* buttons = new QDialogButtonBox(this);
  connect(buttons->addButton(tr("O&K"), QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
          &QDialog::accept);
  connect(buttons->addButton(tr("&Cancel"), QDialogButtonBox::RejectRole), &QPushButton::clicked,
          this, &QDialog::reject);
  connect(buttons->addButton(tr("&Help"), QDialogButtonBox::HelpRole), &QPushButton::clicked, this,
          [] { ui::HelpWindow::Open(QStringLiteral("::/taskwizard/backupfilesettings.html")); });
  connect(buttons->addButton(tr("Reset to default"), QDialogButtonBox::ResetRole),
          &QPushButton::clicked, this, [this] { Show(BackupSettings()); });
  layout->addWidget(buttons);
  Show(settings);
}

void CBackupFilesSettingsDialog::Show(const BackupSettings& s) {
  const int grouping = s.FileGrouping >= 1 && s.FileGrouping <= 3 ? s.FileGrouping : 1;
  m_grouping[grouping - 1]->setChecked(true);
  m_format->setText(ToQt(s.FileNameFormat));
  m_subfolder->setChecked(s.CreateDateTimeSubfolder != 0);
  m_keepDays->setChecked(s.AutoDeleteMode == 1);
  m_keepCopies->setChecked(s.AutoDeleteMode == 2);
  m_days->setEnabled(s.AutoDeleteMode == 1);
  m_copies->setEnabled(s.AutoDeleteMode == 2);
  const QString count = QString::number(s.AutoDeleteValue);
  m_days->setText(s.AutoDeleteMode == 1 ? count : QString());
  m_copies->setText(s.AutoDeleteMode == 2 ? count : QString());
}

void CBackupFilesSettingsDialog::ChooseGrouping(int grouping) {
  m_format->setText(
      QString::fromLatin1(DefaultFileNameFormat(static_cast<std::uint8_t>(grouping))));
}

int CBackupFilesSettingsDialog::Grouping() const {
  for (int i = 0; i < 3; ++i) {
    if (m_grouping[i]->isChecked()) return i + 1;
  }
  return 1;
}

void CBackupFilesSettingsDialog::accept() {
  const auto grouping = static_cast<std::uint8_t>(Grouping());
  std::string format;
  const std::string problem = ValidateFileNameFormat(FromQt(m_format->text()), grouping, &format);
  if (!problem.empty()) {
    ui::Dialogs::Warning(this, ToQt(problem));
    m_format->setFocus();
    return;
  }
  std::uint8_t mode = 0;
  long long count = 0;
  if (m_keepDays->isChecked() || m_keepCopies->isChecked()) {
    mode = m_keepDays->isChecked() ? 1 : 2;
    ui::CSpinEdit* field = mode == 1 ? m_days : m_copies;
    count = CountFromText(FromQt(field->text()));
    if (count < 1 || count > 10000) {
      ui::Dialogs::Warning(this,
                           mode == 1 ? tr("Invalid keeping days!") : tr("Invalid backup copies!"));
      field->Edit()->setFocus();
      return;
    }
  }
  m_settings.FileGrouping = grouping;
  m_settings.FileNameFormat = format;
  m_settings.CreateDateTimeSubfolder = m_subfolder->isChecked() ? 1 : 0;
  m_settings.AutoDeleteMode = mode;
  m_settings.AutoDeleteValue = static_cast<std::uint32_t>(count);
  QDialog::accept();
}

}  // namespace brevanto::wizard
