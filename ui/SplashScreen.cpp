#include "ui/SplashScreen.h"

#include <algorithm>

#include <QDateTime>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "ui/Icons.h"
#include "ui/Product.h"

namespace brevanto::ui {

namespace {

constexpr int kLongestMs = 3000;

constexpr int kTextLeft = 140;
constexpr int kRightMargin = 24;

// Sized to its texts, so no font cuts the last line, and drawn at the screen's pixel
// density, so it stays sharp when the desktop is scaled.
QPixmap DrawSplash(qreal pixelRatio) {
  QFont title;
  title.setPixelSize(30);
  title.setBold(true);
  QFont subtitle;
  subtitle.setPixelSize(15);
  const QString name = QStringLiteral("Brevanto");
  const QString edition = QStringLiteral("Standard Edition 2.0");
  const QString purpose = QStringLiteral("Scheduled MySQL backups, copies and exports");
  const QFontMetrics titleMetrics(title);
  const QFontMetrics subtitleMetrics(subtitle);
  const int textWidth = std::max({titleMetrics.horizontalAdvance(name),
                                  subtitleMetrics.horizontalAdvance(edition),
                                  subtitleMetrics.horizontalAdvance(purpose)});
  const int width = std::max(420, kTextLeft + textWidth + kRightMargin);
  const int height = 200;

  QPixmap pixmap(QSize(width, height) * pixelRatio);
  pixmap.setDevicePixelRatio(pixelRatio);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 0, height);
  background.setColorAt(0, QColor(34, 92, 160));
  background.setColorAt(1, QColor(18, 50, 96));
  p.fillRect(QRect(0, 0, width, height), background);
  p.drawPixmap(28, 52, 96, 96, MakeIcon(IconRole::Program).pixmap(qRound(96 * pixelRatio)));
  const int textRight = width - kTextLeft - kRightMargin / 2;
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(kTextLeft, 58, textRight, 40), Qt::AlignLeft | Qt::AlignVCenter, name);
  p.setFont(subtitle);
  p.setPen(QColor(205, 222, 245));
  p.drawText(QRect(kTextLeft, 98, textRight, 24), Qt::AlignLeft | Qt::AlignVCenter, edition);
  p.drawText(QRect(kTextLeft, 124, textRight, 24), Qt::AlignLeft | Qt::AlignVCenter, purpose);
  p.end();
  return pixmap;
}

qreal ScreenPixelRatio() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->devicePixelRatio() : 1.0;
}

}  // namespace

SplashScreen::SplashScreen()
    : QSplashScreen(DrawSplash(ScreenPixelRatio()), Qt::WindowStaysOnTopHint),
      m_shownAt(QDateTime::currentMSecsSinceEpoch()) {
  setObjectName("splash");
  QTimer::singleShot(kLongestMs, this, &QWidget::close);
}

void SplashScreen::FinishAfter(int minimumMs) {
  const qint64 left = minimumMs - (QDateTime::currentMSecsSinceEpoch() - m_shownAt);
  if (left > 0 && isVisible()) {
    QEventLoop wait;
    QTimer::singleShot(left, &wait, &QEventLoop::quit);
    wait.exec();
  }
  close();
}

}  // namespace brevanto::ui
