#include "ui/dialogs/ServerManagerDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/ServerList.h"
#include "ui/Dialogs.h"
#include "ui/HelpWindow.h"
#include "ui/Text.h"

namespace brevanto::ui {

namespace {

enum Column { kName, kServer, kPort, kUser, kPassword, kComment, kColumnCount };

// A small database drum for every row.
QIcon ServerIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 70, 120), 1));
  p.setBrush(QColor(110, 160, 220));
  p.drawRect(QRectF(2.5, 3.5, 11, 9));
  p.drawEllipse(QRectF(2.5, 10, 11, 5));
  p.setBrush(QColor(170, 205, 245));
  p.drawEllipse(QRectF(2.5, 1, 11, 5));
  return QIcon(pixmap);
}

std::optional<CServerInfo> RunEditor(QWidget* parent, ServerDlgMode mode, const CServerInfo& server,
                                     int editingIndex, const std::vector<CServerInfo>& servers) {
  CServerDlg editor(mode, server, servers, editingIndex, parent);
  if (editor.exec() != QDialog::Accepted || mode == ServerDlgMode::View) return std::nullopt;
  return editor.Server();
}

}  // namespace

CServerManagerDlg::CServerManagerDlg(CServerList& servers, QWidget* parent)
    : QDialog(parent), m_servers(servers), m_list(new QTableWidget(0, kColumnCount, this)) {
  setObjectName("serverManager");
  setWindowTitle(tr("MySQL Servers"));
  setSizeGripEnabled(true);
  m_editor = [this](QWidget* p, ServerDlgMode mode, const CServerInfo& server, int index) {
    return RunEditor(p, mode, server, index, m_servers.Entries());
  };

  auto* menuBar = new QMenuBar(this);
  QMenu* serversMenu = menuBar->addMenu(tr("&Servers"));
  auto add = [this, serversMenu](const QString& text, const char* name,
                                 void (CServerManagerDlg::*slot)()) {
    QAction* action = serversMenu->addAction(text, this, slot);
    action->setObjectName(QString::fromLatin1(name));
    // The same commands on a right click in the list.
    m_list->addAction(action);
  };
  add(tr("&Add Server..."), "addServer", &CServerManagerDlg::AddServer);
  add(tr("&Edit Server..."), "editServer", &CServerManagerDlg::EditServer);
  add(tr("&Delete Server"), "deleteServer", &CServerManagerDlg::DeleteServer);
  serversMenu->addSeparator();
  add(tr("&View Server..."), "viewServer", &CServerManagerDlg::ViewServer);
  m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
  serversMenu->addSeparator();
  add(tr("Move &Up"), "moveUp", &CServerManagerDlg::MoveUp);
  add(tr("Move Dow&n"), "moveDown", &CServerManagerDlg::MoveDown);
  serversMenu->addSeparator();
  serversMenu->addAction(tr("&Close"), this, &QDialog::reject)->setObjectName("closeServers");
  QMenu* helpMenu = menuBar->addMenu(tr("&Help"));
  helpMenu
      ->addAction(tr("&Help"), this,
                  [] { HelpWindow::Open(QStringLiteral("::/introduction/servermanager.html")); })
      ->setObjectName("serversHelp");

  m_list->setObjectName("serverList");
  // Tab leaves the list; the arrow keys move within it.
  m_list->setTabKeyNavigation(false);
  m_list->setHorizontalHeaderLabels({tr("Connection Name"), tr("Server"), tr("Port"),
                                     tr("Username"), tr("Password"), tr("Comment")});
  const int widths[kColumnCount] = {170, 170, 60, 140, 60, 260};
  for (int c = 0; c < kColumnCount; ++c) m_list->setColumnWidth(c, widths[c]);
  m_list->horizontalHeaderItem(kPort)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_list->horizontalHeaderItem(kPassword)->setTextAlignment(Qt::AlignCenter);
  m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_list->horizontalHeader()->setHighlightSections(false);
  m_list->verticalHeader()->hide();
  m_list->verticalHeader()->setDefaultSectionSize(20);
  m_list->setShowGrid(true);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setWordWrap(false);
  connect(m_list, &QTableWidget::cellDoubleClicked, this, [this] { EditServer(); });
  // Enter on a row edits it, as a double-click does.
  for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* enter = new QShortcut(QKeySequence(key), m_list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(enter, &QShortcut::activated, this, [this] { EditServer(); });
  }
  auto* del = new QShortcut(QKeySequence(Qt::Key_Delete), m_list, nullptr, nullptr,
                            Qt::WidgetShortcut);
  connect(del, &QShortcut::activated, this, &CServerManagerDlg::DeleteServer);

  // The commands a user looks for beside the list, not only in its menu.
  auto* buttons = new QDialogButtonBox(this);
  auto button = [this, buttons](const QString& text, const char* name, QDialogButtonBox::ButtonRole role,
                                void (CServerManagerDlg::*slot)()) {
    QPushButton* pushed = buttons->addButton(text, role);
    pushed->setObjectName(QString::fromLatin1(name));
    pushed->setAutoDefault(false);
    connect(pushed, &QPushButton::clicked, this, slot);
    return pushed;
  };
  button(tr("&Add..."), "addServerButton", QDialogButtonBox::ActionRole,
         &CServerManagerDlg::AddServer);
  button(tr("&Edit..."), "editServerButton", QDialogButtonBox::ActionRole,
         &CServerManagerDlg::EditServer);
  button(tr("&Delete"), "deleteServerButton", QDialogButtonBox::ActionRole,
         &CServerManagerDlg::DeleteServer);
  QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
  close->setObjectName(QStringLiteral("closeServersButton"));
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setMenuBar(menuBar);
  layout->addWidget(m_list);
  auto* buttonRow = new QVBoxLayout;
  buttonRow->setContentsMargins(8, 0, 8, 8);
  buttonRow->addWidget(buttons);
  layout->addLayout(buttonRow);
  resize(880, 320);

  const std::vector<CServerInfo>& entries = m_servers.Entries();
  m_list->setRowCount(static_cast<int>(entries.size()));
  for (int row = 0; row < m_list->rowCount(); ++row) {
    FillRow(row, entries[static_cast<std::size_t>(row)]);
  }
}

