#include "ui/wizard/TaskWizardSheet.h"

#include <QScrollArea>
#include <QVBoxLayout>
#include <QWizardPage>

#include "ui/HelpWindow.h"
#include "ui/Text.h"
#include "ui/WindowFit.h"
#include "ui/wizard/PageSequence.h"
#include "ui/wizard/TaskDetailsPage.h"
#include "ui/wizard/TaskNamePage.h"
#include "appcore/WizardText.h"
#include "tasks/AdvancedOptions.h"

namespace brevanto::wizard {

namespace {

// Hosts one task page as a wizard step: entering fills it, Next checks and stores it.
class CWizardStep : public QWizardPage {
 public:
  CWizardStep(CTaskPage* page, bool last) : m_page(page) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ui::InScrollArea(page));
    setFinalPage(last);
  }
  void initializePage() override { m_page->Load(); }
  bool validatePage() override { return m_page->Leave(); }
  // Back keeps what the page shows; nothing is reset.
  void cleanupPage() override {}

 private:
  CTaskPage* m_page;
};

}  // namespace

CTaskWizardSheet::CTaskWizardSheet(CSheetContext& context, int taskType, QWidget* parent)
    : QWizard(parent), m_context(context) {
  setObjectName(QStringLiteral("taskWizard"));
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::HaveHelpButton, true);
  setOption(QWizard::NoBackButtonOnStartPage, false);
  const TaskKind& kind = ShownKind(taskType);
  context.Task = CTaskItem();
  context.Task.TaskType = static_cast<std::uint8_t>(kind.Type);
  // New tasks start with the complete, consistent and fast choices; tasks made before
  // these options existed keep running as they always did (no section).
  if (kind.Advanced.Any()) {
    SetAdvancedOptions(context.Task, CAdvancedOptions{});
  }
  context.Mode = SheetMode::New;
  context.EditIndex = -1;

  addPage(new CWizardStep(new CMainPage(context), false));
  m_steps = MakeTaskPages(context, this);
  m_steps.push_back(new CTaskDetailsPage(context));
  for (std::size_t i = 0; i < m_steps.size(); ++i) {
    addPage(new CWizardStep(m_steps[i], i + 1 == m_steps.size()));
  }
  connect(this, &QWizard::currentIdChanged, this, &CTaskWizardSheet::ShowCaption);
  connect(this, &QWizard::helpRequested, this, [this] {
    ui::HelpWindow::Open(QStringLiteral("::/taskwizard/tasktype%1.html").arg(m_context.Type()));
  });
  setWindowTitle(tr("Task Wizard"));
  resize(640, 520);
}

void CTaskWizardSheet::ShowCaption(int id) {
  // Page ids follow the order of addPage: 0 is the welcome page, then step 1, 2, ...
  setWindowTitle(id <= 0 ? QString::fromLatin1(kWelcomeCaption)
                         : ui::ToQt(WizardCaption(m_context.Type(), id)));
}

}  // namespace brevanto::wizard
