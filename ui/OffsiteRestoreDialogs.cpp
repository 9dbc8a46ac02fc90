#include "ui/OffsiteRestoreDialogs.h"

#include <algorithm>
#include <set>
#include <thread>

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "remote/RemoteCopyFetch.h"
#include "remote/RemoteStore.h"
#include "schedule/RunStatusText.h"
#include "tasks/RemoteOptions.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"

namespace brevanto::ui {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog, const QString& okText) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(okText);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// The one database a copy's tables and objects belong to, or "".
std::string OnlyDatabase(const RemoteCopy& copy) {
  if (!copy.Manifest) return {};
  std::set<std::string> databases;
  for (const ManifestTable& table : copy.Manifest->Tables) databases.insert(table.Database);
  for (const ManifestObject& object : copy.Manifest->Objects) databases.insert(object.Database);
  return databases.size() == 1 ? *databases.begin() : std::string();
}

}  // namespace

CopyLister StoreCopyLister() {
  return [](const CTaskItem& backup, std::vector<RemoteCopy>& copies) {
    std::unique_ptr<RemoteStore> store;
    Status status = MakeRemoteStore(RemoteOptionsOf(backup), TransferControl{}, store);
    if (status.ok()) status = ListRemoteCopies(*store, copies);
    return status;
  };
}

std::vector<CTaskItem> TasksWithOffsiteTarget(const std::vector<CTaskItem>& tasks) {
  std::vector<CTaskItem> backups;
  for (const CTaskItem& task : tasks) {
    if (task.GetType() == TaskType::BackupToFiles && !RemoteOptionsOf(task).Empty()) {
      backups.push_back(task);
    }
  }
  return backups;
}

OffsiteCopyDialog::OffsiteCopyDialog(std::vector<CTaskItem> backups, int preselected,
                                     CopyLister lister, QWidget* parent)
    : QDialog(parent),
      m_backups(std::move(backups)),
      m_lister(std::move(lister)),
      m_taskBox(new QComboBox(this)),
      m_copyList(new QTreeWidget(this)),
      m_state(new QLabel(this)),
      m_generation(std::make_shared<int>(0)) {
  setObjectName("offsiteCopyDialog");
  setWindowTitle(tr("Restore Off-site Copy"));
  m_taskBox->setObjectName("backupTaskBox");
  for (const CTaskItem& task : m_backups) m_taskBox->addItem(ToQt(task.TaskName));
  m_copyList->setObjectName("offsiteCopyList");
  m_copyList->setRootIsDecorated(false);
  m_copyList->setHeaderLabels(
      {tr("Copy"), tr("Started (UTC)"), tr("Server"), tr("Size"), tr("State")});
  m_copyList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_copyList->setMinimumWidth(560);
  m_state->setObjectName("offsiteCopyState");
  m_state->setWordWrap(true);
  auto* taskLabel = new QLabel(tr("&Backup task:"), this);
  taskLabel->setBuddy(m_taskBox);
  auto* copyLabel = new QLabel(tr("&Copy in %1:").arg(QString()), this);
  copyLabel->setBuddy(m_copyList);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(taskLabel);
  layout->addWidget(m_taskBox);
  layout->addWidget(copyLabel);
  layout->addWidget(m_copyList);
  layout->addWidget(m_state);
  layout->addWidget(OkCancel(this, tr("&Next >")));
  connect(m_taskBox, &QComboBox::currentIndexChanged, this, [this, copyLabel] {
    copyLabel->setText(tr("&Copy in %1:").arg(ToQt(RemoteTargetText(RemoteOptionsOf(Backup())))));
    ListCopies();
  });
  m_taskBox->setCurrentIndex(-1);
  m_taskBox->setCurrentIndex(
      preselected >= 0 && preselected < static_cast<int>(m_backups.size()) ? preselected : 0);
}

OffsiteCopyDialog::~OffsiteCopyDialog() {
  ++*m_generation;  // a listing still under way finds no dialog to answer
}

