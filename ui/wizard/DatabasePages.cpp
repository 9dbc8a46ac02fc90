#include "ui/wizard/DatabasePages.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "appcore/WizardText.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

namespace {

// Shows `name` as the combo's choice, adding it when the list does not hold it yet.
void ShowChoice(QComboBox* combo, const std::string& name) {
  if (name.empty()) {
    combo->setCurrentIndex(-1);
    return;
  }
  const QString text = ToQt(name);
  if (combo->findText(text, Qt::MatchExactly) < 0) combo->addItem(text);
  combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly));
}

}  // namespace

CSourceDatabasePage::CSourceDatabasePage(CSheetContext& context, Role role)
    : CMySQLServerPage(context, role) {
  if (role != Role::Source) return;
  SetTabTitle(tr("Source Database"));
  setObjectName(QStringLiteral("sourceDatabasePage"));
  m_database = new CDatabaseCombo(this);
  m_database->setObjectName(QStringLiteral("sourceDatabaseCombo"));
  m_database->BeforeOpen = [this] { FillDatabases(m_database); };
  auto* form = new QFormLayout;
  form->addRow(tr("Source Database"), m_database);
  AddBelowServer(form);
}

void CSourceDatabasePage::Load() {
  CMySQLServerPage::Load();
  ShowChoice(m_database, Task().SourceServer.Database);
}

void CSourceDatabasePage::FillDatabases(QComboBox* combo) {
  if (!ValidateFields()) return;
  const CServerInfo server = FieldsServer();
  std::vector<std::string> names;
  MySqlError error;
  bool listed = false;
  ServerBrowser& browser = *Context().Browser;
  RunOffUiThread(this, [&] { listed = browser.ListDatabaseNames(server, names, error); });
  if (!listed) {
    ShowConnectFailure(this, error);
    return;
  }
  const QString current = combo->currentText();
  combo->clear();
  for (const std::string& name : names) combo->addItem(ToQt(name));
  combo->setCurrentIndex(combo->findText(current, Qt::MatchExactly));
}

bool CSourceDatabasePage::Leave() {
  if (!ValidateFields()) return false;
  if (m_database->currentIndex() < 0) {
    ui::Dialogs::Warning(this, tr("Please choose a source database!"));
    m_database->setFocus();
    return false;
  }
  const std::string name = FromQt(m_database->currentText());
  if (name.empty()) {
    ui::Dialogs::Warning(this, tr("The database name is empty!"));
    m_database->setFocus();
    return false;
  }
  CServerInfo server = FieldsServer();
  server.Database = name;
  // The edit sheet keeps the stored tables unless the source changed.
  const bool unchanged =
      !Context().Wizard() && server == Task().SourceServer && !Context().Catalogue.empty();
  if (!unchanged) {
    std::vector<TableItem> tables;
    MySqlError error;
    bool useFailed = false;
    bool loaded = false;
    ServerBrowser& browser = *Context().Browser;
    RunOffUiThread(this,
                   [&] { loaded = browser.LoadTables(server, name, tables, error, useFailed); });
    if (!loaded) {
      if (useFailed) {
        ui::Dialogs::Stop(this, ToQt(UseDatabaseFailureText(error.Number, error.Text)));
      } else {
        ShowConnectFailure(this, error);
      }
      return false;
    }
    DatabaseItem database;
    database.Selected = 1;
    database.DatabaseName = name;
    database.Tables = std::move(tables);
    Context().Catalogue = {std::move(database)};
  }
  Task().SourceServer = server;
  return true;
}

CDestDatabasePage::CDestDatabasePage(CSheetContext& context)
    : CSourceDatabasePage(context, Role::Destination),
      m_existing(new QRadioButton(tr("Choose a existent database"), this)),
      m_existingName(new CDatabaseCombo(this)),
      m_new(new QRadioButton(tr("Create a new database"), this)),
      m_newName(new QLineEdit(this)) {
  SetTabTitle(tr("Destination Database"));
  setObjectName(QStringLiteral("destinationDatabasePage"));
  m_existing->setObjectName(QStringLiteral("existingDatabaseRadio"));
  m_existingName->setObjectName(QStringLiteral("existingDatabaseCombo"));
  m_new->setObjectName(QStringLiteral("newDatabaseRadio"));
  m_newName->setObjectName(QStringLiteral("newDatabaseEdit"));
  m_existingName->BeforeOpen = [this] { FillDatabases(m_existingName); };
  auto* radios = new QButtonGroup(this);
  radios->addButton(m_existing);
  radios->addButton(m_new);
  auto* grid = new QGridLayout;
  grid->addWidget(m_existing, 0, 0);
  grid->addWidget(m_existingName, 0, 1);
  grid->addWidget(m_new, 1, 0);
  grid->addWidget(m_newName, 1, 1);
  AddBelowServer(grid);
  connect(m_existing, &QRadioButton::toggled, this, &CDestDatabasePage::UpdateEnabled);
  connect(m_new, &QRadioButton::toggled, this, [this](bool on) {
    if (on && m_newName->text().isEmpty())
      m_newName->setText(QStringLiteral("%DATABASE%_%DATE%_%TIME%"));
    UpdateEnabled();
  });
}

void CDestDatabasePage::UpdateEnabled() {
  m_existingName->setEnabled(m_existing->isChecked());
  m_newName->setEnabled(m_new->isChecked());
}

void CDestDatabasePage::Load() {
  CMySQLServerPage::Load();
  const BackupSettings& b = Task().BackupSettings;
  if (b.CreateNewDestinationDatabase != 0) {
    m_new->setChecked(true);
    m_newName->setText(ToQt(b.DestinationDatabase));
  } else {
    m_existing->setChecked(true);
    ShowChoice(m_existingName, b.DestinationDatabase);
  }
  UpdateEnabled();
}

bool CDestDatabasePage::Leave() {
  if (!ValidateFields()) return false;
  std::string name;
  QWidget* field = nullptr;
  const char* problem = nullptr;
  if (m_existing->isChecked()) {
    field = m_existingName;
    name = FromQt(m_existingName->currentText());
    if (m_existingName->currentIndex() < 0) {
      problem = "Please choose a destination database!";
    } else if (name.empty()) {
      problem = "The database name is empty!";
    }
  } else {
    field = m_newName;
    name = FromQt(m_newName->text());
    if (!m_new->isChecked()) {
      problem = "Please choose the destination database!";
    } else if (name.empty()) {
      problem = "Please input the new database name!";
    } else if (HasInvalidDatabaseNameCharacters(name)) {
      problem = "There are some invalid characters \n('/', '\\', or '.') \nin the database name!";
    }
  }
  CServerInfo server = FieldsServer();
  server.Database = name;
  const CServerInfo& source = Task().SourceServer;
  if (!problem && source.Database == name && ReachesSourceServer(server)) {
    problem = "The destination database can't same as the source database!";
  }
  if (problem) {
    ui::Dialogs::Warning(this, tr(problem));
    field->setFocus();
    return false;
  }
  Task().DestinationServer = server;
  Task().BackupSettings.CreateNewDestinationDatabase = m_new->isChecked() ? 1 : 0;
  Task().BackupSettings.DestinationDatabase = name;
  return true;
}

}  // namespace brevanto::wizard
