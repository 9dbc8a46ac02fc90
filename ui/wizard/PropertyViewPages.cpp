#include "ui/wizard/PropertyViewPages.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "appcore/ApplicationCore.h"
#include "appcore/WizardText.h"
#include "tasks/DisplayDateTime.h"
#include "tasks/EncryptionOptions.h"
#include "tasks/RemoteOptions.h"
#include "ui/Text.h"
#include "ui/wizard/AdvancedOptionsDialog.h"
#include "ui/wizard/ChooseDatabasesPage.h"
#include "ui/wizard/DumpSettingsDialog.h"
#include "ui/wizard/EncryptionBox.h"
#include "ui/wizard/PageSequence.h"
#include "ui/wizard/SummaryText.h"
#include "ui/wizard/TaskNotificationsDialog.h"

namespace brevanto::wizard {

using ui::ToQt;

namespace {

// Read-only fields show the "\r\n" line breaks of the texts as lines.
QString Lines(const std::string& text) {
  QString shown = ToQt(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

QLineEdit* Field(QWidget* parent, const QString& text, const char* name) {
  auto* field = new QLineEdit(text, parent);
  field->setReadOnly(true);
  field->setObjectName(QString::fromLatin1(name));
  return field;
}

QPlainTextEdit* TextField(QWidget* parent, const std::string& text, const char* name) {
  auto* field = new QPlainTextEdit(Lines(text), parent);
  field->setReadOnly(true);
  field->setObjectName(QString::fromLatin1(name));
  return field;
}

QCheckBox* Flag(QWidget* parent, const char* text, bool on) {
  auto* box = new QCheckBox(QObject::tr(text), parent);
  box->setChecked(on);
  box->setEnabled(false);
  return box;
}

QWidget* ServerView(const CServerInfo& server, bool source, bool withDatabase) {
  auto* page = new QWidget;
  page->setObjectName(source ? QStringLiteral("viewSourceServer")
                             : QStringLiteral("viewDestinationServer"));
  auto* layout = new QVBoxLayout(page);
  auto* group = new QGroupBox(
      source ? QObject::tr("Source MySQL Server") : QObject::tr("Destination MySQL Server"), page);
  auto* form = new QFormLayout(group);
  form->addRow(QObject::tr("Host name or IP address"), Field(group, ToQt(server.Host), "hostView"));
  form->addRow(QObject::tr("MySQL Server Port"),
               Field(group, QString::number(server.Port), "portView"));
  form->addRow(QObject::tr("Username"), Field(group, ToQt(server.UserName), "userView"));
  QLineEdit* password = Field(group, ToQt(server.Password), "passwordView");
  password->setEchoMode(QLineEdit::Password);
  form->addRow(QObject::tr("Password"), password);
  form->addRow(QObject::tr("Database"),
               Field(group, withDatabase ? ToQt(server.Database) : QString(), "databaseView"));
  form->addRow(QObject::tr("Protocols"), TextField(group, ProtocolsText(server), "protocolsView"));
  layout->addWidget(group);
  return page;
}

// The dump flags and a read-only "Advanced Settings..." under a selection view.
void AddDumpFlags(QWidget* page, QVBoxLayout* layout, const BackupSettings& b, bool server) {
  auto* row = new QHBoxLayout;
  row->addWidget(Flag(page, "Structure", b.IncludeStructure != 0));
  row->addWidget(Flag(page, "Records", b.IncludeRecords != 0));
  row->addStretch();
  auto* advanced = new QPushButton(QObject::tr("Advanced Settings..."), page);
  QObject::connect(
      advanced, &QPushButton::clicked, page,
      [page, settings = BackupSettings(b)]() mutable { EditDumpSettings(page, settings, true); });
  row->addWidget(advanced);
  layout->addLayout(row);
  if (server) {
    layout->addWidget(Flag(page, "Backup all newly-created tables in all chosen databases",
                           b.IncludeNewTables != 0));
    layout->addWidget(Flag(page, "Backup all newly-created databases on the MySQL server",
                           b.IncludeNewDatabases != 0));
  } else {
    layout->addWidget(Flag(page, "Backup all newly-created tables in the source database",
                           b.IncludeNewTables != 0));
  }
}

// The task's advanced options, read-only.
QWidget* AdvancedOptionsView(QWidget* page, const CTaskItem& task) {
  QString text = AdvancedOptionsSummary(task);
  const AdvancedScope scope = AdvancedScopeOf(task.TaskType);
  if (scope.Compression) text += QLatin1Char('\n') + EncryptionSummary(task);
  // Restores from files are the kind that reads encrypted files.
  if (scope.ThreadsAreFiles) {
    const std::string identity = EncryptionOptionsOf(task).IdentityFile;
    text += QLatin1Char('\n') +
            QObject::tr("Identity file: %1")
                .arg(identity.empty() ? QObject::tr("None") : QString::fromStdString(identity));
  }
  auto* view = new QLabel(text, page);
  view->setObjectName(QStringLiteral("advancedOptionsView"));
  return view;
}

QTreeWidget* List(QWidget* parent, const char* name) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setRootIsDecorated(false);
  return list;
}

QWidget* DatabasesView(const CTaskItem& task) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  QTreeWidget* tree = List(page, "databaseTreeView");
  tree->setRootIsDecorated(true);
  tree->setHeaderHidden(true);
  for (const DatabaseItem& database : task.BackupDatabases) {
    if (database.Selected == 0) continue;
    auto* node = new QTreeWidgetItem(tree, {ToQt(database.DatabaseName)});
    for (const TableItem& table : database.Tables) {
      if (table.Selected != 0) new QTreeWidgetItem(node, {TableLabel(table)});
    }
  }
  tree->expandAll();
  layout->addWidget(tree, 1);
  AddDumpFlags(page, layout, task.BackupSettings, true);
  layout->addWidget(AdvancedOptionsView(page, task));
  return page;
}

QWidget* SourceTablesView(const CTaskItem& task) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  QTreeWidget* list = List(page, "tablesView");
  list->setHeaderHidden(true);
  for (const DatabaseItem& database : task.BackupDatabases) {
    for (const TableItem& table : database.Tables) {
      if (table.Selected != 0) new QTreeWidgetItem(list, {TableLabel(table)});
    }
  }
  layout->addWidget(list, 1);
  AddDumpFlags(page, layout, task.BackupSettings, false);
  layout->addWidget(AdvancedOptionsView(page, task));
  return page;
}

QWidget* ExportTablesView(const CTaskItem& task) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  QTreeWidget* list = List(page, "exportTablesView");
  list->setHeaderLabels({QObject::tr("Tables")});
  for (const TableItem& table : task.ExportTables) {
    new QTreeWidgetItem(
        list, {ToQt(table.TableName) + (table.Kind == 2 ? QStringLiteral(" (View)") : QString())});
  }
  layout->addWidget(list);
  return page;
}

