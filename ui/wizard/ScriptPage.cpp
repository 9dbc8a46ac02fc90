#include "ui/wizard/ScriptPage.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engines/StatementSplitter.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

CSQLScriptPage::CSQLScriptPage(CSheetContext& context)
    : CTaskPage(context, tr("SQL Script")), m_script(new QPlainTextEdit(this)) {
  setObjectName(QStringLiteral("sqlScriptPage"));
  m_script->setObjectName(QStringLiteral("scriptEdit"));
  m_script->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_script, 1);
  auto* add = new QPushButton(tr("Add the script from a SQL file"), this);
  add->setObjectName(QStringLiteral("addScriptButton"));
  layout->addWidget(add, 0, Qt::AlignLeft);
  connect(add, &QPushButton::clicked, this, &CSQLScriptPage::AddFromFile);
}

void CSQLScriptPage::Load() {
  QString text;
  for (const std::string& statement : Task().ScriptStatements) text += ToQt(statement) + '\n';
  m_script->setPlainText(text);
}

void CSQLScriptPage::AddFromFile() {
  const QString path = ui::Dialogs::OpenFileName(this, tr("SQL Files (*.sql)"));
  if (path.isEmpty()) return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ui::Dialogs::Stop(this, tr("Failed to open the file!"));
    return;
  }
  m_script->setPlainText(QString::fromUtf8(file.readAll()));
}

bool CSQLScriptPage::Leave() {
  std::vector<std::string> statements = SplitSqlStatements(FromQt(m_script->toPlainText()));
  if (statements.empty()) {
    ui::Dialogs::Warning(this, tr("Please input the SQL script!"));
    m_script->setFocus();
    return false;
  }
  Task().ScriptStatements = std::move(statements);
  return true;
}

}  // namespace brevanto::wizard
