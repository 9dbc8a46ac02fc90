#pragma once
// The start-up picture: shown while the program loads its files, closed by a click,
// when loading is done, or after three seconds at the latest.

#include <QSplashScreen>

namespace brevanto::ui {

class SplashScreen : public QSplashScreen {
  Q_OBJECT

 public:
  SplashScreen();

  // Closes the splash once it has been up for `minimumMs` (so it does not flicker),
  // keeping the event loop running meanwhile.
  void FinishAfter(int minimumMs);

 private:
  qint64 m_shownAt;
};

}  // namespace brevanto::ui
