#include "ui/StartOptions.h"

#include <string_view>

namespace brevanto::ui {

const char* StartUsageText() {
  return "usage: brevanto [--folder DIR]\n"
         "\n"
         "Keeps MySQL/MariaDB backup, copy and export tasks and runs them on their\n"
         "schedules from the notification area.\n"
         "\n"
         "  --folder DIR   use DIR as the application folder\n"
         "  --help         print this text\n"
         "  --version      print the version\n"
         "\n"
         "Without a display, use brevanto-run.\n";
}

StartOptions ParseStartOptions(int argc, const char* const argv[]) {
  StartOptions options;
  auto fail = [&options](std::string problem) {
    options.action = StartOptions::Action::UsageError;
    options.problem = std::move(problem);
    return options;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.action = StartOptions::Action::Help;
      return options;
    }
    if (arg == "--version") {
      options.action = StartOptions::Action::Version;
      return options;
    }
    if (arg == "--folder") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return fail("--folder needs a folder");
      options.folder = argv[++i];
    } else if (arg.starts_with("--folder=")) {
      options.folder = arg.substr(9);
      if (options.folder.empty()) return fail("--folder needs a folder");
    } else if (arg.starts_with("--") || arg.empty() || arg[0] != '-') {
      return fail("unexpected argument: " + std::string(arg));
    } else if (i + 1 < argc && argv[i + 1][0] != '-') {
      ++i;  // a Qt option and its value, e.g. "-platform xcb"
    }
  }
  return options;
}

}  // namespace brevanto::ui
