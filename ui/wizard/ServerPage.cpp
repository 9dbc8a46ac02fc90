#include "ui/wizard/ServerPage.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "appcore/ApplicationCore.h"
#include "appcore/WizardText.h"
#include "core/ServerList.h"
#include "ui/Dialogs.h"
#include "ui/HelpWindow.h"
#include "ui/Text.h"
#include "ui/dialogs/SpinEdit.h"
#include "ui/dialogs/TlsFields.h"
#include "ui/wizard/PageSequence.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

void ShowConnectFailure(QWidget* parent, const MySqlError& error) {
  const QString text = ToQt(ConnectFailureText(error.Number, error.Text));
  if (ui::Dialogs::Scripted()) {
    ui::Dialogs::Stop(parent, text);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Brevanto"), text, QMessageBox::NoButton,
                  parent);
  box.addButton(QObject::tr("O&K"), QMessageBox::AcceptRole);
  QPushButton* help =
      box.addButton(QObject::tr("&How to connect to a MySQL server"), QMessageBox::HelpRole);
  box.exec();
  if (box.clickedButton() == help) ui::HelpWindow::Open(QStringLiteral("::/howtoconnect.html"));
}

CMySQLServerPage::CMySQLServerPage(CSheetContext& context, Role role)
    : CTaskPage(context, tr("MySQL Server")),
      m_role(role),
      m_layout(new QVBoxLayout(this)),
      m_connections(new QComboBox(this)),
      m_new(new QPushButton(tr("New"), this)),
      m_host(new QLineEdit(this)),
      m_port(new ui::CSpinEdit(1, 65535, 5, this)),
      m_user(new QLineEdit(this)),
      m_password(new QLineEdit(this)),
      m_compression(new QCheckBox(tr("Use compression protocol"), this)),
      m_ssl(new QCheckBox(tr("Use SSL protocol"), this)),
      m_test(new QPushButton(tr("Test connection"), this)) {
  setObjectName(role == Role::Source ? QStringLiteral("sourceServerPage")
                                     : QStringLiteral("destinationServerPage"));
  m_connections->setObjectName(QStringLiteral("connectionsCombo"));
  m_host->setObjectName(QStringLiteral("hostEdit"));
  m_port->Edit()->setObjectName(QStringLiteral("portEdit"));
  m_user->setObjectName(QStringLiteral("userEdit"));
  m_password->setObjectName(QStringLiteral("passwordEdit"));
  m_password->setEchoMode(QLineEdit::Password);
  m_compression->setObjectName(QStringLiteral("compressionCheck"));
  m_ssl->setObjectName(QStringLiteral("sslCheck"));
  m_test->setObjectName(QStringLiteral("testConnectionButton"));
  m_new->setObjectName(QStringLiteral("newServerButton"));
  m_new->setEnabled(static_cast<bool>(context.NewServer) && context.Core != nullptr);

  auto* group = new QGroupBox(
      role == Role::Source ? tr("Source MySQL Server") : tr("Destination MySQL Server"), this);
  auto* form = new QFormLayout(group);
  auto* connectionRow = new QHBoxLayout;
  connectionRow->addWidget(m_connections, 1);
  connectionRow->addWidget(m_new);
  form->addRow(tr("Connections"), connectionRow);
  form->addRow(tr("Host name or IP address"), m_host);
  m_host->setToolTip(tr("A host name or IP address is reached over TCP/IP at the port below, \"localhost\" "
         "too. A path that starts with \"/\" is the server's Unix socket file (the port is "
         "then not used), e.g. /run/mysqld/mysqld.sock for an account that logs in by socket."));
  form->addRow(tr("MySQL Server Port"), m_port);
  form->addRow(tr("Username"), m_user);
  form->addRow(tr("Password"), m_password);
  form->addRow(m_compression);
  form->addRow(m_ssl);
  m_tls = new ui::CTlsFields(m_ssl, form, group);
  form->addRow(m_test);
  m_layout->addWidget(group);
  m_layout->addStretch();

  connect(m_connections, &QComboBox::activated, this, &CMySQLServerPage::ChooseConnection);
  connect(m_test, &QPushButton::clicked, this, &CMySQLServerPage::TestConnection);
  connect(m_new, &QPushButton::clicked, this, &CMySQLServerPage::AddConnection);
}

void CMySQLServerPage::AddBelowServer(QLayout* layout) {
  m_layout->insertLayout(m_layout->count() - 1, layout);
}

CServerInfo& CMySQLServerPage::StoredServer() {
  return IsSource() ? Task().SourceServer : Task().DestinationServer;
}

void CMySQLServerPage::Load() {
  m_connections->clear();
  if (Context().Core) {
    for (const CServerInfo& server : Context().Core->Servers().Entries()) {
      m_connections->addItem(QIcon::fromTheme(QStringLiteral("network-server")),
                             ToQt(server.ConnectionName));
    }
  }
  m_connections->setCurrentIndex(-1);
  ShowServer(StoredServer());
}

