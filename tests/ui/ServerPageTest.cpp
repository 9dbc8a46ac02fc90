// The server page's saved connections: choosing one fills the fields, "New" saves one.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "core/ServerList.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "appcore/WizardText.h"
#include "ui/Dialogs.h"
#include "ui/wizard/ServerPage.h"

namespace brevanto::wizard {
namespace {

CServerInfo Saved(const char* name, const char* host, const char* password) {
  CServerInfo server;
  server.ConnectionName = name;
  server.Host = host;
  server.Port = 3310;
  server.UserName = "backup";
  server.Password = password;
  server.UseSSL = 1;
  return server;
}

TEST(ServerPageTest, SavedConnectionsFillTheFieldsAndNewOnesAreSaved) {
  ui::Dialogs::Script();
  test::FakeClock clock;
  test::CoreFixture fixture(clock);
  CServerInfo office = Saved("office", "db.office", "");
  office.SslCaFile = "/etc/ssl/office-ca.pem";
  ASSERT_TRUE(fixture.Core().Servers().Append(office));
  CSheetContext context;
  context.Task.TaskType = 5;  // a script task loads no catalogue when its server page is left
  context.Core = &fixture.Core();
  context.NewServer = [](QWidget*) {
    return std::optional<CServerInfo>(Saved("cloud", "db.cloud", "pw"));
  };
  CMySQLServerPage page(context, CMySQLServerPage::Role::Source);
  page.Load();
  page.show();

  auto* connections = page.findChild<QComboBox*>(QStringLiteral("connectionsCombo"));
  auto* host = page.findChild<QLineEdit*>(QStringLiteral("hostEdit"));
  auto* port = page.findChild<QLineEdit*>(QStringLiteral("portEdit"));
  ASSERT_EQ(connections->count(), 1);
  EXPECT_EQ(host->text(), QStringLiteral("localhost"));
  emit connections->activated(0);
  EXPECT_EQ(host->text(), QStringLiteral("db.office"));
  EXPECT_EQ(port->text(), QStringLiteral("3310"));
  EXPECT_TRUE(page.findChild<QCheckBox*>(QStringLiteral("sslCheck"))->isChecked());
  auto* caFile = page.findChild<QLineEdit*>(QStringLiteral("sslCaFile"));
  auto* fingerprint = page.findChild<QLineEdit*>(QStringLiteral("sslFingerprint"));
  EXPECT_EQ(caFile->text(), QStringLiteral("/etc/ssl/office-ca.pem"));
  EXPECT_TRUE(fingerprint->isEnabled());
  // The first field still empty gets the focus: here the password.
  EXPECT_EQ(page.focusWidget(), page.findChild<QLineEdit*>(QStringLiteral("passwordEdit")));

  page.findChild<QAbstractButton*>(QStringLiteral("newServerButton"))->click();
  EXPECT_EQ(connections->count(), 2);
  EXPECT_EQ(connections->currentText(), QStringLiteral("cloud"));
  EXPECT_EQ(host->text(), QStringLiteral("db.cloud"));
  std::vector<CServerInfo> stored;
  ASSERT_TRUE(LoadServers(fixture.Folder(), stored));
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1].ConnectionName, "cloud");

  EXPECT_EQ(caFile->text(), QString());

  // A pin is checked before the page is left, and kept in its one form.
  fingerprint->setText(QStringLiteral("12:34"));
  EXPECT_FALSE(page.Leave());
  const QList<ui::ShownBox> shown = ui::Dialogs::TakeShown();
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_EQ(shown.back().Text.toStdString(), kBadFingerprintText);
  fingerprint->setText(QString(64, QLatin1Char('e')));
  EXPECT_TRUE(page.Leave());
  EXPECT_EQ(context.Task.SourceServer.SslFingerprint.substr(0, 6), "EE:EE:");
  EXPECT_EQ(context.Task.SourceServer.Host, "db.cloud");
  EXPECT_EQ(context.Task.SourceServer.Password, "pw");
  EXPECT_EQ(context.Task.SourceServer.UseSSL, 1);
}

// A server whose certificate no CA vouches for, until its fingerprint is pinned.
class SelfSignedServer : public ServerBrowser {
 public:
  bool TestConnection(const CServerInfo& server, std::string& version,
                      MySqlError& error) override {
    tested.push_back(server.SslFingerprint);
    if (server.SslFingerprint == Shown()) {
      version = "10.11.0";
      return true;
    }
    error = {2026, "SSL connection error: self-signed certificate"};
    return false;
  }
  std::string CertificateFingerprint(const CServerInfo&) override { return Shown(); }
  static std::string Shown() {
    std::string text = "CC";
    for (int i = 1; i < 32; ++i) text += ":CC";
    return text;
  }

  std::vector<std::string> tested;
};

TEST(ServerPageTest, TheTestOffersToPinARefusedCertificate) {
  ui::Dialogs::Script();
  CSheetContext context;
  context.Task.TaskType = 5;
  context.Task.SourceServer.Host = "db.example";
  context.Task.SourceServer.UseSSL = 1;
  auto browser = std::make_shared<SelfSignedServer>();
  context.Browser = browser;
  CMySQLServerPage page(context, CMySQLServerPage::Role::Source);
  page.Load();
  auto* test = page.findChild<QAbstractButton*>(QStringLiteral("testConnectionButton"));

  ui::Dialogs::QueueAnswer(ui::Answer::No);
  test->click();
  EXPECT_EQ(page.findChild<QLineEdit*>(QStringLiteral("sslFingerprint"))->text(), QString());
  ui::Dialogs::QueueAnswer(ui::Answer::Yes);
  test->click();
  const QList<ui::ShownBox> shown = ui::Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 3);
  EXPECT_EQ(shown[0].Kind, ui::BoxKind::Question);
  EXPECT_TRUE(shown[0].Text.contains(QString::fromStdString(SelfSignedServer::Shown())));
  EXPECT_EQ(shown[2].Kind, ui::BoxKind::Information);  // the pin, tested at once
  EXPECT_EQ(browser->tested, (std::vector<std::string>{"", "", SelfSignedServer::Shown()}));
  EXPECT_TRUE(page.Leave());
  EXPECT_EQ(context.Task.SourceServer.SslFingerprint, SelfSignedServer::Shown());
  ui::Dialogs::EndScript();
}

}  // namespace
}  // namespace brevanto::wizard
