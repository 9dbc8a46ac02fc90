#pragma once
// The dump settings ("Advanced Settings...") of the backup, copy and restore types: one
// check box per option of the task's dump settings.

class QWidget;

namespace brevanto {
struct BackupSettings;
}

namespace brevanto::wizard {

// Opens the dialog on `settings`; OK stores every box. With `readOnly` the boxes cannot be
// changed and a single "&Close" button ends the dialog. Returns true when OK stored.
bool EditDumpSettings(QWidget* parent, BackupSettings& settings, bool readOnly);

}  // namespace brevanto::wizard