void CMySQLServerPage::ShowServer(const CServerInfo& server) {
  m_host->setText(ToQt(server.Host));
  m_port->setText(QString::number(server.Port));
  m_user->setText(ToQt(server.UserName));
  m_password->setText(ToQt(server.Password));
  m_compression->setChecked(server.UseCompression != 0);
  m_ssl->setChecked(server.UseSSL != 0);
  m_tls->Show(server);
}

void CMySQLServerPage::ChooseConnection(int index) {
  if (!Context().Core || index < 0) return;
  const CServerInfo server = Context().Core->Servers().At(index);
  ShowServer(server);
  if (server.Host.empty()) {
    m_host->setFocus();
  } else if (server.Port == 0 || server.Port > 65535) {
    m_port->Edit()->setFocus();
  } else if (server.UserName.empty()) {
    m_user->setFocus();
  } else if (server.Password.empty()) {
    m_password->setFocus();
  } else {
    m_compression->setFocus();
  }
}

void CMySQLServerPage::AddConnection() {
  const std::optional<CServerInfo> server = Context().NewServer(this);
  if (!server) return;
  Context().Core->Servers().Append(*server);
  m_connections->addItem(QIcon::fromTheme(QStringLiteral("network-server")),
                         ToQt(server->ConnectionName));
  const int index = m_connections->count() - 1;
  m_connections->setCurrentIndex(index);
  ChooseConnection(index);
}

bool CMySQLServerPage::ValidateFields() {
  const ServerProblem problem =
      ValidateServerFields(FromQt(m_host->text()), FromQt(m_port->text()));
  if (problem.ok()) return m_tls->Validate(this);
  ui::Dialogs::Warning(this, ToQt(problem.Message));
  (problem.Field == ServerField::Host ? m_host : m_port->Edit())->setFocus();
  return false;
}

CServerInfo CMySQLServerPage::FieldsServer() const {
  CServerInfo server = const_cast<CMySQLServerPage*>(this)->StoredServer();
  server.Host = FromQt(m_host->text());
  server.Port = ParsePortText(FromQt(m_port->text()));
  server.UserName = FromQt(m_user->text());
  server.Password = FromQt(m_password->text());
  server.UseCompression = m_compression->isChecked() ? 1 : 0;
  server.UseSSL = m_ssl->isChecked() ? 1 : 0;
  m_tls->Store(server);
  return server;
}

void CMySQLServerPage::StoreFields() {
  StoredServer() = FieldsServer();
}

void CMySQLServerPage::TestConnection() {
  if (!ValidateFields()) return;
  const CServerInfo server = FieldsServer();
  std::string version;
  MySqlError error;
  bool connected = false;
  ServerBrowser& browser = *Context().Browser;
  std::string fingerprint;
  RunOffUiThread(this, [&] {
    connected = browser.TestConnection(server, version, error);
    if (!connected && ui::MayOfferTrust(server, error)) {
      fingerprint = browser.CertificateFingerprint(server);
    }
  });
  if (connected) {
    ui::Dialogs::Information(this, ToQt(ConnectSuccessText(version)));
  } else if (fingerprint.empty()) {
    ShowConnectFailure(this, error);
  } else if (ui::AskToTrustCertificate(this, server, error, fingerprint)) {
    m_tls->Pin(fingerprint);
    TestConnection();  // proves the pin at once
  }
}

bool CMySQLServerPage::LoadCatalogue() {
  const CServerInfo server = FieldsServer();
  std::vector<DatabaseItem> catalogue;
  MySqlError error;
  bool loaded = false;
  ServerBrowser& browser = *Context().Browser;
  RunOffUiThread(this, [&] { loaded = browser.LoadCatalogue(server, catalogue, error); });
  if (!loaded) {
    ShowConnectFailure(this, error);
    return false;
  }
  Context().Catalogue = std::move(catalogue);
  return true;
}

bool CMySQLServerPage::ReachesSourceServer(const CServerInfo& server) {
  const CServerInfo& source = Task().SourceServer;
  if (IsSameServer(source, server)) return true;
  bool same = false;
  ServerBrowser& browser = *Context().Browser;
  RunOffUiThread(this, [&] { same = browser.ReachSameServer(source, server); });
  return same;
}

bool CMySQLServerPage::Leave() {
  if (!ValidateFields()) return false;
  const TaskKind& kind = ShownKind(Context().Type());
  if (!IsSource() && kind.UsesSourceServer) {
    if (ReachesSourceServer(FieldsServer())) {
      ui::Dialogs::Warning(this, tr("The destination server can't same as the source server!"));
      m_host->setFocus();
      return false;
    }
  }
  // The catalogue is what the next step chooses from.
  const auto& steps = kind.Steps;
  const bool loadsCatalogue =
      std::find(steps.begin(), steps.end(), WizardStep::ChooseDatabases) != steps.end() ||
      std::find(steps.begin(), steps.end(), WizardStep::ChooseTables) != steps.end();
  if (IsSource() && loadsCatalogue && Context().Wizard() && !LoadCatalogue()) return false;
  StoreFields();
  return true;
}

}  // namespace brevanto::wizard
