#include "ui/wizard/TaskNamePage.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "appcore/WizardText.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

CTaskTypePage::CTaskTypePage(CSheetContext& context)
    : CTaskPage(context, tr("Task Type")),
      m_name(new QLineEdit(this)),
      m_comment(new QPlainTextEdit(this)),
      m_type(new QLineEdit(this)) {
  m_name->setObjectName(QStringLiteral("taskNameEdit"));
  m_comment->setObjectName(QStringLiteral("commentEdit"));
  // A note needs no tab characters: Tab moves on, as in every other field.
  m_comment->setTabChangesFocus(true);
  m_type->setObjectName(QStringLiteral("taskTypeEdit"));
  m_type->setReadOnly(true);
  auto* form = new QFormLayout(this);
  form->addRow(tr("Task Name"), m_name);
  form->addRow(tr("Comment"), m_comment);
  form->addRow(tr("Task Type"), m_type);
}

void CTaskTypePage::Load() {
  const CTaskItem& task = Task();
  QString name = ToQt(task.TaskName);
  if (name.isEmpty()) name = QStringLiteral("Task %1").arg(Context().TaskNames.size() + 1);
  m_name->setText(name);
  m_comment->setPlainText(ToQt(task.Comment));
  const char* description = TaskTypeDescription(task.TaskType);
  m_type->setText(description ? QString::fromUtf8(description) : QString());
}

bool CTaskTypePage::Leave() {
  const std::string name = FromQt(m_name->text());
  const std::string problem = ValidateTaskName(name, Context().TaskNames, Context().EditIndex);
  if (!problem.empty()) {
    ui::Dialogs::Warning(this, ToQt(problem));
    m_name->setFocus();
    return false;
  }
  Task().TaskName = TrimmedTaskName(name);
  Task().Comment = FromQt(m_comment->toPlainText());
  return true;
}

CMainPage::CMainPage(CSheetContext& context) : CTaskPage(context, QString()) {
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel(tr("Welcome to the Task Wizard"), this);
  QFont font = title->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.4);
  title->setFont(font);
  const char* description = TaskTypeDescription(context.Type());
  auto* text = new QLabel(
      QStringLiteral("Create a new task to schedule %1.").arg(QString::fromUtf8(description)),
      this);
  text->setObjectName(QStringLiteral("welcomeText"));
  text->setWordWrap(true);
  layout->addWidget(title);
  layout->addSpacing(16);
  layout->addWidget(text);
  layout->addStretch();
  layout->addWidget(new QLabel(tr("Click Next to continue, or Cancel to exit."), this));
}

}  // namespace brevanto::wizard
