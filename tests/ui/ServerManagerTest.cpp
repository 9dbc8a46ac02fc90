// The server manager and its editor: what each field check says, what reaches the server
// file, and the connection test's two answers.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "appcore/WizardText.h"
#include "core/ServerList.h"
#include "engines/ServerTls.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TestServer.h"
#include "tests/ui/DialogsTestSupport.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/dialogs/ServerDlg.h"
#include "ui/dialogs/ServerManagerDlg.h"

namespace brevanto::ui {
namespace {

using test::Child;
using test::Type;

CServerInfo Saved(const std::string& name, bool savePassword) {
  CServerInfo s;
  s.ConnectionName = name;
  s.Host = name + ".example";
  s.Port = 3307;
  s.UserName = "admin";
  s.Password = "pw";
  s.SavePassword = savePassword ? 1 : 0;
  s.Comment = "note";
  return s;
}

class ServerManagerTest : public testing::Test {
 protected:
  void SetUp() override { Dialogs::Script(); }
  void TearDown() override { Dialogs::EndScript(); }

  std::vector<CServerInfo> FileEntries() {
    std::vector<CServerInfo> stored;
    LoadServers(fixture.Folder(), stored);
    return stored;
  }

  test::FakeClock clock;
  test::CoreFixture fixture{clock};
  std::vector<CServerInfo> servers{Saved("alpha", true), Saved("beta", false)};
};

TEST_F(ServerManagerTest, OkSaysWhatIsMissingAndFocusesTheField) {
  const struct {
    const char* name;
    ServerDlgMode mode;
    int editing;
    const char* connection;
    const char* host;
    const char* port;
    bool savePassword;
    const char* user;
    const char* password;
    const char* message;  // "" when accepted
    const char* focus;
  } cases[] = {
      {"no name", ServerDlgMode::Add, -1, "", "h", "3306", false, "", "",
       "Please input the Connection Name!", "connectionName"},
      {"no host", ServerDlgMode::Add, -1, "n", "", "3306", false, "", "",
       "Please input the Server name or IP address!", "host"},
      {"letter in port", ServerDlgMode::Add, -1, "n", "h", "33a6", false, "", "",
       "Port must be a number between 1 and 65535!", "port"},
      {"port 0", ServerDlgMode::Add, -1, "n", "h", "0", false, "", "",
       "Please input a number between 1 and 65535!", "port"},
      {"port 70000", ServerDlgMode::Add, -1, "n", "h", "70000", false, "", "",
       "Please input a number between 1 and 65535!", "port"},
      {"empty port", ServerDlgMode::Add, -1, "n", "h", "", false, "", "",
       "Please input a number between 1 and 65535!", "port"},
      {"saved password, no user", ServerDlgMode::Add, -1, "n", "h", "3306", true, "", "pw",
       "Please input the username!", "userName"},
      {"saved password, none typed", ServerDlgMode::Add, -1, "n", "h", "3306", true, "u", "",
       "Please input the password!", "password"},
      {"name taken", ServerDlgMode::Add, -1, "alpha", "h", "3306", false, "", "",
       "The connection name is already existed!", "connectionName"},
      {"name is case-sensitive", ServerDlgMode::Add, -1, "Alpha", "h", "3306", false, "", "", "",
       ""},
      {"editing keeps its own name", ServerDlgMode::Edit, 0, "alpha", "h", "1", false, "", "", "",
       ""},
      // Names stay unique: the wizard picks saved servers by name.
      {"editing into another's name", ServerDlgMode::Edit, 1, "alpha", "h", "3306", false, "", "",
       "The connection name is already existed!", "connectionName"},
      {"view mode checks nothing", ServerDlgMode::View, 0, "", "", "", false, "", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CServerDlg dialog(c.mode, c.editing >= 0 ? servers[c.editing] : CServerInfo(), servers,
                      c.editing);
    Type(&dialog, "connectionName", c.connection);
    Type(&dialog, "host", c.host);
    Child<QWidget>(&dialog, "port")->findChild<QLineEdit*>()->setText(c.port);
    Child<QCheckBox>(&dialog, "savePassword")->setChecked(c.savePassword);
    Type(&dialog, "userName", c.user);
    Type(&dialog, "password", c.password);
    dialog.accept();

    const QList<ShownBox> shown = Dialogs::TakeShown();
    if (*c.message == '\0') {
      EXPECT_TRUE(shown.isEmpty());
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      continue;
    }
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].Kind, BoxKind::Warning);
    EXPECT_EQ(shown[0].Text, c.message);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    QWidget* focus = dialog.focusWidget();
    ASSERT_NE(focus, nullptr);
    const QWidget* expected = Child<QWidget>(&dialog, c.focus);
    EXPECT_TRUE(focus == expected || expected->isAncestorOf(focus))
        << focus->objectName().toStdString();
  }
}

TEST_F(ServerManagerTest, EditorOpensWithTheServerAndTheSavePasswordRule) {
  CServerInfo odd = Saved("odd", false);
  odd.Port = 70000;
  CServerDlg dialog(ServerDlgMode::Edit, odd, servers, -1);
  auto* password = Child<QLineEdit>(&dialog, "password");
  EXPECT_EQ(Child<QWidget>(&dialog, "port")->findChild<QLineEdit*>()->text(), "3306");
  EXPECT_EQ(password->text(), "");  // not saved: not shown
  EXPECT_FALSE(password->isEnabled());

  Child<QCheckBox>(&dialog, "savePassword")->setChecked(true);
  EXPECT_TRUE(password->isEnabled());
  password->setText("typed");
  Child<QCheckBox>(&dialog, "savePassword")->setChecked(false);
  EXPECT_EQ(password->text(), "");
  EXPECT_FALSE(password->isEnabled());

  CServerDlg saved(ServerDlgMode::View, servers[0], servers, 0);
  EXPECT_EQ(Child<QLineEdit>(&saved, "password")->text(), "pw");
  for (const char* field : {"connectionName", "host", "port", "userName", "savePassword",
                            "password", "useCompression", "useSSL", "comment", "testConnection"}) {
    EXPECT_FALSE(Child<QWidget>(&saved, field)->isEnabled()) << field;
  }
}

TEST_F(ServerManagerTest, ListShowsOneRowPerServerWithThePasswordMarker) {
  CServerList& list = fixture.Core().Servers();
  for (const CServerInfo& s : servers) list.Append(s);
  CServerManagerDlg manager(list);
  QTableWidget* table = manager.List();
  ASSERT_EQ(table->rowCount(), 2);
  const QStringList first = {"alpha", "alpha.example", "3307", "admin", "****", "note"};
  for (int c = 0; c < first.size(); ++c) EXPECT_EQ(table->item(0, c)->text(), first[c]);
  EXPECT_EQ(table->item(1, 4)->text(), "NULL");
  EXPECT_EQ(table->item(0, 2)->textAlignment(), int(Qt::AlignRight | Qt::AlignVCenter));
}

TEST_F(ServerManagerTest, CommandsChangeTheListAndTheFile) {
  CServerList& list = fixture.Core().Servers();
  for (const CServerInfo& s : servers) list.Append(s);
  CServerManagerDlg manager(list);
  std::optional<CServerInfo> answer;
  std::vector<ServerDlgMode> modes;
  CServerInfo offered;
  manager.SetEditor([&](QWidget*, ServerDlgMode mode, const CServerInfo& server, int) {
    modes.push_back(mode);
    offered = server;
    return answer;
  });

  // Without a selection every command but Add says so and changes nothing.
  manager.List()->clearSelection();
  for (auto command : {&CServerManagerDlg::EditServer, &CServerManagerDlg::ViewServer,
                       &CServerManagerDlg::DeleteServer, &CServerManagerDlg::MoveUp,
                       &CServerManagerDlg::MoveDown}) {
    (manager.*command)();
    const QList<ShownBox> shown = Dialogs::TakeShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].Text, "Please choose a server item!");
  }
  EXPECT_TRUE(modes.empty());

  // Add offers a fresh record and appends what the editor returns.
  answer = Saved("gamma", true);
  manager.AddServer();
  EXPECT_EQ(offered, CServerInfo());
  ASSERT_EQ(FileEntries().size(), 3u);
  EXPECT_EQ(FileEntries()[2].ConnectionName, "gamma");
  EXPECT_EQ(manager.List()->item(2, 0)->text(), "gamma");

  // Edit replaces the selected server; a cancelled edit changes nothing.
  manager.List()->selectRow(1);
  answer = Saved("beta2", false);
  manager.EditServer();
  EXPECT_EQ(offered.ConnectionName, "beta");
  EXPECT_EQ(FileEntries()[1].ConnectionName, "beta2");
  EXPECT_EQ(manager.List()->item(1, 0)->text(), "beta2");
  answer.reset();
  manager.EditServer();
  EXPECT_EQ(list.At(1).ConnectionName, "beta2");

  // Move Up on the first row does nothing; Move Down swaps and follows the row.
  manager.List()->selectRow(0);
  manager.MoveUp();
  EXPECT_EQ(list.At(0).ConnectionName, "alpha");
  manager.MoveDown();
  EXPECT_EQ(list.At(0).ConnectionName, "beta2");
  EXPECT_EQ(list.At(1).ConnectionName, "alpha");
  EXPECT_EQ(manager.List()->item(0, 0)->text(), "beta2");
  EXPECT_EQ(manager.List()->currentRow(), 1);
  manager.List()->selectRow(2);
  manager.MoveDown();
  EXPECT_EQ(list.At(2).ConnectionName, "gamma");

  // Delete asks; No keeps the server, Yes removes it from the list and the file.
  manager.List()->selectRow(1);
  Dialogs::QueueAnswer(Answer::No);
  manager.DeleteServer();
  EXPECT_EQ(list.Count(), 3);
  Dialogs::QueueAnswer(Answer::Yes);
  manager.DeleteServer();
  const QList<ShownBox> asked = Dialogs::TakeShown();
  ASSERT_EQ(asked.size(), 2);
  EXPECT_EQ(asked[1].Text, "Are you sure you wish to DELETE the server information now?");
  EXPECT_EQ(asked[1].Kind, BoxKind::Question);
  ASSERT_EQ(FileEntries().size(), 2u);
  EXPECT_EQ(FileEntries()[0].ConnectionName, "beta2");
  EXPECT_EQ(FileEntries()[1].ConnectionName, "gamma");
  EXPECT_EQ(manager.List()->rowCount(), 2);
}

