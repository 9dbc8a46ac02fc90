#include "ui/wizard/TaskTypeChooser.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "tasks/TaskKinds.h"
#include "ui/Dialogs.h"
#include "ui/HelpWindow.h"

namespace brevanto::wizard {

CTaskTypeChooser::CTaskTypeChooser(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("taskTypeChooser"));
  setWindowTitle(tr("Create a new task"));
  auto* layout = new QVBoxLayout(this);
  auto* group = new QButtonGroup(this);
  auto addGroup = [&](const QString& title, KindGroup kindGroup) {
    auto* box = new QGroupBox(title, this);
    auto* grid = new QGridLayout(box);
    int row = 0;
    for (const TaskKind& kind : TaskKinds()) {
      if (kind.Group != kindGroup) continue;
      const int type = static_cast<int>(kind.Type);
      auto* radio = new QRadioButton(tr(kind.ChooserText), box);
      radio->setObjectName(QStringLiteral("type%1Radio").arg(type));
      group->addButton(radio, type);
      m_radios.push_back({type, radio});
      grid->addWidget(radio, row, 0);
      if (kind.ChooserExplanation) {
        auto* label = new QLabel(tr(kind.ChooserExplanation), box);
        label->setWordWrap(true);
        label->setMinimumWidth(360);
        grid->addWidget(label, row, 1);
      }
      ++row;
    }
    layout->addWidget(box);
  };
  addGroup(tr("Backup"), KindGroup::Backup);
  addGroup(tr("Restore"), KindGroup::Restore);
  addGroup(tr("Accessories"), KindGroup::Accessories);
  m_radios.front().second->setChecked(true);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* create = buttons->addButton(tr("Create &Task"), QDialogButtonBox::AcceptRole);
  create->setObjectName(QStringLiteral("createTaskButton"));
  create->setDefault(true);
  connect(create, &QPushButton::clicked, this, &QDialog::accept);
  connect(buttons->addButton(tr("&Cancel"), QDialogButtonBox::RejectRole), &QPushButton::clicked,
          this, &QDialog::reject);
  connect(buttons->addButton(tr("&Help"), QDialogButtonBox::HelpRole), &QPushButton::clicked, this,
          [] { ui::HelpWindow::Open(QStringLiteral("::/taskwizard/choosetasktype.html")); });
  layout->addWidget(buttons);
}

void CTaskTypeChooser::accept() {
  m_chosen = 0;
  for (const auto& [type, radio] : m_radios) {
    if (radio->isChecked()) m_chosen = type;
  }
  if (m_chosen == 0) {
    ui::Dialogs::Warning(this, tr("Please choose a task type!"));
    return;
  }
  QDialog::accept();
}

}  // namespace brevanto::wizard
