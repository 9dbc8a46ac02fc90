#include "ui/dialogs/SystemOptionsBackupLogPage.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/dialogs/Named.h"
#include "ui/dialogs/SpinEdit.h"

namespace brevanto::ui {

namespace {

constexpr int kMaxLogSizeKB = 100000;

// The size field's value when it is a number 1..100000, else 0.
std::uint32_t SizeFromText(const QString& text) {
  bool ok = false;
  const qlonglong value = text.toLongLong(&ok);
  return ok && value >= 1 && value <= kMaxLogSizeKB ? static_cast<std::uint32_t>(value) : 0;
}

}  // namespace

CSystemOptionsBackupLogPage::CSystemOptionsBackupLogPage(const CSystemOptions& options,
                                                         std::string applicationFolder,
                                                         QWidget* parent)
    : QWidget(parent),
      m_applicationFolder(std::move(applicationFolder)),
      m_folder(Named(new QLineEdit(this), "backupFolder")),
      m_unlimited(Named(new QRadioButton(tr("Unlimited size of each task log file"), this),
                        "unlimitedLog")),
      m_maximum(
          Named(new QRadioButton(tr("Maximum size of each task log file"), this), "limitedLog")),
      m_size(Named(new CSpinEdit(10, kMaxLogSizeKB, 6, this), "maxLogSize")),
      m_unit(new QLabel(tr("KB"), this)),
      m_note(Named(new QLabel(tr("The old task logs will be deleted if the task log file size "
                                 "more than the maximum size."),
                              this),
                   "logSizeNote")) {
  setObjectName("backupLogPage");

  auto* backup = new QGroupBox(tr("Backup"), this);
  auto* browse = Named(new QPushButton(tr("Browse..."), this), "browseFolder");
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(m_folder, 1);
  folderRow->addWidget(browse);
  auto* backupLayout = new QVBoxLayout(backup);
  backupLayout->addWidget(
      new QLabel(tr("The default folder where you want to store the backup files"), backup));
  backupLayout->addLayout(folderRow);

  auto* log = new QGroupBox(tr("Task Log"), this);
  auto* sizeRow = new QHBoxLayout;
  sizeRow->addWidget(m_maximum);
  sizeRow->addWidget(m_size);
  sizeRow->addWidget(m_unit);
  sizeRow->addStretch(1);
  m_size->setFixedWidth(100);
  m_note->setWordWrap(true);
  auto* logLayout = new QVBoxLayout(log);
  logLayout->addWidget(m_unlimited);
  logLayout->addLayout(sizeRow);
  logLayout->addWidget(m_note);

  auto* reset = Named(new QPushButton(tr("&Reset to default"), this), "resetBackupLog");
  auto* resetRow = new QHBoxLayout;
  resetRow->addStretch(1);
  resetRow->addWidget(reset);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(backup);
  layout->addWidget(log);
  layout->addStretch(1);
  layout->addLayout(resetRow);

  m_folder->setText(ToQt(options.DefaultBackupFolder));
  const bool limited = options.LimitLogSize != 0;
  (limited ? m_maximum : m_unlimited)->setChecked(true);
  m_size->setEnabled(limited);
  m_note->setEnabled(limited);
  m_size->setText(limited ? QString::number(options.MaxLogSizeKB) : QString());

  connect(m_unlimited, &QRadioButton::clicked, this, [this] { SetLimited(false); });
  connect(m_maximum, &QRadioButton::clicked, this, [this] { SetLimited(true); });
  connect(browse, &QPushButton::clicked, this, &CSystemOptionsBackupLogPage::Browse);
  connect(reset, &QPushButton::clicked, this, &CSystemOptionsBackupLogPage::ResetToDefault);
}

void CSystemOptionsBackupLogPage::SetLimited(bool limited) {
  m_size->setEnabled(limited);
  m_note->setEnabled(limited);
  m_size->setText(QString());
}

void CSystemOptionsBackupLogPage::ResetToDefault() {
  m_folder->setText(ToQt(m_applicationFolder + "Data/"));
  m_unlimited->setChecked(true);
  SetLimited(false);
}

void CSystemOptionsBackupLogPage::FocusSizeField() {
  m_size->setFocus();
}

void CSystemOptionsBackupLogPage::Browse() {
  QString start = m_folder->text();
  // The picker starts inside the folder itself, not at a file named like it.
  if (start.size() > 1 && start.endsWith(QLatin1Char('/'))) start.chop(1);
  QString chosen = Dialogs::FolderName(
      this, tr("Select a folder where you want to store the backup files:"), start);
  if (chosen.isEmpty()) return;
  if (!chosen.endsWith(QLatin1Char('/'))) chosen += QLatin1Char('/');
  m_folder->setText(chosen);
}

bool CSystemOptionsBackupLogPage::Validate() {
  if (m_maximum->isChecked() && SizeFromText(m_size->text()) == 0) {
    Dialogs::Warning(this, tr("Please input the maximum size between 1 and 100000!"));
    m_size->setFocus();
    return false;
  }
  return true;
}

bool CSystemOptionsBackupLogPage::Store(CSystemOptions& options) {
  if (!Validate()) return false;
  options.DefaultBackupFolder = FromQt(m_folder->text());
  options.LimitLogSize = m_maximum->isChecked() ? 1 : 0;
  options.MaxLogSizeKB = m_maximum->isChecked() ? SizeFromText(m_size->text()) : 0;
  return true;
}

}  // namespace brevanto::ui
