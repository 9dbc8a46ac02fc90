#pragma once
// Starting the program at login: the desktop's XDG autostart entry
// "$XDG_CONFIG_HOME/autostart/Brevanto.desktop" (~/.config when unset).

#include <string>

namespace brevanto::ui {

// The entry's path for a config folder ("" means $XDG_CONFIG_HOME or ~/.config).
std::string AutostartEntryPath(const std::string& configFolder = std::string());
// The file's text: the executable started on `applicationFolder` (the folder the user
// chose may not be the one the program would pick by itself), each quoted and escaped for
// the Exec key.
std::string AutostartEntryText(const std::string& executablePath,
                               const std::string& applicationFolder);
// Writes (autorun on) or deletes (off) the entry. Failures are silent by design: the
// option stays as the user set it. Returns whether the entry now matches `enabled`.
bool ApplyAutostart(bool enabled, const std::string& executablePath,
                    const std::string& applicationFolder,
                    const std::string& configFolder = std::string());

}  // namespace brevanto::ui
