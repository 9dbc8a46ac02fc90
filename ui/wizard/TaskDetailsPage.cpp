#include "ui/wizard/TaskDetailsPage.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "ui/Text.h"
#include "ui/wizard/SummaryText.h"

namespace brevanto::wizard {

CTaskDetailsPage::CTaskDetailsPage(CSheetContext& context)
    : CTaskPage(context, QString()), m_summary(new QPlainTextEdit(this)) {
  setObjectName(QStringLiteral("taskDetailsPage"));
  m_summary->setObjectName(QStringLiteral("summaryEdit"));
  m_summary->setReadOnly(true);
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      tr("Click Finish to create a new task, or click Back if you want to review or change any "
         "settings."),
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  layout->addWidget(new QLabel(tr("Task Information:"), this));
  layout->addWidget(m_summary, 1);
}

void CTaskDetailsPage::Load() {
  // The control shows line breaks; the text keeps its "\r\n" pairs.
  QString text = ui::ToQt(BuildTaskSummary(Task()));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  m_summary->setPlainText(text);
}

}  // namespace brevanto::wizard
