#include "ui/dialogs/ServerDlg.h"

#include <thread>

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/ServerList.h"
#include "engines/MySqlConnection.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/dialogs/Named.h"
#include "ui/dialogs/SpinEdit.h"
#include "ui/dialogs/TlsFields.h"
#include "engines/ServerTls.h"
#include "appcore/WizardText.h"

namespace brevanto::ui {

CServerDlg::CServerDlg(ServerDlgMode mode, const CServerInfo& server,
                       const std::vector<CServerInfo>& servers, int editingIndex, QWidget* parent)
    : QDialog(parent),
      m_mode(mode),
      m_servers(servers),
      m_editingIndex(editingIndex),
      m_server(server),
      m_name(Named(new QLineEdit(this), "connectionName")),
      m_host(Named(new QLineEdit(this), "host")),
      m_port(Named(new CSpinEdit(1, 65535, 5, this), "port")),
      m_user(Named(new QLineEdit(this), "userName")),
      m_savePassword(Named(new QCheckBox(tr("Save password"), this), "savePassword")),
      m_password(Named(new QLineEdit(this), "password")),
      m_compression(Named(new QCheckBox(tr("Use compression protocol"), this), "useCompression")),
      m_ssl(Named(new QCheckBox(tr("Use SSL protocol"), this), "useSSL")),
      m_comment(Named(new QPlainTextEdit(this), "comment")),
      m_test(Named(new QPushButton(tr("&Test connection"), this), "testConnection")) {
  setObjectName("serverDialog");
  setWindowTitle(tr("MySQL Server"));
  m_password->setEchoMode(QLineEdit::Password);

  auto* serverBox = new QGroupBox(tr("MySQL Server"), this);
  auto* serverForm = new QFormLayout(serverBox);
  serverForm->addRow(tr("Host name or IP address"), m_host);
  m_host->setToolTip(tr("A host name or IP address is reached over TCP/IP at the port below, \"localhost\" "
         "too. A path that starts with \"/\" is the server's Unix socket file (the port is "
         "then not used), e.g. /run/mysqld/mysqld.sock for an account that logs in by socket."));
  serverForm->addRow(tr("MySQL Host Port"), m_port);
  serverForm->addRow(tr("Username"), m_user);
  serverForm->addRow(QString(), m_savePassword);
  serverForm->addRow(tr("Password"), m_password);
  serverForm->addRow(QString(), m_compression);
  serverForm->addRow(QString(), m_ssl);
  m_tls = new CTlsFields(m_ssl, serverForm, serverBox);
  m_port->setMaximumWidth(90);

  auto* commentBox = new QGroupBox(tr("Comment"), this);
  auto* commentLayout = new QVBoxLayout(commentBox);
  commentLayout->addWidget(m_comment);
  m_comment->setMaximumHeight(70);
  // A one-line note needs no tab characters; Tab moves on like in every other field.
  m_comment->setTabChangesFocus(true);

  auto* nameRow = new QFormLayout;
  nameRow->addRow(tr("Connection Name"), m_name);

  auto* ok = Named(new QPushButton(tr("O&K"), this), "ok");
  auto* cancel = Named(new QPushButton(tr("&Cancel"), this), "cancel");
  ok->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_test);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(nameRow);
  layout->addWidget(serverBox);
  layout->addWidget(commentBox);
  layout->addLayout(buttons);

  m_name->setText(ToQt(server.ConnectionName));
  m_host->setText(ToQt(server.Host));
  const std::uint32_t port = server.Port == 0 || server.Port > 65535 ? 3306 : server.Port;
  m_port->setText(QString::number(port));
  m_user->setText(ToQt(server.UserName));
  m_savePassword->setChecked(server.SavePassword != 0);
  m_password->setText(server.SavePassword != 0 ? ToQt(server.Password) : QString());
  m_password->setEnabled(server.SavePassword != 0);
  m_compression->setChecked(server.UseCompression != 0);
  m_ssl->setChecked(server.UseSSL != 0);
  m_tls->Show(server);
  m_comment->setPlainText(ToQt(server.Comment));

  connect(m_savePassword, &QCheckBox::toggled, this, [this](bool on) {
    m_password->clear();
    m_password->setEnabled(on);
  });
  connect(ok, &QPushButton::clicked, this, &CServerDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CServerDlg::reject);
  connect(m_test, &QPushButton::clicked, this, &CServerDlg::TestConnection);

