#include "notify/DesktopNotification.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include <systemd/sd-bus.h>
#include <nlohmann/json.hpp>

namespace brevanto {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr std::uint64_t kCallTimeoutMicroseconds = 5'000'000;
// A failure stays until the user dismisses it; other news goes after ten seconds.
constexpr std::int32_t kSuccessTimeoutMs = 10000;

// The bus refuses a string that is not UTF-8, and server messages may hold such bytes.
std::string ValidUtf8(const std::string& text) {
  return nlohmann::json::parse(
             nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
      .get<std::string>();
}

}  // namespace

bool SendDesktopNotification(const std::string& title, const std::string& body, bool failed) {
  // sd-bus would fall back to the user's runtime folder; a program started without a
  // session (cron, a system service) must not reach a desktop it was not given.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || address[0] == '\0') return false;
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return false;
  sd_bus_set_method_call_timeout(bus, kCallTimeoutMicroseconds);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const std::uint8_t urgency = failed ? 2 : 1;
  const int called = sd_bus_call_method(
      bus, kService, kPath, kInterface, "Notify", &error, &reply, "susssasa{sv}i", "Brevanto",
      std::uint32_t{0}, failed ? "dialog-warning" : "dialog-information", ValidUtf8(title).c_str(),
      ValidUtf8(body).c_str(), 0, 2, "urgency", "y", urgency, "desktop-entry", "s", "brevanto",
      failed ? std::int32_t{0} : kSuccessTimeoutMs);
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return called >= 0;
}

}  // namespace brevanto
