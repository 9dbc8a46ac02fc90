// The widget tests' main: a QApplication on the offscreen platform (also when the test
// list is read at build time, where the test's environment is not set), and scripted
// message boxes so that no test ever waits for a click.

#include <gtest/gtest.h>

#include <QApplication>

#include "ui/Dialogs.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  brevanto::ui::Dialogs::Script();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
