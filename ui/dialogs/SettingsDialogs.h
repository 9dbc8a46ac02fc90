#pragma once
// The settings dialogs as the main window opens them: Options, the server manager, the
// Tip of the Day and the login, each working on the application core's live state.

namespace brevanto {
class CApplicationCore;
}

namespace brevanto::ui {

struct FrameDialogs;

// Fills the options, servers, tipOfTheDay and login entries of `dialogs`.
// REQUIRES: `core` outlives every use of them.
void PlugInSettingsDialogs(FrameDialogs& dialogs, CApplicationCore& core);

}  // namespace brevanto::ui
