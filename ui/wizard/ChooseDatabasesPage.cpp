#include "ui/wizard/ChooseDatabasesPage.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "appcore/ApplicationCore.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/wizard/AdvancedOptionsDialog.h"
#include "ui/wizard/DumpSettingsDialog.h"
#include "ui/wizard/ServerPage.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

QString TableLabel(const TableItem& table) {
  return ToQt(table.TableName) +
         (table.Kind == 2 ? QStringLiteral(" (View)") : QStringLiteral(" (Table)"));
}

bool ReloadCatalogue(QWidget* page, CSheetContext& context) {
  const CServerInfo server = context.Task.SourceServer;
  std::vector<DatabaseItem> catalogue;
  MySqlError error;
  bool loaded = false;
  ServerBrowser& browser = *context.Browser;
  RunOffUiThread(page, [&] { loaded = browser.LoadCatalogue(server, catalogue, error); });
  if (!loaded) {
    ShowConnectFailure(page, error);
    return false;
  }
  context.Catalogue = std::move(catalogue);
  return true;
}

QVBoxLayout* AddListWithButtons(QBoxLayout* layout, QWidget* list) {
  auto* row = new QHBoxLayout;
  row->addWidget(list, 1);
  auto* buttons = new QVBoxLayout;
  row->addLayout(buttons);
  layout->addLayout(row, 1);
  return buttons;
}

ContentFlags AddContentFlags(QWidget* page, QBoxLayout* layout,
                             const std::function<CTaskItem&()>& task, Clock* clock) {
  ContentFlags flags{new QCheckBox(QObject::tr("Structure"), page),
                     new QCheckBox(QObject::tr("Records"), page)};
  flags.Structure->setObjectName(QStringLiteral("structureCheck"));
  flags.Records->setObjectName(QStringLiteral("recordsCheck"));
  auto* advanced = new QPushButton(QObject::tr("Advanced Settings..."), page);
  advanced->setObjectName(QStringLiteral("advancedButton"));
  QObject::connect(advanced, &QPushButton::clicked, page,
                   [page, task] { EditDumpSettings(page, task().BackupSettings, false); });
  auto* options = new QPushButton(QObject::tr("Advanced Options..."), page);
  options->setObjectName(QStringLiteral("advancedOptionsButton"));
  QObject::connect(options, &QPushButton::clicked, page, [page, task, clock] {
    CAdvancedOptionsDialog dialog(page, task(), clock);
    dialog.exec();
  });
  auto* row = new QHBoxLayout;
  row->addWidget(flags.Structure);
  row->addWidget(flags.Records);
  row->addStretch();
  row->addWidget(advanced);
  row->addWidget(options);
  layout->addLayout(row);
  return flags;
}

void ShowContentFlags(const ContentFlags& flags, const BackupSettings& settings) {
  flags.Structure->setChecked(settings.IncludeStructure != 0);
  flags.Records->setChecked(settings.IncludeRecords != 0);
}

bool StoreContentFlags(QWidget* page, const ContentFlags& flags, BackupSettings& settings) {
  if (!flags.Structure->isChecked() && !flags.Records->isChecked()) {
    ui::Dialogs::Warning(page, QObject::tr("Please choose the table structure or records!"));
    flags.Structure->setFocus();
    return false;
  }
  settings.IncludeStructure = flags.Structure->isChecked() ? 1 : 0;
  settings.IncludeRecords = flags.Records->isChecked() ? 1 : 0;
  return true;
}

CChooseDatabasesPage::CChooseDatabasesPage(CSheetContext& context)
    : CTaskPage(context, tr("Databases and Tables")),
      m_tree(new QTreeWidget(this)),
      m_newTables(
          new QCheckBox(tr("Backup all newly-created tables in all chosen databases"), this)),
      m_newDatabases(
          new QCheckBox(tr("Backup all newly-created databases on the MySQL server"), this)) {
  setObjectName(QStringLiteral("chooseDatabasesPage"));
  m_tree->setObjectName(QStringLiteral("databaseTree"));
  m_tree->setHeaderHidden(true);
  m_newTables->setObjectName(QStringLiteral("newTablesCheck"));
  m_newDatabases->setObjectName(QStringLiteral("newDatabasesCheck"));
  auto* layout = new QVBoxLayout(this);
  QVBoxLayout* buttons = AddListWithButtons(layout, m_tree);
  auto* selectAll = new QPushButton(tr("Select All"), this);
  auto* refresh = new QPushButton(tr("&Refresh"), this);
  selectAll->setObjectName(QStringLiteral("selectAllButton"));
  refresh->setObjectName(QStringLiteral("refreshButton"));
  buttons->addWidget(selectAll);
  buttons->addWidget(refresh);
  buttons->addStretch();
  m_flags = AddContentFlags(
      this, layout, [this]() -> CTaskItem& { return Task(); },
      Context().Core ? &Context().Core->GetClock() : nullptr);
  layout->addWidget(m_newTables);
  layout->addWidget(m_newDatabases);

  connect(selectAll, &QPushButton::clicked, this, &CChooseDatabasesPage::SelectAll);
  connect(refresh, &QPushButton::clicked, this, &CChooseDatabasesPage::Refresh);
}

