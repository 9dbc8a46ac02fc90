// The server page's saved connections: choosing one fills the fields, "New" saves one.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "core/ServerList.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
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
  ASSERT_TRUE(fixture.Core().Servers().Append(Saved("office", "db.office", "")));
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

  EXPECT_TRUE(page.Leave());
  EXPECT_EQ(context.Task.SourceServer.Host, "db.cloud");
  EXPECT_EQ(context.Task.SourceServer.Password, "pw");
  EXPECT_EQ(context.Task.SourceServer.UseSSL, 1);
}

}  // namespace
}  // namespace brevanto::wizard