const CTaskItem& OffsiteCopyDialog::Backup() const {
  static const CTaskItem kNone;
  const int index = m_taskBox->currentIndex();
  return index >= 0 && index < static_cast<int>(m_backups.size()) ? m_backups[index] : kNone;
}

void OffsiteCopyDialog::ListCopies() {
  m_copyList->clear();
  m_copies.clear();
  m_listed = false;
  m_state->setText(tr("Listing the copies..."));
  const int generation = ++*m_generation;
  // The thread keeps what it needs; the dialog may close before the store answers.
  std::thread([lister = m_lister, task = Backup(), generation, alive = m_generation,
               receiver = QPointer<OffsiteCopyDialog>(this)] {
    std::vector<RemoteCopy> copies;
    const Status status = lister(task, copies);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [=] {
          if (receiver && *alive == generation) receiver->ShowCopies(generation, status, copies);
        },
        Qt::QueuedConnection);
  }).detach();
}

void OffsiteCopyDialog::ShowCopies(int generation, const Status& status,
                                   const std::vector<RemoteCopy>& copies) {
  if (generation != *m_generation) return;
  m_listed = true;
  m_copies = copies;
  if (!status.ok()) {
    m_state->setText(ToQt(status.message()));
  } else if (copies.empty()) {
    m_state->setText(tr("The off-site target holds no copies."));
  } else {
    m_state->clear();
  }
  QTreeWidgetItem* newest = nullptr;
  for (const RemoteCopy& copy : m_copies) {
    const QString started =
        copy.Manifest ? ToQt(ManifestTimeText(copy.Manifest->Started)) : QString();
    QString server;
    if (copy.Manifest) {
      const ManifestServer& from = copy.Manifest->Server;
      server = ToQt(from.Hostname.empty() ? from.Host : from.Hostname);
    }
    auto* item =
        new QTreeWidgetItem(m_copyList, {ToQt(RemoteCopyName(copy)), started, server,
                                         ToQt(ByteCountText(static_cast<std::int64_t>(copy.Size))),
                                         copy.Complete ? tr("Complete") : ToQt(copy.Problem)});
    // A copy that is not whole cannot be restored.
    if (!copy.Complete) item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
    if (copy.Complete) newest = item;
  }
  if (newest != nullptr) m_copyList->setCurrentItem(newest);
  FitColumns();
  emit listed();
}

void OffsiteCopyDialog::FitColumns() {
  // The names, times and problems arrive after the dialog opened at its first size: grow it
  // so every column shows whole, as far as the screen allows.
  const QAbstractItemView* view = m_copyList;
  int columns = 0;
  for (int column = 0; column < m_copyList->columnCount(); ++column) {
    columns +=
        std::max(view->sizeHintForColumn(column), m_copyList->header()->sectionSizeHint(column));
  }
  const int chrome = width() - m_copyList->viewport()->width();
  int wanted = columns + chrome + m_copyList->verticalScrollBar()->sizeHint().width();
  if (const QScreen* shown = screen())
    wanted = std::min(wanted, shown->availableGeometry().width());
  if (wanted > width()) resize(wanted, height());
}

void OffsiteCopyDialog::accept() {
  QTreeWidgetItem* item = m_copyList->currentItem();
  const int row = item == nullptr ? -1 : m_copyList->indexOfTopLevelItem(item);
  if (row < 0 || row >= static_cast<int>(m_copies.size()) || !m_copies[row].Complete) {
    Dialogs::Warning(this, tr("Please choose a complete copy!"));
    return;
  }
  m_chosen = m_copies[row];
  QDialog::accept();
}