void CChooseDatabasesPage::FillTree() {
  m_tree->clear();
  const std::vector<DatabaseItem>& saved = Task().BackupDatabases;
  for (const DatabaseItem& database : Context().Catalogue) {
    const DatabaseItem* stored = nullptr;
    for (const DatabaseItem& s : saved) {
      if (s.DatabaseName == database.DatabaseName) stored = &s;
    }
    auto* node = new QTreeWidgetItem(m_tree, {ToQt(database.DatabaseName)});
    node->setFlags(node->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
    node->setData(0, Qt::UserRole, ToQt(database.DatabaseName));
    const bool databaseChosen = stored && stored->Selected != 0;
    node->setCheckState(0, databaseChosen ? Qt::Checked : Qt::Unchecked);
    for (const TableItem& table : database.Tables) {
      bool chosen = false;
      if (stored) {
        for (const TableItem& s : stored->Tables) {
          if (s.TableName == table.TableName) chosen = s.Selected != 0;
        }
      }
      auto* leaf = new QTreeWidgetItem(node, {TableLabel(table)});
      leaf->setFlags(leaf->flags() | Qt::ItemIsUserCheckable);
      leaf->setCheckState(0, chosen ? Qt::Checked : Qt::Unchecked);
    }
  }
}

void CChooseDatabasesPage::Load() {
  const BackupSettings& b = Task().BackupSettings;
  ShowContentFlags(m_flags, b);
  m_newTables->setChecked(b.IncludeNewTables != 0);
  m_newDatabases->setChecked(b.IncludeNewDatabases != 0);
  FillTree();
}

void CChooseDatabasesPage::SelectAll() {
  for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
    m_tree->topLevelItem(i)->setCheckState(0, Qt::Checked);
  }
}

void CChooseDatabasesPage::Refresh() {
  const QString question =
      tr("Do you want to refresh the databases and tables on the source MySQL server now?");
  if (ui::Dialogs::AskYesNo(this, question) != ui::Answer::Yes) return;
  if (ReloadCatalogue(this, Context())) FillTree();
}

bool CChooseDatabasesPage::Leave() {
  BackupSettings flags = Task().BackupSettings;
  if (!StoreContentFlags(this, m_flags, flags)) return false;
  std::vector<DatabaseItem> chosen = Context().Catalogue;
  bool anything = false;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    QTreeWidgetItem* node = m_tree->topLevelItem(static_cast<int>(i));
    const bool databaseChosen = node && node->checkState(0) != Qt::Unchecked;
    chosen[i].Selected = databaseChosen ? 1 : 0;
    anything = anything || databaseChosen;
    for (std::size_t t = 0; t < chosen[i].Tables.size(); ++t) {
      QTreeWidgetItem* leaf = node ? node->child(static_cast<int>(t)) : nullptr;
      chosen[i].Tables[t].Selected = leaf && leaf->checkState(0) == Qt::Checked ? 1 : 0;
    }
  }
  if (!anything) {
    if (!m_newDatabases->isChecked()) {
      ui::Dialogs::Warning(this, tr("Please choose the source databases or tables!"));
      m_tree->setFocus();
      return false;
    }
    const QString question =
        tr("You did not choose any databases.\nDo you want to backup all "
           "newly-created databases on the server?");
    if (Context().Wizard() && ui::Dialogs::AskYesNo(this, question) != ui::Answer::Yes) {
      return false;
    }
  }
  BackupSettings& b = Task().BackupSettings;
  Task().BackupDatabases = std::move(chosen);
  StoreContentFlags(this, m_flags, b);
  b.IncludeNewTables = m_newTables->isChecked() ? 1 : 0;
  b.IncludeNewDatabases = m_newDatabases->isChecked() ? 1 : 0;
  return true;
}

}  // namespace brevanto::wizard
