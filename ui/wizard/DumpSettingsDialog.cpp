#include "ui/wizard/DumpSettingsDialog.h"

#include <cstdint>
#include <vector>

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "tasks/TaskItem.h"
#include "ui/HelpWindow.h"

namespace brevanto::wizard {

namespace {

struct DumpOption {
  std::uint8_t BackupSettings::*Field;
  const char* Text;
  bool Source;
};

const DumpOption kOptions[] = {
    {&BackupSettings::FlushTablesBeforeStart, "Flush tables before starting", true},
    {&BackupSettings::LockTablesBeforeStart, "Lock tables before starting", true},
    {&BackupSettings::QuoteNames, "Quote names within '`' characters", true},
    {&BackupSettings::SetConnectionCharset, "Set connection character set", true},
    {&BackupSettings::FlushLogsBeforeStart, "Flush MySQL log files before starting", true},
    {&BackupSettings::AddCreateDatabase, "Add CREATE DATABASE statement", false},
    {&BackupSettings::AddLockTables, "Add LOCK TABLES statement", false},
    {&BackupSettings::AddDropTable, "Add DROP TABLE statement", false},
    {&BackupSettings::AddDeleteAllRecords, "Add DELETE all records statement", false},
    {&BackupSettings::AddSetNames, "Add SET NAMES default_character_set", false},
    {&BackupSettings::CompleteInsert, "Use complete INSERT statements", false},
    {&BackupSettings::InsertDelayed, "Use INSERT DELAYED statements", false},
    {&BackupSettings::InsertIgnore, "Use INSERT IGNORE statements", false},
    {&BackupSettings::UseReplace, "Use REPLACE instead of INSERT statements", false},
    {&BackupSettings::MultipleRowInsert, "Use multiple-row INSERT syntax", false},
    {&BackupSettings::AddSetAutocommit, "Add SET AUTOCOMMIT (InnoDB)", false},
    {&BackupSettings::AddSetForeignKeyChecks, "Add SET FOREIGN_KEY_CHECKS (InnoDB)", false},
    {&BackupSettings::AddSetUniqueChecks, "Add SET UNIQUE_CHECKS (InnoDB)", false},
    {&BackupSettings::AddSetSqlNotes, "Add SET SQL_NOTES", false},
    {&BackupSettings::AllowKeywordColumnNames, "Allow creation of column names that are keywords",
     false},
    {&BackupSettings::AddDisableKeys,
     "Surround the INSERT statements with ALTER TABLE table_name DISABLE KEYS", false},
};

void ShowSettings(const std::vector<QCheckBox*>& boxes, const BackupSettings& settings) {
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    boxes[i]->setChecked(settings.*(kOptions[i].Field) != 0);
  }
}

}  // namespace

bool EditDumpSettings(QWidget* parent, BackupSettings& settings, bool readOnly) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("dumpSettingsDialog"));
  dialog.setWindowTitle(QObject::tr("Advanced Settings"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* source = new QGroupBox(QObject::tr("Source Settings (Source Server)"), &dialog);
  auto* destination =
      new QGroupBox(QObject::tr("Destination Settings (Destination Server or File)"), &dialog);
  auto* sourceLayout = new QVBoxLayout(source);
  auto* destinationLayout = new QGridLayout(destination);
  std::vector<QCheckBox*> boxes;
  int row = 0;
  for (const DumpOption& option : kOptions) {
    auto* box = new QCheckBox(QString::fromUtf8(option.Text), &dialog);
    box->setEnabled(!readOnly);
    if (option.Source) {
      sourceLayout->addWidget(box);
    } else {
      destinationLayout->addWidget(box, row % 8, row / 8);
      ++row;
    }
    boxes.push_back(box);
  }
  layout->addWidget(source);
  layout->addWidget(destination);
  ShowSettings(boxes, settings);

  auto* buttons = new QDialogButtonBox(&dialog);
  if (readOnly) {
    QObject::connect(buttons->addButton(QObject::tr("&Close"), QDialogButtonBox::RejectRole),
                     &QPushButton::clicked, &dialog, &QDialog::reject);
  } else {
    QObject::connect(buttons->addButton(QObject::tr("O&K"), QDialogButtonBox::AcceptRole),
                     &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(buttons->addButton(QObject::tr("&Cancel"), QDialogButtonBox::RejectRole),
                     &QPushButton::clicked, &dialog, &QDialog::reject);
    QObject::connect(
        buttons->addButton(QObject::tr("&Help"), QDialogButtonBox::HelpRole), &QPushButton::clicked,
        &dialog, [] { ui::HelpWindow::Open(QStringLiteral("::/taskwizard/backupsettings.html")); });
    QObject::connect(
        buttons->addButton(QObject::tr("Reset to default"), QDialogButtonBox::ResetRole),
        &QPushButton::clicked, &dialog, [&boxes] { ShowSettings(boxes, BackupSettings()); });
  }
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted || readOnly) return false;
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    settings.*(kOptions[i].Field) = boxes[i]->isChecked() ? 1 : 0;
  }
  return true;
}

}  // namespace brevanto::wizard
