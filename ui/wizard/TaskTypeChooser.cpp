#include "ui/wizard/TaskTypeChooser.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/Dialogs.h"
#include "ui/HelpWindow.h"

namespace brevanto::wizard {

namespace {

struct Choice {
  int Type;
  const char* Text;
  const char* Explanation;  // nullptr: none
};

const Choice kBackup[] = {
    {1, "Backup MySQL databases to SQL/PHP files",
     "Backup one/multiple MySQL database(s) on a remote/local server to the local SQL/PHP file(s) "
     "via TCP/IP protocol (Use SAME database names)"},
    {2, "Backup MySQL databases to another server",
     "Backup one/multiple MySQL database(s) on a remote/local server to another remote/local "
     "server via TCP/IP protocol (Use SAME database names)"},
    {3, "Backup a MySQL database to another database",
     "Backup one MySQL database on a remote/local server to another database on the "
     "different/same server via TCP/IP protocol (Choose ANY database name)"},
};
const Choice kRestore[] = {
    {6, "Restore MySQL databases by SQL files (TCP/IP, Use SAME database names)", nullptr},
    {7, "Restore MySQL databases by another server (TCP/IP, Use SAME database names)", nullptr},
    {8, "Restore a MySQL database by another database (TCP/IP, Choose ANY database name)", nullptr},
};
const Choice kAccessories[] = {
    {4, "Export MySQL tables and views to CSV/XML/HTML/TEXT files (TCP/IP protocol)", nullptr},
    {5, "Execute MySQL script (TCP/IP protocol)", nullptr},
};

}  // namespace

CTaskTypeChooser::CTaskTypeChooser(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("taskTypeChooser"));
  setWindowTitle(tr("Create a new task"));
  auto* layout = new QVBoxLayout(this);
  auto* group = new QButtonGroup(this);
  auto addGroup = [&](const QString& title, const Choice* begin, const Choice* end) {
    auto* box = new QGroupBox(title, this);
    auto* grid = new QGridLayout(box);
    int row = 0;
    for (const Choice* c = begin; c != end; ++c, ++row) {
      auto* radio = new QRadioButton(tr(c->Text), box);
      radio->setObjectName(QStringLiteral("type%1Radio").arg(c->Type));
      group->addButton(radio, c->Type);
      m_radios[c->Type - 1] = radio;
      grid->addWidget(radio, row, 0);
      if (c->Explanation) {
        auto* label = new QLabel(tr(c->Explanation), box);
        label->setWordWrap(true);
        label->setMinimumWidth(360);
        grid->addWidget(label, row, 1);
      }
    }
    layout->addWidget(box);
  };
  addGroup(tr("Backup"), std::begin(kBackup), std::end(kBackup));
  addGroup(tr("Restore"), std::begin(kRestore), std::end(kRestore));
  addGroup(tr("Accessories"), std::begin(kAccessories), std::end(kAccessories));
  m_radios[0]->setChecked(true);

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
  for (int i = 0; i < 8; ++i) {
    if (m_radios[i]->isChecked()) m_chosen = i + 1;
  }
  if (m_chosen == 0) {
    ui::Dialogs::Warning(this, tr("Please choose a task type!"));
    return;
  }
  QDialog::accept();
}

}  // namespace brevanto::wizard
