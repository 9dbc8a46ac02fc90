#pragma once
// A desktop notification sent straight over the session bus, for programs without a
// window (the headless runner and its scheduler). No action is offered: nothing would be
// there to open the log. Blocking, bounded by a short time-out; any thread may call it.

#include <string>

namespace brevanto {

// Asks org.freedesktop.Notifications to show `title` and `body`; `failed` makes it
// critical. Without a session bus (DBUS_SESSION_BUS_ADDRESS unset or unreachable) or a
// notification service it does nothing and returns false: a server has no desktop.
bool SendDesktopNotification(const std::string& title, const std::string& body, bool failed);

}  // namespace brevanto
