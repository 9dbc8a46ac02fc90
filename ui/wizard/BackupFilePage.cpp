#include "ui/wizard/BackupFilePage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "appcore/ApplicationCore.h"
#include "tasks/BackupFileName.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/wizard/BackupFilesSettingsDialog.h"
#include "appcore/TaskRules.h"
#include "appcore/WizardText.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) {
  return ui::Dialogs::FolderName(parent, title, start);
}

std::string OptionsBackupFolder(const CSheetContext& context) {
  return context.Core ? context.Core->Options().DefaultBackupFolder : std::string();
}

CBackupFilePage::CBackupFilePage(CSheetContext& context)
    : CTaskPage(context, tr("Backup File")),
      m_sql(new QRadioButton(tr("SQL File"), this)),
      m_php(new QRadioButton(tr("PHP File"), this)),
      m_unixLineEnds(
          new QCheckBox(tr("Use the '\\n' instead of '\\r\\n' in the backup files"), this)),
      m_sameFile(new QRadioButton(tr("Backup to a same file each time"), this)),
      m_file(new QLineEdit(this)),
      m_browse(new QPushButton(tr("B&rowse..."), this)),
      m_newFiles(new QRadioButton(tr("Backup to the new file(s) each time"), this)),
      m_folder(new QLineEdit(this)),
      m_chooseFolder(new QPushButton(tr("&Folder..."), this)),
      m_settings(new QPushButton(tr("Settings..."), this)) {
  setObjectName(QStringLiteral("backupFilePage"));
  m_sql->setObjectName(QStringLiteral("sqlFileRadio"));
  m_php->setObjectName(QStringLiteral("phpFileRadio"));
  m_unixLineEnds->setObjectName(QStringLiteral("unixLineEndsCheck"));
  m_sameFile->setObjectName(QStringLiteral("sameFileRadio"));
  m_file->setObjectName(QStringLiteral("fileEdit"));
  m_browse->setObjectName(QStringLiteral("browseFileButton"));
  m_newFiles->setObjectName(QStringLiteral("newFilesRadio"));
  m_folder->setObjectName(QStringLiteral("folderEdit"));
  m_settings->setObjectName(QStringLiteral("backupFilesSettingsButton"));
  auto* types = new QButtonGroup(this);
  types->addButton(m_sql);
  types->addButton(m_php);
  auto* modes = new QButtonGroup(this);
  modes->addButton(m_sameFile);
  modes->addButton(m_newFiles);

  auto* layout = new QVBoxLayout(this);
  auto* typeRow = new QHBoxLayout;
  typeRow->addWidget(new QLabel(tr("File Type: "), this));
  typeRow->addWidget(m_sql);
  typeRow->addWidget(m_php);
  typeRow->addStretch();
  layout->addLayout(typeRow);
  layout->addWidget(m_unixLineEnds);
  auto* grid = new QGridLayout;
  grid->addWidget(m_sameFile, 0, 0, 1, 2);
  grid->addWidget(m_file, 1, 0);
  grid->addWidget(m_browse, 1, 1);
  grid->addWidget(m_newFiles, 2, 0, 1, 2);
  grid->addWidget(m_folder, 3, 0);
  grid->addWidget(m_chooseFolder, 3, 1);
  grid->addWidget(m_settings, 4, 1);
  layout->addLayout(grid);
  layout->addStretch();

  connect(m_sql, &QRadioButton::toggled, this, [this] {
    SwitchExtension();
    UpdateEnabled();
  });
  connect(m_sameFile, &QRadioButton::toggled, this, &CBackupFilePage::UpdateEnabled);
  connect(m_browse, &QPushButton::clicked, this, &CBackupFilePage::Browse);
  connect(m_chooseFolder, &QPushButton::clicked, this, [this] {
    const QString folder = ChooseFolder(
        this, tr("Select a folder where you want to store the backup files:"), m_folder->text());
    if (!folder.isEmpty()) m_folder->setText(folder.endsWith('/') ? folder : folder + '/');
  });
  connect(m_settings, &QPushButton::clicked, this, [this] {
    CBackupFilesSettingsDialog dialog(this, Task().BackupSettings);
    dialog.exec();
  });
}

void CBackupFilePage::Load() {
  const BackupSettings& b = Task().BackupSettings;
  const std::string folder = DefaultTaskFolder(OptionsBackupFolder(Context()), Task().TaskName);
  const std::string ext = BackupFileExtension(b.FileType);
  (b.FileType == 2 ? m_php : m_sql)->setChecked(true);
  (b.FileMode == 1 ? m_sameFile : m_newFiles)->setChecked(true);
  m_folder->setText(ToQt(b.BackupFolder.empty() ? folder : b.BackupFolder));
  m_file->setText(
      ToQt(b.SameFilePath.empty() ? folder.substr(0, folder.size() - 1) + ext : b.SameFilePath));
  m_unixLineEnds->setChecked(b.UnixLineEnds != 0);
  UpdateEnabled();
}

void CBackupFilePage::UpdateEnabled() {
  const bool same = m_sameFile->isChecked();
  m_unixLineEnds->setEnabled(m_sql->isChecked());
  m_file->setEnabled(same);
  m_browse->setEnabled(same);
  m_folder->setEnabled(!same);
  m_chooseFolder->setEnabled(!same);
  m_settings->setEnabled(!same);
}

void CBackupFilePage::SwitchExtension() {
  QString file = m_file->text();
  const QString from = m_sql->isChecked() ? QStringLiteral(".php") : QStringLiteral(".sql");
  const QString to = m_sql->isChecked() ? QStringLiteral(".sql") : QStringLiteral(".php");
  if (file.endsWith(from, Qt::CaseInsensitive)) {
    file.chop(from.size());
  } else if (file.endsWith(to, Qt::CaseInsensitive)) {
    return;
  }
  m_file->setText(file + to);
}

void CBackupFilePage::Browse() {
  const bool sql = m_sql->isChecked();
  const QString path =
      ui::Dialogs::SaveFileName(this, sql ? tr("SQL Files (*.sql)") : tr("PHP Files (*.php)"),
                                sql ? QStringLiteral("sql") : QStringLiteral("php"),
                                m_file->text().trimmed());
  if (!path.isEmpty()) m_file->setText(path);
}

bool CBackupFilePage::Leave() {
  BackupSettings& b = Task().BackupSettings;
  const std::string file = FromQt(m_file->text());
  std::string folder = FromQt(m_folder->text());
  BackupSettings entered;
  entered.FileMode = m_sameFile->isChecked() ? 1 : 2;
  entered.SameFilePath = file;
  entered.BackupFolder = folder;
  if (const std::string problem = ValidateBackupFile(entered); !problem.empty()) {
    ui::Dialogs::Warning(this, tr(problem.c_str()));
    (m_sameFile->isChecked() ? m_file : m_folder)->setFocus();
    return false;
  }
  if (!m_sameFile->isChecked()) {
    if (folder.back() != '/') folder += '/';
    m_folder->setText(ToQt(folder));
  }
  b.FileType = m_sql->isChecked() ? 1 : 2;
  b.FileMode = m_sameFile->isChecked() ? 1 : 2;
  b.SameFilePath = file;
  b.BackupFolder = folder;
  b.UnixLineEnds = m_unixLineEnds->isChecked() ? 1 : 0;
  return true;
}

}  // namespace brevanto::wizard
