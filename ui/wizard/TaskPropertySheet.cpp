#include "ui/wizard/TaskPropertySheet.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "appcore/TaskRules.h"
#include "appcore/WizardText.h"
#include "ui/HelpWindow.h"
#include "ui/Text.h"
#include "ui/WindowFit.h"
#include "ui/wizard/PageSequence.h"
#include "ui/wizard/PropertyViewPages.h"
#include "ui/wizard/TaskNamePage.h"
#include "ui/wizard/TaskPage.h"

namespace brevanto::wizard {

namespace {

// An export task keeps only its export list, not the catalogue it was chosen from: the
// databases and tables of that list stand in for it, so the tab opens with its databases
// listed (and a table moved back has a place to go) until Refresh reads the server.
std::vector<DatabaseItem> CatalogueOfExportList(const std::vector<TableItem>& tables) {
  std::vector<DatabaseItem> catalogue;
  for (const TableItem& table : tables) {
    auto database = std::find_if(catalogue.begin(), catalogue.end(), [&](const DatabaseItem& d) {
      return d.DatabaseName == table.DatabaseName;
    });
    if (database == catalogue.end()) {
      catalogue.push_back(DatabaseItem{1, table.DatabaseName, {}});
      database = catalogue.end() - 1;
    }
    database->Tables.push_back(table);
  }
  return catalogue;
}

}  // namespace

CTaskPropertySheet::CTaskPropertySheet(CSheetContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), m_tabs(new QTabWidget(this)) {
  const bool view = context.Mode == SheetMode::View;
  setObjectName(view ? QStringLiteral("taskPropertiesSheet") : QStringLiteral("editTaskSheet"));
  m_tabs->setObjectName(QStringLiteral("sheetTabs"));
  const int type = context.Type();
  // The selection tabs show the catalogue the task stored with its selection.
  const KindSettings uses = SettingsOf(type);
  if (uses.BackupSettings) {
    context.Catalogue = context.Task.BackupDatabases;
  } else if (uses.ExportSettings && context.Catalogue.empty()) {
    context.Catalogue = CatalogueOfExportList(context.Task.ExportTables);
  }
  if (view) {
    m_pages.push_back(new CTaskTypePage(context));
    m_tabs->addTab(ui::InScrollArea(m_pages.front()), m_pages.front()->TabTitle());
    for (const ViewTab& tab : MakeViewTabs(context.Task, context.Core)) {
      m_tabs->addTab(ui::InScrollArea(tab.Page), tab.Title);
      m_pages.push_back(nullptr);
    }
  } else {
    for (CTaskPage* page : MakeTaskPages(context, this)) {
      m_tabs->addTab(ui::InScrollArea(page), page->TabTitle());
      m_pages.push_back(page);
    }
  }
  for (CTaskPage* page : m_pages) {
    if (page) page->Load();
  }
  if (!view) connect(m_tabs, &QTabWidget::currentChanged, this, &CTaskPropertySheet::LeaveTab);

  const char* description = TaskTypeDescription(type);
  const QString title = (view ? tr("Task Properties - ") : tr("Edit Task - ")) +
                        ui::ToQt(context.Task.TaskName) + QStringLiteral(" - ") +
                        QString::fromUtf8(description ? description : "");
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_tabs);
  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this, [type] {
    ui::HelpWindow::Open(QStringLiteral("::/taskwizard/tasktype%1.html").arg(type));
  });
  layout->addWidget(buttons);
  // Wide enough for every tab's title where the screen allows (smaller screens scroll the
  // tab bar).
  const QMargins margins = layout->contentsMargins();
  resize(std::max(640, m_tabs->tabBar()->sizeHint().width() + margins.left() + margins.right() +
                           2 * m_tabs->style()->pixelMetric(QStyle::PM_DefaultFrameWidth)),
         540);
}

void CTaskPropertySheet::LeaveTab(int next) {
  if (next == m_current) return;
  CTaskPage* page = m_current < static_cast<int>(m_pages.size()) ? m_pages[m_current] : nullptr;
  if (page && !page->Leave()) {
    QSignalBlocker block(m_tabs);
    m_tabs->setCurrentIndex(m_current);
    return;
  }
  m_current = next;
  // A later tab may depend on what an earlier one stored (the source server).
  if (CTaskPage* shown = m_pages[static_cast<std::size_t>(next)]) shown->Load();
}

void CTaskPropertySheet::accept() {
  if (m_context.Mode == SheetMode::View) {
    QDialog::accept();
    return;
  }
  // The shown tab first, so its message comes before any other's.
  std::vector<int> order{m_current};
  for (int i = 0; i < static_cast<int>(m_pages.size()); ++i) {
    if (i != m_current) order.push_back(i);
  }
  for (int i : order) {
    if (m_pages[static_cast<std::size_t>(i)]->Leave()) continue;
    QSignalBlocker block(m_tabs);
    m_tabs->setCurrentIndex(i);
    m_current = i;
    return;
  }
  QDialog::accept();
}

}  // namespace brevanto::wizard
