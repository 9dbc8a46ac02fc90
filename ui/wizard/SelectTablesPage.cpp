#include "ui/wizard/SelectTablesPage.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "appcore/ApplicationCore.h"
#include "appcore/WizardText.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/wizard/ChooseDatabasesPage.h"
#include "ui/wizard/ServerPage.h"

namespace brevanto::wizard {

using ui::ToQt;

CSelectTablesPage::CSelectTablesPage(CSheetContext& context)
    : CTaskPage(context, tr("Source Tables")),
      m_list(new QListWidget(this)),
      m_newTables(
          new QCheckBox(tr("Backup all newly-created tables in the source database"), this)) {
  setObjectName(QStringLiteral("selectTablesPage"));
  m_list->setObjectName(QStringLiteral("tablesList"));
  m_newTables->setObjectName(QStringLiteral("newTablesCheck"));
  auto* layout = new QVBoxLayout(this);
  QVBoxLayout* buttons = AddListWithButtons(layout, m_list);
  auto* refresh = new QPushButton(tr("&Refresh"), this);
  refresh->setObjectName(QStringLiteral("refreshButton"));
  connect(refresh, &QPushButton::clicked, this, &CSelectTablesPage::Refresh);
  buttons->addWidget(refresh);
  const char* const texts[] = {"Select All", "Deselect All", "Invert"};
  for (int action = 0; action < 3; ++action) {
    auto* button = new QPushButton(tr(texts[action]), this);
    connect(button, &QPushButton::clicked, this, [this, action] { SetAll(action); });
    buttons->addWidget(button);
  }
  buttons->addStretch();
  m_flags = AddContentFlags(
      this, layout, [this]() -> CTaskItem& { return Task(); },
      Context().Core ? &Context().Core->GetClock() : nullptr);
  layout->addWidget(m_newTables);
}

void CSelectTablesPage::FillList() {
  m_list->clear();
  if (Context().Catalogue.empty()) return;
  const DatabaseItem& database = Context().Catalogue.front();
  const std::vector<DatabaseItem>& saved = Task().BackupDatabases;
  for (const TableItem& table : database.Tables) {
    bool chosen = false;
    for (const DatabaseItem& s : saved) {
      if (s.DatabaseName != database.DatabaseName) continue;
      for (const TableItem& t : s.Tables) {
        if (t.TableName == table.TableName) chosen = t.Selected != 0;
      }
    }
    auto* item = new QListWidgetItem(TableLabel(table), m_list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
  }
}

void CSelectTablesPage::Load() {
  const BackupSettings& b = Task().BackupSettings;
  ShowContentFlags(m_flags, b);
  m_newTables->setChecked(b.IncludeNewTables != 0);
  FillList();
}

void CSelectTablesPage::SetAll(int action) {
  for (int i = 0; i < m_list->count(); ++i) {
    QListWidgetItem* item = m_list->item(i);
    const bool on = action == 2 ? item->checkState() != Qt::Checked : action == 0;
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
}

void CSelectTablesPage::Refresh() {
  if (ui::Dialogs::AskYesNo(this,
                            tr("Do you want to refresh the tables on the source database now?")) !=
      ui::Answer::Yes) {
    return;
  }
  const CServerInfo server = Task().SourceServer;
  std::vector<TableItem> tables;
  MySqlError error;
  bool useFailed = false;
  bool loaded = false;
  ServerBrowser& browser = *Context().Browser;
  RunOffUiThread(this, [&] {
    loaded = browser.LoadTables(server, server.Database, tables, error, useFailed);
  });
  if (!loaded) {
    if (useFailed) {
      ui::Dialogs::Stop(this, ToQt(UseDatabaseFailureText(error.Number, error.Text)));
    } else {
      ShowConnectFailure(this, error);
    }
    return;
  }
  DatabaseItem database;
  database.Selected = 1;
  database.DatabaseName = server.Database;
  database.Tables = std::move(tables);
  Context().Catalogue = {std::move(database)};
  FillList();
}

bool CSelectTablesPage::Leave() {
  BackupSettings flags = Task().BackupSettings;
  if (!StoreContentFlags(this, m_flags, flags)) return false;
  DatabaseItem database;
  if (!Context().Catalogue.empty()) database = Context().Catalogue.front();
  database.Selected = 1;
  bool anything = false;
  for (std::size_t i = 0; i < database.Tables.size(); ++i) {
    QListWidgetItem* item = m_list->item(static_cast<int>(i));
    const bool chosen = item && item->checkState() == Qt::Checked;
    database.Tables[i].Selected = chosen ? 1 : 0;
    anything = anything || chosen;
  }
  if (!anything) {
    if (!m_newTables->isChecked()) {
      ui::Dialogs::Warning(this, tr("Please choose the source tables!"));
      m_list->setFocus();
      return false;
    }
    const QString question =
        tr("You did not choose any tables.\nDo you want to backup all "
           "newly-created tables in the source database?");
    if (Context().Wizard() && ui::Dialogs::AskYesNo(this, question) != ui::Answer::Yes)
      return false;
  }
  BackupSettings& b = Task().BackupSettings;
  StoreContentFlags(this, m_flags, b);
  b.IncludeNewTables = m_newTables->isChecked() ? 1 : 0;
  if (database.DatabaseName.empty()) database.DatabaseName = Task().SourceServer.Database;
  Task().BackupDatabases = {std::move(database)};
  return true;
}

}  // namespace brevanto::wizard
