#pragma once
// Where the program keeps its files (tasks, options, servers, logs, default backups):
//   1. the folder given on the command line (--folder), else
//   2. the executable's folder when it is a portable copy: a file named "portable" or the
//      program's data files lie beside the executable, and the user may write there, else
//   3. $XDG_DATA_HOME/Brevanto/, by default ~/.local/share/Brevanto/.
// A build tree is never chosen by itself: it holds neither marker.

#include <string>

namespace brevanto {

inline constexpr const char* kTaskFileName = "tasks_se.tsk";
// The marker file that makes the executable's folder a portable application folder.
inline constexpr const char* kPortableMarker = "portable";

// The folder for an executable at `executablePath`, ending in "/". `home` is the user's
// home folder and `xdgDataHome` the value of $XDG_DATA_HOME (ignored unless absolute).
// The chosen folder under the home folder is created when missing.
std::string ChooseApplicationFolder(const std::string& executablePath, const std::string& home,
                                    const std::string& xdgDataHome = "");

// ChooseApplicationFolder for the running executable (/proc/self/exe), $HOME (or the
// password database's home when HOME is unset) and $XDG_DATA_HOME.
std::string ApplicationFolder();

// `path` with a trailing "/" added when missing ("" stays "").
std::string WithTrailingSlash(std::string path);

}  // namespace brevanto
