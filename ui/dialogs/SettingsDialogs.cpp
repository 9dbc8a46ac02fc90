#include "ui/dialogs/SettingsDialogs.h"

#include <QTabWidget>

#include "appcore/ApplicationCore.h"
#include "ui/Dialogs.h"
#include "ui/FrameDialogs.h"
#include "ui/Text.h"
#include "ui/dialogs/LoginDlg.h"
#include "ui/dialogs/NotificationsPage.h"
#include "ui/dialogs/OptionsSheet.h"
#include "ui/dialogs/ServerManagerDlg.h"
#include "ui/dialogs/TipOfTheDayDlg.h"

namespace brevanto::ui {

void PlugInSettingsDialogs(FrameDialogs& dialogs, CApplicationCore& core) {
  dialogs.options = [&core](QWidget* parent, CSystemOptions& options) {
    COptionsSheet sheet(options, core.Folder(), parent);
    // Notification settings live in a file of their own, so the page is saved here.
    auto* notifications = new CNotificationsPage(core.NotificationSettings(), &sheet);
    sheet.Tabs()->addTab(notifications, QObject::tr("Notifications"));
    // Addresses are refused here as in a task's own notifications dialog.
    for (;;) {
      if (sheet.exec() != QDialog::Accepted) return false;
      const std::string problem = notifications->Problem();
      if (problem.empty()) break;
      sheet.Tabs()->setCurrentWidget(notifications);
      Dialogs::Warning(parent, ToQt(problem));
    }
    options = sheet.Options();
    core.ApplyNotificationSettings(notifications->Settings());
    return true;
  };
  dialogs.servers = [&core](QWidget* parent) {
    CServerManagerDlg manager(core.Servers(), parent);
    manager.exec();
  };
  dialogs.tipOfTheDay = [&core](QWidget* parent) {
    CTipOfTheDayDlg tips(core.Options().TipIndex, core.Options().ShowTipsOnStartup != 0, parent);
    tips.exec();
    core.Options().TipIndex = tips.CurrentIndex();
    core.Options().ShowTipsOnStartup = tips.ShowAtStart() ? 1 : 0;
    core.SaveOptions();
  };
  dialogs.login = [&core](QWidget* parent) {
    CLoginDlg login(core.Options().LoginUserName, core.Options().LoginPassword, parent);
    return login.exec() == QDialog::Accepted;
  };
}

}  // namespace brevanto::ui
