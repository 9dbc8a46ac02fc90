#include "ui/wizard/PageSequence.h"

#include "appcore/WizardText.h"
#include "ui/wizard/BackupFilePage.h"
#include "ui/wizard/ChooseDatabasesPage.h"
#include "ui/wizard/ChooseTablesPage.h"
#include "ui/wizard/DatabasePages.h"
#include "ui/wizard/ExportFilePage.h"
#include "ui/wizard/OffsitePage.h"
#include "ui/wizard/RestoreFilesPage.h"
#include "ui/wizard/SchedulePage.h"
#include "ui/wizard/ScriptPage.h"
#include "ui/wizard/SelectTablesPage.h"
#include "ui/wizard/ServerPage.h"
#include "ui/wizard/TaskNamePage.h"

namespace brevanto::wizard {

const TaskKind& ShownKind(int taskType) {
  const TaskKind* kind = KindOf(taskType);
  return kind ? *kind : TaskKinds().front();
}

CTaskPage* MakeStepPage(WizardStep step, CSheetContext& c) {
  using Role = CMySQLServerPage::Role;
  switch (step) {
    case WizardStep::SourceServer: return new CMySQLServerPage(c, Role::Source);
    case WizardStep::ChooseDatabases: return new CChooseDatabasesPage(c);
    case WizardStep::BackupFile: return new CBackupFilePage(c);
    case WizardStep::DestinationServer: return new CMySQLServerPage(c, Role::Destination);
    case WizardStep::SourceDatabase: return new CSourceDatabasePage(c);
    case WizardStep::SelectTables: return new CSelectTablesPage(c);
    case WizardStep::DestinationDatabase: return new CDestDatabasePage(c);
    case WizardStep::ChooseTables: return new CChooseTablesPage(c);
    case WizardStep::ExportFile: return new CExportFilePage(c);
    case WizardStep::Script: return new CSQLScriptPage(c);
    case WizardStep::RestoreFiles: return new CRestoreFilesPage(c);
    case WizardStep::Offsite: return new COffsitePage(c);
  }
  return nullptr;
}

std::vector<CTaskPage*> MakeTaskPages(CSheetContext& c, QWidget* parent) {
  std::vector<CTaskPage*> pages{new CTaskTypePage(c)};
  for (const WizardStep step : ShownKind(c.Type()).Steps) pages.push_back(MakeStepPage(step, c));
  pages.push_back(new CAutoRunOptionsPage(c));
  for (CTaskPage* page : pages) page->setParent(parent);
  return pages;
}

}  // namespace brevanto::wizard