OffsiteTargetDialog::OffsiteTargetDialog(const std::vector<CServerInfo>& servers,
                                         const RemoteCopy& copy, const std::string& identityFile,
                                         QWidget* parent)
    : QDialog(parent),
      m_servers(servers),
      m_encrypted(copy.Manifest && !copy.Manifest->Recipients.empty()),
      m_serverBox(new QComboBox(this)),
      m_database(new QLineEdit(ToQt(OnlyDatabase(copy)), this)),
      m_identity(new QLineEdit(ToQt(identityFile), this)) {
  setObjectName("offsiteTargetDialog");
  setWindowTitle(tr("Restore Off-site Copy"));
  m_serverBox->setObjectName("restoreServerBox");
  for (const CServerInfo& server : m_servers) {
    m_serverBox->addItem(ToQt(server.ConnectionName.empty() ? server.Host : server.ConnectionName));
  }
  m_database->setObjectName("restoreDatabaseEdit");
  m_identity->setObjectName("identityFileEdit");
  // Room for a path under a home folder, so the remembered file is read whole.
  m_identity->setMinimumWidth(m_identity->fontMetrics().averageCharWidth() * 44);
  auto* browse = new QPushButton(tr("B&rowse..."), this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString path =
        Dialogs::OpenFileName(this, tr("Identity Files (*.txt *.key *.age);;All Files (*)"));
    if (!path.isEmpty()) m_identity->setText(path);
  });
  auto* identityRow = new QHBoxLayout;
  identityRow->addWidget(m_identity);
  identityRow->addWidget(browse);
  auto* form = new QFormLayout(this);
  form->addRow(new QLabel(tr("Restore the copy %1 into:").arg(ToQt(RemoteCopyName(copy))), this));
  form->addRow(tr("&Server:"), m_serverBox);
  form->addRow(tr("&Database:"), m_database);
  if (m_encrypted) {
    // A label made from text alone would have no buddy: its "&" would show, its key do nothing.
    auto* identityLabel = new QLabel(tr("&Identity file:"), this);
    identityLabel->setBuddy(m_identity);
    form->addRow(identityLabel, identityRow);
  } else {
    m_identity->hide();
    browse->hide();
  }
  form->addRow(OkCancel(this, tr("&Next >")));
}

CServerInfo OffsiteTargetDialog::Server() const {
  const int index = m_serverBox->currentIndex();
  return index >= 0 && index < static_cast<int>(m_servers.size()) ? m_servers[index]
                                                                  : CServerInfo{};
}

std::string OffsiteTargetDialog::Database() const {
  return FromQt(m_database->text().trimmed());
}

std::string OffsiteTargetDialog::IdentityFile() const {
  return m_encrypted ? FromQt(m_identity->text().trimmed()) : std::string();
}

void OffsiteTargetDialog::accept() {
  QString problem;
  if (m_serverBox->currentIndex() < 0) {
    problem = tr("Please add the server to restore into first (Tools > Servers)!");
  } else if (Database().empty()) {
    problem = tr("Please input the database to restore into!");
  } else if (m_encrypted && IdentityFile().empty()) {
    problem = tr("The copy is encrypted: please choose the identity file that opens it!");
  }
  if (!problem.isEmpty()) {
    Dialogs::Warning(this, problem);
    return;
  }
  QDialog::accept();
}

QString OffsiteRestoreQuestion(const CTaskItem& backup, const RemoteCopy& copy,
                               const CServerInfo& server, const std::string& database) {
  const std::string serverName =
      server.ConnectionName.empty() ? server.Host : server.ConnectionName;
  return QObject::tr(
             "Do you want to RESTORE the off-site copy %1 of \"%2\" (%3 files, %4) from "
             "%5 into the database \"%6\" on \"%7\" now?\n\nTables of that database "
             "that the copy holds are replaced. A task \"%8\" is added to the list "
             "and runs at once.")
      .arg(ToQt(RemoteCopyName(copy)), ToQt(backup.TaskName),
           QString::number(copy.ObjectNames.size()),
           ToQt(ByteCountText(static_cast<std::int64_t>(copy.Size))),
           ToQt(RemoteTargetText(RemoteOptionsOf(backup))), ToQt(database), ToQt(serverName),
           ToQt("Restore " + backup.TaskName + " " + RemoteCopyName(copy)));
}

}  // namespace brevanto::ui
