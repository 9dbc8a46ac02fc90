#include "ui/ShutdownInhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <systemd/sd-bus.h>

namespace brevanto::ui {

namespace {

constexpr std::uint64_t kCallTimeoutMicroseconds = 5'000'000;

std::string Why(int code, const sd_bus_error& error) {
  return error.message != nullptr ? error.message : std::strerror(-code);
}

}  // namespace

ShutdownInhibitor::~ShutdownInhibitor() {
  if (m_fd >= 0) ::close(m_fd);
}

Status ShutdownInhibitor::Hold(bool wanted) {
  if (!wanted) {
    if (m_fd >= 0 && ::close(m_fd) != 0) {
      m_fd = -1;
      return Status::Error(std::string("Releasing the shutdown lock failed: ") +
                           std::strerror(errno));
    }
    m_fd = -1;
    return Status::Ok();
  }
  if (m_fd >= 0) return Status::Ok();
  sd_bus* bus = nullptr;
  if (const int opened = sd_bus_open_system(&bus); opened < 0) {
    return Status::Error(std::string("The system bus cannot be reached: ") +
                         std::strerror(-opened));
  }
  sd_bus_set_method_call_timeout(bus, kCallTimeoutMicroseconds);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int code = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", "Inhibit", &error, &reply,
                                "ssss", "shutdown:sleep", "Brevanto", "A task is running",
                                "block");
  std::string problem;
  if (code < 0) {
    problem = "logind refused the shutdown lock: " + Why(code, error);
  } else {
    int fd = -1;
    code = sd_bus_message_read(reply, "h", &fd);
    // The descriptor belongs to the reply, which goes now.
    m_fd = code >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
    if (m_fd < 0) {
      problem = "logind's shutdown lock could not be kept: " +
                std::string(std::strerror(code < 0 ? -code : errno));
    }
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return problem.empty() ? Status::Ok() : Status::Error(problem);
}

}  // namespace brevanto::ui