QWidget* ExportFileView(const CTaskItem& task) {
  const ExportSettings& e = task.ExportSettings;
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  form->addRow(QObject::tr("File Type"),
               Field(page, ToQt(ExportFileTypeText(e.Format)), "fileTypeView"));
  form->addRow(QObject::tr("Directory:"), Field(page, ToQt(e.Folder), "directoryView"));
  if (e.Format == 1 || e.Format == 4) {
    form->addRow(QObject::tr("Fields Terminated By"),
                 Field(page, ToQt(EncodeEscapes(e.FieldsTerminatedBy)), "terminatedView"));
    form->addRow(QObject::tr("Fields Enclosed By"),
                 Field(page, ToQt(EncodeEscapes(e.FieldsEnclosedBy)), "enclosedView"));
    form->addRow(QObject::tr("Fields Escaped By"),
                 Field(page, ToQt(EncodeEscapes(e.FieldsEscapedBy)), "escapedView"));
    form->addRow(QObject::tr("Lines Terminated By"),
                 Field(page, ToQt(EncodeEscapes(e.LinesTerminatedBy)), "linesView"));
    form->addRow(Flag(page, "Add Column Names On Top", e.AddColumnNamesOnTop != 0));
  }
  form->addRow(AdvancedOptionsView(page, task));
  return page;
}

QWidget* BackupFileView(const CTaskItem& task) {
  const BackupSettings& b = task.BackupSettings;
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  form->addRow(
      QObject::tr("File Type: "),
      Field(page, b.FileType == 2 ? QStringLiteral("PHP File") : QStringLiteral("SQL File"),
            "fileTypeView"));
  form->addRow(QObject::tr("Backup Type:"),
               Field(page,
                     b.FileMode == 1 ? QStringLiteral("Backup to a same file each time")
                                     : QStringLiteral("Backup to the new file(s) each time"),
                     "backupTypeView"));
  form->addRow(QObject::tr("Settings:"),
               TextField(page, BackupFileSettingsText(b), "settingsView"));
  return page;
}

// No secret is shown: the properties sheet is read over shoulders and in screenshots.
QWidget* OffsiteView(const CTaskItem& task) {
  const RemoteOptions remote = RemoteOptionsOf(task);
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  form->addRow(QObject::tr("Off-site copy:"),
               Field(page, ToQt(RemoteKindText(remote.Kind)), "offsiteKindView"));
  form->addRow(QObject::tr("Target:"),
               Field(page, remote.Empty() ? QString() : ToQt(RemoteTargetText(remote)),
                     "offsiteTargetView"));
  form->addRow(QObject::tr("Settings:"),
               TextField(page, OffsiteSettingsText(remote), "offsiteSettingsView"));
  return page;
}

