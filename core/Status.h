#pragma once
// Status: success, or the exact text a task log or a message box receives.

#include <string>
#include <utility>

namespace brevanto {

class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message), true); }

  bool ok() const { return !m_failed; }
  const std::string& message() const { return m_message; }

 private:
  Status(std::string message, bool failed) : m_message(std::move(message)), m_failed(failed) {}
  std::string m_message;
  bool m_failed = false;
};

}  // namespace brevanto
