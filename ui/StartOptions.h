#pragma once
// The windowed program's own command line, read before Qt starts: --help and --version
// must answer on a terminal without a display, and an unknown option must not open the
// window. Options with one dash ("-platform xcb", "-session ID") belong to Qt and the
// session manager and are left to them. Qt-free.

#include <string>

namespace brevanto::ui {

struct StartOptions {
  enum class Action { Start, Help, Version, UsageError };
  Action action = Action::Start;
  std::string folder;   // "--folder DIR" or "--folder=DIR"; "" for the usual folder
  std::string problem;  // for UsageError: what is wrong, one line
};

StartOptions ParseStartOptions(int argc, const char* const argv[]);

// The --help text.
const char* StartUsageText();

}  // namespace brevanto::ui