void CServerManagerDlg::FillRow(int row, const CServerInfo& server) {
  const QString texts[kColumnCount] = {
      ToQt(server.ConnectionName),
      ToQt(server.Host),
      QString::number(server.Port),
      ToQt(server.UserName),
      server.SavePassword != 0 ? QStringLiteral("****") : QStringLiteral("NULL"),
      ToQt(server.Comment)};
  for (int c = 0; c < kColumnCount; ++c) {
    auto* item = new QTableWidgetItem(texts[c]);
    if (c == kName) item->setIcon(ServerIcon());
    if (c == kPort) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (c == kPassword) item->setTextAlignment(Qt::AlignCenter);
    m_list->setItem(row, c, item);
  }
}

int CServerManagerDlg::ChosenRow() {
  const QList<QTableWidgetSelectionRange> ranges = m_list->selectedRanges();
  if (ranges.isEmpty()) {
    Dialogs::Warning(this, tr("Please choose a server item!"));
    return -1;
  }
  return ranges.constFirst().topRow();
}

void CServerManagerDlg::AddServer() {
  CServerInfo fresh;  // localhost:3306, root, nothing checked
  const std::optional<CServerInfo> added = m_editor(this, ServerDlgMode::Add, fresh, -1);
  if (!added) return;
  m_servers.Append(*added);
  const int row = m_list->rowCount();
  m_list->insertRow(row);
  FillRow(row, *added);
  m_list->selectRow(row);
}

void CServerManagerDlg::EditServer() {
  const int row = ChosenRow();
  if (row < 0) return;
  const std::optional<CServerInfo> edited =
      m_editor(this, ServerDlgMode::Edit, m_servers.At(row), row);
  if (!edited) return;
  m_servers.ReplaceAt(row, *edited);
  FillRow(row, *edited);
}

void CServerManagerDlg::ViewServer() {
  const int row = ChosenRow();
  if (row < 0) return;
  m_editor(this, ServerDlgMode::View, m_servers.At(row), row);
}

void CServerManagerDlg::DeleteServer() {
  const int row = ChosenRow();
  if (row < 0) return;
  if (Dialogs::AskYesNo(this, tr("Are you sure you wish to DELETE the server information now?")) !=
      Answer::Yes) {
    return;
  }
  m_servers.RemoveAt(row);
  m_list->removeRow(row);
}

void CServerManagerDlg::MoveUp() {
  const int row = ChosenRow();
  if (row > 0) Move(row, row - 1);
}

void CServerManagerDlg::MoveDown() {
  const int row = ChosenRow();
  if (row >= 0 && row + 1 < m_list->rowCount()) Move(row, row + 1);
}

void CServerManagerDlg::Move(int row, int neighbour) {
  if (neighbour < row) {
    m_servers.MoveUp(row);
  } else {
    m_servers.MoveDown(row);
  }
  FillRow(row, m_servers.At(row));
  FillRow(neighbour, m_servers.At(neighbour));
  m_list->selectRow(neighbour);
}

}  // namespace brevanto::ui
