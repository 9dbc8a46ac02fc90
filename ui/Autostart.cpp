#include "ui/Autostart.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/AtomicFile.h"

namespace brevanto::ui {

namespace {

std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

// The Exec key takes a quoted argument in which " ` $ and \ are escaped with a backslash,
// and the file format itself escapes every backslash again; "%" must be doubled.
std::string QuoteExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$') {
      quoted += "\\\\";
      quoted += c;
    } else if (c == '\\') {
      quoted += "\\\\\\\\";
    } else if (c == '%') {
      quoted += "%%";
    } else if (c == '\n' || c == '\r') {
      quoted += ' ';
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

std::string AutostartEntryPath(const std::string& configFolder) {
  return (configFolder.empty() ? ConfigFolder() : configFolder) + "/autostart/Brevanto.desktop";
}

std::string AutostartEntryText(const std::string& executablePath,
                               const std::string& applicationFolder) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Brevanto\n"
         "Comment=Runs scheduled MySQL backup, copy and export tasks\n"
         "Exec=" +
         QuoteExecArgument(executablePath) + " --folder " + QuoteExecArgument(applicationFolder) +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool ApplyAutostart(bool enabled, const std::string& executablePath,
                    const std::string& applicationFolder, const std::string& configFolder) {
  const std::filesystem::path entry = AutostartEntryPath(configFolder);
  std::error_code ignored;
  if (!enabled) {
    std::filesystem::remove(entry, ignored);
    return !std::filesystem::exists(entry, ignored);
  }
  std::filesystem::create_directories(entry.parent_path(), ignored);
  return WriteFileAtomically(entry.string(), AutostartEntryText(executablePath, applicationFolder)).ok();
}

}  // namespace brevanto::ui
