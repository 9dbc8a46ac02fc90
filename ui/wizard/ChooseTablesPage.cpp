#include "ui/wizard/ChooseTablesPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/wizard/ChooseDatabasesPage.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

CChooseTablesPage::CChooseTablesPage(CSheetContext& context)
    : CTaskPage(context, tr("Export Tables")),
      m_database(new QComboBox(this)),
      m_source(new QListWidget(this)),
      m_exportList(new QListWidget(this)) {
  setObjectName(QStringLiteral("chooseTablesPage"));
  m_database->setObjectName(QStringLiteral("sourceDatabaseCombo"));
  m_source->setObjectName(QStringLiteral("sourceTablesList"));
  m_exportList->setObjectName(QStringLiteral("exportTablesList"));
  m_source->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_exportList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(tr("Source Database"), this), 0, 0);
  grid->addWidget(m_database, 1, 0);
  grid->addWidget(new QLabel(tr("Source Tables"), this), 2, 0);
  grid->addWidget(m_source, 3, 0);
  grid->addWidget(new QLabel(tr("Export Tables"), this), 2, 2);
  grid->addWidget(m_exportList, 3, 2);
  auto* buttons = new QVBoxLayout;
  const struct {
    const char* Text;
    const char* Name;
  } kButtons[] = {{">", "addButton"},
                  {">>", "addAllButton"},
                  {"<", "removeButton"},
                  {"<<", "removeAllButton"},
                  {"&Refresh", "refreshButton"}};
  buttons->addStretch();
  QPushButton* made[5];
  for (int i = 0; i < 5; ++i) {
    made[i] = new QPushButton(tr(kButtons[i].Text), this);
    made[i]->setObjectName(QString::fromLatin1(kButtons[i].Name));
    buttons->addWidget(made[i]);
  }
  buttons->addStretch();
  grid->addLayout(buttons, 3, 1);
  connect(made[0], &QPushButton::clicked, this, [this] { MoveIn(false); });
  connect(made[1], &QPushButton::clicked, this, [this] { MoveIn(true); });
  connect(made[2], &QPushButton::clicked, this, [this] { MoveOut(false); });
  connect(made[3], &QPushButton::clicked, this, [this] { MoveOut(true); });
  connect(made[4], &QPushButton::clicked, this, &CChooseTablesPage::Refresh);
  connect(m_database, &QComboBox::currentIndexChanged, this, &CChooseTablesPage::FillSource);
}

bool CChooseTablesPage::InExport(const std::string& database, const std::string& table) const {
  for (const TableItem& item : m_export) {
    if (item.DatabaseName == database && item.TableName == table) return true;
  }
  return false;
}

void CChooseTablesPage::FillDatabases() {
  const QString current = m_database->currentText();
  QSignalBlocker block(m_database);
  m_database->clear();
  for (const DatabaseItem& database : Context().Catalogue) {
    m_database->addItem(ToQt(database.DatabaseName));
  }
  m_database->setCurrentIndex(m_database->findText(current, Qt::MatchExactly));
  if (m_database->currentIndex() < 0 && m_database->count() > 0) m_database->setCurrentIndex(0);
}

void CChooseTablesPage::FillSource() {
  m_source->clear();
  const int index = m_database->currentIndex();
  if (index < 0 || index >= static_cast<int>(Context().Catalogue.size())) return;
  const DatabaseItem& database = Context().Catalogue[static_cast<std::size_t>(index)];
  for (std::size_t i = 0; i < database.Tables.size(); ++i) {
    const TableItem& table = database.Tables[i];
    if (InExport(database.DatabaseName, table.TableName)) continue;
    auto* item = new QListWidgetItem(TableLabel(table), m_source);
    item->setData(Qt::UserRole, static_cast<int>(i));
  }
}

void CChooseTablesPage::FillExport() {
  m_exportList->clear();
  for (const TableItem& table : m_export) {
    m_exportList->addItem(ToQt(table.DatabaseName) + QStringLiteral(".") + TableLabel(table));
  }
}

void CChooseTablesPage::Load() {
  m_export = Task().ExportTables;
  FillDatabases();
  FillSource();
  FillExport();
}

void CChooseTablesPage::MoveIn(bool all) {
  const int index = m_database->currentIndex();
  if (index < 0 || index >= static_cast<int>(Context().Catalogue.size())) {
    ui::Dialogs::Warning(this, tr("Please choose the databases!"));
    m_database->setFocus();
    return;
  }
  if (!all && m_source->selectedItems().isEmpty()) {
    ui::Dialogs::Warning(this, tr("Please choose the source tables!"));
    m_source->setFocus();
    return;
  }
  const DatabaseItem& database = Context().Catalogue[static_cast<std::size_t>(index)];
  for (int row = 0; row < m_source->count(); ++row) {
    QListWidgetItem* item = m_source->item(row);
    if (!all && !item->isSelected()) continue;
    TableItem table = database.Tables[static_cast<std::size_t>(item->data(Qt::UserRole).toInt())];
    table.DatabaseName = database.DatabaseName;
    table.Selected = 1;
    m_export.push_back(table);
  }
  FillSource();
  FillExport();
}

void CChooseTablesPage::MoveOut(bool all) {
  if (!all && m_exportList->selectedItems().isEmpty()) {
    ui::Dialogs::Warning(this, tr("Please choose the export tables!"));
    m_exportList->setFocus();
    return;
  }
  // Mark first, then drop the marked entries, so row numbers stay valid while marking.
  std::vector<bool> marked(m_export.size(), false);
  for (int row = 0; row < m_exportList->count(); ++row) {
    if (all || m_exportList->item(row)->isSelected()) marked[static_cast<std::size_t>(row)] = true;
  }
  std::vector<TableItem> kept;
  for (std::size_t i = 0; i < m_export.size(); ++i) {
    if (!marked[i]) kept.push_back(m_export[i]);
  }
  m_export = std::move(kept);
  FillSource();
  FillExport();
}

void CChooseTablesPage::Refresh() {
  const QString question =
      tr("Do you want to refresh the databases and tables on the source MySQL server now?");
  if (ui::Dialogs::AskYesNo(this, question) != ui::Answer::Yes) return;
  if (!ReloadCatalogue(this, Context())) return;
  FillDatabases();
  FillSource();
}

bool CChooseTablesPage::Leave() {
  if (m_export.empty()) {
    ui::Dialogs::Warning(this, tr("Please choose the export tables!"));
    m_exportList->setFocus();
    return false;
  }
  Task().ExportTables = m_export;
  return true;
}

}  // namespace brevanto::wizard
