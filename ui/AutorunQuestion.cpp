#include "ui/AutorunQuestion.h"

#include <QObject>

#include "appcore/ApplicationCore.h"
#include "ui/Autostart.h"
#include "ui/Dialogs.h"
#include "ui/Product.h"
#include "ui/Text.h"

namespace brevanto::ui {

void AskAboutAutorun(CApplicationCore& core, const std::string& executablePath,
                     const std::string& configFolder) {
  CSystemOptions& options = core.Options();
  if (options.AutoRun != 0 || options.DontAskAutoRun != 0) return;
  bool dontAsk = false;
  const Answer answer = Dialogs::AskWithCheckBox(
      nullptr, QString::fromLatin1(kWindowTitle),
      QObject::tr("Do you want to auto run the program when the current user log in?\n\n"
                  "It will start with the tasks of %1\n\n"
                  "If No, you can set the option at the menu Tools->Options later.")
          .arg(ToQt(core.Folder())),
      QObject::tr("Don't ask me again"), dontAsk);
  if (answer == Answer::Cancel) return;
  options.DontAskAutoRun = dontAsk ? 1 : 0;
  if (answer == Answer::Yes) options.AutoRun = 1;
  core.SaveOptions();
  if (answer == Answer::Yes) ApplyAutostart(true, executablePath, core.Folder(), configFolder);
}

}  // namespace brevanto::ui
