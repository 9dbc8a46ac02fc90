#include "ui/dialogs/TlsFields.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "appcore/WizardText.h"
#include "engines/MySqlConnection.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/dialogs/Named.h"

namespace brevanto::ui {

namespace {
// CR_SSL_CONNECTION_ERROR of the client library.
constexpr unsigned int kSslConnectionError = 2026;
}  // namespace

CTlsFields::CTlsFields(QCheckBox* useSsl, QFormLayout* form, QWidget* parent)
    : QObject(parent),
      m_useSsl(useSsl),
      m_caRow(new QWidget(parent)),
      m_caFile(Named(new QLineEdit(m_caRow), "sslCaFile")),
      m_fingerprint(Named(new QLineEdit(parent), "sslFingerprint")) {
  auto* browse = Named(new QPushButton(tr("Browse..."), m_caRow), "sslCaFileBrowse");
  auto* row = new QHBoxLayout(m_caRow);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(m_caFile, 1);
  row->addWidget(browse);
  m_caFile->setPlaceholderText(tr("the system's CAs"));
  m_caFile->setToolTip(tr("PEM file of the CA that signed the server's certificate. Without it "
                          "the certificate must come from a CA the system trusts. Either way it "
                          "must be made out to the host name above."));
  m_fingerprint->setPlaceholderText(tr("none: check the CA and the host name"));
  // The placeholder says what an empty field means: it must not be cut off.
  m_fingerprint->setMinimumWidth(
      m_fingerprint->fontMetrics().horizontalAdvance(m_fingerprint->placeholderText()) +
      m_fingerprint->fontMetrics().averageCharWidth() * 3);
  m_fingerprint->setToolTip(tr("The SHA-256 fingerprint of the server's certificate (AB:CD:...). "
                               "When set, that certificate and no other is trusted, also when it "
                               "is self-signed or made out to another name. The Test button "
                               "offers to fill it in."));
  form->addRow(tr("SSL CA file"), m_caRow);
  form->addRow(tr("SSL fingerprint"), m_fingerprint);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString file = Dialogs::OpenFileName(
        m_caRow, tr("Certificates (*.pem *.crt *.cer);;All Files (*)"));
    if (!file.isEmpty()) m_caFile->setText(file);
  });
  connect(m_useSsl, &QCheckBox::toggled, this, &CTlsFields::UpdateEnabled);
  UpdateEnabled();
}

void CTlsFields::Show(const CServerInfo& server) {
  m_caFile->setText(ToQt(server.SslCaFile));
  m_fingerprint->setText(ToQt(server.SslFingerprint));
  UpdateEnabled();
}

void CTlsFields::Store(CServerInfo& server) const {
  server.SslCaFile = FromQt(m_caFile->text().trimmed());
  const std::string typed = FromQt(m_fingerprint->text().trimmed());
  const std::string canonical = CanonicalFingerprint(typed);
  server.SslFingerprint = canonical.empty() ? typed : canonical;
}

bool CTlsFields::Validate(QWidget* parent) {
  const std::string typed = FromQt(m_fingerprint->text().trimmed());
  if (!m_useSsl->isChecked() || typed.empty() || !CanonicalFingerprint(typed).empty()) return true;
  Dialogs::Warning(parent, ToQt(wizard::kBadFingerprintText));
  m_fingerprint->setFocus();
  return false;
}

void CTlsFields::Pin(const std::string& fingerprint) {
  m_fingerprint->setText(ToQt(fingerprint));
}

void CTlsFields::SetEditable(bool editable) {
  m_editable = editable;
  UpdateEnabled();
}

void CTlsFields::UpdateEnabled() {
  const bool on = m_editable && m_useSsl->isChecked();
  m_caRow->setEnabled(on);
  m_fingerprint->setEnabled(on);
}

bool MayOfferTrust(const CServerInfo& server, const MySqlError& error) {
  return server.UseSSL == 1 && server.SslFingerprint.empty() && !IsSocketPath(server.Host) &&
         error.Number == kSslConnectionError;
}

bool AskToTrustCertificate(QWidget* parent, const CServerInfo& server, const MySqlError& error,
                           const std::string& fingerprint) {
  if (!MayOfferTrust(server, error) || fingerprint.empty()) return false;
  return Dialogs::AskYesNo(parent, ToQt(wizard::TrustCertificateQuestion(error.Text, fingerprint))) ==
         Answer::Yes;
}

}  // namespace brevanto::ui
