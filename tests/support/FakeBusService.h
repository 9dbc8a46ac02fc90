// A stand-in D-Bus service for tests: one object on the session bus (under
// dbus-run-session, a bus of the test's own), served on a thread of its own. Link
// libsystemd. The handlers of `vtable` get `userdata`.
#pragma once

#include <atomic>
#include <thread>

#include <systemd/sd-bus.h>

namespace brevanto::test {

class FakeBusService {
 public:
  FakeBusService(const char* name, const char* path, const char* interface,
                 const sd_bus_vtable* vtable, void* userdata) {
    if (sd_bus_open_user(&m_bus) < 0) return;
    if (sd_bus_add_object_vtable(m_bus, nullptr, path, interface, vtable, userdata) < 0 ||
        sd_bus_request_name(m_bus, name, 0) < 0) {
      return;
    }
    m_running = true;
    m_thread = std::thread([this] {
      while (m_running) {
        if (sd_bus_process(m_bus, nullptr) > 0) continue;
        sd_bus_wait(m_bus, 100'000);
      }
    });
  }
  ~FakeBusService() {
    m_running = false;
    if (m_thread.joinable()) m_thread.join();
    sd_bus_flush_close_unref(m_bus);
  }
  FakeBusService(const FakeBusService&) = delete;
  FakeBusService& operator=(const FakeBusService&) = delete;

  bool Started() const { return m_running; }

 private:
  sd_bus* m_bus = nullptr;
  std::atomic<bool> m_running{false};
  std::thread m_thread;
};

}  // namespace brevanto::test
