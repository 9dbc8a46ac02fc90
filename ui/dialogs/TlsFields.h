#pragma once
// CTlsFields: which certificate "Use SSL" trusts besides those of the system's CAs: a CA
// file, or one certificate pinned by its SHA-256 fingerprint. Enabled while "Use SSL" is
// checked; shared by the server editor and the wizard's server page. GUI thread only.

#include <string>

#include <QWidget>

#include "core/ServerInfo.h"

class QCheckBox;
class QLineEdit;
class QFormLayout;

namespace brevanto {
struct MySqlError;
}

namespace brevanto::ui {

class CTlsFields : public QObject {
  Q_OBJECT

 public:
  // Makes the fields (children of `parent`) and adds their rows to `form`.
  CTlsFields(QCheckBox* useSsl, QFormLayout* form, QWidget* parent);

  void Show(const CServerInfo& server);
  // The fields into `server`: a valid fingerprint in its "AB:CD:..." form, else as typed.
  void Store(CServerInfo& server) const;
  // With "Use SSL" on, a fingerprint that is not one is shown and focused: false.
  bool Validate(QWidget* parent);
  void Pin(const std::string& fingerprint);
  void SetEditable(bool editable);

 private:
  void UpdateEnabled();

  QCheckBox* m_useSsl;
  QWidget* m_caRow;
  QLineEdit* m_caFile;
  QLineEdit* m_fingerprint;
  bool m_editable = true;
};

// After a failed test: when `server` uses SSL without a pin, its certificate was refused
// and `fingerprint` (what it shows) is known, asks whether to trust that certificate.
bool AskToTrustCertificate(QWidget* parent, const CServerInfo& server, const MySqlError& error,
                           const std::string& fingerprint);
// Whether a failed test is one AskToTrustCertificate may ask about (decides whether the
// test reads the fingerprint at all).
bool MayOfferTrust(const CServerInfo& server, const MySqlError& error);

}  // namespace brevanto::ui