// The commands are where users look for them: buttons under the list, its right-click
// menu, and the Delete key on a row.
TEST_F(ServerManagerTest, ButtonsContextMenuAndDeleteKeyReachTheCommands) {
  CServerList& list = fixture.Core().Servers();
  for (const CServerInfo& s : servers) list.Append(s);
  CServerManagerDlg manager(list);
  int edits = 0;
  manager.SetEditor([&](QWidget*, ServerDlgMode, const CServerInfo&, int) {
    ++edits;
    return std::optional<CServerInfo>();
  });
  QStringList menu;
  for (const QAction* action : manager.List()->actions()) menu << action->text();
  EXPECT_EQ(manager.List()->contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_TRUE(menu.contains("&Delete Server") && menu.contains("&Add Server...")) << menu.join(", ").toStdString();

  manager.List()->selectRow(0);
  manager.findChild<QPushButton*>("editServerButton")->click();
  manager.findChild<QPushButton*>("addServerButton")->click();
  EXPECT_EQ(edits, 2);

  manager.show();
  manager.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&manager));
  manager.List()->setFocus();
  manager.List()->selectRow(1);
  Dialogs::QueueAnswer(Answer::Yes);
  QTest::keyClick(manager.List(), Qt::Key_Delete);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.At(0).ConnectionName, "alpha");
  Dialogs::TakeShown();

  manager.findChild<QPushButton*>("closeServersButton")->click();
  EXPECT_FALSE(manager.isVisible());
}

