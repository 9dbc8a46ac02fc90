#pragma once
// CMySQLServerPage: the connection fields of a task's source or destination server, with
// the saved connections and the connection test (the "MySQL Server" tab). The database
// pages of the database-to-database types extend it.

#include <optional>

#include "ui/wizard/TaskPage.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QLayout;
class QVBoxLayout;

namespace brevanto::ui {
class CSpinEdit;
class CTlsFields;
}

namespace brevanto::wizard {

// The connection-failure box: the client library's error number and text, an "O&K"
// button and one that opens the help topic on connecting.
void ShowConnectFailure(QWidget* parent, const MySqlError& error);

class CMySQLServerPage : public CTaskPage {
  Q_OBJECT

 public:
  enum class Role { Source, Destination };
  CMySQLServerPage(CSheetContext& context, Role role);

  void Load() override;
  bool Leave() override;

 protected:
  // The fields as a server description (only after ValidateFields()).
  CServerInfo FieldsServer() const;
  // Shows the first problem of the fields with the focus on it.
  bool ValidateFields();
  CServerInfo& StoredServer();
  bool IsSource() const { return m_role == Role::Source; }
  // Adds the database pages' controls under the server group.
  void AddBelowServer(QLayout* layout);
  // Stores the fields into the task's server record.
  void StoreFields();
  // Whether `server` is the task's source server: the same host text and port, or two
  // sessions that report the same server.
  bool ReachesSourceServer(const CServerInfo& server);

 private:
  void ShowServer(const CServerInfo& server);
  void ChooseConnection(int index);
  void AddConnection();
  void TestConnection();
  // Loads the catalogue of the following selection page; false after the failure box.
  bool LoadCatalogue();

  Role m_role;
  QVBoxLayout* m_layout;
  QComboBox* m_connections;
  QPushButton* m_new;
  QLineEdit* m_host;
  ui::CSpinEdit* m_port;
  QLineEdit* m_user;
  QLineEdit* m_password;
  QCheckBox* m_compression;
  QCheckBox* m_ssl;
  ui::CTlsFields* m_tls;
  QPushButton* m_test;
};

}  // namespace brevanto::wizard
