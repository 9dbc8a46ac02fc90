#include "ui/RenameTaskDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "ui/Dialogs.h"

namespace brevanto::ui {

RenameTaskDialog::RenameTaskDialog(const QString& name,
                                   std::function<bool(const QString&)> nameTaken, QWidget* parent)
    : QDialog(parent), m_name(new QLineEdit(name, this)), m_nameTaken(std::move(nameTaken)) {
  setObjectName("renameTaskDialog");
  setWindowTitle(tr("Rename Task"));
  m_name->setObjectName("taskNameEdit");
  m_name->selectAll();
  m_name->setMinimumWidth(280);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("renameButtons");
  connect(buttons, &QDialogButtonBox::accepted, this, &RenameTaskDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &RenameTaskDialog::reject);
  auto* layout = new QFormLayout(this);
  layout->addRow(tr("Task Name"), m_name);
  layout->addRow(buttons);
}

QString RenameTaskDialog::Name() const {
  return m_name->text();
}

void RenameTaskDialog::accept() {
  const QString name = Name();
  QString problem;
  if (name.isEmpty()) {
    problem = tr("Please input task name!");
  } else if (m_nameTaken && m_nameTaken(name)) {
    problem = tr("The task name is already existed!\nPlease choose a different task name.");
  }
  if (!problem.isEmpty()) {
    Dialogs::Warning(this, problem);
    m_name->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace brevanto::ui