// Runs the editor's connection test and returns the box it ended with.
ShownBox RunConnectionTest(const CServerInfo& server) {
  std::vector<CServerInfo> none;
  CServerDlg dialog(ServerDlgMode::Edit, server, none, -1);
  dialog.TestConnection();
  EXPECT_TRUE(dialog.Testing());
  EXPECT_TRUE(test::WaitUntil([&] { return !dialog.Testing(); }, 30000));
  const QList<ShownBox> shown = Dialogs::TakeShown();
  if (shown.size() != 1) return ShownBox{BoxKind::Question, "no answer"};
  return shown[0];
}

TEST_F(ServerManagerTest, ConnectionTestReportsAFailureWithItsNumber) {
  CServerInfo closed = Saved("closed", false);
  closed.Host = "127.0.0.1";
  closed.Port = 1;  // nothing listens there
  const ShownBox box = RunConnectionTest(closed);
  EXPECT_EQ(box.Kind, BoxKind::Stop);
  EXPECT_TRUE(box.Text.startsWith("Failed to connect to the MySQL server!\n\nError NO. 200"))
      << box.Text.toStdString();

  // The wizard's field checks come first, and nothing connects.
  CServerInfo noHost = closed;
  noHost.Host.clear();
  std::vector<CServerInfo> none;
  CServerDlg dialog(ServerDlgMode::Add, noHost, none, -1);
  dialog.TestConnection();
  EXPECT_FALSE(dialog.Testing());
  const QList<ShownBox> shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0].Text, "Please input the Host name or IP address!");
}

