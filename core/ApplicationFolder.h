#pragma once
// Where the program keeps its files: the folder of its executable when the user may
// write there (a portable copy), else ~/.local/share/Brevanto/.

#include <string>

namespace brevanto {

// The folder for an executable at `executablePath`, ending in "/". `home` is the user's
// home folder for the fallback. The fallback folder is created when missing.
std::string ChooseApplicationFolder(const std::string& executablePath, const std::string& home);

// ChooseApplicationFolder for the running executable (/proc/self/exe) and $HOME (or the
// password database's home when HOME is unset). Computed once per call.
std::string ApplicationFolder();

// `path` with a trailing "/" added when missing ("" stays "").
std::string WithTrailingSlash(std::string path);

}  // namespace brevanto