QWidget* ScriptView(const CTaskItem& task) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(TextField(page, ScriptViewText(task.ScriptStatements), "scriptView"));
  return page;
}

QWidget* RestoreFilesView(const CTaskItem& task, int dateStyle, int timeStyle) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  QTreeWidget* list = List(page, "filesView");
  list->setHeaderLabels({QObject::tr("SN"), QObject::tr("File Name"), QObject::tr("Full Path"),
                         QObject::tr("File Size"), QObject::tr("Date & Time")});
  const int widths[] = {60, 300, 500, 100, 200};
  for (int i = 0; i < 5; ++i) list->setColumnWidth(i, widths[i]);
  int number = 0;
  for (const RestoreFileItem& file : task.RestoreFiles) {
    auto* row = new QTreeWidgetItem(list);
    row->setText(0, QString::number(++number));
    row->setText(1, ToQt(file.FileName));
    row->setText(2, ToQt(file.FullPath));
    row->setText(3, QStringLiteral("%1 KB").arg(file.FileSize / 1024));
    row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    row->setText(4, ToQt(FormatDisplayDateTime(file.FileTime, dateStyle, timeStyle, true)));
    row->setTextAlignment(4, Qt::AlignCenter);
  }
  layout->addWidget(list, 1);
  layout->addWidget(Flag(page, "Continue even if an SQL error occurs during restoring",
                         task.RestoreOptions.ContinueOnSqlError != 0));
  layout->addWidget(Flag(page, "Continue even if an FILE error occurs during restoring",
                         task.RestoreOptions.ContinueOnFileError != 0));
  layout->addWidget(AdvancedOptionsView(page, task));
  return page;
}

QWidget* ScheduleViewPage(const CTaskItem& task, int dateStyle, int timeStyle) {
  const ScheduleView view = ScheduleViewText(task.Schedule, dateStyle, timeStyle);
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  form->addRow(QObject::tr("Task Schedule:"), Field(page, ToQt(view.Kind), "scheduleKindView"));
  form->addRow(QObject::tr("Settings:"), TextField(page, view.Settings, "scheduleSettingsView"));
  auto* notifications = new QLabel(TaskNotificationsSummary(task), page);
  notifications->setObjectName(QStringLiteral("taskNotificationsView"));
  notifications->setWordWrap(true);
  form->addRow(notifications);
  return page;
}

}  // namespace

ViewTab MakeStepView(WizardStep step, const CTaskItem& task, int dateStyle, int timeStyle) {
  const QString server = QObject::tr("MySQL Server");
  switch (step) {
    case WizardStep::SourceServer: return {server, ServerView(task.SourceServer, true, false)};
    case WizardStep::ChooseDatabases:
      return {QObject::tr("Databases and Tables"), DatabasesView(task)};
    case WizardStep::BackupFile: return {QObject::tr("Backup File"), BackupFileView(task)};
    case WizardStep::DestinationServer:
      return {server, ServerView(task.DestinationServer, false, false)};
    case WizardStep::SourceDatabase: return {server, ServerView(task.SourceServer, true, true)};
    case WizardStep::SelectTables: return {QObject::tr("Source Tables"), SourceTablesView(task)};
    case WizardStep::DestinationDatabase:
      return {server, ServerView(task.DestinationServer, false, true)};
    case WizardStep::ChooseTables: return {QObject::tr("Export Tables"), ExportTablesView(task)};
    case WizardStep::ExportFile: return {QObject::tr("Export File"), ExportFileView(task)};
    case WizardStep::Script: return {QObject::tr("SQL Script"), ScriptView(task)};
    case WizardStep::RestoreFiles:
      return {QObject::tr("SQL Files"), RestoreFilesView(task, dateStyle, timeStyle)};
    case WizardStep::Offsite: return {QObject::tr("Off-site Copy"), OffsiteView(task)};
  }
  return {QString(), nullptr};
}

std::vector<ViewTab> MakeViewTabs(const CTaskItem& task, const CApplicationCore* core) {
  const int dateStyle = core ? core->Options().DateFormat : 1;
  const int timeStyle = core ? core->Options().TimeFormat : 1;
  std::vector<ViewTab> tabs;
  for (const WizardStep step : ShownKind(task.TaskType).Steps) {
    tabs.push_back(MakeStepView(step, task, dateStyle, timeStyle));
  }
  tabs.push_back({QObject::tr("Task Schedule"), ScheduleViewPage(task, dateStyle, timeStyle)});
  return tabs;
}

}  // namespace brevanto::wizard
