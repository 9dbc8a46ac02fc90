#include "ui/wizard/PageSequence.h"

#include "ui/wizard/BackupFilePage.h"
#include "ui/wizard/ChooseDatabasesPage.h"
#include "ui/wizard/ChooseTablesPage.h"
#include "ui/wizard/DatabasePages.h"
#include "ui/wizard/ExportFilePage.h"
#include "ui/wizard/RestoreFilesPage.h"
#include "ui/wizard/SchedulePage.h"
#include "ui/wizard/ScriptPage.h"
#include "ui/wizard/SelectTablesPage.h"
#include "ui/wizard/ServerPage.h"
#include "ui/wizard/TaskNamePage.h"

namespace brevanto::wizard {

std::vector<CTaskPage*> MakeTaskPages(CSheetContext& c, QWidget* parent) {
  using Role = CMySQLServerPage::Role;
  std::vector<CTaskPage*> pages{new CTaskTypePage(c)};
  switch (c.Type()) {
    case 2:
    case 7:
      pages.push_back(new CMySQLServerPage(c, Role::Source));
      pages.push_back(new CChooseDatabasesPage(c));
      pages.push_back(new CMySQLServerPage(c, Role::Destination));
      break;
    case 3:
    case 8:
      pages.push_back(new CSourceDatabasePage(c));
      pages.push_back(new CSelectTablesPage(c));
      pages.push_back(new CDestDatabasePage(c));
      break;
    case 4:
      pages.push_back(new CMySQLServerPage(c, Role::Source));
      pages.push_back(new CChooseTablesPage(c));
      pages.push_back(new CExportFilePage(c));
      break;
    case 5:
      pages.push_back(new CMySQLServerPage(c, Role::Source));
      pages.push_back(new CSQLScriptPage(c));
      break;
    case 6:
      pages.push_back(new CRestoreFilesPage(c));
      pages.push_back(new CMySQLServerPage(c, Role::Destination));
      break;
    default:
      pages.push_back(new CMySQLServerPage(c, Role::Source));
      pages.push_back(new CChooseDatabasesPage(c));
      pages.push_back(new CBackupFilePage(c));
      break;
  }
  pages.push_back(new CAutoRunOptionsPage(c));
  for (CTaskPage* page : pages) page->setParent(parent);
  return pages;
}

}  // namespace brevanto::wizard
