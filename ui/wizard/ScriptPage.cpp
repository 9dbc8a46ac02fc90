#include "ui/wizard/ScriptPage.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engines/SqlInput.h"
#include "engines/StatementSplitter.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

namespace {

// Scripts are indented with tabs, so Tab types one; Ctrl+Tab and Ctrl+Shift+Tab leave the
// editor for the next or previous control, so the page is still usable without a mouse.
class ScriptEdit : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const bool tab = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
    if (tab && (event->modifiers() & Qt::ControlModifier)) {
      const bool back =
          event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
      // The editor's own override refuses to move focus while Tab types text.
      QWidget::focusNextPrevChild(!back);
      event->accept();
      return;
    }
    QPlainTextEdit::keyPressEvent(event);
  }
};

}  // namespace

CSQLScriptPage::CSQLScriptPage(CSheetContext& context)
    : CTaskPage(context, tr("SQL Script")), m_script(new ScriptEdit(this)) {
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
  m_script->setPlainText(ToQt(JoinSqlStatements(Task().ScriptStatements)));
}

void CSQLScriptPage::AddFromFile() {
  const QString path = ui::Dialogs::OpenFileName(this, tr("SQL Files (*.sql)"));
  if (path.isEmpty()) return;
  std::string text;
  if (!ReadWholeSqlFile(FromQt(path), text).ok()) {
    ui::Dialogs::Stop(this, tr("Failed to open the file!"));
    return;
  }
  m_script->setPlainText(ToQt(text));
}

bool CSQLScriptPage::Leave() {
  std::vector<std::string> statements;
  const Status split = SplitSqlStatements(FromQt(m_script->toPlainText()), statements);
  if (!split.ok()) {
    ui::Dialogs::Warning(
        this, tr("The SQL script cannot be split into statements: %1").arg(ToQt(split.message())));
    m_script->setFocus();
    return false;
  }
  if (statements.empty()) {
    ui::Dialogs::Warning(this, tr("Please input the SQL script!"));
    m_script->setFocus();
    return false;
  }
  Task().ScriptStatements = std::move(statements);
  return true;
}

}  // namespace brevanto::wizard