  if (mode == ServerDlgMode::View) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_name, m_host, m_port, m_user, m_savePassword, m_password,
                                         m_compression, m_ssl, m_comment, m_test}) {
      w->setEnabled(false);
    }
    m_tls->SetEditable(false);
  }
}

CServerInfo CServerDlg::FieldValues() const {
  CServerInfo s = m_server;
  s.ConnectionName = FromQt(m_name->text());
  s.Host = FromQt(m_host->text());
  s.Port = ParsePortText(FromQt(m_port->text()));
  s.UserName = FromQt(m_user->text());
  s.SavePassword = m_savePassword->isChecked() ? 1 : 0;
  s.Password = FromQt(m_password->text());
  s.UseCompression = m_compression->isChecked() ? 1 : 0;
  s.UseSSL = m_ssl->isChecked() ? 1 : 0;
  m_tls->Store(s);
  s.Comment = FromQt(m_comment->toPlainText());
  return s;
}

void CServerDlg::accept() {
  if (m_mode == ServerDlgMode::View) {
    QDialog::accept();
    return;
  }
  const ServerEntryInput input{FromQt(m_name->text()),     FromQt(m_host->text()),
                               FromQt(m_port->text()),     FromQt(m_user->text()),
                               FromQt(m_password->text()), m_savePassword->isChecked()};
  const ServerEntryProblem problem = ValidateServerEntry(input, m_servers, m_editingIndex);
  if (!problem.ok()) {
    Dialogs::Warning(this, ToQt(problem.Message));
    QWidget* field = problem.Field == ServerEntryField::Host       ? m_host
                     : problem.Field == ServerEntryField::Port     ? static_cast<QWidget*>(m_port)
                     : problem.Field == ServerEntryField::UserName ? m_user
                     : problem.Field == ServerEntryField::Password ? m_password
                                                                   : m_name;
    field->setFocus();
    return;
  }
  if (!m_tls->Validate(this)) return;
  m_server = FieldValues();
  QDialog::accept();
}

void CServerDlg::TestConnection() {
  if (m_testing) return;
  const wizard::ServerProblem problem =
      wizard::ValidateServerFields(FromQt(m_host->text()), FromQt(m_port->text()));
  if (!problem.ok()) {
    Dialogs::Warning(this, ToQt(problem.Message));
    (problem.Field == wizard::ServerField::Host ? static_cast<QWidget*>(m_host) : m_port)
        ->setFocus();
    return;
  }
  if (!m_tls->Validate(this)) return;
  m_testing = true;
  m_test->setEnabled(false);
  setCursor(Qt::WaitCursor);
  // The round trip can take as long as the network's time-out: it runs on its own thread
  // and reports back through the event loop, to this dialog only if it is still open.
  QPointer<CServerDlg> self(this);
  const CServerInfo server = FieldValues();
  std::thread([self, server] {
    CMySQLConnection connection;
    MySqlError error;
    const bool connected = ConnectServer(server, connection, error);
    const std::string version = connected ? connection.ServerVersionText() : std::string();
    connection.Close();
    // What the user may choose to trust, read while still off the UI thread.
    const std::string fingerprint =
        !connected && MayOfferTrust(server, error) ? ServerCertificateFingerprint(server) : "";
    QMetaObject::invokeMethod(
        qApp,
        [self, server, connected, version, error, fingerprint] {
          if (self) self->ShowTestResult(server, connected, version, error, fingerprint);
        },
        Qt::QueuedConnection);
  }).detach();
}

void CServerDlg::ShowTestResult(const CServerInfo& server, bool connected,
                                const std::string& version, const MySqlError& error,
                                const std::string& fingerprint) {
  unsetCursor();
  m_test->setEnabled(true);
  m_testing = false;
  if (connected) {
    Dialogs::Information(this, ToQt(wizard::ConnectSuccessText(version)));
  } else if (!fingerprint.empty()) {
    if (AskToTrustCertificate(this, server, error, fingerprint)) {
      m_tls->Pin(fingerprint);
      // Proves the pin at once; its result ends this test.
      TestConnection();
      return;
    }
  } else {
    Dialogs::Stop(this, ToQt(wizard::ConnectFailureText(error.Number, error.Text)));
  }
  emit testFinished();
}

}  // namespace brevanto::ui