TEST_F(ServerManagerTest, ConnectionTestNamesTheServerVersion) {
  if (!test::IsReachable(test::ServerA())) GTEST_SKIP() << "test server A is not running";
  CServerInfo server = test::AsServerInfo(test::ServerA());
  server.SavePassword = 1;
  const ShownBox box = RunConnectionTest(server);
  EXPECT_EQ(box.Kind, BoxKind::Information);
  EXPECT_TRUE(box.Text.startsWith("Connect to the MySQL server successfully!\n\nMySQL version: "))
      << box.Text.toStdString();
  EXPECT_GT(box.Text.size(), 60);
}

// An existing server with "Use SSL" and a certificate of its own CA: the test says why it
// is refused, shows the fingerprint and may pin it (trust on first use).
TEST_F(ServerManagerTest, ARefusedCertificateMayBeTrustedFromTheTest) {
  if (!test::IsReachable(test::ServerTls())) GTEST_SKIP() << "the TLS test server is not running";
  CServerInfo server = test::AsServerInfo(test::ServerTls());
  server.ConnectionName = "tls";
  server.SavePassword = 1;
  server.UseSSL = 1;
  const std::string fingerprint = ServerCertificateFingerprint(server);
  ASSERT_EQ(fingerprint.size(), 95u);
  std::vector<CServerInfo> none;
  for (const Answer answer : {Answer::No, Answer::Yes}) {
    SCOPED_TRACE(answer == Answer::Yes ? "trusted" : "declined");
    CServerDlg dialog(ServerDlgMode::Edit, server, none, -1);
    Dialogs::QueueAnswer(answer);
    dialog.TestConnection();
    EXPECT_TRUE(test::WaitUntil([&] { return !dialog.Testing(); }, 30000));
    const QList<ShownBox> shown = Dialogs::TakeShown();
    ASSERT_EQ(shown.size(), answer == Answer::Yes ? 2 : 1);
    EXPECT_EQ(shown[0].Kind, BoxKind::Question);
    EXPECT_TRUE(shown[0].Text.contains(QString::fromStdString(fingerprint)));
    EXPECT_TRUE(shown[0].Text.contains("trust on first use"));
    auto* pin = Child<QLineEdit>(&dialog, "sslFingerprint");
    if (answer == Answer::No) {
      EXPECT_EQ(pin->text(), QString());
      continue;
    }
    // Pinned, the test runs again and connects.
    EXPECT_EQ(shown[1].Kind, BoxKind::Information);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Server().SslFingerprint, fingerprint);
  }

  // OK refuses a pin that is not a SHA-256.
  CServerDlg typo(ServerDlgMode::Edit, server, none, -1);
  Child<QLineEdit>(&typo, "sslFingerprint")->setText("AB:CD");
  typo.accept();
  EXPECT_NE(typo.result(), QDialog::Accepted);
  const QList<ShownBox> shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0].Text.toStdString(), wizard::kBadFingerprintText);
}

}  // namespace
}  // namespace brevanto::ui
