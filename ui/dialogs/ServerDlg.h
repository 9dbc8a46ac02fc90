#pragma once
// CServerDlg: the editor of one saved MySQL connection ("MySQL Server"), opened to add,
// edit or only view a server. OK checks the fields and closes with the new values; the
// connection test runs on a worker thread and reports back here. GUI thread only.

#include <vector>

#include <QDialog>

#include "core/ServerInfo.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace brevanto {
struct MySqlError;
}

namespace brevanto::ui {

class CSpinEdit;
class CTlsFields;

enum class ServerDlgMode { Add, Edit, View };

class CServerDlg : public QDialog {
  Q_OBJECT

 public:
  // `servers` is the saved list the name must stay unique in; `editingIndex` is the entry
  // being edited, -1 otherwise. REQUIRES: `servers` outlives the dialog.
  CServerDlg(ServerDlgMode mode, const CServerInfo& server, const std::vector<CServerInfo>& servers,
             int editingIndex, QWidget* parent = nullptr);

  // The edited server (valid after OK).
  const CServerInfo& Server() const { return m_server; }
  // True while a connection test is under way.
  bool Testing() const { return m_testing; }

  void accept() override;
  void TestConnection();

 signals:
  void testFinished();

 private:
  // `fingerprint`: the certificate of a server whose certificate was refused, which the
  // user may choose to trust; empty otherwise.
  void ShowTestResult(const CServerInfo& server, bool connected, const std::string& version,
                      const MySqlError& error, const std::string& fingerprint);
  // The fields as typed; the port only when it parses.
  CServerInfo FieldValues() const;

  const ServerDlgMode m_mode;
  const std::vector<CServerInfo>& m_servers;
  const int m_editingIndex;
  CServerInfo m_server;
  bool m_testing = false;

  QLineEdit* m_name;
  QLineEdit* m_host;
  CSpinEdit* m_port;
  QLineEdit* m_user;
  QCheckBox* m_savePassword;
  QLineEdit* m_password;
  QCheckBox* m_compression;
  QCheckBox* m_ssl;
  CTlsFields* m_tls;
  QPlainTextEdit* m_comment;
  QPushButton* m_test;
};

}  // namespace brevanto::ui
