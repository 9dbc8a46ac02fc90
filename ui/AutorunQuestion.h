#pragma once
// The start-up question about starting the program at login, asked until the user says
// yes or ticks "Don't ask me again".

#include <string>

namespace brevanto {
class CApplicationCore;
}

namespace brevanto::ui {

// Yes turns autorun on (options saved, autostart entry written for `executablePath`);
// No only keeps the check box; closing the box changes nothing. `configFolder` as for
// ApplyAutostart ("" means the user's own).
void AskAboutAutorun(CApplicationCore& core, const std::string& executablePath,
                     const std::string& configFolder = std::string());

}  // namespace brevanto::ui
