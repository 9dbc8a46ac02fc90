#pragma once
// Every dialog of the program, built as the program builds it, for the tests that check
// something of all of them (keyboard use, access keys). Each is handed to `visit` with a
// name for the failure messages and destroyed afterwards.

#include <functional>

#include <gtest/gtest.h>

#include <QDialog>
#include <QString>

#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"

namespace brevanto::test {

// Message boxes answered from a script, over a core in a fresh folder.
class DialogTest : public testing::Test {
 protected:
  void SetUp() override { ui::Dialogs::Script(); }
  void TearDown() override { ui::Dialogs::EndScript(); }

  FakeClock clock;
  CoreFixture fixture{clock};
};

using DialogVisit = std::function<void(QDialog& dialog, const QString& name)>;

// Login, Options, server manager and editor, tips, rename, About, log viewer. Adds a
// saved server and a task to the fixture's core.
void ForEachSettingsDialog(CoreFixture& fixture, const DialogVisit& visit);
// The type chooser, schedule and backup-files settings, and for each task type the edit
// and properties sheets and every wizard step (started at that step).
void ForEachTaskDialog(CoreFixture& fixture, const DialogVisit& visit);

}  // namespace brevanto::test
